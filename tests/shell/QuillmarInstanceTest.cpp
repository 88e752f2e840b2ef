#include "shell/QuillmarInstance.h"

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QString BlockPath(const TestEnvironment& env) {
    return env.RuntimeFolder() + u'/' + QLatin1String(TQuillmar::MappingName);
}

// Starts the real program as a second instance and serves the running one (this
// process) until it ends.
struct SecondStart {
    QStringList events;
    QByteArray pendingWhenAnnounced;
    bool secondWaitedForHandler = false;
    int exitCode = -1;
};

SecondStart RunSecondStart(const TestEnvironment& env, TQuillmar& running,
                           const QStringList& arguments) {
    SecondStart result;
    QProcess second;
    QObject context;
    QObject::connect(&running, &TQuillmar::UrlPendingMessage, &context, [&] {
        result.events << QStringLiteral("url");
        result.pendingWhenAnnounced = running.GetPendingUrl();
        result.secondWaitedForHandler = second.state() == QProcess::Running;
    });
    QObject::connect(&running, &TQuillmar::ShowInstanceMessage, &context,
                     [&] { result.events << QStringLiteral("show"); });
    second.setProcessEnvironment(env.Environment());
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(QStringLiteral(QUILLMAR_APP_PATH), arguments);
    EXPECT_TRUE(second.waitForStarted());
    QElapsedTimer timer;
    timer.start();
    while (second.state() != QProcess::NotRunning && timer.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        second.waitForFinished(20);
    }
    result.exitCode = second.exitCode();
    return result;
}

} // namespace

TEST(QuillmarInstance, CommandLineSetsInterfaceAndPendingAddress) {
    struct Case {
        QStringList args;
        bool ui;
        QByteArray pending;
    };
    const QList<Case> cases{
        {{QStringLiteral("/ui")}, true, ""},
        {{QStringLiteral("/UI")}, true, ""},
        {{QStringLiteral("--ui")}, true, ""},
        {{QStringLiteral("/add"), QStringLiteral("reader:https://example.org/feed")},
         false,
         "https://example.org/feed"},
        {{QStringLiteral("/ADD"), QStringLiteral("READER://Host/Path/Feed.xml")},
         false,
         "http://Host/Path/Feed.xml"},
        {{QStringLiteral("--add"), QStringLiteral("reader://h/x")}, false, "http://h/x"},
        {{QStringLiteral("/add"), QStringLiteral("https://example.org/feed")}, false, ""},
        {{QStringLiteral("/add")}, false, ""},
        {{QStringLiteral("/add"), QStringLiteral("reader:http://a/"), QStringLiteral("/ui"),
          QStringLiteral("/add"), QStringLiteral("reader:http://b/")},
         true,
         "http://b/"},
        {{QStringLiteral("stray"), QStringLiteral("/add"), QStringLiteral("/ui")}, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        TestEnvironment env;
        TQuillmar instance(c.args, env.RuntimeFolder());
        EXPECT_FALSE(instance.AlreadyRunning());
        EXPECT_EQ(instance.ShowUserInterface(), c.ui);
        EXPECT_EQ(instance.GetPendingUrl(), c.pending);
    }
}

TEST(QuillmarInstance, SecondInstanceReadsTheBlockAndLongAddressesAreCut) {
    TestEnvironment env;
    TQuillmar first({}, env.RuntimeFolder());
    ASSERT_FALSE(first.AlreadyRunning());
    const QByteArray longUrl = "http://h/" + QByteArray(5000, 'a');
    first.SetPendingUrl(longUrl);
    EXPECT_EQ(first.GetPendingUrl(), longUrl); // the writer keeps the whole text

    TQuillmar second({}, env.RuntimeFolder());
    EXPECT_TRUE(second.AlreadyRunning());
    EXPECT_EQ(second.GetPendingUrl(), longUrl.left(TQuillmar::MaxUrlLength));

    first.SetPendingUrl({});
    TQuillmar third({}, env.RuntimeFolder());
    EXPECT_EQ(third.GetPendingUrl(), QByteArray());
}

TEST(QuillmarInstance, DamagedLengthNeverReadsPastTheBlock) {
    TestEnvironment env;
    TQuillmar first({}, env.RuntimeFolder());
    QFile block(BlockPath(env));
    ASSERT_TRUE(block.open(QIODevice::ReadWrite));
    uchar* view = block.map(0, TQuillmar::BlockSize);
    ASSERT_NE(view, nullptr);
    qToLittleEndian<quint32>(0xFFFFFFFFu, view);
    std::memset(view + 4, 'x', TQuillmar::MaxUrlLength);
    block.unmap(view);
    EXPECT_EQ(first.GetPendingUrl().size(), TQuillmar::MaxUrlLength);
}

TEST(QuillmarInstance, LeftoversOfACrashedInstanceDoNotStopTheNextStart) {
    TestEnvironment env;
    const QString base = env.RuntimeFolder() + u'/' + QLatin1String(TQuillmar::MutexName);
    // A lock naming a process that no longer exists, a socket file nobody listens on
    // and a block that still holds an address.
    QFile lock(base + QStringLiteral(".lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write("999999\nquillmar\n\n");
    lock.close();
    QFile socket(base);
    ASSERT_TRUE(socket.open(QIODevice::WriteOnly));
    socket.close();
    QFile block(BlockPath(env));
    ASSERT_TRUE(block.open(QIODevice::WriteOnly));
    QByteArray stale(TQuillmar::BlockSize, '\0');
    qToLittleEndian<quint32>(5, stale.data());
    stale.replace(4, 5, "stale");
    block.write(stale);
    block.close();

    TQuillmar instance({}, env.RuntimeFolder());
    EXPECT_FALSE(instance.AlreadyRunning());
    EXPECT_EQ(instance.GetPendingUrl(), QByteArray());
    EXPECT_TRUE(instance.StartListening());
}

TEST(QuillmarInstance, SecondStartHandsItsAddressToTheRunningInstanceAndEnds) {
    TestEnvironment env;
    TQuillmar running({}, env.RuntimeFolder());
    ASSERT_FALSE(running.AlreadyRunning());
    ASSERT_TRUE(running.StartListening());

    const SecondStart s = RunSecondStart(
        env, running, {QStringLiteral("/add"), QStringLiteral("reader://host/feed")});
    EXPECT_EQ(s.exitCode, 0);
    EXPECT_EQ(s.events, QStringList({QStringLiteral("url"), QStringLiteral("show")}));
    EXPECT_EQ(s.pendingWhenAnnounced, QByteArray("http://host/feed"));
    EXPECT_TRUE(s.secondWaitedForHandler);
    EXPECT_EQ(running.GetPendingUrl(), QByteArray("http://host/feed"));
}

TEST(QuillmarInstance, SecondStartWithoutAddressOnlyShowsTheRunningInstance) {
    TestEnvironment env;
    TQuillmar running({}, env.RuntimeFolder());
    ASSERT_TRUE(running.StartListening());
    const SecondStart s = RunSecondStart(
        env, running, {QStringLiteral("/add"), QStringLiteral("https://not-a-reader-address/")});
    EXPECT_EQ(s.exitCode, 0);
    EXPECT_EQ(s.events, QStringList({QStringLiteral("show")}));
    EXPECT_EQ(running.GetPendingUrl(), QByteArray());
}
