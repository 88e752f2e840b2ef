#pragma once
// TUniversalDownloader fetches one address and hands the body over in chunks through
// signals on the main thread, without blocking the windows. The channel refresh, the
// add-channel dialog, the update check and the stream downloader each own one.
//
// Every download ends with exactly one of DownloadSucceeded, DownloadFailed (followed
// by DownloadFailedCode) or DownloadAborted, and then DownloadFinished, always last.
// The end is reported from the event loop, never from inside Download or Abort, with
// one exception: an address that cannot be fetched at all fails before Download
// returns, without DownloadStarted.
//
// The outcome is decided from the final HTTP status and the transfer's own errors:
// only a complete 2xx body (or a 304 to a conditional request) succeeds. The body of
// an error page is never delivered as data.
//
// A downloader lives on the thread that created it (the main thread) and uses its own
// network access manager, so its connections and remembered passwords are its own and
// are forgotten before each download. Its handlers may call Abort or start the next
// download, but must not delete it (deleteLater is fine).

#include "shell/Errors.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <functional>

class QAuthenticator;
class QNetworkAccessManager;
class QNetworkReply;
class QSslError;

enum THttpAuthentication { authFail, authWindowsBuiltIn, authCustom };

enum TDownloaderOption {
    doAlwaysGetNewestVersion = 0x1,
    doNoCache = 0x2,
    doResynchronize = 0x4,
};
Q_DECLARE_FLAGS(TDownloaderOptions, TDownloaderOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TDownloaderOptions)

enum TDownloaderState : quint8 {
    dsIdle = 0,
    dsRequested = 1,
    dsStarted = 2,
    dsSucceeded = 3,
    dsFailed = 4,
    dsAborted = 5,
};

// Stage codes of DownloadProgress. The owners react to 4 and 5 (data begins, data
// arrives), numbers they share with other programs' download progress codes.
enum TDownloadStage : quint32 {
    stageConnecting = 2,
    stageRedirecting = 3,
    stageBeginDownloadData = 4,
    stageDownloadingData = 5,
    stageEndDownloadData = 6,
    stageMimeTypeAvailable = 13,
};

// "Quillmar/1.0.0 (+home page)": the product name of the branding as an HTTP token
// and the program's version.
QByteArray UserAgent();

// Reads a feed, list or file address typed or stored by the user: http and https with
// a host; anything else gives an invalid QUrl.
QUrl HttpAddress(const QByteArray& address);

class TUniversalDownloader : public QObject {
    Q_OBJECT

public:
    // Failure codes besides HTTP statuses.
    static constexpr quint32 kNoAnswerCode = 404;   // no (complete) answer arrived
    static constexpr quint32 kInvalidUriCode = 415; // the address cannot be fetched
    static constexpr quint32 kUnauthorizedCode = 401;

    static constexpr qint64 kDefaultMaxBodySize = 32 * 1024 * 1024;
    static constexpr int kDefaultTimeoutMs = 30000;
    static constexpr int kDefaultDeadlineMs = 5 * 60 * 1000;
    static constexpr int kMaxRedirects = 10;
    static constexpr int kChunkSize = 8193;

    explicit TUniversalDownloader(QObject* owner = nullptr);
    ~TUniversalDownloader() override;

    // Properties; read when Download starts.
    THttpAuthentication HttpAuthentication = authWindowsBuiltIn;
    QByteArray ObjectUri;
    TDownloaderOptions Options = doAlwaysGetNewestVersion | doNoCache | doResynchronize;
    bool DownloadRange = false;
    quint32 RangeStart = 0;
    quint32 RangeLength = 0; // 0: up to the end
    // Conditional requests: the validators of the copy the owner already has. A 304
    // answer then succeeds with no data and NotModified() true.
    QByteArray IfNoneMatch;     // an ETag, sent as If-None-Match
    QByteArray IfModifiedSince; // a Last-Modified date, sent as If-Modified-Since
    // Longest silence allowed from the request to the last byte (connecting, waiting
    // for the answer, between chunks). A server that accepts and says nothing fails.
    int TimeoutMs = kDefaultTimeoutMs;
    // Longest time for the whole download, so that a server that trickles a byte now
    // and then cannot hold the owner either; 0 lifts the limit.
    int DeadlineMs = kDefaultDeadlineMs;
    // A body larger than this fails the download; 0 lifts the limit.
    qint64 MaxBodySize = kDefaultMaxBodySize;
    // Free for the owner (the refresh keeps the channel being fetched here).
    void* UserData = nullptr;

    // Questions the transfer asks its owner. Each is optional; the answer when unset
    // is given beside it.
    std::function<bool()> OnProceedWithInvalidCertificate;                            // false
    std::function<quintptr()> OnGetSecurityWarningParent;                             // 0
    std::function<bool(QString& user, QString& password)> OnGetCustomHttpCredentials; // false
    // Extra request header lines, "Name: value\r\n" each.
    std::function<void(QByteArray& headers)> OnGetCustomHeaders;
    // authWindowsBuiltIn: the program's own credentials dialog, owned by the window that
    // OnGetSecurityWarningParent names; without a window the request is refused.
    std::function<bool(quintptr window, const QString& realm, QString& user, QString& password)>
        OnAskUserForCredentials;

    // Starts fetching ObjectUri and returns at once. Raises EInvalidOperation while a
    // download runs or when the address is blank.
    void Download();
    // Stops the running download: it ends with DownloadAborted and DownloadFinished.
    // Raises EInvalidOperation before DownloadStarted.
    void Abort();

    TDownloaderState State() const { return m_state; }
    // The outcome code: 404 from the start, then the final HTTP status; 401 while
    // credentials are asked for; 415 when the address could not be fetched.
    quint32 StatusCode() const { return m_statusCode; }
    quint32 TotalBytes() const { return m_totalBytes; }
    // The download succeeded with a 304: the owner's copy is current.
    bool NotModified() const { return m_state == dsSucceeded && m_statusCode == 304; }
    // Validators of the answer, to be sent with the next request for the address.
    QByteArray ResponseETag() const { return m_responseETag; }
    QByteArray ResponseLastModified() const { return m_responseLastModified; }
    // Why the last download failed, in words; empty for an HTTP error status.
    QString ErrorMessage() const { return m_errorMessage; }
    // Credentials were handed to the server during the last download.
    bool CredentialsOffered() const { return m_credentialsOffered; }

signals:
    void DownloadStarted();
    void DownloadSucceeded();
    void DownloadFinished();
    void DownloadFailed(const QString& errorMessage);
    void DownloadFailedCode(quint32 errorCode);
    void DownloadAborted();
    void DownloadProgress(quint32 stageCode, quint32 progressValue, quint32 progressMax,
                          const QString& statusText);
    void DownloadedBytes(const QByteArray& bytes, quint32 totalBytes);

protected:
    virtual void DoDownloadStarted();
    virtual void DoDownloadFinished();
    virtual void DoDownloadSucceeded();
    virtual void DoDownloadFailed(quint32 code, const QString& message);
    virtual void DoDownloadAborted();
    virtual void DoDownloadProgress(quint32 stageCode, quint32 progressValue, quint32 progressMax,
                                    const QString& statusText);
    virtual void DoDownloadedBytes(const QByteArray& bytes, quint32 totalBytes);
    virtual quintptr GetSecurityWarningParent();
    virtual bool ProceedWithInvalidCertificate();
    virtual bool GetCustomHttpCredentials(QString& user, QString& password);
    virtual void GetCustomHeaders(QByteArray& headers);

private:
    void onStarted(quint64 generation);
    void ensureStarted();
    void onMetaDataChanged();
    void onReadyRead();
    void onSslErrors(const QList<QSslError>& errors);
    void onAuthenticationRequired(QNetworkReply* reply, QAuthenticator* authenticator);
    void onSilence();
    void onDeadline();
    void onReplyFinished();
    void complete(quint64 generation);
    void failInternally(const QString& message);
    void releaseReply();
    quint32 announcedLength() const;

    QNetworkAccessManager* m_network;
    QNetworkReply* m_reply = nullptr;
    QTimer m_silence;
    QTimer m_deadline;
    quint64 m_generation = 0;
    TDownloaderState m_state = dsIdle;
    quint32 m_statusCode = 0;
    quint32 m_totalBytes = 0;
    QString m_originHost;
    QByteArray m_responseETag;
    QByteArray m_responseLastModified;
    QString m_errorMessage; // set by our own checks (silence, size)
    bool m_failedInternally = false;
    bool m_certificateFailed = false;
    bool m_credentialsAsked = false;
    bool m_credentialsOffered = false;
    // The next download starts without this one's passwords and connections.
    bool m_forgetAccess = false;
};
