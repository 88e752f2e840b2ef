// The RSS reader and writer; whole feeds are in tests/data/feeds.
#include "feeds/RSSFormatter.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

struct RootCase {
    const char* document;
    bool readable;
};

class RssRootTest : public testing::TestWithParam<RootCase> {};

TEST_P(RssRootTest, RootDecidesWhetherTheFeedIsRss) {
    TRSSFormatter formatter;
    formatter.Document = TXmlHost::LoadDocument(QByteArray(GetParam().document));
    EXPECT_EQ(formatter.CanRead(), GetParam().readable) << GetParam().document;
}

INSTANTIATE_TEST_SUITE_P(
    Roots, RssRootTest,
    testing::Values(RootCase{"<rss version=\"2.0\"/>", true},
                    RootCase{"<rss version=\"0.91\"/>", true}, RootCase{"<rss/>", true},
                    RootCase{"<RSS/>", true},
                    RootCase{"<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                             "xmlns=\"http://purl.org/rss/1.0/\"/>",
                             true},
                    RootCase{"<RDF:rdf xmlns:RDF=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                             "xmlns=\"http://purl.org/rss/1.0/\"/>",
                             true},
                    RootCase{"<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                             "xmlns=\"http://my.netscape.com/rdf/simple/0.9/\"/>",
                             false},
                    RootCase{"<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"/>",
                             false},
                    RootCase{"<feed xmlns=\"http://www.w3.org/2005/Atom\"/>", false},
                    RootCase{"<x:rss xmlns:x=\"urn:x\"/>", false}));

TFeed& Read(TFeed& feed, QByteArray xml) {
    QBuffer stream(&xml);
    stream.open(QIODevice::ReadOnly);
    feed.LoadFromStream(stream, TRSSFormatter::Class);
    return feed;
}

TEST(RssFormatter, ChannelExtrasAreDroppedItemExtrasKept) {
    TFeed feed;
    Read(feed, "<rss><channel><title>C</title><generator>G</generator><ttl>5</ttl>"
               "<item><title>I</title><comments>http://c</comments><slash:x "
               "xmlns:slash=\"urn:s\">1</slash:x>"
               "</item></channel></rss>");
    const QByteArray written = TRSSFormatter().SaveToBytes(feed, 0);
    EXPECT_FALSE(written.contains("generator")) << written.constData();
    EXPECT_FALSE(written.contains("<ttl>")) << written.constData();
    EXPECT_TRUE(written.contains("<comments>http://c</comments>")) << written.constData();
    EXPECT_TRUE(written.contains("<slash:x xmlns:slash=\"urn:s\">1</slash:x>"))
        << written.constData();
}

TEST(RssFormatter, WrittenFeedIsRss20WithAGuidPerItem) {
    TFeed feed;
    Read(feed, "<rss version=\"0.91\"><channel><title>C</title><item><title>No guid</title></item>"
               "</channel></rss>");
    const QByteArray written = TRSSFormatter().SaveToBytes(feed, 0);
    EXPECT_TRUE(written.contains("<rss ")) << written.constData();
    EXPECT_TRUE(written.contains("version=\"2.0\"")) << written.constData();
    EXPECT_TRUE(written.contains("<guid isPermaLink=\"false\"></guid>")) << written.constData();
    EXPECT_TRUE(written.contains("<quillmar:self></quillmar:self>")) << written.constData();
}

TEST(RssFormatter, RdfItemsAndTextInputAreKeptForRss) {
    TFeed feed;
    Read(feed, "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
               "xmlns=\"http://purl.org/rss/1.0/\"><channel><title>C</title>"
               "<items><rdf:Seq><rdf:li rdf:resource=\"http://e/1\"/></rdf:Seq></items>"
               "<textinput rdf:resource=\"http://e/s\"/></channel>"
               "<item><title>One</title></item></rdf:RDF>");
    ASSERT_EQ(feed.Topics.size(), 1u);
    const QByteArray written = TRSSFormatter().SaveToBytes(feed, 0);
    EXPECT_TRUE(written.contains("<rdf:li rdf:resource=\"http://e/1\"/>")) << written.constData();
    EXPECT_TRUE(written.contains("textinput")) << written.constData();
}

TEST(RssFormatter, ChannelDatesAreW3COrRfc822) {
    TFeed a;
    TFeed b;
    Read(a, "<rss><channel><pubDate>2024-02-01T10:00:00Z</pubDate></channel></rss>");
    Read(b, "<rss><channel><pubDate>Thu, 01 Feb 2024 10:00:00 GMT</pubDate></channel></rss>");
    EXPECT_EQ(a.Channel.Date, b.Channel.Date);
}

} // namespace
