// How long does fetching a queue of feeds take when the refresh waits for each one
// before asking for the next (one in flight, as a plain one-channel-at-a-time cycle
// does), beside fetching a few ahead while the results are still taken in order?
// The feeds come from a server inside this program on 127.0.0.1 that answers after a
// chosen delay, standing in for the round trip to a real feed server.
//
//   bench_FetchAhead [FEEDS] [DELAY_MS] [FEED_BYTES]   (default 300 20 20000)

#include "net/FetchAhead.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

// Answers every request with the same feed after the delay, then closes.
class TFeedServer : public QObject {
public:
    TFeedServer(int delayMs, int feedBytes) : m_delayMs(delayMs) {
        m_feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title>";
        while (m_feed.size() < feedBytes)
            m_feed += "<item><title>An item</title><link>http://127.0.0.1/i</link></item>";
        m_feed += "</channel></rss>";
    }

    void Listen() {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server->nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n") ||
                        socket->property("seen").toBool())
                        return;
                    socket->setProperty("seen", true);
                    QTimer::singleShot(m_delayMs, socket, [this, socket] {
                        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\n"
                                      "Connection: close\r\nContent-Length: " +
                                      QByteArray::number(m_feed.size()) + "\r\n\r\n" + m_feed);
                        socket->disconnectFromHost();
                    });
                });
            }
        });
        m_server->listen(QHostAddress::LocalHost, 0);
        m_port = m_server->serverPort();
    }

    quint16 Port() const { return m_port; }

private:
    const int m_delayMs;
    QByteArray m_feed;
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
};

// Fetches every feed with the given window; the results are taken in order.
double FetchAll(quint16 port, int feeds, int window, qint64& bytes) {
    TFetchAhead fetch(window);
    int taken = 0;
    bytes = 0;
    QEventLoop loop;
    QObject::connect(&fetch, &TFetchAhead::NextResultReady, &loop, [&] {
        while (fetch.NextReady()) {
            const TFetchResult r = fetch.TakeNext();
            if (!r.Succeeded())
                std::fprintf(stderr, "failed: %s\n", qPrintable(r.ErrorMessage));
            bytes += r.Body.size();
            if (++taken == feeds)
                loop.quit();
        }
    });
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < feeds; ++i)
        fetch.Enqueue(TFetchJob("http://127.0.0.1:" + QByteArray::number(port) + "/feed/" +
                                QByteArray::number(i)));
    loop.exec();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int feeds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const int delayMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 20;
    const int feedBytes = argc > 3 ? std::max(100, std::atoi(argv[3])) : 20000;

    QThread serverThread;
    TFeedServer server(delayMs, feedBytes);
    server.moveToThread(&serverThread);
    serverThread.start();
    QMetaObject::invokeMethod(
        &server, [&] { server.Listen(); }, Qt::BlockingQueuedConnection);

    std::printf("%d feeds of about %d bytes, the server answering after %d ms\n", feeds, feedBytes,
                delayMs);
    for (const int window : {1, 2, 6, 12}) {
        qint64 bytes = 0;
        const double ms = FetchAll(server.Port(), feeds, window, bytes);
        std::printf("window %2d: %8.0f ms  (%6.1f ms per feed, %.1f MB)\n", window, ms, ms / feeds,
                    double(bytes) / 1e6);
    }
    QMetaObject::invokeMethod(
        &server, [&] { server.moveToThread(app.thread()); }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();
    return 0;
}
