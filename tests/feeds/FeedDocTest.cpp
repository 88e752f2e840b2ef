#include "feeds/FeedDoc.h"

#include "feeds/Formatters.h"
#include "feeds/RSSFormatter.h"
#include "shell/Clock.h"

#include <QBuffer>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

class FixedClock {
public:
    FixedClock() { qputenv("QUILLMAR_NOW", "2024-03-01T12:00:00Z"); }
    ~FixedClock() { qunsetenv("QUILLMAR_NOW"); }
};

TEST(FeedDoc, ChannelIdsAreNewTagsEachTime) {
    FixedClock clock;
    const QByteArray first = NewChannelId();
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral(
                R"(^tag:vantrell\.example,\d{4}:[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\.\d+(\.\d+)?$)"))
            .match(QString::fromLatin1(first))
            .hasMatch())
        << first.constData();
    EXPECT_NE(NewChannelId(), first);
}

TEST(FeedDoc, ChannelStartsWithItsResetValues) {
    FixedClock clock;
    TChannelInfo channel;
    EXPECT_EQ(channel.Link, QStringLiteral("http://"));
    EXPECT_TRUE(channel.Title.isEmpty());
    EXPECT_EQ(channel.Date, NowLocal());
    EXPECT_FALSE(channel.Language.isEmpty());
    EXPECT_TRUE(channel.Id.startsWith("tag:"));
    EXPECT_EQ(channel.ITunes.Explicit, TiTunesCommonInformation::ExplicitNo);

    const QByteArray id = channel.Id;
    channel.Title = QStringLiteral("x");
    channel.ITunes.Author = QStringLiteral("y");
    channel.Reset();
    EXPECT_TRUE(channel.Title.isEmpty());
    EXPECT_TRUE(channel.ITunes.Author.isEmpty());
    EXPECT_NE(channel.Id, id);
}

TEST(FeedDoc, CategoryWithoutNameIsNotAdded) {
    FeedDoc::TTopic topic;
    topic.AddCategory(QString(), QStringLiteral("http://domain"));
    topic.AddCategory(QStringLiteral("news"), QString());
    ASSERT_EQ(topic.Categories.size(), 1u);
    EXPECT_EQ(topic.Categories[0]->Name, QStringLiteral("news"));
}

TEST(FeedDoc, FailedLoadLeavesAnEmptyFeed) {
    TFeed feed;
    QByteArray good = "<rss xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\">"
                      "<channel><title>T</title><item><title>I</title></item></channel></rss>";
    QBuffer stream(&good);
    stream.open(QIODevice::ReadOnly);
    feed.LoadFromStream(stream, TRSSFormatter::Class);
    ASSERT_EQ(feed.Topics.size(), 1u);
    EXPECT_TRUE(feed.HasITunesNamespace);
    EXPECT_EQ(feed.Namespaces.ItemCount(), 1);

    QByteArray bad = "<rss><channel><title>T</title><item>";
    QBuffer badStream(&bad);
    badStream.open(QIODevice::ReadOnly);
    EXPECT_THROW(feed.LoadFromStream(badStream, TRSSFormatter::Class), EInvalidXmlDocument);
    EXPECT_TRUE(feed.Topics.empty());
    EXPECT_TRUE(feed.Channel.Title.isEmpty());
    EXPECT_EQ(feed.Namespaces.ItemCount(), 0);
    EXPECT_FALSE(feed.HasITunesNamespace);
    EXPECT_EQ(feed.FormatterClass, &TRSSFormatter::Class);
}

TEST(FeedDoc, DocumentLentToAFormatterComesBack) {
    XmlDocument document = TXmlHost::LoadDocument("<feed xmlns=\"http://www.w3.org/2005/Atom\"/>");
    const xmlDoc* before = document.get();
    TFeed feed;
    EXPECT_THROW(feed.LoadFromDocument(document, TRSSFormatter::Class), EFeedIsNotSupported);
    EXPECT_EQ(document.get(), before);
}

} // namespace
