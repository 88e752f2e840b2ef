#include "shell/SystemCodePage.h"

#include <gtest/gtest.h>

namespace {

struct Utf8Case {
    const char* what;
    QByteArray bytes;
    bool valid;
};

class Utf8Validity : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Validity, TellsWellFormedUtf8) {
    EXPECT_EQ(IsValidUtf8(GetParam().bytes), GetParam().valid) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Validity,
    testing::Values(Utf8Case{"empty", QByteArray(), true},
                    Utf8Case{"ASCII", QByteArray("plain"), true},
                    Utf8Case{"two-byte letter", QByteArray("caf\xC3\xA9"), true},
                    Utf8Case{"four-byte emoji", QByteArray("\xF0\x9F\x98\x80"), true},
                    Utf8Case{"a Windows-1252 letter", QByteArray("caf\xE9"), false},
                    Utf8Case{"a sequence cut short", QByteArray("\xE6\x97"), false},
                    Utf8Case{"an overlong slash", QByteArray("\xC0\xAF"), false},
                    Utf8Case{"an overlong three-byte form", QByteArray("\xE0\x80\xAF"), false},
                    Utf8Case{"an encoded surrogate", QByteArray("\xED\xA0\x80"), false},
                    Utf8Case{"past U+10FFFF", QByteArray("\xF4\x90\x80\x80"), false},
                    Utf8Case{"a lone continuation byte", QByteArray("\x80"), false}));

TEST(SystemCodePage, ReadsInvalidUtf8AsWindows1252) {
    EXPECT_EQ(FromSystemCodePage(QByteArray("\x80 \x93q\x94 caf\xE9")),
              QString::fromUtf8("€ “q” café"));
    EXPECT_EQ(FromSystemCodePage(QByteArray("caf\xC3\xA9")), QString::fromUtf8("café"));
}

TEST(SystemCodePage, UndefinedWindows1252BytesBecomeC1Controls) {
    EXPECT_EQ(FromWindows1252(QByteArray("\x81\x8D\x8F\x90\x9D")),
              QString::fromUtf16(u"\u0081\u008D\u008F\u0090\u009D"));
}

TEST(SystemCodePage, NormalizingKeepsValidUtf8AndConvertsTheRest) {
    EXPECT_EQ(NormalizeSystemCodePage("n\xC3\xA4me"), QByteArray("n\xC3\xA4me"));
    EXPECT_EQ(NormalizeSystemCodePage("n\xE4me"), QByteArray("n\xC3\xA4me"));
}

} // namespace
