// Merging a downloaded feed into a store channel: the channel's properties, the topics
// built from the items, their enclosures, and what one import writes.
#include "feeds/ChannelLoader.h"
#include "shell/Clock.h"
#include "shell/ReaderConfig.h"
#include "store/CompDoc.h"
#include "store/QuillmarDoc.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// An RSS 2.0 document with the items given as raw XML.
QByteArray Rss(const QByteArray& items, const QByteArray& channelExtra = {}) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel>"
           "<title>Example &amp;amp; Co</title><link>http://example.com/</link>"
           "<description>About &amp;lt;things&amp;gt;</description>" +
           channelExtra + items + "</channel></rss>";
}

QByteArray NumberedItems(int count, int from = 1) {
    QByteArray items;
    for (int i = from; i < from + count; ++i) {
        const QByteArray n = QByteArray::number(i);
        items += "<item><title>Item " + n + "</title><link>http://example.com/" + n +
                 "</link><guid>item-" + n + "</guid><description>&lt;p&gt;Body of item " + n +
                 "&lt;/p&gt;</description><pubDate>Mon, 01 Apr 2024 10:00:00 GMT</pubDate></item>";
    }
    return items;
}

// Bytes this process has handed to write(2) so far.
qint64 BytesWrittenByProcess() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

class ChannelImport : public testing::Test {
protected:
    void SetUp() override {
        doc = std::make_unique<TQuillmarDoc>(m_dir.path());
        doc->OpenDocument();
        channel = doc->CreateChannel(nullptr);
        channel->SetUrl(QStringLiteral("http://example.com/feed"));
        channel->SetTitle(QStringLiteral("Before the first import"));
        doc->SaveChannel(*channel);
    }

    int Import(const QByteArray& bytes) {
        int stored = -1;
        EXPECT_TRUE(TChannelLoader::ImportChannel(bytes, *doc, *channel, stored));
        return stored;
    }
    QString FilePath() const { return m_dir.filePath(QStringLiteral("Reader.bin")); }
    QByteArray FileBytes() const {
        QFile file(FilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QuillmarDocCore::TTopic* Stored(const QByteArray& key) {
        TTopicIndex* entry = channel->FindTopic(key);
        return entry ? doc->LoadTopic(*entry) : nullptr;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<TQuillmarDoc> doc;
    TChannel* channel = nullptr;
};

} // namespace

TEST_F(ChannelImport, TheChannelTakesTheFeedsProperties) {
    Import(Rss({}, "<copyright>&amp;copy; 2024 Example</copyright>"
                   "<webMaster>editor@example.com (Ed)</webMaster>"
                   "<pubDate>Mon, 01 Apr 2024 10:00:00 GMT</pubDate>"
                   "<image><url>http://example.com/logo.png</url><title>Logo</title>"
                   "<link>http://example.com/</link></image>"));
    EXPECT_EQ(channel->Title(), QStringLiteral("Example & Co"));
    EXPECT_EQ(channel->Description(), QStringLiteral("About <things>"));
    EXPECT_EQ(channel->Copyright(), S("\xC2\xA9 2024 Example"));
    EXPECT_EQ(channel->Link, QStringLiteral("http://example.com/"));
    EXPECT_EQ(channel->Author(), QStringLiteral("editor@example.com (Ed)"));
    EXPECT_EQ(channel->Image.Src, QStringLiteral("http://example.com/logo.png"));
    EXPECT_EQ(channel->Image.Title, QStringLiteral("Logo"));
    EXPECT_EQ(channel->Image.Link, QStringLiteral("http://example.com/"));
    EXPECT_EQ(DaysToDateTime(channel->Date).toUTC(),
              QDateTime(QDate(2024, 4, 1), QTime(10, 0), Qt::UTC));
}

TEST_F(ChannelImport, AFeedWithoutTitleKeepsTheChannelsName) {
    Import("<rss version=\"2.0\"><channel><title> </title><item><guid>g</guid>"
           "<title>T</title></item></channel></rss>");
    EXPECT_EQ(channel->Title(), QStringLiteral("Before the first import"));
}

TEST_F(ChannelImport, NewItemsBecomeStoredTopicsWithTheirTexts) {
    EXPECT_EQ(Import(Rss(NumberedItems(2))), 2);
    EXPECT_EQ(channel->UnreadCount(), 2);
    EXPECT_EQ(channel->TopicCount, 2);
    const QuillmarDocCore::TTopic* topic = Stored("item-2");
    ASSERT_NE(topic, nullptr);
    EXPECT_EQ(topic->Title(), QStringLiteral("Item 2"));
    EXPECT_EQ(topic->Link, QStringLiteral("http://example.com/2"));
    EXPECT_EQ(topic->Description(), QStringLiteral("<p>Body of item 2</p>"));
    EXPECT_EQ(topic->Guid(), QStringLiteral("item-2"));
    EXPECT_EQ(DaysToDateTime(topic->Date).toUTC(),
              QDateTime(QDate(2024, 4, 1), QTime(10, 0), Qt::UTC));
}

TEST_F(ChannelImport, AnItemWithoutTitleOrAuthorTakesTheChannels) {
    Import(Rss("<item><guid>  padded-guid\t</guid><description>d</description></item>"
               "<item><title>Own</title><author>me@example.com</author><guid>own</guid></item>",
               "<webMaster>boss@example.com</webMaster>"));
    const QuillmarDocCore::TTopic* untitled = Stored("padded-guid");
    ASSERT_NE(untitled, nullptr);
    EXPECT_EQ(untitled->Title(), QStringLiteral("Example & Co"));
    EXPECT_EQ(untitled->Author, QStringLiteral("boss@example.com"));
    EXPECT_EQ(untitled->Guid(), QStringLiteral("padded-guid"));
    ASSERT_NE(Stored("own"), nullptr);
    EXPECT_EQ(Stored("own")->Author, QStringLiteral("me@example.com"));
}

TEST_F(ChannelImport, EnclosuresBecomeAttachmentRecordsOncePerAddress) {
    TConfiguration::Instance().IdleDownloadingOption = 2;
    Import(Rss("<item><guid>a</guid><title>A</title><enclosure url=\"http://example.com/"
               "ep%201.mp3\" length=\"1234\" type=\"audio/mpeg\"/></item>"
               "<item><guid>b</guid><title>B</title><enclosure url=\"http://example.com/"
               "ep%201.mp3\" length=\"1234\" type=\"audio/mpeg\"/></item>"
               "<item><guid>c</guid><title>C</title><enclosure url=\"http://example.com/"
               "run.sh\" type=\"text/x-sh\"/></item>"
               "<item><guid>d</guid><title>D</title></item>"));
    TConfiguration::Instance().IdleDownloadingOption = 1;
    EXPECT_EQ(doc->AttachmentRecords().Count(), 2);
    const TAttachment* episode = doc->FindAttachment("http://example.com/ep%201.mp3");
    ASSERT_NE(episode, nullptr);
    EXPECT_EQ(episode->FileName(), QStringLiteral("ep 1.mp3"));
    EXPECT_EQ(episode->Size, 1234);
    EXPECT_EQ(episode->MimeType, QStringLiteral("audio/mpeg"));
    EXPECT_EQ(episode->Comment, QStringLiteral("From Example & Co / A"));
    EXPECT_EQ(episode->Priority, TAttachment::PriorityHigh);
    const TAttachment* script = doc->FindAttachment("http://example.com/run.sh");
    ASSERT_NE(script, nullptr);
    EXPECT_EQ(script->Size, -1);
    EXPECT_EQ(script->Priority, TAttachment::PriorityBlocked);
    EXPECT_TRUE(channel->FindTopic("a")->HasAttachments);
    EXPECT_FALSE(channel->FindTopic("b")->HasAttachments);
    EXPECT_FALSE(channel->FindTopic("d")->HasAttachments);
    // The list was saved with the update.
    doc.reset();
    TQuillmarDoc reopened(m_dir.path());
    reopened.OpenDocument();
    reopened.EnsureAttachmentsLoaded();
    EXPECT_EQ(reopened.AttachmentRecords().Count(), 2);
}

TEST_F(ChannelImport, AKnownItemOffersNoAttachment) {
    Import(Rss("<item><guid>a</guid><title>A</title></item>"));
    Import(Rss("<item><guid>a</guid><title>A</title><enclosure url=\"http://example.com/"
               "late.mp3\" length=\"1\" type=\"audio/mpeg\"/></item>"));
    EXPECT_EQ(doc->AttachmentRecords().Count(), 0);
}

TEST_F(ChannelImport, BytesThatAreNotAFeedChangeNothing) {
    const QByteArray before = FileBytes();
    int stored = -1;
    QString failure;
    EXPECT_FALSE(TChannelLoader::ImportChannel(QByteArray("<html><body/></html>"), *doc, *channel,
                                               stored, &failure));
    EXPECT_EQ(stored, 0);
    EXPECT_FALSE(failure.isEmpty());
    QByteArray bytes = "not xml at all";
    QBuffer stream(&bytes);
    stream.open(QIODevice::ReadOnly);
    EXPECT_FALSE(TChannelLoader::ImportChannel(stream, *doc, *channel, stored));
    EXPECT_EQ(channel->Title(), QStringLiteral("Before the first import"));
    EXPECT_EQ(FileBytes(), before);
}

TEST_F(ChannelImport, TheWholeImportIsOneCommit) {
    const QByteArray before = FileBytes();
    int offered = 0;
    doc->OfferToSearches = [&](TChannel&, TTopicIndex&) {
        ++offered;
        // Bodies are written as the topics are merged, but none reaches the disk
        // before the import ends.
        EXPECT_EQ(FileBytes(), before);
    };
    EXPECT_EQ(Import(Rss(NumberedItems(5))), 5);
    EXPECT_EQ(offered, 5);
    EXPECT_NE(FileBytes(), before);
}

TEST_F(ChannelImport, AThousandItemFeedImportedTwiceStoresAndWritesNothingTheSecondTime) {
    const QByteArray feed = Rss(NumberedItems(1000));
    const qint64 beforeFirst = BytesWrittenByProcess();
    ASSERT_GE(beforeFirst, 0);
    EXPECT_EQ(Import(feed), 1000);
    EXPECT_GT(BytesWrittenByProcess() - beforeFirst, 100'000); // the measure sees writes
    EXPECT_EQ(channel->TopicIndexCount(), 1000);
    EXPECT_EQ(channel->UnreadCount(), 1000);
    const QByteArray before = FileBytes();
    const QDateTime modified = QFileInfo(FilePath()).lastModified();
    QThread::msleep(20);

    const qint64 written = BytesWrittenByProcess();
    ASSERT_GE(written, 0);
    EXPECT_EQ(Import(feed), 0);
    EXPECT_EQ(BytesWrittenByProcess() - written, 0);
    EXPECT_EQ(channel->UnreadCount(), 1000);
    EXPECT_EQ(channel->TopicCount, 1000);
    EXPECT_EQ(FileBytes(), before);
    EXPECT_EQ(QFileInfo(FilePath()).lastModified(), modified);

    // Ten new items: only they are stored.
    EXPECT_EQ(Import(Rss(NumberedItems(1010))), 10);
    EXPECT_EQ(channel->TopicIndexCount(), 1010);
    EXPECT_EQ(channel->KnownKeys.ItemCount(), 1010);
}

TEST_F(ChannelImport, AGuidlessItemWhoseTitleChangesIsANewTopic) {
    EXPECT_EQ(Import(Rss("<item><title>Draft</title><link>http://example.com/a</link></item>")), 1);
    EXPECT_EQ(Import(Rss("<item><title>Final</title><link>http://example.com/a</link></item>")), 1);
    EXPECT_EQ(Import(Rss("<item><title>Final</title><link>http://example.com/a</link></item>")), 0);
    EXPECT_EQ(channel->TopicIndexCount(), 2);
}

TEST_F(ChannelImport, ADuplicateGuidInOneFeedIsStoredOnce) {
    EXPECT_EQ(Import(Rss("<item><guid>same</guid><title>First</title></item>"
                         "<item><guid>same</guid><title>Second</title></item>")),
              1);
    EXPECT_EQ(channel->UnreadCount(), 1);
    EXPECT_EQ(channel->TopicCount, channel->TopicIndexCount());
}

TEST_F(ChannelImport, ADamagedAttachmentListDoesNotKeepTopicsOutAndIsMended) {
    Import(Rss("<item><guid>a</guid><title>A</title><enclosure url=\"http://example.com/"
               "a.mp3\" length=\"1\" type=\"audio/mpeg\"/></item>"
               "<item><guid>b</guid><title>B</title><enclosure url=\"http://example.com/"
               "b.mp3\" length=\"1\" type=\"audio/mpeg\"/></item>"));
    doc.reset();
    {
        // Cut the list inside its second record.
        TRootStorage root(FilePath(), StgAccessReadWrite, StgShareExclusive, false, false);
        QByteArray bytes;
        {
            TStorageStream s(".attachments", root, StgAccessRead, false);
            bytes = s.readAll();
        }
        TStorageStream s(".attachments", root, StgAccessWrite, true);
        s.write(bytes.left(bytes.size() - 30));
        s.close();
        root.Commit();
    }
    doc = std::make_unique<TQuillmarDoc>(m_dir.path());
    doc->OpenDocument();
    channel = doc->Root()->Channels(0);
    EXPECT_EQ(Import(Rss("<item><guid>c</guid><title>C</title><enclosure url=\"http://"
                         "example.com/c.mp3\" length=\"1\" type=\"audio/mpeg\"/></item>")),
              1);
    doc.reset();
    TQuillmarDoc reopened(m_dir.path());
    reopened.OpenDocument();
    reopened.LoadAttachments(); // readable again
    EXPECT_NE(reopened.FindAttachment("http://example.com/a.mp3"), nullptr);
    EXPECT_NE(reopened.FindAttachment("http://example.com/c.mp3"), nullptr);
}
