#include "net/SensApi.h"

#include <QThread>
#include <gtest/gtest.h>

namespace {

TEST(SensApi, NetworkCheckAnswersWithoutABackendOrAService) {
    // Whatever this machine offers (often no network service at all), the check
    // answers and counts "cannot tell" as reachable; a second call uses the same backend.
    const bool first = IsNetworkAvailable();
    EXPECT_EQ(IsNetworkAvailable(), first);
}

TEST(SensApi, OwnInputClockRestartsWithEachInput) {
    QThread::msleep(20);
    const quint32 before = MillisecondsSinceUserInput();
    EXPECT_GE(before, 20u);
    NoteUserInput();
    EXPECT_LT(MillisecondsSinceUserInput(), before);
}

TEST(SensApi, IdleTimeWithoutAnXSessionIsTheOwnInputClock) {
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "this test process runs in an X session";
    NoteUserInput();
    const quint32 idle = IdleMilliseconds();
    EXPECT_LE(idle, MillisecondsSinceUserInput());
    QThread::msleep(20);
    EXPECT_GE(IdleMilliseconds(), idle + 20);
}

} // namespace
