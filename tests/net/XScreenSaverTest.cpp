#include "net/XScreenSaver.h"

#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

namespace {

TEST(XScreenSaver, DisplayThatDoesNotAnswerGivesNoClock) {
    for (const QByteArray& display : {QByteArray(":4711"), QByteArray("nowhere:0.0x")}) {
        TXScreenSaver saver(display);
        EXPECT_FALSE(saver.Available());
        EXPECT_EQ(saver.IdleMilliseconds(), std::nullopt);
    }
}

TEST(XScreenSaver, SessionKindFollowsTheEnvironment) {
    struct Case {
        const char *display, *wayland, *type;
        bool x11;
    };
    const QList<Case> cases{{":0", "", "x11", true},
                            {":0", "", "", true},
                            {":0", "wayland-0", "", false},
                            {":0", "", "wayland", false},
                            {"", "", "x11", false}};
    const QByteArray saved[3] = {qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"),
                                 qgetenv("XDG_SESSION_TYPE")};
    for (const auto& c : cases) {
        qputenv("DISPLAY", c.display);
        qputenv("WAYLAND_DISPLAY", c.wayland);
        qputenv("XDG_SESSION_TYPE", c.type);
        EXPECT_EQ(IsX11Session(), c.x11) << c.display << '|' << c.wayland << '|' << c.type;
    }
    qputenv("DISPLAY", saved[0]);
    qputenv("WAYLAND_DISPLAY", saved[1]);
    qputenv("XDG_SESSION_TYPE", saved[2]);
}

TEST(XScreenSaver, VirtualXServerTellsItsIdleTime) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "no Xvfb";
    QProcess server;
    // -displayfd: the server picks a free display and writes its number to stdout.
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    ASSERT_TRUE(server.waitForStarted());
    QByteArray number;
    while (!number.contains('\n') && server.waitForReadyRead(10000))
        number += server.readAllStandardOutput();
    ASSERT_FALSE(number.trimmed().isEmpty());
    {
        TXScreenSaver saver(':' + number.trimmed());
        ASSERT_TRUE(saver.Available());
        const auto first = saver.IdleMilliseconds();
        ASSERT_TRUE(first.has_value());
        QThread::msleep(50);
        const auto second = saver.IdleMilliseconds();
        ASSERT_TRUE(second.has_value());
        EXPECT_GE(*second, *first);
    }
    server.terminate();
    server.waitForFinished();
}

} // namespace
