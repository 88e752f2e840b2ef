// The channel update commands, run as the tool: add-channel, import-feed, autodelete
// and attachments.
#include "support/CliDocumentTest.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>

namespace {

const QString ChannelUrl = QStringLiteral("http://example.com/feed.xml");

QByteArray Feed(const QByteArray& items) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Example Cast</title>"
           "<link>http://example.com/</link><description>d</description>" +
           items + "</channel></rss>";
}

QByteArray Item(const QByteArray& guid, const QByteArray& enclosure = {}) {
    QByteArray item = "<item><title>Title " + guid + "</title><guid>" + guid + "</guid>";
    if (!enclosure.isEmpty())
        item += "<enclosure url=\"" + enclosure + "\" length=\"100\" type=\"audio/mpeg\"/>";
    return item + "</item>";
}

class FixedClock {
public:
    explicit FixedClock(const char* moment) { qputenv("QUILLMAR_NOW", moment); }
    ~FixedClock() { qunsetenv("QUILLMAR_NOW"); }
};

class UpdateCommandsTest : public CliDocumentTest {
protected:
    QString DocumentPath() const { return DataDir() + QStringLiteral("/Reader.bin"); }
    QString FeedFile(const QByteArray& bytes) {
        const QString path = m_env.FilePath(QStringLiteral("feed%1.xml").arg(m_feeds++));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    QByteArray DocumentBytes() const {
        QFile file(DocumentPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Subscribes the example channel and answers its storage path.
    QString AddChannel() {
        return QString::fromUtf8(Ok({QStringLiteral("add-channel"), QStringLiteral("/"), ChannelUrl,
                                     QStringLiteral("--title"), QStringLiteral("Example")}))
            .trimmed();
    }
    int ImportFeed(const QString& channel, const QByteArray& feed) {
        bool ok = false;
        const int stored =
            QString::fromUtf8(Ok({QStringLiteral("import-feed"), channel, FeedFile(feed)}))
                .trimmed()
                .toInt(&ok);
        EXPECT_TRUE(ok);
        return stored;
    }
    QJsonArray Topics(const QString& item) {
        return QJsonDocument::fromJson(
                   Ok({QStringLiteral("topics"), item, QStringLiteral("--json")}))
            .array();
    }
    QJsonObject TreeChannel() {
        const QJsonObject tree =
            QJsonDocument::fromJson(Ok({QStringLiteral("tree"), QStringLiteral("--json")}))
                .object();
        return tree.value(QStringLiteral("Children")).toArray().first().toObject();
    }

    int m_feeds = 0;
};

} // namespace

TEST_F(UpdateCommandsTest, AddChannelSubscribesWithoutFetching) {
    const QString path = AddChannel();
    EXPECT_FALSE(path.isEmpty());
    const QJsonObject channel = TreeChannel();
    EXPECT_EQ(channel.value(QStringLiteral("Title")).toString(), QStringLiteral("Example"));
    EXPECT_EQ(channel.value(QStringLiteral("Kind")).toString(), QStringLiteral("channel"));
    EXPECT_EQ(channel.value(QStringLiteral("Url")).toString(), ChannelUrl);
    EXPECT_EQ(channel.value(QStringLiteral("Path")).toString(), path);

    // The same address twice, or into a channel, is refused.
    EXPECT_NE(Run({QStringLiteral("add-channel"), QStringLiteral("/"), ChannelUrl}).exitCode, 0);
    EXPECT_NE(Run({QStringLiteral("add-channel"), path, QStringLiteral("http://other/")}).exitCode,
              0);
    // Without a title the address names it.
    Ok({QStringLiteral("mkfolder"), QStringLiteral("News")});
    Ok({QStringLiteral("add-channel"), QStringLiteral("News"), QStringLiteral("http://b/rss")});
    const QJsonObject tree =
        QJsonDocument::fromJson(Ok({QStringLiteral("tree"), QStringLiteral("--json")})).object();
    QString added;
    for (const QJsonValue& item : tree.value(QStringLiteral("Children")).toArray()) {
        if (item.toObject().value(QStringLiteral("Title")).toString() == QStringLiteral("News"))
            added = item.toObject()
                        .value(QStringLiteral("Children"))
                        .toArray()
                        .first()
                        .toObject()
                        .value(QStringLiteral("Title"))
                        .toString();
    }
    EXPECT_EQ(added, QStringLiteral("http://b/rss"));
}

TEST_F(UpdateCommandsTest, ImportFeedPrintsTheNewTopicsAndTheSecondImportWritesNothing) {
    const QString channel = AddChannel();
    QByteArray items;
    for (int i = 1; i <= 1000; ++i)
        items += Item("item-" + QByteArray::number(i));
    const QString file = FeedFile(Feed(items));
    EXPECT_EQ(Ok({QStringLiteral("import-feed"), channel, file}).trimmed(), "1000");
    EXPECT_EQ(TreeChannel().value(QStringLiteral("UnreadCount")).toInt(), 1000);
    EXPECT_EQ(TreeChannel().value(QStringLiteral("Title")).toString(),
              QStringLiteral("Example Cast"));

    const QByteArray before = DocumentBytes();
    const QDateTime modified = QFileInfo(DocumentPath()).lastModified();
    QThread::msleep(20);
    EXPECT_EQ(Ok({QStringLiteral("import-feed"), channel, file}).trimmed(), "0");
    EXPECT_EQ(DocumentBytes(), before);
    EXPECT_EQ(QFileInfo(DocumentPath()).lastModified(), modified);
}

TEST_F(UpdateCommandsTest, ImportFeedRefusesWhatIsNotAFeedAndChangesNothing) {
    const QString channel = AddChannel();
    const QByteArray before = DocumentBytes();
    const ProcessResult r =
        Run({QStringLiteral("import-feed"), channel, FeedFile("<html><body>hi</body></html>")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("html")) << r.err.toStdString();
    EXPECT_EQ(DocumentBytes(), before);
    EXPECT_EQ(
        Run({QStringLiteral("import-feed"), QStringLiteral("Nowhere"), FeedFile(Feed(Item("a")))})
            .exitCode,
        1);
    EXPECT_EQ(Run({QStringLiteral("import-feed"), channel, m_env.FilePath("missing.xml")}).exitCode,
              2);
}

TEST_F(UpdateCommandsTest, DeletedTopicsStayAwayAndAutoDeleteGoesByAge) {
    const QString channel = AddChannel();
    {
        FixedClock clock("2024-03-01T12:00:00");
        EXPECT_EQ(ImportFeed(channel, Feed(Item("a") + Item("b"))), 2);
    }
    {
        // 29 days and 23 hours: nothing is old enough yet.
        FixedClock clock("2024-03-31T11:00:00");
        EXPECT_EQ(Ok({QStringLiteral("autodelete"), channel, QStringLiteral("30")}),
                  "0 deleted, 2 unread\n");
    }
    {
        FixedClock clock("2024-03-31T12:01:00");
        EXPECT_EQ(ImportFeed(channel, Feed(Item("a") + Item("b") + Item("c"))), 1);
        Ok({QStringLiteral("mark"), channel + QStringLiteral("#b"), QStringLiteral("read")});
        EXPECT_EQ(Ok({QStringLiteral("autodelete"), channel, QStringLiteral("30")}),
                  "2 deleted, 1 unread\n");
        // The feed still carries them: they do not come back.
        EXPECT_EQ(ImportFeed(channel, Feed(Item("a") + Item("b") + Item("c"))), 0);
    }
    const QJsonArray topics = Topics(channel);
    ASSERT_EQ(topics.size(), 1);
    EXPECT_EQ(topics[0].toObject().value(QStringLiteral("Key")).toString(), QStringLiteral("c"));
    EXPECT_NE(Run({QStringLiteral("autodelete"), channel, QStringLiteral("0")}).exitCode, 0);
    EXPECT_NE(
        Run({QStringLiteral("autodelete"), QStringLiteral("/"), QStringLiteral("3")}).exitCode, 0);
}

TEST_F(UpdateCommandsTest, ImportFeedDeletesOldTopicsFirstWhenTheSettingsAskForIt) {
    const QString channel = AddChannel();
    Ok({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("AutoDelete"),
        QStringLiteral("true")});
    Ok({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("AutoDeletePeriod"),
        QStringLiteral("7")});
    {
        FixedClock clock("2024-03-01T12:00:00");
        ImportFeed(channel, Feed(Item("old")));
    }
    FixedClock clock("2024-03-09T12:00:00");
    EXPECT_EQ(ImportFeed(channel, Feed(Item("new"))), 1);
    const QJsonArray topics = Topics(channel);
    ASSERT_EQ(topics.size(), 1);
    EXPECT_EQ(topics[0].toObject().value(QStringLiteral("Key")).toString(), QStringLiteral("new"));
}

TEST_F(UpdateCommandsTest, AttachmentsListsEveryRecordWithStatePriorityAndTarget) {
    const QString channel = AddChannel();
    Ok({QStringLiteral("config"), QStringLiteral("set"), QStringLiteral("IdleDownloadingOption"),
        QStringLiteral("2")});
    ImportFeed(channel, Feed(Item("a", "http://example.com/media/my%20song+1.mp3") +
                             Item("b", "http://example.com/..%2F..%2Fescape.pdf") +
                             Item("c", "http://example.com/tool.AppImage") +
                             Item("d", "http://example.com/media/my%20song+1.mp3")));
    const QJsonArray records =
        QJsonDocument::fromJson(Ok({QStringLiteral("attachments"), QStringLiteral("--json")}))
            .array();
    ASSERT_EQ(records.size(), 3);
    const QString folder = DataDir() + QStringLiteral("/Downloaded Content/");
    const struct {
        const char* fileName;
        int priority;
        const char* stateText;
    } expected[] = {
        {"my song 1.mp3", 1, "queued"},
        {"_.._escape.pdf", 2, "queued"},
        {"tool.AppImage", 3, "blocked"},
    };
    for (int i = 0; i < 3; ++i) {
        const QJsonObject r = records[i].toObject();
        const QString name = QString::fromUtf8(expected[i].fileName);
        EXPECT_EQ(r.value(QStringLiteral("FileName")).toString(), name);
        EXPECT_EQ(r.value(QStringLiteral("TargetPath")).toString(), folder + name);
        EXPECT_EQ(r.value(QStringLiteral("Priority")).toInt(), expected[i].priority);
        EXPECT_EQ(r.value(QStringLiteral("State")).toInt(), 1);
        EXPECT_EQ(r.value(QStringLiteral("StateText")).toString(),
                  QString::fromUtf8(expected[i].stateText));
    }
    EXPECT_EQ(records[0].toObject().value(QStringLiteral("Size")).toInt(), 100);
    EXPECT_EQ(records[0].toObject().value(QStringLiteral("Comment")).toString(),
              QStringLiteral("From Example Cast / Title a"));

    const QList<QByteArray> lines = Ok({QStringLiteral("attachments")}).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "queued\thigh\t" + (folder + QStringLiteral("my song 1.mp3")).toUtf8() +
                            "\thttp://example.com/media/my%20song+1.mp3");
}
