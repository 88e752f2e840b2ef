#include "ui/UserInputFilter.h"

#include "net/SensApi.h"

#include <QApplication>
#include <QKeyEvent>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

TEST(UserInputFilter, KeyPressRestartsTheIdleClockAndPassesThrough) {
    TUserInputFilter filter;
    qApp->installEventFilter(&filter);
    QWidget widget;
    QThread::msleep(30);
    const quint32 before = MillisecondsSinceUserInput();
    ASSERT_GE(before, 30u);

    QEvent paint(QEvent::UpdateRequest);
    QApplication::sendEvent(&widget, &paint);
    EXPECT_GE(MillisecondsSinceUserInput(), before) << "not an input";

    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&widget, &key);
    EXPECT_LT(MillisecondsSinceUserInput(), before);
    qApp->removeEventFilter(&filter);
}

} // namespace
