#include "Downloader.h"

#include "net/UniversalDownloader.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <memory>

namespace {

// How often a waiting worker looks at its stop requests.
constexpr int kStopPollMs = 50;
// What the network layer may hold for us before we read it.
constexpr qint64 kReadBuffer = 256 * 1024;

// One request of the worker, run on its own thread. The worker has no event loop of
// its own; while it waits for the network it turns one here, waking for every signal
// of the reply and every kStopPollMs, so that stop requests and time-outs are seen
// between the waits (never inside them, where nothing may be raised).
class TWorkerRequest {
public:
    TWorkerRequest(QNetworkAccessManager& network, const QNetworkRequest& request,
                   const QByteArray& verb, int timeoutMs, std::function<void()> checkStopped)
        : m_timeoutMs(timeoutMs), m_checkStopped(std::move(checkStopped)) {
        m_reply.reset(verb == "HEAD" ? network.head(request) : network.get(request));
        m_reply->setReadBufferSize(kReadBuffer);
        QObject::connect(m_reply.get(), &QNetworkReply::readyRead, &m_loop, &QEventLoop::quit);
        QObject::connect(m_reply.get(), &QNetworkReply::finished, &m_loop, &QEventLoop::quit);
        QObject::connect(m_reply.get(), &QNetworkReply::metaDataChanged, &m_loop,
                         &QEventLoop::quit);
        QObject::connect(m_reply.get(), &QNetworkReply::redirected, &m_loop, [this] {
            m_silence.restart();
            m_loop.quit();
        });
        m_poll.setInterval(kStopPollMs);
        QObject::connect(&m_poll, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        m_poll.start();
        m_silence.start();
    }
    ~TWorkerRequest() {
        if (m_reply && m_reply->isRunning())
            m_reply->abort();
    }

    // Waits for the status line and headers; fails when none arrive.
    // The head of a redirect answer is passed over while the redirect is followed.
    void WaitForHead() {
        for (;;) {
            const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            const bool redirect = status.toInt() >= 300 && status.toInt() <= 399;
            if (m_reply->isFinished()) {
                if (!status.isValid() || (redirect && m_reply->error() != QNetworkReply::NoError))
                    throw EDownloader(m_reply->errorString());
                return;
            }
            if (status.isValid() && !redirect)
                return;
            wait();
        }
    }

    int Status() const {
        return m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }
    QByteArray Header(const QByteArray& name) const { return m_reply->rawHeader(name); }
    // The Content-Length of this answer, or -1.
    qint64 Length() const {
        bool ok = false;
        const qint64 n = m_reply->rawHeader("Content-Length").trimmed().toLongLong(&ok);
        return ok && n >= 0 ? n : -1;
    }

    // Up to max bytes of the body; 0 at its end. A broken transfer raises.
    qint64 Read(char* buffer, qint64 max) {
        for (;;) {
            if (m_reply->bytesAvailable() > 0) {
                m_silence.restart();
                return m_reply->read(buffer, max);
            }
            if (m_reply->isFinished()) {
                if (m_reply->error() != QNetworkReply::NoError)
                    throw EDownloader(m_reply->errorString());
                return 0;
            }
            wait();
        }
    }

private:
    void wait() {
        m_checkStopped();
        if (m_timeoutMs > 0 && m_silence.elapsed() > m_timeoutMs)
            throw EDownloader(QStringLiteral("No answer from the server for %1 seconds")
                                  .arg(m_timeoutMs / 1000.0, 0, 'g', 3));
        m_loop.exec();
        m_checkStopped();
    }

    const int m_timeoutMs;
    std::function<void()> m_checkStopped;
    std::unique_ptr<QNetworkReply> m_reply;
    QEventLoop m_loop;
    QTimer m_poll;
    QElapsedTimer m_silence;
};

// "bytes 5000-9999/10000": the first byte, or -1 when unreadable.
qint64 ContentRangeStart(const QByteArray& header) {
    const QByteArray value = header.trimmed();
    if (!value.startsWith("bytes "))
        return -1;
    bool ok = false;
    const qint64 first = value.mid(6, value.indexOf('-') - 6).trimmed().toLongLong(&ok);
    return ok ? first : -1;
}

// The total after the slash of a Content-Range, or -1.
qint64 ContentRangeTotal(const QByteArray& header) {
    const qsizetype slash = header.indexOf('/');
    bool ok = false;
    const qint64 total = slash < 0 ? -1 : header.mid(slash + 1).trimmed().toLongLong(&ok);
    return ok ? total : -1;
}

quint32 SizeValue(qint64 size) {
    return size < 0 || size >= qint64(TDownloader::kUnknownSize) ? TDownloader::kUnknownSize
                                                                 : quint32(size);
}

void EmptyDevice(QIODevice* device) {
    if (auto* file = qobject_cast<QFileDevice*>(device)) {
        if (!file->resize(0))
            throw EDownloader(QStringLiteral("Cannot empty the file: %1").arg(file->errorString()));
    } else if (auto* buffer = qobject_cast<QBuffer*>(device)) {
        buffer->buffer().clear();
    }
    if (!device->seek(0))
        throw EDownloader(QStringLiteral("Cannot write to the file"));
}

} // namespace

TDownloader::TDownloader(QIODevice* target, const QByteArray& address, quint16 identifier,
                         QObject* parent)
    : TOperationThread(0, parent), m_target(target), m_address(address), m_identifier(identifier) {}

TDownloader::~TDownloader() {
    StopAndWait();
}

QString TDownloader::ErrorMessage() const {
    QMutexLocker lock(&m_errorMutex);
    return m_errorMessage;
}

void TDownloader::fail(const QString& message) {
    {
        QMutexLocker lock(&m_errorMutex);
        m_errorMessage = message;
    }
    m_failed = true;
}

void TDownloader::Notify(quint16 kind, quint32 value) {
    emit OperationProgress(kind, m_identifier, value);
}

void TDownloader::DoOperation() {
    try {
        transfer();
    } catch (const EDownloader& e) {
        fail(e.Message().isEmpty() ? QStringLiteral("The download failed") : e.Message());
        throw;
    }
}

void TDownloader::transfer() {
    const QUrl url = HttpAddress(m_address);
    CheckStopped();
    if (!url.isValid()) {
        fail(QStringLiteral("Only http and https addresses can be downloaded"));
        throw EOperationStopped();
    }

    QNetworkAccessManager network;
    network.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(TUniversalDownloader::kMaxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
    // Byte ranges count the bytes of the file as stored, not of a compressed copy.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    const auto checkStopped = [this] { CheckStopped(); };

    // HEAD: the size and whether the server takes ranges. Some servers refuse HEAD
    // (405, 501) yet serve the file; the GET answer then tells the size.
    bool rangesAllowed = true;
    qint64 size = -1;
    bool headAnswered = false;
    {
        TWorkerRequest head(network, request, "HEAD", TimeoutMs, checkStopped);
        head.WaitForHead();
        const int status = head.Status();
        if (status != 405 && status != 501) {
            if (status < 200 || status > 206)
                throw EDownloader(QStringLiteral("The server answered %1").arg(status));
            headAnswered = true;
            if (head.Header("Accept-Ranges").contains("no"))
                rangesAllowed = false;
            size = head.Length();
            Notify(kindSizeAnnounced, SizeValue(size));
        }
    }

    const qint64 offset = ResumeOffset;
    if (offset > 0 && size >= 0 && offset == size) {
        m_completed = true; // the file is already whole
        return;
    }
    // A partial file longer than the resource is not a part of it: start again.
    const bool ranged = offset > 0 && rangesAllowed && !(size >= 0 && offset > size);

    CheckStopped();
    request.setRawHeader("Accept", "*/*");
    if (ranged)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(offset) + '-');
    TWorkerRequest get(network, request, "GET", TimeoutMs, checkStopped);
    get.WaitForHead();
    const int status = get.Status();
    if (status == 206 && ranged) {
        if (ContentRangeStart(get.Header("Content-Range")) != offset)
            throw EDownloader(QStringLiteral("The server sent another part of the file"));
        if (!m_target->seek(offset))
            throw EDownloader(QStringLiteral("Cannot write to the file"));
        if (!headAnswered) {
            size = ContentRangeTotal(get.Header("Content-Range"));
            Notify(kindSizeAnnounced, SizeValue(size));
        }
    } else if (status == 200) {
        // The whole file: what a resumed download holds is replaced from the first byte.
        if (offset > 0) {
            EmptyDevice(m_target);
            Notify(kindRestarted, 0);
        } else if (!rangesAllowed && !m_target->seek(0)) {
            throw EDownloader(QStringLiteral("Cannot write to the file"));
        }
        if (!headAnswered) {
            size = get.Length();
            Notify(kindSizeAnnounced, SizeValue(size));
        }
    } else if (status == 416) {
        throw EDownloader(QStringLiteral("The server cannot send the rest of the file (416)"));
    } else {
        throw EDownloader(QStringLiteral("The server answered %1").arg(status));
    }

    const bool sizeKnown = size >= 0;
    const qint64 expected = get.Length();
    qint64 received = 0;
    char buffer[kChunkSize];
    for (;;) {
        const qint64 n = get.Read(buffer, kChunkSize);
        if (n <= 0)
            break;
        CheckStopped();
        Notify(sizeKnown ? kindBytesOfKnownSize : kindBytesOfUnknownSize, quint32(n));
        if (m_target->write(buffer, n) != n)
            throw EDownloader(
                QStringLiteral("Cannot write to the file: %1").arg(m_target->errorString()));
        received += n;
    }
    if (expected >= 0 && received != expected)
        throw EDownloader(QStringLiteral("The connection closed after %1 of %2 bytes")
                              .arg(received)
                              .arg(expected));
    m_completed = true;
}
