#include "TestHttpServer.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <zlib.h>

namespace {

constexpr qint64 kMaxRequestHead = 64 * 1024;
constexpr qint64 kGeneratedChunk = 64 * 1024;

QByteArray ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

bool HasHeaderIn(const TestHttpHeaders& headers, const QByteArray& name) {
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// One connection: reads one request, answers it, closes.
class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, TestHttpServer::Impl* server);

private:
    void onReadyRead();
    void answer(const TestHttpRequest& request);
    void write(const TestHttpRequest& request, const TestHttpResponse& response);
    void writeGenerated();

    QTcpSocket* m_socket;
    TestHttpServer::Impl* m_server;
    QByteArray m_buffer;
    bool m_answered = false;
    qint64 m_generatedLeft = 0;
};

} // namespace

class TestHttpServer::Impl : public QObject {
public:
    explicit Impl(Security security) : m_security(security) {}

    // Runs on the server thread.
    void Listen() {
        if (m_security == Security::TlsWithSelfSignedCertificate) {
            auto* server = new QSslServer(this);
            QSslConfiguration config = QSslConfiguration::defaultConfiguration();
            QFile certFile(QStringLiteral(QUILLMAR_TEST_DATA "/net/test-server.crt"));
            QFile keyFile(QStringLiteral(QUILLMAR_TEST_DATA "/net/test-server.key"));
            certFile.open(QIODevice::ReadOnly);
            keyFile.open(QIODevice::ReadOnly);
            config.setLocalCertificate(QSslCertificate(certFile.readAll()));
            config.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa));
            config.setPeerVerifyMode(QSslSocket::VerifyNone);
            server->setSslConfiguration(config);
            m_server = server;
        } else {
            m_server = new QTcpServer(this);
        }
        // A TLS server hands a connection over once its handshake is done, and says so
        // with this signal only.
        connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (m_server->hasPendingConnections())
                new Connection(m_server->nextPendingConnection(), this);
        });
        m_server->listen(QHostAddress::LocalHost, 0);
        m_port = m_server->serverPort();
    }

    TestHttpResponse Dispatch(const TestHttpRequest& request) {
        TestHttpHandler handler;
        {
            QMutexLocker lock(&m_mutex);
            m_requests.append(request);
            handler = m_routes.value(request.path);
        }
        if (!handler)
            return TextAnswer(404, "no such page");
        return handler(request);
    }

    const Security m_security;
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    QThread m_thread;
    mutable QMutex m_mutex;
    QHash<QByteArray, TestHttpHandler> m_routes;
    QList<TestHttpRequest> m_requests;
};

namespace {

Connection::Connection(QTcpSocket* socket, TestHttpServer::Impl* server)
    : QObject(socket), m_socket(socket), m_server(server) {
    connect(socket, &QTcpSocket::readyRead, this, &Connection::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::bytesWritten, this, &Connection::writeGenerated);
    if (socket->bytesAvailable() > 0)
        onReadyRead();
}

void Connection::onReadyRead() {
    m_buffer += m_socket->readAll();
    if (m_answered)
        return;
    const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (m_buffer.size() > kMaxRequestHead)
            m_socket->abort();
        return;
    }
    TestHttpRequest request;
    const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    request.path = request.target.left(
        request.target.indexOf('?') < 0 ? request.target.size() : request.target.indexOf('?'));
    for (int i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    const qint64 bodyLength = request.Header("Content-Length").toLongLong();
    if (m_buffer.size() - (headEnd + 4) < bodyLength)
        return;
    request.body = m_buffer.mid(headEnd + 4, bodyLength);
    m_answered = true;
    answer(request);
}

void Connection::answer(const TestHttpRequest& request) {
    const TestHttpResponse response = m_server->Dispatch(request);
    if (response.delayMs > 0) {
        QTimer::singleShot(response.delayMs, this,
                           [this, request, response] { write(request, response); });
        return;
    }
    write(request, response);
}

void Connection::write(const TestHttpRequest& request, const TestHttpResponse& response) {
    using Fault = TestHttpResponse::Fault;
    if (response.fault == Fault::Silent)
        return;
    if (response.fault == Fault::CloseWithoutAnswer) {
        m_socket->disconnectFromHost();
        return;
    }
    const bool generated = response.generatedBodySize >= 0;
    const qint64 length = generated ? response.generatedBodySize : response.body.size();
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      ReasonPhrase(response.status) + "\r\n";
    for (const auto& h : response.headers)
        head += h.first + ": " + h.second + "\r\n";
    const bool bodyless = response.status == 304 || response.status == 204;
    if (!response.omitContentLength && !bodyless &&
        !HasHeaderIn(response.headers, "Content-Length"))
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    head += "Connection: close\r\n\r\n";
    m_socket->write(head);
    if (request.method == "HEAD" || bodyless) {
        m_socket->disconnectFromHost();
        return;
    }
    if (response.fault == Fault::DropMidBody || response.fault == Fault::StallMidBody) {
        m_socket->write(response.body.left(response.dropAfter));
        if (response.fault == Fault::DropMidBody)
            m_socket->disconnectFromHost();
        return;
    }
    if (generated) {
        m_generatedLeft = length;
        writeGenerated();
        return;
    }
    m_socket->write(response.body);
    m_socket->disconnectFromHost();
}

void Connection::writeGenerated() {
    if (m_generatedLeft <= 0 || m_socket->bytesToWrite() > kGeneratedChunk)
        return;
    const qint64 n = std::min(m_generatedLeft, kGeneratedChunk);
    m_generatedLeft -= n;
    m_socket->write(QByteArray(n, 'x'));
    if (m_generatedLeft == 0)
        m_socket->disconnectFromHost();
}

} // namespace

QByteArray TestHttpRequest::Header(const QByteArray& name) const {
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

bool TestHttpRequest::HasHeader(const QByteArray& name) const {
    return HasHeaderIn(headers, name);
}

TestHttpServer::TestHttpServer(Security security) : m_impl(std::make_unique<Impl>(security)) {
    m_impl->m_thread.setObjectName(QStringLiteral("test http server"));
    m_impl->m_thread.start();
    m_impl->moveToThread(&m_impl->m_thread);
    QMetaObject::invokeMethod(
        m_impl.get(), [impl = m_impl.get()] { impl->Listen(); }, Qt::BlockingQueuedConnection);
}

TestHttpServer::~TestHttpServer() {
    // The server and its sockets belong to the server thread: they go with it.
    QMetaObject::invokeMethod(
        m_impl.get(),
        [impl = m_impl.get()] {
            delete impl->m_server;
            impl->m_server = nullptr;
            impl->moveToThread(nullptr);
        },
        Qt::BlockingQueuedConnection);
    m_impl->m_thread.quit();
    m_impl->m_thread.wait();
}

quint16 TestHttpServer::Port() const {
    return m_impl->m_port;
}

QByteArray TestHttpServer::Url(const QByteArray& path) const {
    const QByteArray scheme =
        m_impl->m_security == Security::Plain ? QByteArray("http") : QByteArray("https");
    return scheme + "://127.0.0.1:" + QByteArray::number(Port()) + path;
}

QByteArray TestHttpServer::LocalhostUrl(const QByteArray& path) const {
    QByteArray url = Url(path);
    return url.replace("127.0.0.1", "localhost");
}

void TestHttpServer::Route(const QByteArray& path, TestHttpHandler handler) {
    QMutexLocker lock(&m_impl->m_mutex);
    m_impl->m_routes.insert(path, std::move(handler));
}

QList<TestHttpRequest> TestHttpServer::Requests() const {
    QMutexLocker lock(&m_impl->m_mutex);
    return m_impl->m_requests;
}

QList<TestHttpRequest> TestHttpServer::RequestsFor(const QByteArray& path) const {
    QList<TestHttpRequest> result;
    for (const auto& r : Requests())
        if (r.path == path)
            result.append(r);
    return result;
}

TestHttpResponse TextAnswer(int status, const QByteArray& body, const QByteArray& contentType) {
    TestHttpResponse r;
    r.status = status;
    r.body = body;
    r.With("Content-Type", contentType);
    return r;
}

TestHttpResponse RedirectAnswer(int status, const QByteArray& location) {
    TestHttpResponse r = TextAnswer(status, "moved");
    r.With("Location", location);
    return r;
}

TestHttpResponse ServeFile(const TestHttpRequest& request, const TestServedFile& file) {
    TestHttpResponse r;
    r.With("Content-Type", file.contentType);
    if (!file.etag.isEmpty())
        r.With("ETag", file.etag);
    if (!file.lastModified.isEmpty())
        r.With("Last-Modified", file.lastModified);
    if (file.announceNoRanges)
        r.With("Accept-Ranges", "none");
    else if (file.honourRange)
        r.With("Accept-Ranges", "bytes");

    const bool etagMatches = !file.etag.isEmpty() && request.Header("If-None-Match") == file.etag;
    const bool dateMatches = !file.lastModified.isEmpty() && !request.HasHeader("If-None-Match") &&
                             request.Header("If-Modified-Since") == file.lastModified;
    if (etagMatches || dateMatches) {
        r.status = 304;
        return r;
    }

    QByteArray body = file.content;
    const QByteArray range = request.Header("Range");
    if (file.honourRange && !file.announceNoRanges && range.startsWith("bytes=")) {
        const QList<QByteArray> bounds = range.mid(6).split('-');
        const qint64 size = file.content.size();
        const qint64 first = bounds.value(0).toLongLong();
        const qint64 last = bounds.value(1).isEmpty() ? size - 1 : bounds.value(1).toLongLong();
        if (first >= size) {
            r = TextAnswer(416, "<html>range not satisfiable</html>", "text/html");
            r.With("Content-Range", "bytes */" + QByteArray::number(size));
            return r;
        }
        r.status = 206;
        body = file.content.mid(first, std::min(last, size - 1) - first + 1);
        r.With("Content-Range", "bytes " + QByteArray::number(first) + '-' +
                                    QByteArray::number(first + body.size() - 1) + '/' +
                                    QByteArray::number(size));
    }
    if (file.gzipWhenAccepted && request.Header("Accept-Encoding").contains("gzip")) {
        body = GzipCompress(body);
        r.With("Content-Encoding", "gzip");
    }
    if (request.method == "HEAD" && file.omitLengthOnHead)
        r.omitContentLength = true;
    else if (request.method == "HEAD")
        r.With("Content-Length", QByteArray::number(body.size()));
    r.body = body;
    return r;
}

TestHttpResponse RequireBasicAuth(const TestHttpRequest& request, const QByteArray& user,
                                  const QByteArray& password, const TestHttpResponse& inner) {
    if (request.Header("Authorization") == "Basic " + (user + ':' + password).toBase64())
        return inner;
    TestHttpResponse r = TextAnswer(401, "<html>who are you?</html>", "text/html");
    r.With("WWW-Authenticate", "Basic realm=\"test\"");
    return r;
}

QByteArray GzipCompress(const QByteArray& data) {
    z_stream stream{};
    // 15 + 16: a gzip wrapper around the deflate data.
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}
