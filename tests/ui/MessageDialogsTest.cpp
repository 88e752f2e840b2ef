#include "ui/MessageDialogs.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct CentreCase {
    QRect window;
    QSize dialog;
    QPoint expected;
};

class CentredPositions : public testing::TestWithParam<CentreCase> {};

TEST_P(CentredPositions, HalvesRoundTowardZero) {
    EXPECT_EQ(CenteredPosition(GetParam().window, GetParam().dialog), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CentredPositions,
    testing::Values(CentreCase{QRect(100, 50, 800, 600), QSize(300, 120), QPoint(350, 290)},
                    CentreCase{QRect(101, 51, 801, 601), QSize(301, 121), QPoint(351, 291)},
                    CentreCase{QRect(0, 0, 200, 100), QSize(400, 300), QPoint(-100, -100)},
                    CentreCase{QRect(-500, -20, 301, 41), QSize(99, 7), QPoint(-399, -3)}));

TEST(MessageDialogs, FeedTextsAreShownAsPlainText) {
    const QString text = QStringLiteral("Cannot download <b>\"News & <i>more</i>\"</b>.");
    auto box = CreateCenteredMessage(text, TMsgDlgType::Error, QMessageBox::Ok, 7, nullptr);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->text(), text);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(box->property("helpContext").toInt(), 7);
}

TEST(MessageDialogs, QuestionsAskWithYesAndNo) {
    auto box = CreateCenteredMessage(QStringLiteral("Sure?"), TMsgDlgType::Confirmation,
                                     QMessageBox::Yes | QMessageBox::No, 0, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
}

TEST(MessageDialogs, TheBoxCentresItselfOnTheWindowWhenShown) {
    // Half off the screen: the box follows the window instead of being kept on screen.
    QWidget window;
    window.setGeometry(-300, -200, 400, 300);
    window.show();
    auto box = CreateCenteredMessage(QStringLiteral("A longer message, so the box has a size"),
                                     TMsgDlgType::Information, QMessageBox::Ok, 0, &window);
    box->setWindowModality(Qt::NonModal); // shown without a modal loop
    box->show();
    EXPECT_EQ(box->frameGeometry().topLeft(),
              CenteredPosition(window.frameGeometry(), box->frameGeometry().size()));
    box->close();
}

TEST(MessageDialogs, EditsTakeTheColourOfTheirState) {
    QLineEdit edit;
    const QColor window = QApplication::palette().color(QPalette::Base);
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    ASSERT_NE(window, buttonFace);

    SetEditEnabled(&edit, false);
    EXPECT_FALSE(edit.isEnabled());
    EXPECT_EQ(edit.palette().color(QPalette::Disabled, QPalette::Base), buttonFace);
    SetEditEnabled(&edit, true);
    EXPECT_TRUE(edit.isEnabled());
    EXPECT_EQ(edit.palette().color(QPalette::Active, QPalette::Base), window);

    SetEditReadOnly(&edit, true);
    EXPECT_TRUE(edit.isReadOnly());
    EXPECT_EQ(edit.palette().color(QPalette::Active, QPalette::Base), buttonFace);
    SetEditReadOnly(&edit, false);
    EXPECT_FALSE(edit.isReadOnly());
    EXPECT_EQ(edit.palette().color(QPalette::Active, QPalette::Base), window);
}

} // namespace
