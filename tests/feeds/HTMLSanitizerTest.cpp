#include "feeds/HTMLSanitizer.h"

#include <gtest/gtest.h>

namespace {

struct SanitizeCase {
    const char* name;
    const char16_t* input;
    const char16_t* expected;
};

void PrintTo(const SanitizeCase& c, std::ostream* os) {
    *os << c.name;
}

class SanitizeHtmlTest : public testing::TestWithParam<SanitizeCase> {};

TEST_P(SanitizeHtmlTest, KeepsOnlyHarmlessMarkup) {
    const SanitizeCase& c = GetParam();
    EXPECT_EQ(
        SanitizeHtml(QString::fromUtf16(c.input), QStringLiteral("https://site.example/news/")),
        QString::fromUtf16(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SanitizeHtmlTest,
    testing::Values(
        // Ordinary text and markup survive, with its text escaped again.
        SanitizeCase{"plain text", u"Just text", u"Just text"},
        SanitizeCase{"text stays out of paragraphs", u"one <b>two</b> three",
                     u"one <b>two</b> three"},
        SanitizeCase{"entities are decoded and escaped again", u"a &amp; b &lt;c&gt; &eacute;",
                     u"a &amp; b &lt;c&gt; \u00E9"},
        SanitizeCase{"lists and paragraphs", u"<p align=center>a</p><ul><li>b</ul>",
                     u"<p align=\"center\">a</p><ul><li>b</li></ul>"},
        SanitizeCase{"void elements", u"a<br/>b<hr>c", u"a<br>b<hr>c"},
        SanitizeCase{"table", u"<table border=1><tr><td colspan=2>x</td></tr></table>",
                     u"<table border=\"1\"><tr><td colspan=\"2\">x</td></tr></table>"},
        SanitizeCase{"image", u"<img src=\"http://i.example/a.png\" alt='A \"B\"' width=10>",
                     u"<img src=\"http://i.example/a.png\" alt=\"A &quot;B&quot;\" width=\"10\">"},
        SanitizeCase{"upper-case names", u"<IMG SRC=\"http://i.example/a.png\" ALT=A>",
                     u"<img src=\"http://i.example/a.png\" alt=\"A\">"},
        SanitizeCase{"characters beyond U+FFFF", u"\U0001F600 ok", u"\U0001F600 ok"},
        // Dropped with their content.
        SanitizeCase{"script", u"a<script>alert(1)</script>b", u"ab"},
        SanitizeCase{"upper-case script", u"a<SCRIPT SRC=x></SCRIPT>b", u"ab"},
        SanitizeCase{"style element", u"<style>body{display:none}</style>x", u"x"},
        SanitizeCase{"iframe", u"<iframe src=\"http://evil.example/\"></iframe>x", u"x"},
        SanitizeCase{"frameset", u"<frameset><frame src=x></frameset>x", u"x"},
        SanitizeCase{"object and embed",
                     u"<object data=x><param name=a value=b><embed src=y></object>x", u"x"},
        SanitizeCase{"applet", u"<applet code=A></applet>x", u"x"},
        SanitizeCase{"meta refresh", u"<meta http-equiv=refresh content=\"0;url=http://e/\">x",
                     u"x"},
        SanitizeCase{"base and link", u"<base href=\"http://e/\"><link rel=stylesheet href=s>x",
                     u"x"},
        SanitizeCase{"form with its controls",
                     u"<form action=http://e/><input name=p><button>Go</button></form>x", u"x"},
        SanitizeCase{"stray controls", u"<input type=password>x<textarea>t</textarea>", u"x"},
        SanitizeCase{"svg with onload", u"<svg onload=\"alert(1)\"><circle r=1/></svg>x", u"x"},
        SanitizeCase{"math", u"<math><mi>x</mi></math>y", u"y"},
        SanitizeCase{"comments and conditional comments", u"a<!-- c --><!--[if IE]>x<![endif]-->b",
                     u"ab"},
        // Attributes.
        SanitizeCase{"event handlers", u"<b onclick=\"x()\" onMouseOver=y>t</b>", u"<b>t</b>"},
        SanitizeCase{"body onload", u"<body onload=x>t", u"t"},
        SanitizeCase{"id and class", u"<div id=main class=c>t</div>", u"<div>t</div>"},
        SanitizeCase{"javascript link", u"<a href=\"javascript:alert(1)\">t</a>", u"<a>t</a>"},
        SanitizeCase{"encoded javascript link", u"<a href=\"&#106;ava&#x73;cript:alert(1)\">t</a>",
                     u"<a>t</a>"},
        SanitizeCase{"javascript link split by a tab", u"<a href=\"java\tscript:alert(1)\">t</a>",
                     u"<a>t</a>"},
        SanitizeCase{"javascript link behind spaces", u"<a href=\" \x01javascript:x\">t</a>",
                     u"<a>t</a>"},
        SanitizeCase{"vbscript and data links",
                     u"<a href=\"vbscript:x\">a</a><a href=\"data:text/html,x\">b</a>",
                     u"<a>a</a><a>b</a>"},
        SanitizeCase{"web and mail links",
                     u"<a href=\"HTTPS://a.example/\">a</a><a href=\"mailto:x@y.example\">b</a>",
                     u"<a href=\"HTTPS://a.example/\">a</a><a href=\"mailto:x@y.example\">b</a>"},
        SanitizeCase{"relative link read against the base",
                     u"<a href=\"../about?a=1&amp;b=2\">a</a>",
                     u"<a href=\"https://site.example/about?a=1&amp;b=2\">a</a>"},
        SanitizeCase{"target goes", u"<a href=\"http://a.example/\" target=_blank>a</a>",
                     u"<a href=\"http://a.example/\">a</a>"},
        SanitizeCase{"image data address", u"<img src=\"data:image/png;base64,iVBORw0KGgo=\">",
                     u"<img src=\"data:image/png;base64,iVBORw0KGgo=\">"},
        SanitizeCase{"html data address for an image",
                     u"<img src=\"data:text/html;base64,PHNjcmlwdD4=\">", u"<img>"},
        SanitizeCase{"image data address for a link",
                     u"<a href=\"data:image/png;base64,AA==\">a</a>", u"<a>a</a>"},
        SanitizeCase{"javascript image", u"<img src=\"javascript:alert(1)\" onerror=alert(1)>",
                     u"<img>"},
        SanitizeCase{"media without autoplay",
                     u"<video src=\"http://v.example/a.mp4\" autoplay controls>v</video>",
                     u"<video src=\"http://v.example/a.mp4\" controls=\"\">v</video>"},
        SanitizeCase{"harmless style", u"<span style=\"color: red\">r</span>",
                     u"<span style=\"color: red\">r</span>"},
        SanitizeCase{"style that loads", u"<span style=\"background:url(http://e/x)\">r</span>",
                     u"<span>r</span>"},
        SanitizeCase{"style that runs", u"<span style=\"width:expression(alert(1))\">r</span>",
                     u"<span>r</span>"},
        SanitizeCase{"style hiding a word", u"<span style=\"width:ex\\70ression(1)\">r</span>",
                     u"<span>r</span>"},
        // Elements outside the list give way to their content.
        SanitizeCase{"unknown element", u"<blink>b</blink><custom-tag>c</custom-tag>", u"bc"},
        SanitizeCase{"quote inside an attribute", u"<img alt='x\" onerror=\"alert(1)'>",
                     u"<img alt=\"x&quot; onerror=&quot;alert(1)\">"},
        SanitizeCase{"unclosed elements are closed", u"<b><i>x", u"<b><i>x</i></b>"},
        SanitizeCase{"text after the end of a document stays", u"a</body></html>b<p>c</p>",
                     u"a<p>b</p><p>c</p>"},
        SanitizeCase{"empty", u"", u""}));

} // namespace

TEST(SanitizeHtml, RelativeAddressesWithoutBaseGo) {
    EXPECT_EQ(SanitizeHtml(QStringLiteral("<a href=\"/x\">a</a><img src=\"i.png\">")),
              QStringLiteral("<a>a</a><img>"));
}

QString Nested(int depth) {
    QString html;
    for (int i = 0; i < depth; ++i)
        html += QStringLiteral("<div>");
    return html + QStringLiteral("deep");
}

TEST(SanitizeHtml, NestingBeyondTheLimitGivesWayToItsContent) {
    const QString clean = SanitizeHtml(Nested(MaxSanitizedDepth + 40));
    EXPECT_TRUE(clean.contains(QStringLiteral("deep")));
    EXPECT_EQ(clean.count(QStringLiteral("<div>")), MaxSanitizedDepth);
    EXPECT_EQ(clean.count(QStringLiteral("</div>")), MaxSanitizedDepth);
}

TEST(SanitizeHtml, AbsurdNestingGivesBalancedMarkup) {
    // The parser itself gives up on the text below a few hundred levels; what it kept
    // comes out balanced, without recursion on our side.
    const QString clean = SanitizeHtml(Nested(100000));
    EXPECT_LE(clean.count(QStringLiteral("<div>")), MaxSanitizedDepth);
    EXPECT_EQ(clean.count(QStringLiteral("<div>")), clean.count(QStringLiteral("</div>")));
}

TEST(SanitizeHtml, NulCharactersDoNotEndTheText) {
    EXPECT_EQ(SanitizeHtml(QStringLiteral("a") + QChar(0) + QStringLiteral("<b>b</b>")),
              QStringLiteral("a<b>b</b>"));
}

TEST(SanitizeHtml, NonLatinLinkKeepsItsLetters) {
    const QString link =
        QString::fromUtf16(u"https://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/"
                           u"\u0441\u0442\u0430\u0442\u044C\u044F");
    EXPECT_EQ(SanitizeHtml(QStringLiteral("<a href=\"%1\">a</a>").arg(link)),
              QStringLiteral("<a href=\"%1\">a</a>").arg(link));
}

TEST(EscapeHtml, EscapesEveryCharacterThatEndsTextOrAttribute) {
    EXPECT_EQ(EscapeHtml(QStringLiteral("<a href=\"x\" title='y'>&amp;</a>")),
              QStringLiteral("&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;&lt;/a&gt;"));
    EXPECT_EQ(EscapeHtml(QString::fromUtf16(u"\u00E9\U0001F600")),
              QString::fromUtf16(u"\u00E9\U0001F600"));
}

namespace {

struct LinkCase {
    const char* address;
    TLinkUse use;
    const char* base;
    const char* expected;
};

void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.address;
}

class SafeLinkAddressTest : public testing::TestWithParam<LinkCase> {};

TEST_P(SafeLinkAddressTest, AcceptsOnlySchemesThatRunNothing) {
    const LinkCase& c = GetParam();
    EXPECT_EQ(SafeLinkAddress(QString::fromUtf8(c.address), c.use, QString::fromUtf8(c.base)),
              QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SafeLinkAddressTest,
    testing::Values(
        LinkCase{"http://a.example/x", TLinkUse::Link, "", "http://a.example/x"},
        LinkCase{"  https://a.example/\n", TLinkUse::Link, "", "https://a.example/"},
        LinkCase{"mailto:x@y.example", TLinkUse::Link, "", "mailto:x@y.example"},
        LinkCase{"mailto:x@y.example", TLinkUse::Image, "", ""},
        LinkCase{"mailto:x@y.example", TLinkUse::Media, "", ""},
        LinkCase{"javascript:alert(1)", TLinkUse::Link, "", ""},
        LinkCase{"JaVaScRiPt:alert(1)", TLinkUse::Link, "", ""},
        LinkCase{"java\nscript:alert(1)", TLinkUse::Link, "", ""},
        LinkCase{"file:///etc/passwd", TLinkUse::Link, "", ""},
        LinkCase{"link://http://a/", TLinkUse::Link, "", ""},
        LinkCase{"data:image/gif;base64,R0lG", TLinkUse::Image, "", "data:image/gif;base64,R0lG"},
        LinkCase{"data:image/gif;base64,R0lG", TLinkUse::Link, "", ""},
        LinkCase{"data:text/html,x", TLinkUse::Image, "", ""},
        LinkCase{"/a?b#c", TLinkUse::Link, "http://s.example/x/y", "http://s.example/a?b#c"},
        LinkCase{"//other.example/p", TLinkUse::Link, "https://s.example/",
                 "https://other.example/p"},
        LinkCase{"page", TLinkUse::Link, "javascript:x", ""},
        LinkCase{"page", TLinkUse::Link, "", ""},
        LinkCase{"", TLinkUse::Link, "http://s.example/", ""},
        LinkCase{"x:y", TLinkUse::Link, "http://s.example/", ""}));

} // namespace
