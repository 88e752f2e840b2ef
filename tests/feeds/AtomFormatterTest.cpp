// The Atom 0.3 reader and writer; whole feeds are in tests/data/feeds (atom03*).
#include "feeds/AtomFormatter.h"

#include "feeds/Atom10Formatter.h"
#include "feeds/ChannelLoader.h"
#include "feeds/InternetDateTime.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

QByteArray Feed(const QByteArray& channel, const QByteArray& entries = {},
                const QByteArray& rootAttributes = {}) {
    return "<feed version=\"0.3\" xmlns=\"http://purl.org/atom/ns#\"" + rootAttributes + ">" +
           channel + entries + "</feed>";
}

QByteArray Entry(const QByteArray& body) {
    return "<entry>" + body + "</entry>";
}

TFeed& Read(TFeed& feed, QByteArray xml) {
    QBuffer stream(&xml);
    stream.open(QIODevice::ReadOnly);
    feed.LoadFromStream(stream, TAtomFormatter::Class);
    return feed;
}

FeedDoc::TTopic& ReadEntry(TFeed& feed, const QByteArray& body) {
    Read(feed, Feed("<title>C</title>", Entry(body)));
    EXPECT_EQ(feed.Topics.size(), 1u);
    return *feed.Topics.front();
}

QByteArray Written(TFeed& feed) {
    return TAtomFormatter().SaveToBytes(feed, 0);
}

// --- Recognising ---

struct RootCase {
    const char* document;
    bool readable;
};

class Atom03RootTest : public testing::TestWithParam<RootCase> {};

TEST_P(Atom03RootTest, RootAndItsNamespaceDecide) {
    TAtomFormatter formatter;
    formatter.Document = TXmlHost::LoadDocument(QByteArray(GetParam().document));
    EXPECT_EQ(formatter.CanRead(), GetParam().readable) << GetParam().document;
}

INSTANTIATE_TEST_SUITE_P(
    Roots, Atom03RootTest,
    testing::Values(RootCase{"<feed version=\"0.3\" xmlns=\"http://purl.org/atom/ns#\"/>", true},
                    RootCase{"<feed xmlns=\"http://purl.org/atom/ns#\"/>", true},
                    RootCase{"<feed xmlns=\"http://www.w3.org/2005/Atom\"/>", false},
                    RootCase{"<feed version=\"0.3\"/>", false},
                    RootCase{"<atom:feed xmlns:atom=\"http://purl.org/atom/ns#\"/>", false}));

TEST(AtomFormatter, LoaderTriesAtom03Last) {
    EXPECT_EQ(FeedFormatterClasses().last(), &TAtomFormatter::Class);
    TFeed feed;
    ASSERT_TRUE(
        TChannelLoader::LoadFeed(Feed("<title>T</title>", Entry("<title>E</title>")), feed));
    EXPECT_EQ(feed.FormatterClass, &TAtomFormatter::Class);
    EXPECT_STREQ(TAtomFormatter::Class.Extension, ".xml");
}

// --- Channel ---

TEST(AtomFormatter, IconLinkGivesTheChannelImageAndItsTitle) {
    TFeed feed;
    Read(feed,
         Feed("<link rel=\"icon\" title=\"Logo\" href=\"http://s.example/i.png?a=1&amp;amp;b\"/>"
              "<link rel=\"alternate\" type=\"text/html\" href=\"http://s.example/\"/>"
              "<link href=\"http://s.example/no-rel\"/>"));
    EXPECT_EQ(feed.Channel.ImageUrl, QStringLiteral("http://s.example/i.png?a=1&b"));
    EXPECT_EQ(feed.Channel.ImageTitle, QStringLiteral("Logo"));
    EXPECT_EQ(feed.Channel.Link, QStringLiteral("http://s.example/"));
    const QByteArray written = Written(feed);
    EXPECT_TRUE(written.contains("<link rel=\"icon\" type=\"image/*\" "
                                 "href=\"http://s.example/i.png?a=1&amp;b\" title=\"Logo\"/>"))
        << written.constData();
    // A link without a relation means nothing to an Atom 0.3 reader; it is kept.
    EXPECT_TRUE(written.contains("http://s.example/no-rel")) << written.constData();
}

TEST(AtomFormatter, LanguageIsWrittenWhereItIsRead) {
    TFeed feed;
    Read(feed, Feed("<title>T</title>", {}, " xml:lang=\"pt-br\""));
    EXPECT_EQ(feed.Channel.Language, QStringLiteral("pt-BR"));
    const QByteArray written = Written(feed);
    EXPECT_TRUE(written.contains("xml:lang=\"pt-BR\"")) << written.constData();
    TFeed again;
    Read(again, written);
    EXPECT_EQ(again.Channel.Language, QStringLiteral("pt-BR"));

    TFeed english;
    Read(english, Feed("<title>T</title>", {}, " lang=\"de-DE\""));
    EXPECT_EQ(english.Channel.Language, QStringLiteral("en-US"));
}

// --- Entries ---

struct DateCase {
    const char* name;
    const char* body;
    const char* date;
};

void PrintTo(const DateCase& c, std::ostream* os) {
    *os << c.name;
}

class Atom03DateTest : public testing::TestWithParam<DateCase> {};

TEST_P(Atom03DateTest, ModifiedDateWinsWhereverItStands) {
    TFeed feed;
    EXPECT_EQ(ReadEntry(feed, GetParam().body).Date, ParseW3CDateTime(GetParam().date));
}

INSTANTIATE_TEST_SUITE_P(Dates, Atom03DateTest,
                         testing::Values(DateCase{"modifiedLast",
                                                  "<issued>2024-01-01T00:00:00Z</issued>"
                                                  "<modified>2024-02-01T00:00:00Z</modified>",
                                                  "2024-02-01T00:00:00Z"},
                                         DateCase{"modifiedFirst",
                                                  "<modified>2024-02-01T00:00:00Z</modified>"
                                                  "<issued>2024-01-01T00:00:00Z</issued>"
                                                  "<updated>2024-01-02T00:00:00Z</updated>",
                                                  "2024-02-01T00:00:00Z"},
                                         DateCase{"issuedThenPublished",
                                                  "<issued>2024-01-01T00:00:00Z</issued>"
                                                  "<published>2024-01-05T00:00:00Z</published>",
                                                  "2024-01-05T00:00:00Z"}),
                         [](const testing::TestParamInfo<DateCase>& info) {
                             return std::string(info.param.name);
                         });

struct ContentCase {
    const char* name;
    const char* body;
    const char* description;
};

void PrintTo(const ContentCase& c, std::ostream* os) {
    *os << c.name;
}

class Atom03ContentTest : public testing::TestWithParam<ContentCase> {};

TEST_P(Atom03ContentTest, ContentByTypeAndMode) {
    TFeed feed;
    EXPECT_EQ(ReadEntry(feed, GetParam().body).Description.toStdString(), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, Atom03ContentTest,
    testing::Values(
        ContentCase{"htmlEscaped",
                    "<content type=\"text/html\" mode=\"escaped\">&lt;p&gt;&amp;amp;&lt;/p&gt;"
                    "</content>",
                    "<p>&amp;</p>"},
        ContentCase{"xhtmlInline",
                    "<content type=\"application/xhtml+xml\"><p>in<br/>line</p></content>",
                    "<p>in<br/>line</p>"},
        ContentCase{"xhtmlShortType", "<content type=\"application/xhtml\">x</content>", "x"},
        ContentCase{"base64", "<content type=\"text/html\" mode=\"base64\">PGI+YjwvYj4=</content>",
                    "<b>b</b>"},
        ContentCase{"plainText", "<content type=\"text/plain\">1 &lt; 2</content>", "1 &lt; 2"},
        ContentCase{"noType", "<content>1 &lt; 2</content>", "1 &lt; 2"},
        ContentCase{"otherTypeTakesSummary",
                    "<content type=\"image/png\" mode=\"base64\">AAAA</content>"
                    "<summary>A picture</summary>",
                    "A picture"},
        ContentCase{"summaryOnlyHtml",
                    "<summary type=\"text/html\" mode=\"escaped\">&lt;i&gt;s&lt;/i&gt;</summary>",
                    "<i>s</i>"},
        ContentCase{"contentBeatsSummary",
                    "<summary>s</summary><content type=\"text/html\">c</content>", "c"}),
    [](const testing::TestParamInfo<ContentCase>& info) { return std::string(info.param.name); });

TEST(AtomFormatter, EntryLinksNeedTheirRelation) {
    TFeed feed;
    const FeedDoc::TTopic& topic =
        ReadEntry(feed, "<link href=\"http://e/no-rel\"/>"
                        "<link rel=\"alternate\" type=\"text/html\" href=\" http://e/a \"/>"
                        "<link rel=\"enclosure\" type=\"audio/mpeg\" href=\"http://e/a.mp3\" "
                        "length=\"x\"/>");
    EXPECT_EQ(topic.Link, QStringLiteral("http://e/a"));
    EXPECT_EQ(topic.Enclosure.Url, QStringLiteral("http://e/a.mp3"));
    EXPECT_EQ(topic.Enclosure.ContentType, QStringLiteral("audio/mpeg"));
    EXPECT_EQ(topic.Enclosure.Length, -1);
}

TEST(AtomFormatter, CategoriesTakeTermAndDomain) {
    TFeed feed;
    const FeedDoc::TTopic& topic =
        ReadEntry(feed, "<category term=\" t \" domain=\" d \"/><category domain=\"d\"/>");
    ASSERT_EQ(topic.Categories.size(), 1u);
    EXPECT_EQ(topic.Categories[0]->Name, QStringLiteral("t"));
    EXPECT_EQ(topic.Categories[0]->Domain, QStringLiteral("d"));
}

// --- Writing ---

TEST(AtomFormatter, WrittenEntryCarriesBothDatesAndWhatTheReaderTakes) {
    TFeed feed;
    ReadEntry(feed, "<title>E</title><modified>2024-02-01T10:00:00Z</modified>"
                    "<link rel=\"alternate\" type=\"text/html\" href=\"http://e/a\"/>"
                    "<link rel=\"enclosure\" href=\"http://e/a.mp3\" length=\"0\"/>"
                    "<category term=\"t\" domain=\"d\"/><category term=\"u\"/>"
                    "<content type=\"text/html\" mode=\"escaped\">&lt;p&gt;c&lt;/p&gt;</content>");
    const QByteArray written = Written(feed);
    const QByteArray date = FormatW3CDateTime(feed.Topics[0]->Date);
    EXPECT_TRUE(written.contains("<modified>" + date + "</modified>")) << written.constData();
    EXPECT_TRUE(written.contains("<issued>" + date + "</issued>")) << written.constData();
    EXPECT_TRUE(written.contains("<content type=\"text/html\" mode=\"escaped\" "
                                 "base=\"http://e/a\">&lt;p&gt;c&lt;/p&gt;</content>"))
        << written.constData();
    EXPECT_TRUE(written.contains("<link rel=\"enclosure\" href=\"http://e/a.mp3\" length=\"0\"/>"))
        << written.constData();
    EXPECT_TRUE(written.contains("<category term=\"t\" domain=\"d\"/>")) << written.constData();
    EXPECT_TRUE(written.contains("<category term=\"u\"/>")) << written.constData();
    EXPECT_TRUE(written.contains("version=\"0.3\"")) << written.constData();

    TFeed again;
    Read(again, written);
    ASSERT_EQ(again.Topics.size(), 1u);
    EXPECT_EQ(again.Topics[0]->Enclosure.Length, 0);
    EXPECT_EQ(again.Topics[0]->Categories.size(), 2u);
    EXPECT_EQ(again.Topics[0]->Description, QStringLiteral("<p>c</p>"));
}

TEST(AtomFormatter, UnknownElementsGoBackIntoEitherAtomVersion) {
    TFeed feed;
    Read(feed, Feed("<title>T</title><generator>G</generator>",
                    Entry("<title>E</title><created>2024-01-01T00:00:00Z</created>")));
    const QByteArray written = Written(feed);
    EXPECT_TRUE(written.contains("<generator>G</generator>")) << written.constData();
    EXPECT_TRUE(written.contains("<created>2024-01-01T00:00:00Z</created>")) << written.constData();

    // In Atom 1.0 they stay what they are: elements of the Atom 0.3 namespace.
    const QByteArray newer = TAtom10Formatter().SaveToBytes(feed, 0);
    const XmlDocument document = TXmlHost::LoadDocument(newer);
    const xmlNode* generator =
        TXmlHost::FindChild(TXmlHost::DocumentElement(document.get()), "generator");
    ASSERT_NE(generator, nullptr) << newer.constData();
    ASSERT_NE(generator->ns, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(generator->ns->href), Atom03Namespace);
}

} // namespace
