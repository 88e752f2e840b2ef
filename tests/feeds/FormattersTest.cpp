// The sequence every formatter shares, seen through the RSS formatter.
#include "feeds/Formatters.h"

#include "feeds/RSSFormatter.h"

#include <QBuffer>
#include <gtest/gtest.h>
#include <libxml/parser.h>

namespace {

QByteArray Feed(int items, const QByteArray& rootAttributes = {}) {
    QByteArray xml = "<rss version=\"2.0\"" + rootAttributes + "><channel><title>C</title>";
    for (int i = 1; i <= items; ++i)
        xml += "<item><title>" + QByteArray::number(i) + "</title><guid>g" + QByteArray::number(i) +
               "</guid></item>";
    return xml + "</channel></rss>";
}

void Load(TFeed& feed, QByteArray bytes) {
    QBuffer stream(&bytes);
    stream.open(QIODevice::ReadOnly);
    feed.LoadFromStream(stream, TRSSFormatter::Class);
}

TEST(FeedFormatter, FormatterListStartsWithRss) {
    ASSERT_FALSE(FeedFormatterClasses().isEmpty());
    EXPECT_EQ(FeedFormatterClasses().first(), &TRSSFormatter::Class);
    EXPECT_EQ(FindFeedFormatterClass("TRSSFormatter"), &TRSSFormatter::Class);
    EXPECT_STREQ(TRSSFormatter::Class.Extension, ".rss");
    EXPECT_EQ(FindFeedFormatterClass("TNoSuchFormatter"), nullptr);
}

TEST(FeedFormatter, WithoutAFeedTheDocumentIsOnlyChecked) {
    TRSSFormatter formatter;
    EXPECT_NO_THROW(formatter.LoadFromBytes(Feed(3), nullptr));
    TRSSFormatter other;
    EXPECT_THROW(other.LoadFromBytes("<feed xmlns=\"http://www.w3.org/2005/Atom\"/>", nullptr),
                 EFeedIsNotSupported);
    TRSSFormatter third;
    EXPECT_THROW(third.LoadFromBytes("not xml", nullptr), EInvalidXmlDocument);
}

TEST(FeedFormatter, RootNamespacesAreRecorded) {
    TFeed feed;
    Load(feed, Feed(1, " xmlns:media=\"http://search.yahoo.com/mrss/\" xmlns:geo=\"http://geo\""
                       " xmlns=\"http://default\""));
    EXPECT_TRUE(feed.HasMediaNamespace);
    EXPECT_FALSE(feed.HasITunesNamespace);
    EXPECT_EQ(feed.Namespaces.ItemCount(), 2);
    EXPECT_EQ(feed.Namespaces.Items("xmlns:geo"), QByteArray("http://geo"));
}

TEST(FeedFormatter, TopicsAreWalkedInDocumentOrder) {
    TRSSFormatter formatter;
    formatter.Document = TXmlHost::LoadDocument(Feed(3));
    formatter.FirstTopic();
    FeedDoc::TTopic topic;
    EXPECT_THROW(formatter.ReadTopic(topic), EFeedTopicsExceeded);
    QStringList titles;
    while (formatter.NextTopic()) {
        formatter.ReadTopic(topic);
        titles.append(topic.Title);
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    // At the end the walk stays at the end.
    EXPECT_FALSE(formatter.NextTopic());
    EXPECT_NE(formatter.CurrentTopicNode, nullptr);
}

TEST(FeedFormatter, TopicsLeaveTheDocumentOnceRead) {
    TRSSFormatter formatter;
    TFeed feed;
    formatter.LoadFromBytes(Feed(3), &feed);
    EXPECT_EQ(feed.Topics.size(), 3u);
    const xmlNode* channel =
        TXmlHost::FindChild(TXmlHost::DocumentElement(formatter.Document.get()), "channel");
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(TXmlHost::FindChild(channel, "item"), nullptr);
    EXPECT_NE(TXmlHost::FindChild(channel, "title"), nullptr);
    EXPECT_EQ(formatter.CurrentTopicNode, nullptr);
}

struct CountCase {
    int maximum;
    int written;
};

class TopicCountTest : public testing::TestWithParam<CountCase> {};

TEST_P(TopicCountTest, MaximumLimitsTheTopicsWritten) {
    TFeed feed;
    Load(feed, Feed(3));
    const QByteArray written = TRSSFormatter().SaveToBytes(feed, GetParam().maximum);
    EXPECT_EQ(written.count("<item>"), GetParam().written) << written.constData();
}

INSTANTIATE_TEST_SUITE_P(Counts, TopicCountTest,
                         testing::Values(CountCase{0, 3}, CountCase{2, 2}, CountCase{5, 3},
                                         CountCase{-1, 0}));

// Parses with libxml2 alone and reports whether every prefix in the document is declared.
bool IsNamespaceWellFormed(const QByteArray& xml) {
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    xmlDocPtr document =
        xmlCtxtReadMemory(context, xml.constData(), int(xml.size()), nullptr, nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool ok = document && context->wellFormed && context->nsWellFormed;
    xmlFreeDoc(document);
    xmlFreeParserCtxt(context);
    return ok;
}

TEST(FeedFormatter, WrittenRssDeclaresEveryPrefixItUses) {
    TFeed feed;
    Load(feed, "<rss xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\""
               " xmlns:m=\"http://search.yahoo.com/mrss/\"><channel><title>C</title>"
               "<dc:creator xmlns:dc=\"http://purl.org/dc/elements/1.1/\">A</dc:creator>"
               "<itunes:author>I</itunes:author>"
               "<item><media:title xmlns:media=\"http://search.yahoo.com/mrss/\">M</media:title>"
               "<geo:lat xmlns:geo=\"http://geo\">1</geo:lat><content:encoded "
               "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\">x</content:encoded>"
               "</item></channel></rss>");
    feed.Channel.SelfLink = QStringLiteral("http://example.com/feed");
    const QByteArray written = TRSSFormatter().SaveToBytes(feed, 0);
    EXPECT_TRUE(IsNamespaceWellFormed(written)) << written.constData();
    EXPECT_TRUE(written.contains("<dc:creator>A</dc:creator>")) << written.constData();
    EXPECT_TRUE(written.contains("<media:title>M</media:title>")) << written.constData();
    EXPECT_TRUE(written.contains("<quillmar:self>http://example.com/feed</quillmar:self>"))
        << written.constData();
}

TEST(FeedFormatter, PrefixesTheFeedNeverDeclaredAreDeclaredWhenWritten) {
    TFeed feed;
    Load(feed, "<rss><channel><title>C</title><item><title>I</title>"
               "<slash:comments>3</slash:comments><foo:bar foo:kind=\"k\">F</foo:bar></item>"
               "</channel></rss>");
    const QByteArray rss = TRSSFormatter().SaveToBytes(feed, 0);
    EXPECT_TRUE(IsNamespaceWellFormed(rss)) << rss.constData();
    EXPECT_TRUE(rss.contains("xmlns:slash=\"http://purl.org/rss/1.0/modules/slash/\""))
        << rss.constData();
    EXPECT_TRUE(rss.contains("<foo:bar foo:kind=\"k\">F</foo:bar>")) << rss.constData();
    EXPECT_TRUE(rss.contains("<slash:comments>3</slash:comments>")) << rss.constData();

    // Read again, the kept elements have the names they had.
    TFeed again;
    Load(again, rss);
    const QByteArray twice = TRSSFormatter().SaveToBytes(again, 0);
    EXPECT_TRUE(IsNamespaceWellFormed(twice)) << twice.constData();
    EXPECT_TRUE(twice.contains("<slash:comments>3</slash:comments>")) << twice.constData();
    EXPECT_TRUE(twice.contains("<foo:bar foo:kind=\"k\">F</foo:bar>")) << twice.constData();
}

TEST(FeedFormatter, MediaDeclaredBelowTheRootIsStillWrittenBack) {
    TFeed feed;
    Load(feed,
         "<rss><channel><title>C</title><item><title>I</title>"
         "<media:content xmlns:media=\"http://search.yahoo.com/mrss/\" url=\"http://e.com/v\"/>"
         "</item></channel></rss>");
    ASSERT_FALSE(feed.HasMediaNamespace);
    const QByteArray written = TRSSFormatter().SaveToBytes(feed, 0);
    EXPECT_TRUE(written.contains("<media:content url=\"http://e.com/v\"/>")) << written.constData();
    EXPECT_TRUE(IsNamespaceWellFormed(written)) << written.constData();
}

TEST(FeedFormatter, FeedWithoutITunesGetsNoITunesElements) {
    TFeed feed;
    Load(feed, Feed(2));
    const QByteArray written = TRSSFormatter().SaveToBytes(feed, 0);
    EXPECT_FALSE(written.contains("itunes")) << written.constData();
    EXPECT_FALSE(written.contains("media")) << written.constData();
}

} // namespace
