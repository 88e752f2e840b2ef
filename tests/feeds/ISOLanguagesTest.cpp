#include "feeds/ISOLanguages.h"

#include <QSet>
#include <gtest/gtest.h>

namespace {

TEST(ISOLanguages, TableHasEveryLanguageOnce) {
    const auto rows = TISOLanguages::Rows();
    ASSERT_EQ(rows.size(), 136u);
    QSet<QString> codes;
    QSet<quint16> ids;
    for (const TISOLanguage& row : rows) {
        codes.insert(QString::fromLatin1(row.Code).toLower());
        ids.insert(row.LangId);
        EXPECT_NE(QByteArrayView(row.Name), QByteArrayView()) << row.Code;
    }
    EXPECT_EQ(codes.size(), 136);
    EXPECT_EQ(ids.size(), 136);
    EXPECT_STREQ(rows.front().Code, "af-ZA");
    EXPECT_STREQ(rows.back().Code, "vi-VN");
}

struct CodeCase {
    const char16_t* given;
    const char* expected;
};

class LanguageCodeTest : public testing::TestWithParam<CodeCase> {};

TEST_P(LanguageCodeTest, FeedLanguageBecomesTheTablesCode) {
    EXPECT_EQ(TISOLanguages::CodeOf(QStringView(GetParam().given)),
              QLatin1String(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Codes, LanguageCodeTest,
                         testing::Values(CodeCase{u"en-US", "en-US"}, CodeCase{u"EN-us", "en-US"},
                                         CodeCase{u"de-de", "de-DE"},
                                         CodeCase{u"  fr-CA ", "fr-CA"},
                                         CodeCase{u"zh-chs", "zh-CHS"},
                                         CodeCase{u"cy-SR-sp", "Cy-sr-SP"},
                                         // Bare languages and unknown codes are English.
                                         CodeCase{u"en", "en-US"}, CodeCase{u"de", "en-US"},
                                         CodeCase{u"xx-YY", "en-US"}, CodeCase{u"", "en-US"}));

TEST(ISOLanguages, LanguageIdentifiersFindTheirRow) {
    EXPECT_STREQ(TISOLanguages::Row(TISOLanguages::IndexOfLangId(1031)).Code, "de-DE");
    EXPECT_STREQ(TISOLanguages::Row(TISOLanguages::IndexOfLangId(4)).Code, "zh-CHS");
    EXPECT_STREQ(TISOLanguages::Row(TISOLanguages::IndexOfLangId(1066)).Code, "vi-VN");
    EXPECT_STREQ(TISOLanguages::Row(TISOLanguages::IndexOfLangId(9999)).Code, "en-US");
}

} // namespace
