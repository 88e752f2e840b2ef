#include "support/TestEnvironment.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const QByteArray kFeed =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel>"
    "<title>Small feed</title><link>http://small.example.com/</link>"
    "<item><title>First</title><pubDate>Fri, 01 Mar 2024 09:00:00 GMT</pubDate>"
    "<enclosure url=\"http://small.example.com/1.mp3\" length=\"3\" type=\"audio/mpeg\"/>"
    "</item></channel></rss>";

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        m_had = qEnvironmentVariableIsSet(name);
        m_old = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedVariable() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(FeedCommands, ParseReadsStandardInput) {
    TestEnvironment env;
    const ProcessResult r = RunCli(
        env, {QStringLiteral("parse"), QStringLiteral("--json"), QStringLiteral("-")}, kFeed);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject feed = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(feed.value(QStringLiteral("format")).toString(), QStringLiteral("RSS"));
    EXPECT_EQ(
        feed.value(QStringLiteral("channel")).toObject().value(QStringLiteral("Title")).toString(),
        QStringLiteral("Small feed"));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.constData();
}

TEST(FeedCommands, SummaryListsTheTopics) {
    TestEnvironment env;
    ScopedVariable tz("TZ", "UTC");
    const ProcessResult r = RunCli(env, {QStringLiteral("parse"), QStringLiteral("-")}, kFeed);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("Format:    RSS (TRSSFormatter)\n")) << r.out.constData();
    EXPECT_TRUE(r.out.contains("Topics:    1\n")) << r.out.constData();
    EXPECT_TRUE(r.out.contains("  2024-03-01T09:00:00  First  [http://small.example.com/1.mp3]\n"))
        << r.out.constData();
}

TEST(FeedCommands, UnreadableFileIsExitTwoWithOneLine) {
    TestEnvironment env;
    const ProcessResult r =
        RunCli(env, {QStringLiteral("parse"), env.FilePath(QStringLiteral("missing.xml"))});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
    EXPECT_TRUE(r.err.contains("missing.xml")) << r.err.constData();
}

TEST(FeedCommands, ChannelWithoutLanguageTakesTheUsersLanguage) {
    TestEnvironment env;
    ScopedVariable all("LC_ALL", "de_DE.UTF-8");
    const ProcessResult r = RunCli(
        env, {QStringLiteral("parse"), QStringLiteral("--json"), QStringLiteral("-")}, kFeed);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject channel =
        QJsonDocument::fromJson(r.out).object().value(QStringLiteral("channel")).toObject();
    EXPECT_EQ(channel.value(QStringLiteral("Language")).toString(), QStringLiteral("de-DE"));
}

TEST(FeedCommands, ConvertWritesRss) {
    TestEnvironment env;
    const ProcessResult r = RunCli(env,
                                   {QStringLiteral("convert"), QStringLiteral("--to"),
                                    QStringLiteral("rss"), QStringLiteral("-")},
                                   kFeed);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss "))
        << r.out.constData();
    EXPECT_TRUE(r.out.contains("<enclosure url=\"http://small.example.com/1.mp3\" length=\"3\" "
                               "type=\"audio/mpeg\"/>"))
        << r.out.constData();
}

TEST(FeedCommands, ConvertWritesEachAtomVersion) {
    TestEnvironment env;
    const QList<std::pair<QString, QByteArray>> cases{
        {QStringLiteral("atom"), "xmlns=\"http://www.w3.org/2005/Atom\""},
        {QStringLiteral("atom03"), "xmlns=\"http://purl.org/atom/ns#\""}};
    for (const auto& [option, rootNamespace] : cases) {
        const ProcessResult r = RunCli(
            env, {QStringLiteral("convert"), QStringLiteral("--to"), option, QStringLiteral("-")},
            kFeed);
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_TRUE(r.out.contains("<feed ") && r.out.contains(rootNamespace))
            << option.toStdString() << ": " << r.out.constData();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.constData();
    }
}

TEST(FeedCommands, ConvertRefusesAnUnknownFormat) {
    TestEnvironment env;
    const ProcessResult r = RunCli(env,
                                   {QStringLiteral("convert"), QStringLiteral("--to"),
                                    QStringLiteral("json"), QStringLiteral("-")},
                                   kFeed);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("rss, atom or atom03")) << r.err.constData();
}

TEST(FeedCommands, ConvertOfSomethingElseIsExitTwo) {
    TestEnvironment env;
    const ProcessResult r = RunCli(env,
                                   {QStringLiteral("convert"), QStringLiteral("--to"),
                                    QStringLiteral("rss"), QStringLiteral("-")},
                                   "<html><body>no feed</body></html>");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
}

// --- Bad input ---
// Each input is built here, at run time, and must end in a result or a clear exit 2:
// no crash, no hang (the run is stopped after two minutes, far beyond what a healthy
// parse of any of them takes), no file read that the feed names, and memory in
// proportion to the input (the address space is limited where the build allows it).

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCanLimitMemory = false; // the sanitizer reserves terabytes of address space
#else
constexpr bool kCanLimitMemory = true;
#endif

// Runs "quillmar-cli parse FILE" with the address space limited to limitMb megabytes.
ProcessResult ParseLimited(const TestEnvironment& env, const QString& file, int limitMb) {
    QProcess process;
    process.setProcessEnvironment(env.Environment());
    const QString limit =
        kCanLimitMemory ? QStringLiteral("ulimit -v %1 && ").arg(limitMb * 1024) : QString();
    process.start(QStringLiteral("/bin/bash"),
                  {QStringLiteral("-c"), limit + QStringLiteral("exec \"$0\" parse \"$1\""),
                   QStringLiteral(QUILLMAR_CLI_PATH), file});
    ProcessResult result;
    if (!process.waitForStarted())
        return result;
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        result.crashed = true;
        return result;
    }
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString WriteInput(const TestEnvironment& env, const QString& name, const QByteArray& bytes) {
    const QString path = env.FilePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

QByteArray Items(int count, int descriptionRepeats) {
    const QByteArray description =
        QByteArray("Lorem ipsum dolor sit amet. ").repeated(descriptionRepeats);
    QByteArray xml = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Many</title>\n";
    xml.reserve(count * (description.size() + 160));
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        xml += "<item><title>Item " + n + "</title><link>http://many.example.com/" + n +
               "</link><description>" + description + "</description><guid>many-" + n +
               "</guid></item>\n";
    }
    return xml + "</channel></rss>\n";
}

void ExpectRefused(const ProcessResult& r) {
    EXPECT_FALSE(r.crashed) << r.err.constData();
    EXPECT_EQ(r.exitCode, 2) << r.out.left(200).constData();
    EXPECT_TRUE(r.out.isEmpty()) << r.out.left(200).constData();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
}

TEST(FeedBadInput, FiftyMegabyteFeedIsRead) {
    TestEnvironment env;
    const QByteArray xml = Items(60000, 30);
    ASSERT_GT(xml.size(), 50 * 1024 * 1024);
    const ProcessResult r =
        ParseLimited(env, WriteInput(env, QStringLiteral("big.xml"), xml), 2048);
    ASSERT_FALSE(r.crashed) << r.err.constData();
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("Topics:    60000\n"));
}

TEST(FeedBadInput, HundredThousandItemsAreRead) {
    TestEnvironment env;
    const ProcessResult r =
        ParseLimited(env, WriteInput(env, QStringLiteral("many.xml"), Items(100000, 1)), 1536);
    ASSERT_FALSE(r.crashed) << r.err.constData();
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("Topics:    100000\n"));
    EXPECT_TRUE(r.out.contains("Item 99999\n"));
}

TEST(FeedBadInput, DeepNestingIsRefused) {
    TestEnvironment env;
    const int depth = 200000;
    const QByteArray closed =
        "<rss><channel><item><description>" + QByteArray("<a>").repeated(depth) +
        QByteArray("</a>").repeated(depth) + "</description></item></channel></rss>";
    ExpectRefused(ParseLimited(env, WriteInput(env, QStringLiteral("deep.xml"), closed), 1024));
    const QByteArray open = "<rss><channel>" + QByteArray("<item>").repeated(depth);
    ExpectRefused(ParseLimited(env, WriteInput(env, QStringLiteral("open.xml"), open), 1024));
}

TEST(FeedBadInput, BillionLaughsAreRefused) {
    TestEnvironment env;
    QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 12; ++i)
        xml += "<!ENTITY l" + QByteArray::number(i) + " \"" +
               ("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    xml += "]><rss><channel><title>&l12;</title></channel></rss>";
    ExpectRefused(ParseLimited(env, WriteInput(env, QStringLiteral("laughs.xml"), xml), 1024));
}

TEST(FeedBadInput, ExternalEntitiesNeverOpenTheNamedFile) {
    TestEnvironment env;
    // A named pipe without a writer: opening it for reading would block for ever, so a
    // parse that finishes has not opened it.
    const QString pipe = env.FilePath(QStringLiteral("secret"));
    ASSERT_EQ(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    const QByteArray uri = "file://" + pipe.toUtf8();
    const QByteArray general = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY s SYSTEM \"" + uri +
                               "\">]><rss><channel><title>A&s;B</title></channel></rss>";
    const ProcessResult r =
        ParseLimited(env, WriteInput(env, QStringLiteral("general.xml"), general), 1024);
    ASSERT_FALSE(r.crashed) << r.err.constData();
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("Title:     AB\n")) << r.out.constData();

    const QByteArray parameter = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY % p SYSTEM \"" +
                                 uri + "\"> %p;]><rss><channel><title>P</title></channel></rss>";
    const ProcessResult p =
        ParseLimited(env, WriteInput(env, QStringLiteral("parameter.xml"), parameter), 1024);
    ASSERT_FALSE(p.crashed) << p.err.constData();
    EXPECT_EQ(p.exitCode, 0) << p.err.constData();
    EXPECT_TRUE(p.out.contains("Title:     P\n")) << p.out.constData();

    const QByteArray dtd = "<?xml version=\"1.0\"?><!DOCTYPE rss SYSTEM \"" + uri +
                           "\"><rss><channel><title>D</title></channel></rss>";
    const ProcessResult d =
        ParseLimited(env, WriteInput(env, QStringLiteral("dtd.xml"), dtd), 1024);
    EXPECT_FALSE(d.crashed) << d.err.constData();
    EXPECT_EQ(d.exitCode, 0) << d.err.constData();
}

TEST(FeedBadInput, BrokenBytesAreRefused) {
    TestEnvironment env;
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss><channel><title>";
    const QByteArray tail = "</title><item><title>x</title></item></channel></rss>";
    const QList<std::pair<const char*, QByteArray>> inputs{
        {"invalid-utf8.xml", head + "caf\xc3\x28 \xff\xfe" + tail},
        {"nul.xml", head + QByteArray("a\0b", 3) + tail},
        {"truncated.xml", (head + "T" + tail).left(60)},
        {"empty.xml", QByteArray()},
        {"binary.xml", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
    };
    for (const auto& [name, bytes] : inputs) {
        SCOPED_TRACE(name);
        ExpectRefused(ParseLimited(env, WriteInput(env, QString::fromLatin1(name), bytes), 1024));
    }
}

} // namespace
