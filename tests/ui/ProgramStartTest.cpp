// The desktop program as a user starts it: a first start comes up, a second start
// hands over and ends, a start without a display says why in one line.
#include "shell/QuillmarInstance.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

bool WaitFor(const std::function<bool()>& condition, int ms = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

TEST(ProgramStart, SecondStartEndsAndTheFirstKeepsRunning) {
    TestEnvironment env;
    QProcessEnvironment environment = env.Environment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(QUILLMAR_APP_PATH), {});
    ASSERT_TRUE(first.waitForStarted());
    const QString socket = env.RuntimeFolder() + u'/' + QLatin1String(TQuillmar::MutexName);
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(socket); }))
        << first.readAllStandardError().toStdString();

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(QUILLMAR_APP_PATH),
                 {QStringLiteral("/add"), QStringLiteral("reader://host/feed")});
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    first.waitForFinished(30000);
}

TEST(ProgramStart, WithoutADisplayTheProgramSaysSoInOneLine) {
    TestEnvironment env;
    QProcessEnvironment environment = env.Environment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUILLMAR_APP_PATH), {});
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_NE(program.exitCode(), 0);
    const QByteArray err = program.readAllStandardError();
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("xvfb-run")) << err.toStdString();
}
