#include "feeds/HTMLTemplateParser.h"

#include "shell/SystemCodePage.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A parser over a template file holding text.
class TemplateFile {
public:
    explicit TemplateFile(const QByteArray& text) {
        path = dir.filePath(QStringLiteral("page.htm"));
        Write(text);
        parser.SetFileName(path);
    }
    void Write(const QByteArray& text) const {
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
    }
    QByteArray Render() {
        QByteArray out;
        rendered = parser.Render(out);
        return out;
    }

    QTemporaryDir dir;
    QString path;
    TTemplateParser parser;
    bool rendered = false;
};

struct RenderCase {
    const char* name;
    QByteArray templateText;
    QList<std::pair<QByteArray, QByteArray>> values;
    QByteArray expected;
};

void PrintTo(const RenderCase& c, std::ostream* os) {
    *os << c.name;
}

class TemplateRenderTest : public testing::TestWithParam<RenderCase> {};

TEST_P(TemplateRenderTest, FillsPlaceholdersInOnePass) {
    const RenderCase& c = GetParam();
    TemplateFile page(c.templateText);
    for (const auto& [name, value] : c.values)
        page.parser.SetValue(name, value);
    EXPECT_EQ(page.Render(), c.expected);
    EXPECT_TRUE(page.rendered);
}

const QByteArray Twenty = "abcdefghijklmnopqrst";
const QByteArray TwentyOne = "abcdefghijklmnopqrstu";

INSTANTIATE_TEST_SUITE_P(
    Cases, TemplateRenderTest,
    testing::Values(
        RenderCase{"plain", "Hello $name$!", {{"name", "World"}}, "Hello World!"},
        RenderCase{"repeated", "$a$-$a$", {{"a", "x"}}, "x-x"},
        RenderCase{
            "placeholder name ignores case", "<$Channel_Title$>", {{"channel_title", "T"}}, "<T>"},
        RenderCase{"value name ignores case", "<$channel_title$>", {{"Channel_Title", "T"}}, "<T>"},
        RenderCase{"undefined stays literally", "a $nothing$ b", {}, "a $nothing$ b"},
        RenderCase{
            "closing sign of an unknown name opens a known one", "$a$b$", {{"b", "B"}}, "$aB"},
        RenderCase{"two adjacent signs", "$$x$", {{"x", "X"}}, "$X"},
        RenderCase{"two adjacent signs with an empty name defined", "$$x", {{"", "E"}}, "Ex"},
        RenderCase{"twenty-byte name", "[$" + Twenty + "$]", {{Twenty, "ok"}}, "[ok]"},
        RenderCase{"twenty-one-byte name",
                   "[$" + TwentyOne + "$]",
                   {{TwentyOne, "ok"}},
                   "[$" + TwentyOne + "$]"},
        RenderCase{"lone sign at the end", "costs 5$", {}, "costs 5$"},
        RenderCase{"inserted text is not scanned again", "$a$", {{"a", "$b$"}, {"b", "no"}}, "$b$"},
        RenderCase{"value ending in a sign does not open a placeholder",
                   "$a$b$",
                   {{"a", "$"}, {"b", "no"}},
                   "$b$"},
        RenderCase{
            "text ends at its first zero byte", QByteArray("a$x$\0$x$", 8), {{"x", "X"}}, "aX"},
        RenderCase{"values are bytes, not escaped",
                   "$v$",
                   {{"v", "<b>&amp;</b>\xC3\xA9"}},
                   "<b>&amp;</b>\xC3\xA9"}));

} // namespace

TEST(TemplateParser, LaterValueReplacesEarlierOne) {
    TemplateFile page("$v$");
    page.parser.SetValue("v", "one");
    page.parser.SetValue("V", "two");
    EXPECT_EQ(page.Render(), "two");
}

TEST(TemplateParser, ValuesStayForLaterRendersUntilSetAgain) {
    TemplateFile page("$a$/$b$;");
    page.parser.SetValue("a", "1");
    page.parser.SetValue("b", "x");
    EXPECT_EQ(page.Render(), "1/x;");
    page.parser.SetValue("a", "2");
    EXPECT_EQ(page.Render(), "2/x;");
}

TEST(TemplateParser, RenderAppendsToTheTarget) {
    TemplateFile page("[$a$]");
    page.parser.SetValue("a", "x");
    QByteArray target = "before";
    EXPECT_TRUE(page.parser.Render(target));
    EXPECT_EQ(target, "before[x]");
}

TEST(TemplateParser, StreamTakesPrecedenceAndIsCopiedEveryTime) {
    TemplateFile page("$s$|$s$");
    QByteArray source = "<p>topics</p>";
    page.parser.SetValue("s", "value");
    page.parser.SetStream("s", source);
    source = "changed later";
    EXPECT_EQ(page.Render(), "<p>topics</p>|<p>topics</p>");
}

TEST(TemplateParser, MissingFileRendersNothingAndIsTriedAgain) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("later.htm"));
    TTemplateParser parser;
    parser.SetFileName(path);
    parser.SetValue("x", "X");
    QByteArray out = "kept";
    EXPECT_FALSE(parser.Render(out));
    EXPECT_EQ(out, "kept");

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("now $x$");
    file.close();
    out.clear();
    EXPECT_TRUE(parser.Render(out));
    EXPECT_EQ(out, "now X");
}

TEST(TemplateParser, TemplateIsReadOnceAndKept) {
    TemplateFile page("first $x$");
    page.parser.SetValue("x", "X");
    EXPECT_EQ(page.Render(), "first X");
    page.Write("second $x$");
    EXPECT_EQ(page.Render(), "first X");
    // A new name, even the same one, reads the file again.
    page.parser.SetFileName(page.path);
    EXPECT_EQ(page.Render(), "second X");
}

TEST(TemplateParser, EmptyTemplateRendersNothing) {
    TemplateFile page("");
    EXPECT_EQ(page.Render(), QByteArray());
    EXPECT_FALSE(page.rendered);
}

TEST(TemplateParser, WideValueIsUtf8WithWholeCharactersBeyondU16) {
    TemplateFile page("$v$");
    page.parser.SetWideValue("v", QString::fromUtf16(u"\u00E9"));
    EXPECT_EQ(page.Render(), "\xC3\xA9");
    // An emoji is one four-byte sequence, not two three-byte halves.
    page.parser.SetWideValue("v", QString::fromUtf16(u"\U0001F600"));
    EXPECT_EQ(page.Render(), "\xF0\x9F\x98\x80");
    // A surrogate without its partner cannot be written as UTF-8.
    page.parser.SetWideValue("v", QString(QChar(0xD83D)) + u'x');
    EXPECT_EQ(page.Render(), "\xEF\xBF\xBDx");
}

TEST(TemplateParser, ResourceNamesIgnoreCase) {
    TTemplateParser parser;
    parser.SetResourceName(QStringLiteral("channel"));
    QByteArray out;
    ASSERT_TRUE(parser.Render(out));
    EXPECT_TRUE(out.startsWith("\xEF\xBB\xBF<!DOCTYPE html>"));
    EXPECT_EQ(LoadResourceText(QStringLiteral("Channel")),
              LoadResourceText(QStringLiteral("CHANNEL")));
}

TEST(TemplateParser, ResourceModeStaysAfterANameChange) {
    TTemplateParser parser;
    parser.SetResourceName(QStringLiteral("channel_topic"));
    parser.SetResourceName(QStringLiteral("export_channel_topic"));
    EXPECT_FALSE(parser.FromFile());
    QByteArray out;
    ASSERT_TRUE(parser.Render(out));
    EXPECT_FALSE(out.contains("Open in Browser"));
}

TEST(LoadResourceText, EveryPageTemplateIsUtf8WithByteOrderMark) {
    for (const char* name : {"CHANNEL", "CHANNEL_TOPIC", "TOPIC", "EXPORT_CHANNEL",
                             "EXPORT_CHANNEL_TOPIC", "EXPORT_TOPIC", "ADDCONTENT.JS"}) {
        const QByteArray text = LoadResourceText(QString::fromLatin1(name));
        EXPECT_TRUE(text.startsWith("\xEF\xBB\xBF")) << name;
        EXPECT_TRUE(text.size() > 100) << name;
        EXPECT_TRUE(IsValidUtf8(text)) << name;
    }
}

TEST(LoadResourceText, MissingResourceIsEmpty) {
    EXPECT_EQ(LoadResourceText(QStringLiteral("no_such_template")), QByteArray());
    EXPECT_EQ(LoadResourceText(QString()), QByteArray());
}
