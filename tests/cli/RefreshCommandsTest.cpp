// subscribe and refresh, run as the tool against a server the test starts.
#include "store/QuillmarDoc.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

QByteArray Rss(const QByteArray& title, const QList<QByteArray>& guids) {
    QByteArray xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title +
                     "</title><link>http://example.com/</link>";
    for (const QByteArray& g : guids)
        xml += "<item><title>Item " + g + "</title><guid>" + g + "</guid></item>";
    return xml + "</channel></rss>";
}

TestHttpResponse Feed(const QByteArray& title, const QList<QByteArray>& guids) {
    return TextAnswer(200, Rss(title, guids), "application/rss+xml");
}

class RefreshCommandsTest : public testing::Test {
protected:
    RefreshCommandsTest() { QDir().mkpath(DataDir()); }

    QString DataDir() const { return env.FilePath(QStringLiteral("data")); }

    ProcessResult Run(QStringList args) {
        args.prepend(DataDir());
        args.prepend(QStringLiteral("--data"));
        return RunCli(env, args);
    }
    QByteArray Ok(const QStringList& args) {
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.exitCode, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        return r.out;
    }
    ProcessResult Subscribe(const QByteArray& path, const QStringList& extra = {}) {
        return Run(QStringList{QStringLiteral("subscribe"), QString::fromUtf8(server.Url(path))} +
                   extra);
    }
    // The channels of the tree as title: status.
    QMap<QString, int> Statuses() {
        QMap<QString, int> statuses;
        const QJsonObject tree =
            QJsonDocument::fromJson(Ok({QStringLiteral("tree"), QStringLiteral("--json")}))
                .object();
        QList<QJsonObject> pending{tree};
        while (!pending.isEmpty()) {
            const QJsonObject item = pending.takeLast();
            if (item.contains(QStringLiteral("Status")))
                statuses.insert(item.value(QStringLiteral("Title")).toString(),
                                item.value(QStringLiteral("Status")).toInt());
            for (const QJsonValue& child : item.value(QStringLiteral("Children")).toArray())
                pending << child.toObject();
        }
        return statuses;
    }
    static QList<QByteArray> Lines(const QByteArray& text) {
        QList<QByteArray> lines = text.split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    TestEnvironment env;
    TestHttpServer server;
};

TEST_F(RefreshCommandsTest, SubscribeStoresTheFeedAndPrintsThePopupLineAndThePath) {
    server.Route("/feed", [](const TestHttpRequest&) { return Feed("Example", {"1", "2"}); });
    Ok({QStringLiteral("mkfolder"), QStringLiteral("News")});
    const ProcessResult r =
        Subscribe("/feed", {QStringLiteral("--folder"), QStringLiteral("News")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "Example in News (2)");
    EXPECT_TRUE(lines[1].startsWith("f")) << lines[1].constData();
    EXPECT_EQ(Lines(Ok({QStringLiteral("topics"), QStringLiteral("News/Example")})).size(), 2);
}

TEST_F(RefreshCommandsTest, SubscribeFailuresLeaveNoChannel) {
    server.Route("/page", [](const TestHttpRequest&) {
        return TextAnswer(200, "<html><body>hello</body></html>", "text/html");
    });
    server.Route("/gone", [](const TestHttpRequest&) { return TextAnswer(404, "gone"); });
    server.Route("/locked", [](const TestHttpRequest& r) {
        return RequireBasicAuth(r, "u", "p", Feed("Locked", {"1"}));
    });
    struct Case {
        QByteArray path;
        int exitCode;
        QByteArray message;
    };
    for (const Case& c : {Case{"/page", 2, "Error parsing content channel data"},
                          Case{"/gone", 1, "Document not found or invalid"},
                          Case{"/locked", 1, "Channel requires valid user name and password."}}) {
        const ProcessResult r = Subscribe(c.path);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.path.constData();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
    }
    EXPECT_TRUE(Statuses().isEmpty());
    EXPECT_EQ(Run({QStringLiteral("subscribe"), QStringLiteral("http://127.0.0.1:1/x"),
                   QStringLiteral("--folder"), QStringLiteral("Nowhere")})
                  .exitCode,
              1);
}

TEST_F(RefreshCommandsTest, RefreshReportsEachChannelAndEndsWithTheCounts) {
    QByteArray first = Rss("First", {"1"});
    server.Route("/first", [&first](const TestHttpRequest&) {
        return TextAnswer(200, first, "application/rss+xml");
    });
    server.Route("/second", [](const TestHttpRequest&) { return Feed("Second", {"a"}); });
    ASSERT_EQ(Subscribe("/first").exitCode, 0);
    Ok({QStringLiteral("mkfolder"), QStringLiteral("News")});
    ASSERT_EQ(Subscribe("/second", {QStringLiteral("--folder"), QStringLiteral("News")}).exitCode,
              0);

    first = Rss("First", {"1", "2", "3"});
    const ProcessResult r = Run({QStringLiteral("refresh")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Lines(r.err),
              (QList<QByteArray>{"[1/2] First: 2 new topics", "[2/2] Second: 0 new topics"}));
    EXPECT_EQ(Lines(r.out), (QList<QByteArray>{"First (2)", "2 refreshed, 0 failed, 1 updated"}));
}

TEST_F(RefreshCommandsTest, FailedChannelsGiveTheirStateAndExitCodeOne) {
    server.Route("/ok", [](const TestHttpRequest&) { return Feed("Ok", {"1"}); });
    bool broken = false;
    server.Route("/flaky", [&broken](const TestHttpRequest&) {
        if (broken)
            return TextAnswer(500, "oops");
        return Feed("Flaky", {"1"});
    });
    bool locked = false;
    server.Route("/locked", [&locked](const TestHttpRequest& r) {
        if (locked)
            return RequireBasicAuth(r, "u", "p", Feed("Locked", {"1"}));
        return Feed("Locked", {"1"});
    });
    bool silent = false;
    server.Route("/silent", [&silent](const TestHttpRequest&) {
        TestHttpResponse r = Feed("Silent", {"1"});
        if (silent)
            r.fault = TestHttpResponse::Fault::Silent;
        return r;
    });
    for (const char* path : {"/ok", "/flaky", "/locked", "/silent"})
        ASSERT_EQ(Subscribe(path).exitCode, 0) << path;

    broken = locked = silent = true;
    const ProcessResult r =
        Run({QStringLiteral("refresh"), QStringLiteral("--timeout"), QStringLiteral("1")});
    EXPECT_EQ(r.exitCode, 1);
    const auto err = Lines(r.err);
    ASSERT_EQ(err.size(), 4) << r.err.toStdString();
    EXPECT_EQ(err[0], "[1/4] Ok: 0 new topics");
    EXPECT_EQ(err[1], "[2/4] Flaky: failed: HTTP status 500");
    EXPECT_EQ(err[2], "[3/4] Locked: needs a user name and password");
    EXPECT_TRUE(err[3].startsWith("[4/4] Silent: failed: ")) << err[3].constData();
    EXPECT_EQ(Lines(r.out), QList<QByteArray>{"1 refreshed, 3 failed, 0 updated"});
    const QMap<QString, int> expected{{"Ok", 1}, {"Flaky", 3}, {"Locked", 2}, {"Silent", 3}};
    EXPECT_EQ(Statuses(), expected);
}

TEST_F(RefreshCommandsTest, RefreshOfNamedItemsTakesEachChannelOnce) {
    server.Route("/a", [](const TestHttpRequest&) { return Feed("A", {"1"}); });
    server.Route("/b", [](const TestHttpRequest&) { return Feed("B", {"1"}); });
    server.Route("/c", [](const TestHttpRequest&) { return Feed("C", {"1"}); });
    Ok({QStringLiteral("mkfolder"), QStringLiteral("News")});
    ASSERT_EQ(Subscribe("/a").exitCode, 0);
    ASSERT_EQ(Subscribe("/b", {QStringLiteral("--folder"), QStringLiteral("News")}).exitCode, 0);
    ASSERT_EQ(Subscribe("/c", {QStringLiteral("--folder"), QStringLiteral("News")}).exitCode, 0);

    const ProcessResult r =
        Run({QStringLiteral("refresh"), QStringLiteral("News/C"), QStringLiteral("News")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Lines(r.err), (QList<QByteArray>{"[1/2] C: 0 new topics", "[2/2] B: 0 new topics"}));
    EXPECT_EQ(server.RequestsFor("/a").size(), 1); // only the subscription's download

    EXPECT_EQ(Run({QStringLiteral("refresh"), QStringLiteral("Nothing/Here")}).exitCode, 1);
}

TEST_F(RefreshCommandsTest, SecondRefreshOfAnUnchangedFeedIsNotModified) {
    TestServedFile file(Rss("Cond", {"1", "2"}));
    file.etag = "\"v7\"";
    file.contentType = "application/rss+xml";
    server.Route("/feed", [&file](const TestHttpRequest& r) { return ServeFile(r, file); });
    ASSERT_EQ(Subscribe("/feed").exitCode, 0);
    const ProcessResult first = Run({QStringLiteral("refresh")});
    EXPECT_EQ(Lines(first.err), QList<QByteArray>{"[1/1] Cond: 0 new topics"});
    QFile document(DataDir() + QStringLiteral("/Reader.bin"));
    ASSERT_TRUE(document.open(QIODevice::ReadOnly));
    const QByteArray before = document.readAll();
    document.close();

    const ProcessResult second = Run({QStringLiteral("refresh")});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(Lines(second.err), QList<QByteArray>{"[1/1] Cond: not modified"});
    EXPECT_EQ(Lines(second.out), QList<QByteArray>{"1 refreshed, 0 failed, 0 updated"});
    EXPECT_EQ(server.RequestsFor("/feed").last().Header("If-None-Match"), "\"v7\"");
    ASSERT_TRUE(document.open(QIODevice::ReadOnly));
    EXPECT_EQ(document.readAll(), before);
}

TEST_F(RefreshCommandsTest, RefreshWithoutChannelsSucceeds) {
    const ProcessResult r = Run({QStringLiteral("refresh")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "0 refreshed, 0 failed, 0 updated\n");
}

} // namespace
