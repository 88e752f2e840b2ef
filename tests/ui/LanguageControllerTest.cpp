#include "ui/LanguageController.h"

#include "shell/UIUtils.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// The program's one language manager: each test returns it to English.
class LanguageControllerTest : public testing::Test {
protected:
    // The manager keeps the first file it registers for a language: one file for all.
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        QFile file(s_dir->filePath(QStringLiteral("German.lng")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("LANGID=1031\n"
                   "[frmTest]\n"
                   "Caption=Testfenster\n"
                   "lblName.Caption=&Name:\n"
                   "lblName.Hint=Der Name des Kanals\n"
                   "grpOptions.Caption=Optionen\n"
                   "actRefresh.Caption=&Aktualisieren\n"
                   "btnOk.NoSuchProperty=ignored\n"
                   "nobody.Caption=ignored\n"
                   "[frmPopup]\n"
                   "Caption=Neu\n"
                   "lblTitle.Caption=Neue Inhalte\n");
        file.close();
        TLanguageManager::Instance().ScanForLanguageFiles(s_dir->path(), QStringLiteral("*.lng"),
                                                          false);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override {
        // Built as a form is: English texts first.
        m_window.setObjectName(QStringLiteral("frmTest"));
        m_window.setWindowTitle(QStringLiteral("Test window"));
        m_label = new QLabel(QStringLiteral("&Name:"), &m_window);
        m_label->setObjectName(QStringLiteral("lblName"));
        m_group = new QGroupBox(QStringLiteral("Options"), &m_window);
        m_group->setObjectName(QStringLiteral("grpOptions"));
        m_action = new QAction(QStringLiteral("&Refresh"), &m_window);
        m_action->setObjectName(QStringLiteral("actRefresh"));
    }
    void TearDown() override { TLanguageManager::Instance().SetLanguage(1033); }

    static inline QTemporaryDir* s_dir = nullptr;
    QWidget m_window;
    QLabel* m_label = nullptr;
    QGroupBox* m_group = nullptr;
    QAction* m_action = nullptr;
};

TEST_F(LanguageControllerTest, EnglishLeavesTheFormAsItIs) {
    new TLanguageController(&m_window);
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("Test window"));
    EXPECT_EQ(m_label->text(), QStringLiteral("&Name:"));
}

TEST_F(LanguageControllerTest, TranslatesCaptionsAndHintsOfTheWindowAndItsParts) {
    TLanguageManager::Instance().SetLanguage(1031);
    new TLanguageController(&m_window);
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("Testfenster"));
    EXPECT_EQ(m_label->text(), QStringLiteral("&Name:"));
    EXPECT_EQ(m_label->toolTip(), QStringLiteral("Der Name des Kanals"));
    EXPECT_EQ(m_group->title(), QStringLiteral("Optionen"));
    EXPECT_EQ(m_action->text(), QStringLiteral("&Aktualisieren"));
}

TEST_F(LanguageControllerTest, FollowsALanguageChangeAndRestoresEnglish) {
    new TLanguageController(&m_window);
    TLanguageManager::Instance().SetLanguage(1031);
    EXPECT_EQ(m_group->title(), QStringLiteral("Optionen"));
    TLanguageManager::Instance().SetLanguage(1033);
    EXPECT_EQ(m_group->title(), QStringLiteral("Options"));
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral("Test window"));
    EXPECT_EQ(m_label->toolTip(), QString());
}

TEST_F(LanguageControllerTest, ThePopupKeepsItsCaption) {
    QWidget popup;
    popup.setObjectName(QStringLiteral("frmPopup"));
    popup.setWindowTitle(QStringLiteral("Quillmar"));
    auto* title = new QLabel(QStringLiteral("New content"), &popup);
    title->setObjectName(QStringLiteral("lblTitle"));
    TLanguageManager::Instance().SetLanguage(1031);
    new TLanguageController(&popup);
    EXPECT_EQ(popup.windowTitle(), QStringLiteral("Quillmar"));
    EXPECT_EQ(title->text(), QStringLiteral("Neue Inhalte"));
}

} // namespace
