#include "UniversalDownloader.h"

#include "shell/ReaderBranding.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

namespace {

bool IsTokenCharacter(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           QStringView(u"!#$%&'*+.^_`|~-").contains(c);
}

bool IsSuccessStatus(int status) {
    return (status >= 200 && status <= 299) || status == 304;
}

// "Name: value" lines from the owner; lines without a name are skipped.
void AddHeaderLines(QNetworkRequest& request, const QByteArray& lines) {
    for (const QByteArray& line : lines.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        if (!name.isEmpty() && !name.contains(' '))
            request.setRawHeader(name, line.mid(colon + 1).trimmed());
    }
}

} // namespace

QByteArray UserAgent() {
    QString product;
    for (QChar c : TBranding::Instance().ProductName)
        if (IsTokenCharacter(c))
            product += c;
    if (product.isEmpty())
        product = QStringLiteral("Quillmar");
    QByteArray agent = product.toLatin1() + '/' + QUILLMAR_VERSION;
    const QUrl home(TBranding::Instance().HomePageUrl);
    if (home.isValid() && (home.scheme() == u"http" || home.scheme() == u"https"))
        agent += " (+" + home.toEncoded() + ')';
    return agent;
}

QUrl HttpAddress(const QByteArray& address) {
    // Addresses from feeds and users carry spaces and other characters that should have
    // been escaped; they are escaped here rather than refused.
    const QUrl url(QString::fromUtf8(address.trimmed()), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return {};
    return url;
}

TUniversalDownloader::TUniversalDownloader(QObject* owner)
    : QObject(owner), m_network(new QNetworkAccessManager(this)) {
    m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_network->setAutoDeleteReplies(false);
    connect(m_network, &QNetworkAccessManager::authenticationRequired, this,
            &TUniversalDownloader::onAuthenticationRequired);
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &TUniversalDownloader::onSilence);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &TUniversalDownloader::onDeadline);
}

TUniversalDownloader::~TUniversalDownloader() {
    releaseReply();
}

void TUniversalDownloader::Download() {
    if (m_state == dsRequested || m_state == dsStarted)
        throw EInvalidOperation(QStringLiteral("Download is already started"));
    const QByteArray address = ObjectUri.trimmed();
    if (address.isEmpty())
        throw EInvalidOperation(QStringLiteral("Object URI should be specified"));

    ++m_generation;
    m_statusCode = kNoAnswerCode;
    m_totalBytes = 0;
    m_responseETag.clear();
    m_responseLastModified.clear();
    m_errorMessage.clear();
    m_failedInternally = false;
    m_certificateFailed = false;
    m_credentialsAsked = false;
    m_credentialsOffered = false;
    // A password belongs to the download it was given for: after a download on which
    // one was asked for or travelled, or whose certificate was not trusted, its
    // remembered passwords and its connections are dropped. Other connections are kept,
    // so that many feeds from one server do not each open a connection (and start a
    // network thread).
    if (m_forgetAccess) {
        m_network->clearAccessCache();
        m_forgetAccess = false;
    }
    m_state = dsRequested;

    const QUrl url = HttpAddress(address);
    if (!url.isValid()) {
        m_statusCode = kInvalidUriCode;
        m_errorMessage = QStringLiteral("Invalid URI");
        DoDownloadFailed(kInvalidUriCode, m_errorMessage);
        DoDownloadFinished();
        return;
    }
    m_originHost = url.host().toLower();
    if (!url.userName().isEmpty() || !url.password().isEmpty())
        m_forgetAccess = true;

    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
    request.setRawHeader("Accept", "*/*");
    if (Options & (doAlwaysGetNewestVersion | doNoCache))
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
    if (Options & doNoCache) {
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        request.setRawHeader("Cache-Control", "no-cache");
        request.setRawHeader("Pragma", "no-cache");
    }
    QByteArray extra;
    GetCustomHeaders(extra);
    AddHeaderLines(request, extra);
    if (DownloadRange) {
        QByteArray range = "bytes=" + QByteArray::number(RangeStart) + '-';
        if (RangeLength != 0)
            range += QByteArray::number(quint64(RangeStart) + RangeLength - 1);
        request.setRawHeader("Range", range);
    }
    if (!IfNoneMatch.isEmpty())
        request.setRawHeader("If-None-Match", IfNoneMatch);
    if (!IfModifiedSince.isEmpty())
        request.setRawHeader("If-Modified-Since", IfModifiedSince);

    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::metaDataChanged, this,
            &TUniversalDownloader::onMetaDataChanged);
    connect(m_reply, &QNetworkReply::readyRead, this, &TUniversalDownloader::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &TUniversalDownloader::onReplyFinished);
#ifndef QT_NO_SSL
    connect(m_reply, &QNetworkReply::sslErrors, this, &TUniversalDownloader::onSslErrors);
#endif
    connect(m_reply, &QNetworkReply::redirected, this, [this](const QUrl& target) {
        ensureStarted();
        if (TimeoutMs > 0)
            m_silence.start(TimeoutMs);
        DoDownloadProgress(stageRedirecting, 0, 0, target.toString());
    });
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this] {
        if (TimeoutMs > 0 && m_silence.isActive())
            m_silence.start(TimeoutMs);
    });
    if (TimeoutMs > 0)
        m_silence.start(TimeoutMs);
    if (DeadlineMs > 0)
        m_deadline.start(DeadlineMs);
    QMetaObject::invokeMethod(
        this, [this, generation = m_generation] { onStarted(generation); }, Qt::QueuedConnection);
}

void TUniversalDownloader::Abort() {
    if (m_state == dsIdle || m_state == dsRequested)
        throw EInvalidOperation(
            QStringLiteral("Downloader cannot be aborted until downloading actually started"));
    m_state = dsAborted;
    if (m_reply && m_reply->isRunning())
        m_reply->abort(); // the end arrives through onReplyFinished
}

void TUniversalDownloader::onStarted(quint64 generation) {
    if (generation != m_generation || m_state != dsRequested)
        return;
    m_totalBytes = 0;
    m_state = dsStarted;
    DoDownloadStarted();
    if (m_state == dsStarted && m_reply)
        DoDownloadProgress(stageConnecting, 0, 0, m_originHost);
}

void TUniversalDownloader::ensureStarted() {
    // The transfer may speak before the queued start arrives; the start comes first.
    if (m_state == dsRequested)
        onStarted(m_generation);
}

void TUniversalDownloader::onMetaDataChanged() {
    ensureStarted();
    if (!m_reply || m_state == dsAborted)
        return;
    if (TimeoutMs > 0)
        m_silence.start(TimeoutMs);
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        m_statusCode = status.toUInt();
    m_responseETag = m_reply->rawHeader("ETag");
    m_responseLastModified = m_reply->rawHeader("Last-Modified");
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (MaxBodySize > 0 && length.isValid() && length.toLongLong() > MaxBodySize &&
        IsSuccessStatus(int(m_statusCode))) {
        failInternally(QStringLiteral("The answer is larger than %1 bytes").arg(MaxBodySize));
        return;
    }
    const QString type = m_reply->header(QNetworkRequest::ContentTypeHeader).toString();
    if (!type.isEmpty())
        DoDownloadProgress(stageMimeTypeAvailable, 0, 0, type);
}

quint32 TUniversalDownloader::announcedLength() const {
    const QVariant length =
        m_reply ? m_reply->header(QNetworkRequest::ContentLengthHeader) : QVariant();
    return length.isValid() ? quint32(qBound<qint64>(0, length.toLongLong(), 0xFFFFFFFF)) : 0;
}

void TUniversalDownloader::onReadyRead() {
    ensureStarted();
    if (!m_reply || m_state == dsAborted || m_failedInternally)
        return;
    if (TimeoutMs > 0)
        m_silence.start(TimeoutMs);
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299) {
        // An error page, a redirect's note: not the resource the owner asked for.
        m_reply->skip(m_reply->bytesAvailable());
        return;
    }
    QPointer<TUniversalDownloader> self(this);
    QByteArray chunk;
    while (m_reply && m_reply->bytesAvailable() > 0) {
        chunk.resize(kChunkSize);
        const qint64 n = m_reply->read(chunk.data(), kChunkSize);
        if (n <= 0)
            break;
        chunk.resize(n);
        const qint64 total = qint64(m_totalBytes) + n;
        if (MaxBodySize > 0 && total > MaxBodySize) {
            failInternally(QStringLiteral("The answer is larger than %1 bytes").arg(MaxBodySize));
            return;
        }
        m_totalBytes = quint32(qMin<qint64>(total, 0xFFFFFFFF));
        DoDownloadProgress(total == n ? stageBeginDownloadData : stageDownloadingData, m_totalBytes,
                           announcedLength(), m_reply->url().toString());
        if (!self || m_state == dsAborted || !m_reply)
            return;
        DoDownloadedBytes(chunk, m_totalBytes);
        if (!self || m_state == dsAborted)
            return;
    }
}

void TUniversalDownloader::onSslErrors(const QList<QSslError>& errors) {
    Q_UNUSED(errors);
    ensureStarted();
    // From here on nothing secret travels on this download, whatever the answer.
    m_certificateFailed = true;
    m_forgetAccess = true;
    m_silence.stop();
    const bool proceed = ProceedWithInvalidCertificate();
    if (TimeoutMs > 0)
        m_silence.start(TimeoutMs);
    if (proceed && m_reply)
        m_reply->ignoreSslErrors();
}

void TUniversalDownloader::onAuthenticationRequired(QNetworkReply* reply,
                                                    QAuthenticator* authenticator) {
    if (reply != m_reply)
        return;
    ensureStarted();
    m_statusCode = kUnauthorizedCode;
    m_forgetAccess = true;
    // Credentials are offered once per download: a server that refuses them gets no
    // second try, and the download fails with its 401.
    if (m_credentialsAsked)
        return;
    m_credentialsAsked = true;
    // Never to a host the address did not name (a redirect may lead anywhere), and
    // never over a connection whose certificate was not trusted.
    if (m_certificateFailed || reply->url().host().toLower() != m_originHost)
        return;

    QString user, password;
    bool given = false;
    m_silence.stop();
    switch (HttpAuthentication) {
    case authFail:
        break;
    case authWindowsBuiltIn: {
        const quintptr window = GetSecurityWarningParent();
        if (window != 0 && OnAskUserForCredentials)
            given = OnAskUserForCredentials(window, authenticator->realm(), user, password);
        break;
    }
    case authCustom:
        given = GetCustomHttpCredentials(user, password);
        break;
    }
    if (TimeoutMs > 0)
        m_silence.start(TimeoutMs);
    if (!given || !m_reply)
        return;
    authenticator->setUser(user);
    authenticator->setPassword(password);
    m_credentialsOffered = true;
}

void TUniversalDownloader::onSilence() {
    if (m_reply && m_reply->isRunning())
        failInternally(QStringLiteral("No answer from the server for %1 seconds")
                           .arg(TimeoutMs / 1000.0, 0, 'g', 3));
}

void TUniversalDownloader::onDeadline() {
    if (m_reply && m_reply->isRunning())
        failInternally(QStringLiteral("The download took longer than %1 seconds")
                           .arg(DeadlineMs / 1000.0, 0, 'g', 3));
}

void TUniversalDownloader::failInternally(const QString& message) {
    m_failedInternally = true;
    m_errorMessage = message;
    if (m_reply && m_reply->isRunning())
        m_reply->abort();
}

void TUniversalDownloader::onReplyFinished() {
    m_silence.stop();
    m_deadline.stop();
    // The end is reported from the event loop: an owner may abort from inside a handler
    // and still get its events afterwards, in order.
    QMetaObject::invokeMethod(
        this, [this, generation = m_generation] { complete(generation); }, Qt::QueuedConnection);
}

void TUniversalDownloader::complete(quint64 generation) {
    if (generation != m_generation || !m_reply)
        return;
    if (m_state == dsRequested)
        onStarted(generation);
    const QVariant statusAttribute = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    const QNetworkReply::NetworkError error = m_reply->error();
    const QString errorText = m_reply->errorString();
    if (status > 0)
        m_statusCode = quint32(status);
    releaseReply();

    if (m_state == dsAborted) {
        DoDownloadAborted();
    } else if (m_failedInternally) {
        m_statusCode = status >= 400 ? quint32(status) : kNoAnswerCode;
        DoDownloadFailed(m_statusCode, m_errorMessage);
    } else if (status >= 400) {
        DoDownloadFailed(quint32(status), {});
    } else if (error != QNetworkReply::NoError || !IsSuccessStatus(status)) {
        // No answer, a broken one (cut short, refused certificate, endless redirects), or
        // an answer that is neither the resource nor a server error.
        m_statusCode =
            error != QNetworkReply::NoError || status == 0 ? kNoAnswerCode : quint32(status);
        m_errorMessage = error != QNetworkReply::NoError
                             ? errorText
                             : QStringLiteral("Unexpected answer %1").arg(status);
        DoDownloadFailed(m_statusCode, m_errorMessage);
    } else {
        if (m_totalBytes > 0)
            DoDownloadProgress(stageEndDownloadData, m_totalBytes, m_totalBytes, {});
        DoDownloadSucceeded();
    }
    DoDownloadFinished();
}

void TUniversalDownloader::releaseReply() {
    m_silence.stop();
    m_deadline.stop();
    if (!m_reply)
        return;
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
}

void TUniversalDownloader::DoDownloadStarted() {
    emit DownloadStarted();
}

void TUniversalDownloader::DoDownloadFinished() {
    emit DownloadFinished();
}

void TUniversalDownloader::DoDownloadSucceeded() {
    m_state = dsSucceeded;
    emit DownloadSucceeded();
}

void TUniversalDownloader::DoDownloadFailed(quint32 code, const QString& message) {
    m_state = dsFailed;
    emit DownloadFailed(message);
    emit DownloadFailedCode(code);
}

void TUniversalDownloader::DoDownloadAborted() {
    emit DownloadAborted();
}

void TUniversalDownloader::DoDownloadProgress(quint32 stageCode, quint32 progressValue,
                                              quint32 progressMax, const QString& statusText) {
    emit DownloadProgress(stageCode, progressValue, progressMax, statusText);
}

void TUniversalDownloader::DoDownloadedBytes(const QByteArray& bytes, quint32 totalBytes) {
    emit DownloadedBytes(bytes, totalBytes);
}

quintptr TUniversalDownloader::GetSecurityWarningParent() {
    return OnGetSecurityWarningParent ? OnGetSecurityWarningParent() : 0;
}

bool TUniversalDownloader::ProceedWithInvalidCertificate() {
    return OnProceedWithInvalidCertificate ? OnProceedWithInvalidCertificate() : false;
}

bool TUniversalDownloader::GetCustomHttpCredentials(QString& user, QString& password) {
    return OnGetCustomHttpCredentials ? OnGetCustomHttpCredentials(user, password) : false;
}

void TUniversalDownloader::GetCustomHeaders(QByteArray& headers) {
    headers.clear();
    if (OnGetCustomHeaders)
        OnGetCustomHeaders(headers);
}
