#include "feeds/HTMLUtils.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
    const char16_t* input;
    const char16_t* expected;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << QString::fromUtf16(c.input).toStdString();
}

class DecodeHtmlEntitiesTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeHtmlEntitiesTest, DecodesReferencesAndCopiesEverythingElse) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(DecodeHtmlEntities(QString::fromUtf16(c.input)), QString::fromUtf16(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeHtmlEntitiesTest,
    testing::Values(
        // The five XML delimiters and a few everyday names.
        DecodeCase{u"&amp; &lt; &gt; &quot; &apos;", u"& < > \" '"},
        DecodeCase{u"a&nbsp;b", u"a\u00A0b"}, DecodeCase{u"&euro;5", u"\u20AC5"},
        DecodeCase{u"wait&hellip;", u"wait\u2026"},
        DecodeCase{u"Caf&eacute; &copy; &rsquo;", u"Caf\u00E9 \u00A9 \u2019"},
        // Names are case-sensitive.
        DecodeCase{u"&Prime;&prime;", u"\u2033\u2032"}, DecodeCase{u"&AMP;", u"&AMP;"},
        DecodeCase{u"&Eacute;", u"\u00C9"},
        // Decimal references.
        DecodeCase{u"&#233;t&#233;", u"\u00E9t\u00E9"}, DecodeCase{u"&#0;", u"&#0;"},
        DecodeCase{u"&#00065;", u"A"}, DecodeCase{u"&#2147483648;", u"&#2147483648;"},
        DecodeCase{u"&#99999999999999999999;", u"&#99999999999999999999;"},
        // Beyond the 16-bit range: surrogate pairs, within Unicode's range only.
        DecodeCase{u"&#128512;", u"\U0001F600"}, DecodeCase{u"&#1114111;", u"\U0010FFFF"},
        DecodeCase{u"&#1114112;", u"&#1114112;"}, DecodeCase{u"&#55357;", u"&#55357;"},
        // Hexadecimal references, with the same bounds.
        DecodeCase{u"&#x41;&#X42;", u"AB"}, DecodeCase{u"don&#x2019;t", u"don\u2019t"},
        DecodeCase{u"&#x1F600;", u"\U0001F600"}, DecodeCase{u"&#xD83D;", u"&#xD83D;"},
        DecodeCase{u"&#x110000;", u"&#x110000;"}, DecodeCase{u"&#x0;", u"&#x0;"},
        DecodeCase{u"&#x;", u"&#x;"}, DecodeCase{u"&#xG1;", u"&#xG1;"},
        DecodeCase{u"&#xFFFFFFFFF;", u"&#xFFFFFFFFF;"},
        // A "#" followed by letters is looked up by the letters alone.
        DecodeCase{u"&#amp;", u"&"}, DecodeCase{u"&#xi;", u"\u03BE"},
        // Without a semicolon nothing is decoded.
        DecodeCase{u"&amp", u"&amp"}, DecodeCase{u"AT&T", u"AT&T"},
        DecodeCase{u"AT&T rocks", u"AT&T rocks"}, DecodeCase{u"&amp &lt;", u"&amp <"},
        DecodeCase{u"&#233 x", u"&#233 x"},
        // The stopping character belongs to the candidate and is not examined again.
        DecodeCase{u"&&amp;", u"&&amp;"}, DecodeCase{u"&#&amp;", u"&#&amp;"},
        DecodeCase{u"& &amp;", u"& &"},
        // Unknown names and empty references stay.
        DecodeCase{u"&bogus;", u"&bogus;"}, DecodeCase{u"&;", u"&;"}, DecodeCase{u"&#;", u"&#;"},
        // Lone ampersands at the end.
        DecodeCase{u"fish &", u"fish &"}, DecodeCase{u"fish &#", u"fish &#"},
        DecodeCase{u"&", u"&"},
        // One pass only.
        DecodeCase{u"&amp;lt;", u"&lt;"}, DecodeCase{u"&amp;amp;", u"&amp;"},
        // Markup and text without references are left alone.
        DecodeCase{u"<b>bold</b>", u"<b>bold</b>"}, DecodeCase{u"", u""},
        DecodeCase{u"\u00E9\U0001F600", u"\u00E9\U0001F600"}));

TEST(HtmlEntityValueTest, KnowsTheHtml4NamesAndApostrophe) {
    EXPECT_EQ(HtmlEntityValue("nbsp"), 160);
    EXPECT_EQ(HtmlEntityValue("apos"), 39);
    EXPECT_EQ(HtmlEntityValue("Aacute"), 193);
    EXPECT_EQ(HtmlEntityValue("zwnj"), 8204);
    EXPECT_EQ(HtmlEntityValue("thetasym"), 977);
    EXPECT_EQ(HtmlEntityValue("NBSP"), 0);
    EXPECT_EQ(HtmlEntityValue(""), 0);
    EXPECT_EQ(HtmlEntityValue("nbs"), 0);
    EXPECT_EQ(HtmlEntityValue("nbspx"), 0);
}

} // namespace
