#pragma once
// A tiny HTTP/1.1 server for network tests. It listens on 127.0.0.1 only, on a port the
// system picks, and runs in a thread of its own so that a test may block (waiting for
// a worker thread or for quillmar-cli) while it answers. Each test registers handlers
// for the paths it needs; a handler may ask for a fault instead of a clean answer.
//
//   TestHttpServer server;
//   server.Route("/feed", [](const TestHttpRequest&) { return TextAnswer(200, "<rss/>"); });
//   downloader.ObjectUri = server.Url("/feed");
//
// Handlers run on the server's thread: they must only read what they captured, or use
// their own locking. Every connection is closed after one answer.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <functional>
#include <memory>

using TestHttpHeaders = QList<QPair<QByteArray, QByteArray>>;

struct TestHttpRequest {
    QByteArray method;
    QByteArray target; // path with its query, as sent
    QByteArray path;   // without the query
    TestHttpHeaders headers;
    QByteArray body;

    // The first header of that name (case-insensitive); empty when absent.
    QByteArray Header(const QByteArray& name) const;
    bool HasHeader(const QByteArray& name) const;
};

struct TestHttpResponse {
    enum class Fault {
        None,
        Silent,       // accept the request and never answer
        DropMidBody,  // announce the whole body, send dropAfter bytes, close
        StallMidBody, // announce the whole body, send dropAfter bytes, say no more
        CloseWithoutAnswer,
    };

    int status = 200;
    TestHttpHeaders headers;
    QByteArray body;
    // Leave Content-Length out: the body ends when the connection closes.
    bool omitContentLength = false;
    // A body of this many bytes of 'x', produced while the socket drains, so that a
    // large answer costs the test no memory. Replaces body when not negative.
    qint64 generatedBodySize = -1;
    Fault fault = Fault::None;
    qint64 dropAfter = 0;
    // Answer only after this many milliseconds (the server goes on serving others).
    int delayMs = 0;

    TestHttpResponse& With(const QByteArray& name, const QByteArray& value) {
        headers.append({name, value});
        return *this;
    }
};

using TestHttpHandler = std::function<TestHttpResponse(const TestHttpRequest&)>;

class TestHttpServer {
public:
    enum class Security { Plain, TlsWithSelfSignedCertificate };

    explicit TestHttpServer(Security security = Security::Plain);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    quint16 Port() const;
    // "http://127.0.0.1:PORT" followed by the path ("https://..." for a TLS server).
    QByteArray Url(const QByteArray& path) const;
    // The same address with "localhost" as its host: another host name for the same
    // server, for tests about what may travel to which host.
    QByteArray LocalhostUrl(const QByteArray& path) const;

    // Answers requests whose path (without the query) is exactly path. Unknown paths
    // get a 404 with a short body.
    void Route(const QByteArray& path, TestHttpHandler handler);

    // Every request received so far, in order of arrival.
    QList<TestHttpRequest> Requests() const;
    QList<TestHttpRequest> RequestsFor(const QByteArray& path) const;

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// Ready-made answers.
TestHttpResponse TextAnswer(int status, const QByteArray& body,
                            const QByteArray& contentType = "text/plain");
TestHttpResponse RedirectAnswer(int status, const QByteArray& location);

// A static file as a typical server serves it: HEAD, byte ranges (or not), 416 for a
// range past the end, validators and conditional requests, gzip on request.
struct TestServedFile {
    explicit TestServedFile(QByteArray bytes = {}) : content(std::move(bytes)) {}
    QByteArray content;
    bool honourRange = true;       // false: a server that ignores Range (answers 200)
    bool announceNoRanges = false; // sends "Accept-Ranges: none"
    bool omitLengthOnHead = false; // HEAD without Content-Length
    QByteArray etag;               // sent and compared with If-None-Match when not empty
    QByteArray lastModified;       // sent and compared with If-Modified-Since when not empty
    bool gzipWhenAccepted = false; // gzip the body when the client accepts it
    QByteArray contentType = "application/octet-stream";
};
TestHttpResponse ServeFile(const TestHttpRequest& request, const TestServedFile& file);

// Basic authentication: inner when the request carries user:password, else a 401 that
// asks for them.
TestHttpResponse RequireBasicAuth(const TestHttpRequest& request, const QByteArray& user,
                                  const QByteArray& password, const TestHttpResponse& inner);

QByteArray GzipCompress(const QByteArray& data);
