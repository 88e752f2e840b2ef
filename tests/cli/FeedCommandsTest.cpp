#include "feeds/Formatters.h"
#include "support/TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

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

TEST(FeedCommands, ConvertNamesAFormatItCannotWrite) {
    TestEnvironment env;
    for (const auto& [option, className, description] :
         {std::tuple{"atom", "TAtom10Formatter", "Atom 1.0"},
          std::tuple{"atom03", "TAtomFormatter", "Atom 0.3"}}) {
        const ProcessResult r = RunCli(env,
                                       {QStringLiteral("convert"), QStringLiteral("--to"),
                                        QString::fromLatin1(option), QStringLiteral("-")},
                                       kFeed);
        if (FindFeedFormatterClass(className)) {
            EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        } else {
            EXPECT_NE(r.exitCode, 0);
            EXPECT_TRUE(r.out.isEmpty());
            EXPECT_TRUE(r.err.contains(description)) << r.err.constData();
        }
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

} // namespace
