#include "shell/MessageFormat.h"

#include <gtest/gtest.h>

namespace {

struct FormatCase {
    const char* what;
    const char* format;
    std::function<QString(const QString&)> fill;
    const char* expected;
};

class MessageFormatting : public testing::TestWithParam<FormatCase> {};

TEST_P(MessageFormatting, FillsTheSpecifiers) {
    EXPECT_EQ(GetParam().fill(QString::fromUtf8(GetParam().format)),
              QString::fromUtf8(GetParam().expected))
        << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageFormatting,
    testing::Values(
        FormatCase{"a text", "Add Feed To %s", [](auto f) { return FormatMessage(f, {"Acme"}); },
                   "Add Feed To Acme"},
        FormatCase{"a number", "%d channel(s) updated",
                   [](auto f) { return FormatMessage(f, {3}); }, "3 channel(s) updated"},
        FormatCase{"a percentage with one decimal", "%.1f%%",
                   [](auto f) { return FormatMessage(f, {42.25}); }, "42.3%"},
        FormatCase{"several values in order", "%s in %s (%d)",
                   [](auto f) {
                       return FormatMessage(f, {"News", "Tech", 12});
                   },
                   "News in Tech (12)"},
        FormatCase{"a feed text holding specifiers is inserted as it is", "New content: %s",
                   [](auto f) { return FormatMessage(f, {"100%s %d %% done"}); },
                   "New content: 100%s %d %% done"},
        FormatCase{"a specifier without a value stays", "%s and %s",
                   [](auto f) { return FormatMessage(f, {"one"}); }, "one and %s"},
        FormatCase{"an unknown type stays", "%q %s", [](auto f) { return FormatMessage(f, {"x"}); },
                   "%q x"},
        FormatCase{"a lone percent sign at the end stays", "50%",
                   [](auto f) { return FormatMessage(f, {}); }, "50%"},
        FormatCase{"an absurd width stays as written", "%99999999d",
                   [](auto f) { return FormatMessage(f, {1}); }, "%99999999d"},
        FormatCase{"a text where a number belongs is shown as it is", "%d bytes",
                   [](auto f) { return FormatMessage(f, {"many"}); }, "many bytes"},
        FormatCase{"a number where a text belongs", "%s (%s)",
                   [](auto f) {
                       return FormatMessage(f, {"News", 7});
                   },
                   "News (7)"},
        FormatCase{"indexed values let translators reorder", "%1:s von %0:s",
                   [](auto f) {
                       return FormatMessage(f, {"A", "B"});
                   },
                   "B von A"},
        FormatCase{"after an indexed value the next one follows it", "%2:s %s",
                   [](auto f) {
                       return FormatMessage(f, {"A", "B", "C", "D"});
                   },
                   "C D"},
        FormatCase{"an index past the values stays", "%5:s",
                   [](auto f) { return FormatMessage(f, {"A"}); }, "%5:s"},
        FormatCase{"width pads on the left, minus on the right", "[%5d][%-4s]",
                   [](auto f) {
                       return FormatMessage(f, {42, "ab"});
                   },
                   "[   42][ab  ]"},
        FormatCase{"precision on integers is a least digit count", "%.3d|%.3d",
                   [](auto f) {
                       return FormatMessage(f, {7, -7});
                   },
                   "007|-007"},
        FormatCase{"precision on texts cuts them", "%.2s",
                   [](auto f) { return FormatMessage(f, {"abcdef"}); }, "ab"},
        FormatCase{"hexadecimal is upper case", "%x",
                   [](auto f) { return FormatMessage(f, {255}); }, "FF"},
        FormatCase{"fixed takes two decimals by default", "%f",
                   [](auto f) { return FormatMessage(f, {2.5}); }, "2.50"},
        FormatCase{"thousands separators", "%n",
                   [](auto f) { return FormatMessage(f, {1234567.891}); }, "1,234,567.89"},
        FormatCase{"an integer for a fixed number", "%.1f",
                   [](auto f) { return FormatMessage(f, {3}); }, "3.0"},
        FormatCase{"a fraction for an integer is cut", "%d",
                   [](auto f) { return FormatMessage(f, {3.9}); }, "3"},
        FormatCase{"8-bit texts in the old code page", "%s",
                   [](auto f) { return FormatMessage(f, {QByteArray("caf\xE9")}); }, "café"},
        FormatCase{"the smallest integer", "%d",
                   [](auto f) { return FormatMessage(f, {std::numeric_limits<qint64>::min()}); },
                   "-9223372036854775808"}));

} // namespace
