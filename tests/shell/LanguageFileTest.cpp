#include "shell/LanguageFile.h"

#include <gtest/gtest.h>

namespace {

TEST(LanguageFile, ReadsIdentifierNameConstantsAndWindows) {
    const auto content =
        ParseLanguageFile("\xEF\xBB\xBF; German\r\n"
                          "LANGID=1031\r\n"
                          "Name = Deutsch\r\n"
                          "\r\n"
                          "[Constants]\r\n"
                          "SCountdown=Dieses Fenster schließt in %d Sekunde(n). \r\n"
                          "  SStatusSearching = Suche...\r\n"
                          "[frmMain]\r\n"
                          "actRefresh.Caption=&Aktualisieren\r\n"
                          "Caption=Hauptfenster\r\n");
    ASSERT_TRUE(content);
    EXPECT_EQ(content->LanguageId, quint16(1031));
    EXPECT_EQ(content->Name, QStringLiteral("Deutsch"));
    // The text keeps everything after "=", spaces included.
    EXPECT_EQ(content->Constants.value(QStringLiteral("SCountdown")),
              QString::fromUtf8("Dieses Fenster schließt in %d Sekunde(n). "));
    EXPECT_EQ(content->Constants.value(QStringLiteral("SStatusSearching")),
              QStringLiteral(" Suche..."));
    const TWindowTexts main = content->Windows.value(QStringLiteral("frmMain"));
    EXPECT_EQ(main.value(QStringLiteral("actRefresh.Caption")), QStringLiteral("&Aktualisieren"));
    EXPECT_EQ(main.value(QStringLiteral("Caption")), QStringLiteral("Hauptfenster"));
}

TEST(LanguageFile, UnescapesLineBreaksTabsAndBackslashesOnly) {
    const auto content =
        ParseLanguageFile("LANGID=7\n[Constants]\nA=one\\ntwo\\tthree \\\\ C:\\dir\n");
    ASSERT_TRUE(content);
    EXPECT_EQ(content->Constants.value(QStringLiteral("A")),
              QStringLiteral("one\ntwo\tthree \\ C:\\dir"));
}

TEST(LanguageFile, EscapingRoundTrips) {
    const QString text = QStringLiteral("a\\b\nc\td \\n");
    EXPECT_EQ(UnescapeLanguageText(EscapeLanguageText(text)), text);
    EXPECT_FALSE(EscapeLanguageText(text).contains(u'\n'));
}

struct MalformedCase {
    const char* what;
    QByteArray bytes;
};

class MalformedLanguageFiles : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedLanguageFiles, AreRejected) {
    EXPECT_FALSE(ParseLanguageFile(GetParam().bytes)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedLanguageFiles,
    testing::Values(MalformedCase{"not UTF-8", "LANGID=1031\n[Constants]\nA=caf\xE9\n"},
                    MalformedCase{"a line without =", "LANGID=1031\n[Constants]\njust words\n"},
                    MalformedCase{"an empty name", "LANGID=1031\n[Constants]\n=text\n"},
                    MalformedCase{"a section without a name", "LANGID=1031\n[ ]\n"},
                    MalformedCase{"an unclosed section", "LANGID=1031\n[Constants\n"},
                    MalformedCase{"a binary file", QByteArray("\x00\x01\x02\x03", 4)},
                    MalformedCase{"too large",
                                  "LANGID=1031\n;" + QByteArray(MaxLanguageFileSize, 'x')}));

struct IdCase {
    const char* text;
    std::optional<quint16> id;
};

class LanguageIdentifiers : public testing::TestWithParam<IdCase> {};

TEST_P(LanguageIdentifiers, AreNumbersFrom1To65535) {
    EXPECT_EQ(ParseLanguageId(QString::fromUtf8(GetParam().text)), GetParam().id)
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LanguageIdentifiers,
    testing::Values(IdCase{"1031", 1031}, IdCase{" 1049 ", 1049}, IdCase{"0x0407", 1031},
                    IdCase{"$0419", 1049}, IdCase{"0", std::nullopt}, IdCase{"", std::nullopt},
                    IdCase{"German", std::nullopt}, IdCase{"-1031", std::nullopt},
                    IdCase{"65536", std::nullopt}, IdCase{"1031x", std::nullopt}));

TEST(LanguageFile, AFileWithoutIdentifierParsesWithoutOne) {
    const auto content = ParseLanguageFile("[Constants]\nA=b\n");
    ASSERT_TRUE(content);
    EXPECT_FALSE(content->LanguageId);
}

} // namespace
