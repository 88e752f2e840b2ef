#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

QByteArray Content(int size) {
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char('a' + (i * 17 + i / 11) % 26);
    return data;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "(missing)";
    return file.readAll();
}

void WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

ProcessResult Download(const TestEnvironment& env, const QByteArray& url, const QString& path,
                       const QStringList& extra = {}) {
    return RunCli(env,
                  QStringList{QStringLiteral("download"), QString::fromUtf8(url), path} + extra);
}

TEST(DownloadCommands, DownloadsAFileWithProgressOnStderr) {
    TestEnvironment env;
    TestHttpServer server;
    const QByteArray content = Content(100000);
    server.Route("/episode.mp3", [content](const TestHttpRequest& request) {
        return ServeFile(request, TestServedFile(content));
    });
    const QString path = env.FilePath("episode.mp3");
    const auto result = Download(env, server.Url("/episode.mp3"), path);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(ReadFile(path), content);
    EXPECT_TRUE(result.err.contains("Size: 100000 bytes")) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("100000 of 100000 bytes (100%)")) << result.err.toStdString();
    EXPECT_EQ(result.out, path.toUtf8() + ": 100000 bytes\n");
    EXPECT_EQ(server.Requests().first().method, "HEAD");
}

TEST(DownloadCommands, ResumesAPartialFile) {
    TestEnvironment env;
    TestHttpServer server;
    const QByteArray content = Content(50000);
    server.Route("/file", [content](const TestHttpRequest& request) {
        return ServeFile(request, TestServedFile(content));
    });
    const QString path = env.FilePath("file");
    WriteFile(path, content.left(20000));
    const auto result = Download(env, server.Url("/file"), path);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(ReadFile(path), content);
    EXPECT_TRUE(result.err.contains("Resuming at byte 20000"));
    EXPECT_EQ(server.Requests().last().Header("Range"), "bytes=20000-");
}

TEST(DownloadCommands, ServerThatIgnoresTheRangeRestartsTheFile) {
    TestEnvironment env;
    TestHttpServer server;
    const QByteArray content = Content(30000);
    server.Route("/file", [content](const TestHttpRequest& request) {
        TestServedFile file(content);
        file.honourRange = false;
        return ServeFile(request, file);
    });
    const QString path = env.FilePath("file");
    WriteFile(path, QByteArray(10000, '#'));
    const auto result = Download(env, server.Url("/file"), path);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(ReadFile(path), content);
    EXPECT_TRUE(result.err.contains("starting again")) << result.err.toStdString();
}

TEST(DownloadCommands, DroppedConnectionFailsAndTheNextTryFinishesTheFile) {
    TestEnvironment env;
    TestHttpServer server;
    const QByteArray content = Content(60000);
    std::shared_ptr<std::atomic<int>> gets = std::make_shared<std::atomic<int>>(0);
    server.Route("/file", [content, gets](const TestHttpRequest& request) {
        TestHttpResponse r = ServeFile(request, TestServedFile(content));
        if (request.method == "GET" && ++*gets == 1) {
            r.fault = TestHttpResponse::Fault::DropMidBody;
            r.dropAfter = 25000;
        }
        return r;
    });
    const QString path = env.FilePath("file");
    const auto first = Download(env, server.Url("/file"), path);
    EXPECT_EQ(first.exitCode, 1);
    const QByteArray partial = ReadFile(path);
    EXPECT_GT(partial.size(), 0);
    EXPECT_LE(partial.size(), 25000);
    EXPECT_EQ(partial, content.left(partial.size()));
    EXPECT_TRUE(first.err.contains("kept in")) << first.err.toStdString();

    const auto second = Download(env, server.Url("/file"), path);
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(ReadFile(path), content);
}

TEST(DownloadCommands, FailuresExitWith1AndNeverWriteWhatIsNotTheFile) {
    struct Case {
        const char* name;
        QByteArray existing; // empty: no file before
        TestHttpHandler handler;
        QStringList extra;
    };
    const QList<Case> cases{
        {"404 page, no file before",
         {},
         [](const TestHttpRequest&) { return TextAnswer(404, "<html>not here</html>"); },
         {}},
        {"500 page on GET, partial file",
         Content(1000),
         [](const TestHttpRequest& request) {
             if (request.method == "HEAD")
                 return ServeFile(request, TestServedFile(Content(5000)));
             return TextAnswer(500, "<html>oops</html>");
         },
         {}},
        {"silent server",
         Content(1000),
         [](const TestHttpRequest&) {
             TestHttpResponse r;
             r.fault = TestHttpResponse::Fault::Silent;
             return r;
         },
         {QStringLiteral("--timeout"), QStringLiteral("0.5")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestEnvironment env;
        TestHttpServer server;
        server.Route("/file", c.handler);
        const QString path = env.FilePath("file");
        if (!c.existing.isEmpty())
            WriteFile(path, c.existing);
        const auto result = Download(env, server.Url("/file"), path, c.extra);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.err.contains("quillmar-cli: ")) << result.err.toStdString();
        EXPECT_EQ(ReadFile(path), c.existing.isEmpty() ? QByteArray("(missing)") : c.existing);
    }
}

TEST(DownloadCommands, MistakesInTheArgumentsFail) {
    TestEnvironment env;
    const QList<std::pair<QStringList, int>> cases{
        {{QStringLiteral("download")}, 2},
        {{QStringLiteral("download"), QStringLiteral("http://127.0.0.1:1/x")}, 2},
        {{QStringLiteral("download"), QStringLiteral("http://127.0.0.1:1/x"), env.FilePath("x"),
          QStringLiteral("--timeout"), QStringLiteral("soon")},
         2},
        {{QStringLiteral("download"), QStringLiteral("ftp://127.0.0.1/x"), env.FilePath("x")}, 1},
    };
    for (const auto& [args, code] : cases) {
        const auto result = RunCli(env, args);
        EXPECT_EQ(result.exitCode, code) << args.join(u' ').toStdString();
    }
}

} // namespace
