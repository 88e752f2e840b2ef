// The Atom 1.0 reader and writer; whole feeds are in tests/data/feeds (atom10-*).
#include "feeds/Atom10Formatter.h"

#include "feeds/ChannelLoader.h"
#include "feeds/ChannelPages.h"
#include "feeds/HTMLSanitizer.h"
#include "feeds/InternetDateTime.h"

#include <QBuffer>
#include <QFile>
#include <gtest/gtest.h>
#include <libxml/parser.h>

namespace {

constexpr char kAtom[] = "http://www.w3.org/2005/Atom";

QByteArray Feed(const QByteArray& channel, const QByteArray& entries = {},
                const QByteArray& rootAttributes = {}) {
    return "<feed xmlns=\"http://www.w3.org/2005/Atom\"" + rootAttributes + ">" + channel +
           entries + "</feed>";
}

QByteArray Entry(const QByteArray& body) {
    return "<entry>" + body + "</entry>";
}

TFeed& Read(TFeed& feed, QByteArray xml) {
    QBuffer stream(&xml);
    stream.open(QIODevice::ReadOnly);
    feed.LoadFromStream(stream, TAtom10Formatter::Class);
    return feed;
}

// The one topic of a feed of one entry.
FeedDoc::TTopic& ReadEntry(TFeed& feed, const QByteArray& body) {
    Read(feed, Feed("<title>C</title>", Entry(body)));
    EXPECT_EQ(feed.Topics.size(), 1u);
    return *feed.Topics.front();
}

QByteArray Written(TFeed& feed) {
    return TAtom10Formatter().SaveToBytes(feed, 0);
}

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

QByteArray NamespaceOf(const xmlNode* node) {
    return node && node->ns ? QByteArray(reinterpret_cast<const char*>(node->ns->href))
                            : QByteArray();
}

// --- Recognising ---

struct RootCase {
    const char* document;
    bool readable;
};

class Atom10RootTest : public testing::TestWithParam<RootCase> {};

TEST_P(Atom10RootTest, RootAndItsNamespaceDecide) {
    TAtom10Formatter formatter;
    formatter.Document = TXmlHost::LoadDocument(QByteArray(GetParam().document));
    EXPECT_EQ(formatter.CanRead(), GetParam().readable) << GetParam().document;
}

INSTANTIATE_TEST_SUITE_P(
    Roots, Atom10RootTest,
    testing::Values(RootCase{"<feed xmlns=\"http://www.w3.org/2005/Atom\"/>", true},
                    RootCase{"<FEED xmlns=\"http://www.w3.org/2005/Atom\"/>", true},
                    RootCase{"<feed xmlns=\"http://purl.org/atom/ns#\"/>", false},
                    RootCase{"<feed xmlns=\"http://www.w3.org/2005/Atom/\"/>", false},
                    RootCase{"<feed/>", false},
                    RootCase{"<a:feed xmlns:a=\"http://www.w3.org/2005/Atom\"/>", false},
                    RootCase{"<rss version=\"2.0\"/>", false}));

TEST(Atom10Formatter, LoaderReadsAtom10AfterRssRefusedIt) {
    TFeed feed;
    ASSERT_TRUE(
        TChannelLoader::LoadFeed(Feed("<title>T</title>", Entry("<title>E</title>")), feed));
    EXPECT_EQ(feed.FormatterClass, &TAtom10Formatter::Class);
    EXPECT_EQ(feed.Channel.SourceFormat, QByteArray("Atom"));
    EXPECT_EQ(feed.Topics.size(), 1u);
    EXPECT_STREQ(TAtom10Formatter::Class.Extension, ".atom");
    EXPECT_EQ(FindFeedFormatterClass("TAtom10Formatter"), &TAtom10Formatter::Class);
}

TEST(Atom10Formatter, ReadingTopicWithoutEntryFails) {
    TAtom10Formatter formatter;
    formatter.LoadFromBytes(Feed("<title>T</title>"), nullptr);
    formatter.FirstTopic();
    FeedDoc::TTopic topic;
    EXPECT_THROW(formatter.ReadTopic(topic), EFeedTopicsExceeded);
    EXPECT_FALSE(formatter.NextTopic());
}

// --- Channel ---

struct LanguageCase {
    const char* attributes;
    const char* language;
};

class Atom10LanguageTest : public testing::TestWithParam<LanguageCase> {};

TEST_P(Atom10LanguageTest, LanguageComesFromXmlLangThenLang) {
    TFeed feed;
    Read(feed, Feed("<title>T</title>", {}, GetParam().attributes));
    EXPECT_EQ(feed.Channel.Language.toStdString(), GetParam().language);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, Atom10LanguageTest,
    testing::Values(LanguageCase{" xml:lang=\"de-de\"", "de-DE"},
                    LanguageCase{" lang=\"fr-FR\"", "fr-FR"},
                    LanguageCase{" xml:lang=\"it-IT\" lang=\"fr-FR\"", "it-IT"},
                    LanguageCase{"", "en-US"}, LanguageCase{" xml:lang=\"xx\"", "en-US"}));

TEST(Atom10Formatter, ChannelLinksAreChosenByRelation) {
    TFeed feed;
    Read(feed,
         Feed("<link rel=\"self\" href=\"http://s.example/feed\"/>"
              "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"http://s.example/rss\"/>"
              "<link href=\"http://s.example/\"/>"
              "<link rel=\"alternate\" href=\"http://s.example/second\"/>"
              "<link rel=\"hub\" href=\"http://hub.example/\"/>"));
    EXPECT_EQ(feed.Channel.Link, QStringLiteral("http://s.example/"));
    EXPECT_EQ(feed.Channel.SelfLink, QStringLiteral("http://s.example/feed"));
    // The links not taken go back out.
    const QByteArray written = Written(feed);
    EXPECT_TRUE(written.contains("http://s.example/rss")) << written.constData();
    EXPECT_TRUE(written.contains("http://s.example/second")) << written.constData();
    EXPECT_TRUE(written.contains("http://hub.example/")) << written.constData();
}

TEST(Atom10Formatter, ChannelHrefHasCharacterReferencesDecoded) {
    TFeed feed;
    Read(feed, Feed("<link href=\"http://s.example/?a=1&amp;amp;b=2\"/>"));
    EXPECT_EQ(feed.Channel.Link, QStringLiteral("http://s.example/?a=1&b=2"));
}

// --- Entries ---

struct LinkCase {
    const char* link;
    const char* expected;
};

class Atom10EntryLinkTest : public testing::TestWithParam<LinkCase> {};

TEST_P(Atom10EntryLinkTest, AlternateLinkOfHtmlOrNoTypeIsTheTopicLink) {
    TFeed feed;
    EXPECT_EQ(ReadEntry(feed, GetParam().link).Link.toStdString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Links, Atom10EntryLinkTest,
    testing::Values(
        LinkCase{"<link href=\" http://e/a \"/>", "http://e/a"},
        LinkCase{"<link rel=\"alternate\" type=\"text/html\" href=\"http://e/a\"/>", "http://e/a"},
        LinkCase{"<link rel=\" alternate \" type=\" TEXT/HTML \" href=\"http://e/a\"/>",
                 "http://e/a"},
        LinkCase{"<link rel=\"alternate\" type=\"application/xhtml+xml\" "
                 "href=\"http://e/x\"/>",
                 ""},
        LinkCase{"<link rel=\"self\" href=\"http://e/s\"/>", ""},
        // The first alternate link is the article; a later one does not replace it.
        LinkCase{"<link href=\"http://e/1\"/><link href=\"http://e/2\"/>", "http://e/1"},
        LinkCase{"<link href=\"http://e/a?b=1&amp;amp;c=2\"/>", "http://e/a?b=1&amp;c=2"}));

TEST(Atom10Formatter, ContentWithoutTypeIsTextAndEscaped) {
    TFeed feed;
    EXPECT_EQ(ReadEntry(feed, "<content>a &lt;b&gt; &amp; c</content>").Description,
              QStringLiteral("a &lt;b&gt; &amp; c"));
}

TEST(Atom10Formatter, HtmlContentIsNotDecodedASecondTime) {
    TFeed feed;
    EXPECT_EQ(ReadEntry(feed,
                        "<content type=\"html\">&amp;lt;script&amp;gt;x&amp;lt;/script&amp;gt;"
                        "&lt;b&gt;y&lt;/b&gt;</content>")
                  .Description,
              QStringLiteral("&lt;script&gt;x&lt;/script&gt;<b>y</b>"));
}

TEST(Atom10Formatter, XhtmlTitleIsTheParagraphWithoutDivOrPrefixes) {
    TFeed feed;
    const FeedDoc::TTopic& topic =
        ReadEntry(feed, "<title type=\"xhtml\"><xh:div xmlns:xh=\"http://www.w3.org/1999/xhtml\">"
                        "<xh:p>Hello <xh:em>you</xh:em></xh:p></xh:div></title>");
    EXPECT_EQ(topic.Title, QStringLiteral("<p>Hello <em>you</em></p>"));
}

struct DescriptionCase {
    const char* name;
    const char* body;
    const char* description;
};

void PrintTo(const DescriptionCase& c, std::ostream* os) {
    *os << c.name;
}

class Atom10DescriptionTest : public testing::TestWithParam<DescriptionCase> {};

TEST_P(Atom10DescriptionTest, ContentElseSummary) {
    TFeed feed;
    EXPECT_EQ(ReadEntry(feed, GetParam().body).Description.toStdString(), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, Atom10DescriptionTest,
    testing::Values(
        DescriptionCase{"summaryOnly", "<summary>s &amp; t</summary>", "s &amp; t"},
        DescriptionCase{"summaryHtml", "<summary type=\"html\">&lt;i&gt;s&lt;/i&gt;</summary>",
                        "<i>s</i>"},
        DescriptionCase{"contentFirst",
                        "<content type=\"html\">&lt;p&gt;c&lt;/p&gt;</content><summary>s</summary>",
                        "<p>c</p>"},
        DescriptionCase{"summaryFirst",
                        "<summary>s</summary><content type=\"html\">&lt;p&gt;c&lt;/p&gt;</content>",
                        "<p>c</p>"},
        DescriptionCase{"contentElsewhere",
                        "<content type=\"audio/mpeg\" src=\"http://e/a.mp3\"/><summary>s</summary>",
                        "s"},
        DescriptionCase{"htmlContentWithSource",
                        "<content type=\"html\" src=\"http://e/a.html\"/><summary>s</summary>",
                        "s"},
        DescriptionCase{"unknownTypeAlone", "<content type=\"image/png\">AAAA</content>", ""},
        DescriptionCase{"emptyContent", "<content type=\"html\"></content><summary>s</summary>",
                        "s"},
        DescriptionCase{"selfClosedDiv",
                        "<content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\"/>"
                        "</content>",
                        ""},
        DescriptionCase{"neither", "<title>t</title>", ""}),
    [](const testing::TestParamInfo<DescriptionCase>& info) {
        return std::string(info.param.name);
    });

TEST(Atom10Formatter, SummaryIsKeptAndWrittenBack) {
    TFeed feed;
    ReadEntry(feed, "<summary>The short one</summary><content type=\"html\">Long</content>");
    const QByteArray written = Written(feed);
    EXPECT_TRUE(written.contains("<summary>The short one</summary>")) << written.constData();
    EXPECT_TRUE(written.contains("<content type=\"html\">Long</content>")) << written.constData();
}

TEST(Atom10Formatter, LastOfPublishedAndUpdatedWins) {
    TFeed a;
    TFeed b;
    const double first = ParseW3CDateTime("2024-01-01T00:00:00Z");
    const double second = ParseW3CDateTime("2024-02-01T00:00:00Z");
    EXPECT_EQ(ReadEntry(a, "<published>2024-01-01T00:00:00Z</published>"
                           "<updated>2024-02-01T00:00:00Z</updated>")
                  .Date,
              second);
    EXPECT_EQ(ReadEntry(b, "<updated>2024-02-01T00:00:00Z</updated>"
                           "<published>2024-01-01T00:00:00Z</published>")
                  .Date,
              first);
}

TEST(Atom10Formatter, SeveralAuthorsAreJoinedAndMissingOnesComeFromTheChannel) {
    TFeed feed;
    Read(feed, Feed("<title>C</title><author><name>Chan</name></author>",
                    Entry("<author><name>Ann</name></author><author><name>Bo</name></author>") +
                        Entry("<title>No author</title>")));
    ASSERT_EQ(feed.Topics.size(), 2u);
    EXPECT_EQ(feed.Topics[0]->Author, QStringLiteral("Ann, Bo"));
    EXPECT_EQ(feed.Topics[1]->Author, QStringLiteral("Chan"));
    EXPECT_EQ(feed.Topics[0]->Title, QStringLiteral("C"));
}

TEST(Atom10Formatter, CategoriesTakeTermAndScheme) {
    TFeed feed;
    const FeedDoc::TTopic& topic =
        ReadEntry(feed, "<category term=\" a \" scheme=\" http://s/ \" label=\"A\"/>"
                        "<category scheme=\"http://s/\"/><category term=\"b\"/>");
    ASSERT_EQ(topic.Categories.size(), 2u);
    EXPECT_EQ(topic.Categories[0]->Name, QStringLiteral("a"));
    EXPECT_EQ(topic.Categories[0]->Domain, QStringLiteral("http://s/"));
    EXPECT_EQ(topic.Categories[1]->Name, QStringLiteral("b"));
    EXPECT_TRUE(topic.Categories[1]->Domain.isEmpty());
}

TEST(Atom10Formatter, FirstEnclosureIsTheAttachmentAndOthersAreKept) {
    TFeed feed;
    const FeedDoc::TTopic& topic =
        ReadEntry(feed, "<link rel=\"enclosure\" href=\"http://e/a.mp3\" type=\"audio/mpeg\"/>"
                        "<link rel=\"enclosure\" href=\"http://e/a.ogg\" length=\"7\"/>");
    EXPECT_EQ(topic.Enclosure.Url, QStringLiteral("http://e/a.mp3"));
    EXPECT_EQ(topic.Enclosure.Length, -1);
    const QByteArray written = Written(feed);
    // Unknown length: no length attribute rather than a made-up 0.
    EXPECT_TRUE(
        written.contains("<link rel=\"enclosure\" type=\"audio/mpeg\" href=\"http://e/a.mp3\"/>"))
        << written.constData();
    EXPECT_TRUE(written.contains("http://e/a.ogg")) << written.constData();
}

TEST(Atom10Formatter, RelativeEntryLinksAreResolvedAgainstXmlBase) {
    TFeed feed;
    Read(feed, Feed("<title>C</title>",
                    "<entry xml:base=\"posts/\"><link href=\"a.html\"/>"
                    "<link rel=\"enclosure\" href=\"/m/a.mp3\"/></entry>",
                    " xml:base=\"https://b.example/blog/\""));
    ASSERT_EQ(feed.Topics.size(), 1u);
    EXPECT_EQ(feed.Topics[0]->Link, QStringLiteral("https://b.example/blog/posts/a.html"));
    EXPECT_EQ(feed.Topics[0]->Enclosure.Url, QStringLiteral("https://b.example/m/a.mp3"));
}

TEST(Atom10Formatter, ITunesElementsOfAnAtomPodcastAreRead) {
    TFeed feed;
    Read(feed, Feed("<title>P</title><itunes:explicit>yes</itunes:explicit>",
                    Entry("<itunes:duration>12:00</itunes:duration>"),
                    " xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\""));
    EXPECT_EQ(feed.Channel.ITunes.Explicit, TiTunesCommonInformation::ExplicitYes);
    ASSERT_EQ(feed.Topics.size(), 1u);
    EXPECT_EQ(feed.Topics[0]->ITunesTopic.Duration, QStringLiteral("12:00"));
    // Written once, not once from the model and once more as an unknown element.
    const QByteArray written = Written(feed);
    EXPECT_EQ(written.count("<itunes:explicit>"), 2) << written.constData();
    EXPECT_EQ(written.count("<itunes:duration>"), 1) << written.constData();
}

// --- Writing ---

TEST(Atom10Formatter, WrittenFeedIsAtom10WithSelfLinkAndLanguage) {
    TFeed feed;
    Read(feed, Feed("<title>T</title><id>urn:t</id>", Entry("<title>E</title><id> e1 </id>"),
                    " xml:lang=\"nl-NL\""));
    const QByteArray written = Written(feed);
    const XmlDocument document = TXmlHost::LoadDocument(written);
    const xmlNode* root = TXmlHost::DocumentElement(document.get());
    EXPECT_EQ(NamespaceOf(root), QByteArray(kAtom));
    EXPECT_EQ(TXmlHost::AttributeText(root, "xml:lang", {}), QStringLiteral("nl-NL"));
    // The self link is there even when the feed has no address of its own.
    EXPECT_TRUE(written.contains("<link rel=\"self\" href=\"\"/>")) << written.constData();
    EXPECT_TRUE(written.contains("<id>urn:t</id>")) << written.constData();
    EXPECT_TRUE(written.contains("<id>e1</id>")) << written.constData();
    EXPECT_TRUE(written.contains("<content type=\"html\"></content>")) << written.constData();

    TFeed again;
    Read(again, written);
    EXPECT_EQ(again.Channel.Language, QStringLiteral("nl-NL"));
    EXPECT_EQ(again.Channel.Id, QByteArray("urn:t"));
}

TEST(Atom10Formatter, MediaAndITunesAreWrittenInTheirOwnNamespaces) {
    TFeed feed;
    Read(feed, Feed("<title>P</title><itunes:author>I</itunes:author>",
                    Entry("<media:title>M</media:title>"),
                    " xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\""
                    " xmlns:media=\"http://search.yahoo.com/mrss/\""));
    const QByteArray written = Written(feed);
    EXPECT_TRUE(IsNamespaceWellFormed(written)) << written.constData();
    const XmlDocument document = TXmlHost::LoadDocument(written);
    const xmlNode* root = TXmlHost::DocumentElement(document.get());
    const xmlNode* author = TXmlHost::FindChild(root, "itunes:author");
    ASSERT_NE(author, nullptr) << written.constData();
    EXPECT_EQ(NamespaceOf(author), QByteArray(ITunesNamespace));
    const xmlNode* title = TXmlHost::FindChild(TXmlHost::FindChild(root, "entry"), "media:title");
    ASSERT_NE(title, nullptr) << written.constData();
    EXPECT_EQ(NamespaceOf(title), QByteArray(MediaRssNamespace));
    EXPECT_EQ(NamespaceOf(TXmlHost::FindChild(root, "title")), QByteArray(kAtom));
}

TEST(Atom10Formatter, RssFeedConvertedToAtomDeclaresEveryPrefix) {
    TFeed feed;
    ASSERT_TRUE(TChannelLoader::LoadFeed(
        "<rss xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:geo=\"http://geo.example/\">"
        "<channel><title>R</title><item><title>I</title><geo:lat>1</geo:lat>"
        "<dc:subject>s</dc:subject><comments>http://c</comments></item></channel></rss>",
        feed));
    const QByteArray written = Written(feed);
    EXPECT_TRUE(IsNamespaceWellFormed(written)) << written.constData();
    EXPECT_TRUE(written.contains("<geo:lat>1</geo:lat>")) << written.constData();
    // An RSS element without a prefix means nothing in Atom and stays behind.
    EXPECT_FALSE(written.contains("comments")) << written.constData();
    TFeed again;
    ASSERT_TRUE(TChannelLoader::LoadFeed(written, again));
    EXPECT_EQ(again.FormatterClass, &TAtom10Formatter::Class);
    ASSERT_EQ(again.Topics.size(), 1u);
    EXPECT_EQ(again.Topics[0]->Title, QStringLiteral("I"));
}

// --- A hostile feed on a page ---

TEST(Atom10Formatter, HostileFeedIsHarmlessOnThePage) {
    QFile file(QStringLiteral(QUILLMAR_TEST_DATA "/feeds/atom10-hostile.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    TFeed feed;
    ASSERT_TRUE(TChannelLoader::LoadFeed(file.readAll(), feed));
    ASSERT_GE(feed.Topics.size(), 4u);
    // Markup the feed escaped to show it stays text.
    EXPECT_EQ(feed.Topics[0]->Description,
              QStringLiteral("&lt;script&gt;alert('shown, not run')&lt;/script&gt;"));
    EXPECT_EQ(feed.Topics[2]->Description, QStringLiteral("&lt;script&gt;alert(4)&lt;/script&gt;"));
    for (const auto& topic : feed.Topics) {
        const QString page = SanitizeHtml(RemoveActiveContent(topic->Description));
        EXPECT_FALSE(page.contains(QLatin1String("<script"), Qt::CaseInsensitive))
            << page.toStdString();
        EXPECT_FALSE(page.contains(QLatin1String("javascript:"), Qt::CaseInsensitive))
            << page.toStdString();
        EXPECT_FALSE(page.contains(QLatin1String("onclick"), Qt::CaseInsensitive))
            << page.toStdString();
        EXPECT_FALSE(page.contains(QLatin1String("onerror"), Qt::CaseInsensitive))
            << page.toStdString();
        EXPECT_TRUE(SafeLinkAddress(topic->Link, TLinkUse::Link).isEmpty() ||
                    topic->Link.startsWith(QLatin1String("https://")))
            << topic->Link.toStdString();
    }
    EXPECT_TRUE(SafeLinkAddress(feed.Channel.Link, TLinkUse::Link).isEmpty());
    EXPECT_TRUE(SafeLinkAddress(feed.Channel.ImageUrl, TLinkUse::Image).isEmpty());
    EXPECT_TRUE(SafeLinkAddress(feed.Topics[0]->Enclosure.Url, TLinkUse::Media).isEmpty());
    EXPECT_EQ(feed.Topics[0]->Enclosure.Length, -1);
}

} // namespace
