// The pieces both Atom versions read with: text constructs, the XHTML rule, persons,
// addresses, enclosure links and dates.
#include "feeds/AtomElements.h"

#include "feeds/InternetDateTime.h"
#include "feeds/MediaRSS.h"

#include <gtest/gtest.h>

namespace {

XmlDocument Load(const QByteArray& xml) {
    return TXmlHost::LoadDocument(xml);
}

const xmlNode* Root(const XmlDocument& document) {
    return TXmlHost::DocumentElement(document.get());
}

// --- Text constructs ---

struct TextCase {
    const char* name;
    const char* element;
    Atom::TTextType type;
    const char* text;
    const char* html; // what lands in a field pages show as HTML
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class AtomTextConstructTest : public testing::TestWithParam<TextCase> {};

TEST_P(AtomTextConstructTest, TypeDecidesHowTheTextIsTaken) {
    const XmlDocument document = Load(GetParam().element);
    const Atom::TAtomText text = Atom::ReadTextConstruct(Root(document));
    EXPECT_EQ(int(text.Type), int(GetParam().type));
    EXPECT_EQ(text.Text.toStdString(), GetParam().text);
    EXPECT_EQ(text.AsHtml().toStdString(), GetParam().html);
}

using Atom::TTextType;

INSTANTIATE_TEST_SUITE_P(
    Types, AtomTextConstructTest,
    testing::Values(
        // Atom's default is text.
        TextCase{"missing", "<c>a &lt; b &amp;amp; c</c>", TTextType::Text, "a < b &amp; c",
                 "a &lt; b &amp;amp; c"},
        TextCase{"empty", "<c type=\"\">x &lt;y&gt;</c>", TTextType::Text, "x <y>", "x &lt;y&gt;"},
        TextCase{"text", "<c type=\"text\">&lt;script&gt;</c>", TTextType::Text, "<script>",
                 "&lt;script&gt;"},
        TextCase{"textUpperCase", "<c type=\" TEXT \">t</c>", TTextType::Text, "t", "t"},
        TextCase{"textPlain", "<c type=\"text/plain\">a&amp;b</c>", TTextType::Text, "a&b",
                 "a&amp;b"},
        // Markup escaped to be shown stays escaped: the parser's one decoding is all.
        TextCase{"htmlEscapedMarkup", "<c type=\"html\">&amp;lt;b&amp;gt; &lt;i&gt;x&lt;/i&gt;</c>",
                 TTextType::Html, "&lt;b&gt; <i>x</i>", "&lt;b&gt; <i>x</i>"},
        TextCase{"htmlCdata", "<c type=\"html\"><![CDATA[<p>&amp;</p>]]></c>", TTextType::Html,
                 "<p>&amp;</p>", "<p>&amp;</p>"},
        TextCase{"textHtml", "<c type=\"text/html\">&lt;p&gt;</c>", TTextType::Html, "<p>", "<p>"},
        TextCase{
            "xhtml",
            "<c type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">A <b>b</b></div></c>",
            TTextType::Xhtml, "A <b>b</b>", "A <b>b</b>"},
        TextCase{"xhtmlMime", "<c type=\"application/xhtml+xml\"><div><p>p</p></div></c>",
                 TTextType::Xhtml, "<p>p</p>", "<p>p</p>"},
        TextCase{"other", "<c type=\"image/png\">iVBORw0KGgo=</c>", TTextType::Unreadable, "", ""}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

struct XhtmlCase {
    const char* name;
    const char* content; // inside <c xmlns:h="http://www.w3.org/1999/xhtml">
    const char* text;
};

void PrintTo(const XhtmlCase& c, std::ostream* os) {
    *os << c.name;
}

class AtomXhtmlContentTest : public testing::TestWithParam<XhtmlCase> {};

TEST_P(AtomXhtmlContentTest, TextIsTheMarkupInsideTheDiv) {
    const XmlDocument document = Load(QByteArray("<c xmlns:h=\"http://www.w3.org/1999/xhtml\">") +
                                      GetParam().content + "</c>");
    EXPECT_EQ(Atom::XhtmlContent(Root(document)).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Divs, AtomXhtmlContentTest,
    testing::Values(
        XhtmlCase{"plain", "<div><p>x</p></div>", "<p>x</p>"},
        XhtmlCase{"selfClosed", "<div/>", ""}, XhtmlCase{"emptyElement", "", ""},
        XhtmlCase{"divWithAttributes", "<div class=\"c\" id=\"i\">t</div>", "t"},
        // The inner divs are content; only the outer one is taken off.
        XhtmlCase{"innerDivs", "<div><div>one</div><div>two</div></div>",
                  "<div>one</div><div>two</div>"},
        // Text that merely ends like a div end tag keeps its end.
        XhtmlCase{"endsWithDivText", "<div>say &lt;/div&gt;</div>", "say &lt;/div&gt;"},
        XhtmlCase{"endsWithShortElement", "<div>a<br/></div>", "a<br/>"},
        XhtmlCase{"prefixed", "<h:div><h:p>P <h:b>b</h:b></h:p></h:div>", "<p>P <b>b</b></p>"},
        XhtmlCase{"prefixInCommentKept", "<h:div><!--<h:p>--><h:i>i</h:i></h:div>",
                  "<!--<h:p>--><i>i</i>"},
        XhtmlCase{"upperCaseDiv", "<DIV>u</DIV>", "u"},
        // "divider" contains "div" but is no div; the real div after it is taken.
        XhtmlCase{"dividerIsNoDiv", "<h:divider>no</h:divider><h:div>yes</h:div>", "yes"},
        XhtmlCase{"textBeforeDiv", " \n <div>d</div>", "d"},
        // Without a div the content is kept whole rather than lost.
        XhtmlCase{"noDiv", "<p>whole</p> tail", "<p>whole</p> tail"},
        XhtmlCase{"carriageReturn", "<div>a&#13;b</div>", "a b"},
        XhtmlCase{"emptyElementStaysOpenForHtml", "<div><span/></div>", "<span></span>"},
        XhtmlCase{"trimmed", "<div>\n   <p>t</p>\n</div>", "<p>t</p>"}),
    [](const testing::TestParamInfo<XhtmlCase>& info) { return std::string(info.param.name); });

TEST(AtomElements, DeeplyNestedXhtmlIsReadWithoutRecursion) {
    QByteArray xml = "<c><div>";
    for (int i = 0; i < 200; ++i)
        xml += "<span>";
    xml += "deep";
    for (int i = 0; i < 200; ++i)
        xml += "</span>";
    xml += "</div></c>";
    const XmlDocument document = Load(xml);
    const QString text = Atom::XhtmlContent(Root(document));
    EXPECT_TRUE(text.startsWith(QLatin1String("<span><span>")));
    EXPECT_EQ(text.count(QLatin1String("</span>")), 200);
}

// --- Persons ---

TEST(AtomElements, PersonIsReadChildByChild) {
    const XmlDocument document =
        Load("<author><NAME> Ann </NAME><url>http://a.example/?x=1&amp;amp;y=2</url>"
             "<uri>http://ignored.example/</uri><email>ann@a.example</email></author>");
    const Atom::TAtomPerson person = Atom::ReadPerson(Root(document), "url");
    EXPECT_EQ(person.Name, QByteArray("Ann"));
    EXPECT_EQ(person.Uri, QByteArray("http://a.example/?x=1&y=2"));
    EXPECT_EQ(person.Email, QByteArray("ann@a.example"));
}

TEST(AtomElements, SeveralAuthorsAreAllNamed) {
    Atom::TAuthors authors;
    EXPECT_TRUE(authors.IsEmpty());
    authors.Add({"Ann", {}, {}});
    authors.Add({"  ", {}, {}});
    authors.Add({{}, {}, "bo@b.example"});
    authors.Add({"Chloé", {}, "c@c.example"});
    EXPECT_EQ(authors.Text(), QStringLiteral("Ann, bo@b.example, Chloé"));
}

// --- Addresses ---

struct AddressCase {
    const char* name;
    const char* document; // the element with id "x" is the one asked
    const char* address;
    const char* resolved;
};

void PrintTo(const AddressCase& c, std::ostream* os) {
    *os << c.name;
}

const xmlNode* FindById(const xmlNode* node) {
    // The test documents are a few levels deep.
    for (const xmlNode* child = node; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (TXmlHost::AttributeText(child, "id", {}) == QLatin1String("x"))
            return child;
        if (const xmlNode* found = FindById(child->children))
            return found;
    }
    return nullptr;
}

class AtomResolvedAddressTest : public testing::TestWithParam<AddressCase> {};

TEST_P(AtomResolvedAddressTest, RelativeAddressesFollowXmlBase) {
    const XmlDocument document = Load(GetParam().document);
    const xmlNode* node = FindById(Root(document));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(Atom::ResolvedAddress(node, QString::fromUtf8(GetParam().address)).toStdString(),
              GetParam().resolved);
}

INSTANTIATE_TEST_SUITE_P(
    Bases, AtomResolvedAddressTest,
    testing::Values(
        AddressCase{"noBase", "<f><e id=\"x\"/></f>", "a.html", "a.html"},
        AddressCase{"rootBase", "<f xml:base=\"https://s.example/blog/\"><e id=\"x\"/></f>",
                    "a.html", "https://s.example/blog/a.html"},
        AddressCase{"nestedBases",
                    "<f xml:base=\"https://s.example/blog/\"><g xml:base=\"2024/\">"
                    "<e id=\"x\"/></g></f>",
                    "../a.html", "https://s.example/blog/a.html"},
        AddressCase{"ownBase", "<f><e id=\"x\" xml:base=\"http://o.example/d/\"/></f>", "/a",
                    "http://o.example/a"},
        AddressCase{"absolute", "<f xml:base=\"https://s.example/\"><e id=\"x\"/></f>",
                    "mailto:a@b.example", "mailto:a@b.example"},
        AddressCase{"empty", "<f xml:base=\"https://s.example/\"><e id=\"x\"/></f>", "", ""},
        AddressCase{"relativeBaseOnly", "<f xml:base=\"blog/\"><e id=\"x\"/></f>", "a.html",
                    "a.html"},
        AddressCase{"scriptBase", "<f xml:base=\"javascript:alert(1)//\"><e id=\"x\"/></f>",
                    "a.html", "a.html"},
        AddressCase{"fileBase", "<f xml:base=\"file:///etc/\"><e id=\"x\"/></f>", "passwd",
                    "passwd"}),
    [](const testing::TestParamInfo<AddressCase>& info) { return std::string(info.param.name); });

TEST(AtomElements, LinkAddressIsTrimmedAndDecodedOnlyWhenAsked) {
    const XmlDocument document = Load("<link href=\" http://a.example/?x=1&amp;amp;y=2 \"/>");
    EXPECT_EQ(Atom::LinkAddress(Root(document), true), QStringLiteral("http://a.example/?x=1&y=2"));
    EXPECT_EQ(Atom::LinkAddress(Root(document), false),
              QStringLiteral("http://a.example/?x=1&amp;y=2"));
}

TEST(AtomElements, PageLinkIsTheFirstOfAnHtmlTypeElseTheFirst) {
    const XmlDocument document = Load(
        "<f><link type=\"application/rss+xml\" href=\"r\"/><link type=\"Text/HTML\" href=\"h\"/>"
        "<link href=\"n\"/></f>");
    const QList<xmlNode*> links = TXmlHost::ChildElements(Root(document));
    EXPECT_EQ(Atom::ChoosePageLink({links[0], links[1], links[2]}), links[1]);
    EXPECT_EQ(Atom::ChoosePageLink({links[0], links[2]}), links[2]);
    EXPECT_EQ(Atom::ChoosePageLink({links[0]}), links[0]);
    EXPECT_EQ(Atom::ChoosePageLink({}), nullptr);
}

// --- Enclosure links ---

struct LengthCase {
    const char* attribute;
    qint32 length;
};

class AtomEnclosureLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(AtomEnclosureLengthTest, UnknownLengthIsMinusOneNeverZero) {
    const XmlDocument document =
        Load(QByteArray("<link rel=\"enclosure\" href=\" http://e/a.mp3 \" "
                        "type=\" audio/mpeg \" ") +
             GetParam().attribute + "/>");
    TEnclosure enclosure;
    ASSERT_TRUE(Atom::ReadEnclosureLink(Root(document), enclosure, "Atom"));
    EXPECT_EQ(enclosure.Url, QStringLiteral("http://e/a.mp3"));
    EXPECT_EQ(enclosure.ContentType, QStringLiteral("audio/mpeg"));
    EXPECT_EQ(enclosure.Length, GetParam().length) << GetParam().attribute;
    EXPECT_EQ(enclosure.SourceFormat, QByteArray("Atom"));
}

INSTANTIATE_TEST_SUITE_P(Lengths, AtomEnclosureLengthTest,
                         testing::Values(LengthCase{"", -1}, LengthCase{"length=\"\"", -1},
                                         LengthCase{"length=\"big\"", -1},
                                         LengthCase{"length=\"-5\"", -1},
                                         LengthCase{"length=\"99999999999\"", -1},
                                         LengthCase{"length=\"0\"", 0},
                                         LengthCase{"length=\" 1234 \"", 1234}));

TEST(AtomElements, EnclosureLinkWithoutAddressIsNoEnclosure) {
    const XmlDocument document = Load(
        "<f xml:base=\"http://b.example/\"><link rel=\"enclosure\" href=\" \" length=\"5\"/></f>");
    TEnclosure enclosure;
    EXPECT_FALSE(Atom::ReadEnclosureLink(Root(document)->children, enclosure, "Atom"));
    EXPECT_TRUE(enclosure.Url.isEmpty());
    EXPECT_EQ(enclosure.Length, 0);
}

// --- Dates ---

TEST(AtomElements, DatesAreW3COrRfc822) {
    const XmlDocument w3c = Load("<d>2024-02-01T10:00:00Z</d>");
    const XmlDocument rfc = Load("<d>Thu, 01 Feb 2024 10:00:00 GMT</d>");
    EXPECT_EQ(Atom::ReadDate(Root(w3c)), ParseW3CDateTime("2024-02-01T10:00:00Z"));
    EXPECT_EQ(Atom::ReadDate(Root(rfc)), Atom::ReadDate(Root(w3c)));
}

} // namespace
