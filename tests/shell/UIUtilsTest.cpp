#include "shell/UIUtils.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class LanguageFolder {
public:
    QString Path() const { return m_dir.path(); }
    void Write(const QString& name, const QByteArray& bytes) const {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

private:
    QTemporaryDir m_dir;
};

const QByteArray German = "LANGID=1031\n"
                          "Name=Deutsch\n"
                          "[Constants]\n"
                          "SStatusSearching=Suche...\n"
                          "SNotInTheTable=ignored\n"
                          "[frmMain]\n"
                          "actRefresh.Caption=&Aktualisieren\n"
                          "BannerBig.Caption=must stay\n"
                          "N1.Caption=-\n"
                          "Notes.Hint=must stay too\n"
                          "TBXSwitcher1.Theme=Office\n"
                          "[frmPopup]\n"
                          "Caption=Neu\n"
                          "lblTitle.Caption=Neue Inhalte\n";

TEST(MessageTable, HoldsTheNinetyOneConstantsOnce) {
    const auto constants = BuiltInConstants();
    EXPECT_EQ(constants.size(), 91u);
    QSet<QString> names;
    for (const auto& c : constants)
        names.insert(QString::fromUtf8(c.Name));
    EXPECT_EQ(names.size(), 91);
}

struct TextCase {
    const char* name;
    const char* text;
};

class BuiltInTexts : public testing::TestWithParam<TextCase> {};

TEST_P(BuiltInTexts, AreKeptVerbatim) {
    TLanguageManager manager;
    EXPECT_EQ(manager.GetConstant(QString::fromUtf8(GetParam().name)),
              QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuiltInTexts,
    testing::Values(
        TextCase{SCountdown, "This window will close in %d second(s). "},
        TextCase{SAddContentTip,
                 "To add feed, right-click over its XML (RSS or Atom) link or image and select "
                 "\"Copy Shortcut\", \"Copy Link Location\" or \"Add Feed To %s\""},
        TextCase{SCaptionChangeUnsafe, "Change Unsafe Attacments List"},
        TextCase{SPromptChangeUnsafe, "Please enter new list of unsafe attachmens' extenstions:"},
        TextCase{SContentStatusDownloading, "%.1f%%"},
        TextCase{SErrorNoFreeSpace, "There's no room for %s"},
        TextCase{SCannotDownloadChannel,
                 "Document not found or invalid. Please try again or click on 'Help'"},
        TextCase{STrayIconTip, "RSS Reader"}, TextCase{SQuillmarSearchNode, "Search Results"}));

TEST(MessageTable, AnUnknownNameIsAnError) {
    try {
        GetConstant(QStringLiteral("SNoSuchThing"));
        FAIL() << "no exception";
    } catch (const ELanguageError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Constant \"SNoSuchThing\" not found"));
    }
}

TEST(MessageTable, TheTemplateIsACompleteEnglishLanguageFile) {
    const auto content = ParseLanguageFile(LanguageFileTemplate().toUtf8());
    ASSERT_TRUE(content);
    EXPECT_EQ(content->LanguageId, TLanguageManager::DefaultLanguageId);
    EXPECT_EQ(content->Constants.size(), 91);
    for (const auto& c : BuiltInConstants())
        EXPECT_EQ(content->Constants.value(QString::fromUtf8(c.Name)), QString::fromUtf8(c.Text))
            << c.Name;
}

TEST(LanguageManager, StartsInEnglish) {
    TLanguageManager manager;
    EXPECT_EQ(TLanguageManager::DefaultLanguageId, 1033);
    EXPECT_EQ(manager.LanguageId(), 1033);
    EXPECT_EQ(manager.GetConstant(SStatusSearching), QStringLiteral("Searching..."));
}

TEST(LanguageManager, SwitchesToARegisteredLanguage) {
    LanguageFolder folder;
    folder.Write(QStringLiteral("German.lng"), German);
    TLanguageManager manager;
    QSignalSpy changed(&manager, &TLanguageManager::LanguageChanged);
    EXPECT_EQ(manager.ScanForLanguageFiles(folder.Path(), QStringLiteral("*.lng"), false), 1);
    manager.SetLanguage(1031);
    EXPECT_EQ(manager.LanguageId(), 1031);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(manager.GetConstant(SStatusSearching), QStringLiteral("Suche..."));
    // A constant the file leaves out keeps its English text.
    EXPECT_EQ(manager.GetConstant(SStatusRefreshing), QStringLiteral("Refreshing channels..."));
    // Names outside the table do not become constants.
    EXPECT_THROW(manager.GetConstant(QStringLiteral("SNotInTheTable")), ELanguageError);

    manager.SetLanguage(1031);
    EXPECT_EQ(changed.count(), 1); // the same language again changes nothing
    manager.SetLanguage(1033);
    EXPECT_EQ(manager.GetConstant(SStatusSearching), QStringLiteral("Searching..."));
    EXPECT_EQ(changed.count(), 2);
}

TEST(LanguageManager, EnglishStaysWhenTheConfiguredLanguageIsEnglish) {
    LanguageFolder folder;
    folder.Write(QStringLiteral("German.lng"), German);
    folder.Write(QStringLiteral("English.lng"),
                 "LANGID=1033\n[Constants]\nSStatusSearching=Hunting...\n");
    TLanguageManager manager;
    EXPECT_EQ(manager.ScanForLanguageFiles(folder.Path(), QStringLiteral("*.lng"), false), 2);
    manager.SetLanguage(1033);
    EXPECT_EQ(manager.GetConstant(SStatusSearching), QStringLiteral("Searching..."));
}

TEST(LanguageManager, AFileInASubFolderIsNotFoundUnlessRecursive) {
    LanguageFolder folder;
    folder.Write(QStringLiteral("lang/German.lng"), German);
    TLanguageManager manager;
    EXPECT_EQ(manager.ScanForLanguageFiles(folder.Path(), QStringLiteral("*.lng"), false), 0);
    manager.SetLanguage(1031);
    EXPECT_EQ(manager.LanguageId(), 1033);
    EXPECT_EQ(manager.GetConstant(SStatusSearching), QStringLiteral("Searching..."));

    TLanguageManager recursive;
    EXPECT_EQ(recursive.ScanForLanguageFiles(folder.Path(), QStringLiteral("*.lng"), true), 1);
}

TEST(LanguageManager, SkipsFilesItCannotUse) {
    LanguageFolder folder;
    folder.Write(QStringLiteral("a-no-id.lng"), "Name=X\n[Constants]\nSStatusSearching=X\n");
    folder.Write(QStringLiteral("b-zero.lng"), "LANGID=0\n");
    folder.Write(QStringLiteral("c-word.lng"), "LANGID=French\n");
    folder.Write(QStringLiteral("d-broken.lng"), "LANGID=1036\n[Constants]\nno equals sign\n");
    folder.Write(QStringLiteral("e-latin1.lng"), "LANGID=1036\n[Constants]\nA=\xE9t\xE9\n");
    folder.Write(QStringLiteral("f-german.lng"), German);
    folder.Write(QStringLiteral("g-german-again.lng"), "LANGID=1031\n");
    folder.Write(QStringLiteral("notes.txt"), "LANGID=1040\n");
    TLanguageManager manager;
    EXPECT_EQ(manager.ScanForLanguageFiles(folder.Path(), QStringLiteral("*.lng"), false), 1);
    const auto files = manager.LanguageFiles();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].LanguageId, 1031);
    EXPECT_EQ(files[0].Name, QStringLiteral("Deutsch"));
    manager.SetLanguage(1036);
    EXPECT_EQ(manager.LanguageId(), 1033);
}

TEST(LanguageManager, AFileThatBrokeAfterScanningFallsBackToEnglish) {
    LanguageFolder folder;
    folder.Write(QStringLiteral("German.lng"), German);
    TLanguageManager manager;
    manager.ScanForLanguageFiles(folder.Path(), QStringLiteral("*.lng"), false);
    folder.Write(QStringLiteral("German.lng"), "garbage without equals\n");
    manager.SetLanguage(1031);
    EXPECT_EQ(manager.LanguageId(), 1033);
    EXPECT_EQ(manager.GetConstant(SStatusSearching), QStringLiteral("Searching..."));
}

TEST(LanguageManager, WindowTranslationsLeaveTheFixedPropertiesOut) {
    LanguageFolder folder;
    folder.Write(QStringLiteral("German.lng"), German);
    TLanguageManager manager;
    manager.ScanForLanguageFiles(folder.Path(), QStringLiteral("*.lng"), false);
    EXPECT_TRUE(manager.WindowTranslations(QStringLiteral("frmMain")).isEmpty());
    manager.SetLanguage(1031);
    const TWindowTexts main = manager.WindowTranslations(QStringLiteral("frmMain"));
    EXPECT_EQ(main.value(QStringLiteral("actRefresh.Caption")), QStringLiteral("&Aktualisieren"));
    EXPECT_FALSE(main.contains(QStringLiteral("BannerBig.Caption")));
    EXPECT_FALSE(main.contains(QStringLiteral("N1.Caption")));
    EXPECT_FALSE(main.contains(QStringLiteral("TBXSwitcher1.Theme")));
    EXPECT_TRUE(main.contains(QStringLiteral("Notes.Hint")));
    const TWindowTexts popup = manager.WindowTranslations(QStringLiteral("frmPopup"));
    EXPECT_FALSE(popup.contains(QStringLiteral("Caption")));
    EXPECT_EQ(popup.value(QStringLiteral("lblTitle.Caption")), QStringLiteral("Neue Inhalte"));
}

struct PatternCase {
    const char* window;
    const char* property;
    bool translated;
};

class UntranslatedProperties : public testing::TestWithParam<PatternCase> {};

TEST_P(UntranslatedProperties, FollowTheWindowsPatterns) {
    EXPECT_EQ(TLanguageManager::IsTranslatable(QString::fromUtf8(GetParam().window),
                                               QString::fromUtf8(GetParam().property)),
              GetParam().translated)
        << GetParam().window << ' ' << GetParam().property;
}

INSTANTIATE_TEST_SUITE_P(Cases, UntranslatedProperties,
                         testing::Values(PatternCase{"frmMain", "BannerBig.Caption", false},
                                         PatternCase{"frmMain", "BannerSmall.Hint", false},
                                         PatternCase{"frmMain", "BannerSmallBottom.Caption", false},
                                         PatternCase{"frmMain", "Browser.Anything", false},
                                         PatternCase{"frmMain", "N12.Caption", false},
                                         PatternCase{"frmMain", "N12.Hint", true},
                                         PatternCase{"frmMain", "TBXSwitcher1.Theme", false},
                                         PatternCase{"frmMain", "TBXSwitcher1.Caption", true},
                                         PatternCase{"frmMain", "Caption", true},
                                         PatternCase{"frmMain", "btnClose.Caption", true},
                                         PatternCase{"frmPopup", "btnClose.Hint", false},
                                         PatternCase{"frmPopup", "Caption", false},
                                         PatternCase{"frmPopup", "lblChannels.Caption", false},
                                         PatternCase{"frmPopup", "lblTitle.Caption", true},
                                         PatternCase{"frmAbout", "labelVersion.Caption", false},
                                         PatternCase{"frmAbout", "labelVersion.Hint", true},
                                         PatternCase{"frmAbout", "updatesChecker.Url", false},
                                         PatternCase{"frmAddChannel", "BannerBig.Caption", true}));

} // namespace
