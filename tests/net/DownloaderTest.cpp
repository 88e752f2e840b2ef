#include "net/Downloader.h"

#include "support/QtPrinters.h"
#include "support/TestHttpServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray Content(int size) {
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char('A' + (i * 31 + i / 7) % 26);
    return data;
}

struct Progress {
    quint16 kind;
    quint32 value;
};

// One run of a downloader into a file of a private folder that already holds
// existing; the offset is that file's size unless told otherwise.
struct Outcome {
    QList<Progress> reports;
    bool failed = false;
    bool completed = false;
    QString error;
    QByteArray file;

    QList<quint16> Kinds() const {
        QList<quint16> kinds;
        for (const auto& p : reports)
            if (kinds.isEmpty() || kinds.last() != p.kind)
                kinds.append(p.kind);
        return kinds;
    }
    quint32 ValueOf(quint16 kind) const {
        for (const auto& p : reports)
            if (p.kind == kind)
                return p.value;
        return 0;
    }
    qint64 BytesReported() const {
        qint64 n = 0;
        for (const auto& p : reports)
            if (p.kind == TDownloader::kindBytesOfKnownSize ||
                p.kind == TDownloader::kindBytesOfUnknownSize)
                n += p.value;
            else if (p.kind == TDownloader::kindRestarted)
                n = 0;
        return n;
    }
};

Outcome Download(const QByteArray& address, const QByteArray& existing = {}, qint64 offset = -1,
                 int timeoutMs = 5000, std::function<void(TDownloader&)> whileRunning = {}) {
    QTemporaryDir dir;
    QFile file(dir.filePath("target"));
    file.open(QIODevice::ReadWrite);
    file.write(existing);
    Outcome outcome;
    {
        TDownloader downloader(&file, address, 7);
        downloader.ResumeOffset = offset < 0 ? existing.size() : offset;
        downloader.TimeoutMs = timeoutMs;
        QObject context;
        bool finished = false;
        QObject::connect(&downloader, &TOperationThread::OperationProgress, &context,
                         [&](quint16 kind, quint16 identifier, quint32 value) {
                             EXPECT_EQ(identifier, 7);
                             outcome.reports.append({kind, value});
                             finished = kind == TOperationThread::kindFinished;
                         });
        downloader.start();
        if (whileRunning)
            whileRunning(downloader);
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 20000));
        outcome.failed = downloader.Failed();
        outcome.completed = downloader.Completed();
        outcome.error = downloader.ErrorMessage();
    }
    file.close();
    file.open(QIODevice::ReadOnly);
    outcome.file = file.readAll();
    return outcome;
}

using Kinds = QList<quint16>;

TEST(Downloader, FetchesTheFileWithItsSizeAnnouncedFirst) {
    TestHttpServer server;
    const QByteArray content = Content(30000);
    server.Route("/show.mp3", [content](const TestHttpRequest& request) {
        return ServeFile(request, TestServedFile(content));
    });
    const Outcome o = Download(server.Url("/show.mp3"));
    EXPECT_FALSE(o.failed);
    EXPECT_TRUE(o.completed);
    EXPECT_EQ(o.file, content);
    EXPECT_EQ(o.Kinds(), (Kinds{1, 2, 5}));
    EXPECT_EQ(o.ValueOf(1), 30000u);
    EXPECT_EQ(o.BytesReported(), 30000);
    const auto requests = server.RequestsFor("/show.mp3");
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_FALSE(requests[1].HasHeader("Range"));
    EXPECT_EQ(requests[1].Header("Accept"), "*/*");
    EXPECT_EQ(requests[1].Header("Accept-Encoding"), "identity");
    EXPECT_TRUE(requests[1].Header("User-Agent").startsWith("Quillmar/"));
}

TEST(Downloader, WithoutAnnouncedSizeChunksAreReportedAsUnknownSize) {
    TestHttpServer server;
    const QByteArray content = Content(20000);
    server.Route("/file", [content](const TestHttpRequest& request) {
        TestServedFile file(content);
        file.omitLengthOnHead = true;
        return ServeFile(request, file);
    });
    const Outcome o = Download(server.Url("/file"));
    EXPECT_TRUE(o.completed);
    EXPECT_EQ(o.Kinds(), (Kinds{1, 3, 5}));
    EXPECT_EQ(o.ValueOf(1), TDownloader::kUnknownSize);
    EXPECT_EQ(o.file, content);
}

TEST(Downloader, ResumesAPartialFileWithARange) {
    TestHttpServer server;
    const QByteArray content = Content(30000);
    server.Route("/file", [content](const TestHttpRequest& request) {
        return ServeFile(request, TestServedFile(content));
    });
    const Outcome o = Download(server.Url("/file"), content.left(5000));
    EXPECT_TRUE(o.completed);
    EXPECT_EQ(o.file, content);
    EXPECT_EQ(o.BytesReported(), 25000);
    EXPECT_EQ(server.RequestsFor("/file").last().Header("Range"), "bytes=5000-");
}

TEST(Downloader, ResumedDownloadRestartsWhenTheServerSendsTheWholeFile) {
    struct Case {
        const char* name;
        bool honourRange, announceNoRanges;
        QByteArray rangeSent;
    };
    const QList<Case> cases{
        {"ignores Range", false, false, "bytes=5000-"},
        {"announces Accept-Ranges: none", true, true, ""},
    };
    const QByteArray content = Content(12000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server;
        server.Route("/file", [content, c](const TestHttpRequest& request) {
            TestServedFile file(content);
            file.honourRange = c.honourRange;
            file.announceNoRanges = c.announceNoRanges;
            return ServeFile(request, file);
        });
        const Outcome o = Download(server.Url("/file"), QByteArray(5000, 'z'));
        EXPECT_TRUE(o.completed);
        EXPECT_EQ(o.file, content) << "the old bytes are gone, the file starts at byte 0";
        EXPECT_TRUE(o.Kinds().contains(TDownloader::kindRestarted));
        EXPECT_EQ(o.BytesReported(), 12000);
        EXPECT_EQ(server.RequestsFor("/file").last().Header("Range"), c.rangeSent);
    }
}

TEST(Downloader, PartialFileLongerThanTheResourceStartsAgain) {
    TestHttpServer server;
    const QByteArray content = Content(3000);
    server.Route("/file", [content](const TestHttpRequest& request) {
        return ServeFile(request, TestServedFile(content));
    });
    const Outcome o = Download(server.Url("/file"), QByteArray(5000, 'z'));
    EXPECT_TRUE(o.completed);
    EXPECT_EQ(o.file, content);
    EXPECT_FALSE(server.RequestsFor("/file").last().HasHeader("Range"));
}

TEST(Downloader, WholeFileIsNotFetchedAgain) {
    TestHttpServer server;
    const QByteArray content = Content(3000);
    server.Route("/file", [content](const TestHttpRequest& request) {
        return ServeFile(request, TestServedFile(content));
    });
    const Outcome o = Download(server.Url("/file"), content);
    EXPECT_TRUE(o.completed);
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(o.file, content);
    EXPECT_EQ(server.RequestsFor("/file").size(), 1) << "HEAD only";
}

TEST(Downloader, NothingButTheFileReachesTheDevice) {
    const QByteArray existing = Content(5000);
    struct Case {
        const char* name;
        TestHttpHandler handler;
    };
    const QList<Case> cases{
        {"HEAD 404", [](const TestHttpRequest&) { return TextAnswer(404, "<html>gone</html>"); }},
        {"GET 500 after a good HEAD",
         [](const TestHttpRequest& request) {
             if (request.method == "HEAD")
                 return ServeFile(request, TestServedFile(Content(9000)));
             return TextAnswer(500, "<html>oops</html>");
         }},
        {"416",
         [](const TestHttpRequest& request) {
             TestServedFile file(Content(5000));
             file.omitLengthOnHead = true; // so the range is asked for
             return ServeFile(request, file);
         }},
        {"a part that does not continue the file",
         [](const TestHttpRequest& request) {
             if (request.method == "HEAD")
                 return ServeFile(request, TestServedFile(Content(9000)));
             TestHttpResponse r = TextAnswer(206, Content(9000).mid(1000));
             r.With("Content-Range", "bytes 1000-8999/9000");
             return r;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server;
        server.Route("/file", c.handler);
        const Outcome o = Download(server.Url("/file"), existing);
        EXPECT_TRUE(o.failed);
        EXPECT_FALSE(o.completed);
        EXPECT_FALSE(o.error.isEmpty());
        EXPECT_EQ(o.file, existing);
        EXPECT_EQ(o.reports.last().kind, TOperationThread::kindFinished);
    }
}

TEST(Downloader, ConnectionDroppedMidBodyFailsAndKeepsThePartialFile) {
    TestHttpServer server;
    const QByteArray content = Content(40000);
    server.Route("/file", [content](const TestHttpRequest& request) {
        TestHttpResponse r = ServeFile(request, TestServedFile(content));
        if (request.method == "GET") {
            r.fault = TestHttpResponse::Fault::DropMidBody;
            r.dropAfter = 10000;
        }
        return r;
    });
    const Outcome o = Download(server.Url("/file"));
    EXPECT_TRUE(o.failed);
    EXPECT_FALSE(o.completed);
    EXPECT_LE(o.file.size(), 10000);
    EXPECT_EQ(o.file, content.left(o.file.size())) << "what arrived is kept for the next resume";
}

TEST(Downloader, OtherSchemesFailWithoutAnyConnection) {
    for (const QByteArray& address :
         {QByteArray("ftp://127.0.0.1/file"), QByteArray("file:///etc/hostname"), QByteArray("")}) {
        const Outcome o = Download(address);
        EXPECT_TRUE(o.failed);
        EXPECT_EQ(o.Kinds(), (Kinds{5}));
    }
}

TEST(Downloader, SilentServerFailsAfterTheTimeOut) {
    TestHttpServer server;
    server.Route("/file", [](const TestHttpRequest&) {
        TestHttpResponse r;
        r.fault = TestHttpResponse::Fault::Silent;
        return r;
    });
    const Outcome o = Download(server.Url("/file"), {}, -1, 300);
    EXPECT_TRUE(o.failed);
    EXPECT_TRUE(o.error.contains("No answer")) << o.error.toStdString();
}

TEST(Downloader, StopEventEndsTheTransferWithoutFailure) {
    TestHttpServer server;
    const QByteArray content = Content(40000);
    server.Route("/file", [content](const TestHttpRequest& request) {
        TestHttpResponse r = ServeFile(request, TestServedFile(content));
        if (request.method == "GET") {
            r.fault = TestHttpResponse::Fault::StallMidBody;
            r.dropAfter = 10000;
        }
        return r;
    });
    const Outcome o = Download(server.Url("/file"), {}, -1, 60000, [](TDownloader& d) {
        // Once bytes are flowing, the Stop command.
        QTest::qWait(300);
        d.StopEvent()->Set();
    });
    EXPECT_FALSE(o.failed);
    EXPECT_FALSE(o.completed);
    EXPECT_EQ(o.file, content.left(o.file.size()));
}

TEST(Downloader, ServerThatRefusesHeadStillServesTheFile) {
    TestHttpServer server;
    const QByteArray content = Content(7000);
    server.Route("/file", [content](const TestHttpRequest& request) {
        if (request.method == "HEAD")
            return TextAnswer(405, "");
        return ServeFile(request, TestServedFile(content));
    });
    const Outcome o = Download(server.Url("/file"));
    EXPECT_TRUE(o.completed);
    EXPECT_EQ(o.file, content);
    EXPECT_EQ(o.Kinds(), (Kinds{1, 2, 5}));
    EXPECT_EQ(o.ValueOf(1), 7000u);
}

TEST(Downloader, FollowsRedirects) {
    TestHttpServer server;
    const QByteArray content = Content(7000);
    server.Route("/moved", [](const TestHttpRequest&) { return RedirectAnswer(302, "/file"); });
    server.Route("/file", [content](const TestHttpRequest& request) {
        return ServeFile(request, TestServedFile(content));
    });
    const Outcome o = Download(server.Url("/moved"), content.left(1000));
    EXPECT_TRUE(o.completed);
    EXPECT_EQ(o.file, content);
}

} // namespace
