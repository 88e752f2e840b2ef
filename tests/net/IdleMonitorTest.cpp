#include "net/IdleMonitor.h"

#include "shell/ReaderConfig.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

constexpr quint32 kMinute = 60000;

struct Bench {
    Bench() : monitor([this] { return idle; }, &configuration) {
        configuration.IdleTime = 15;
        QObject::connect(&monitor, &TIdleMonitor::UserWentAway, [this] { said << "away"; });
        QObject::connect(&monitor, &TIdleMonitor::UserCameBack, [this] { said << "back"; });
    }
    quint32 idle = 0;
    TConfiguration configuration;
    TIdleMonitor monitor;
    QStringList said;
};

TEST(IdleMonitor, DownloadsStartAfterTheIdleTimeAndStopWhenTheUserReturns) {
    Bench b;
    b.idle = 15 * kMinute; // not yet above the threshold
    b.monitor.Tick();
    EXPECT_TRUE(b.said.isEmpty());
    b.idle = 15 * kMinute + 10000;
    b.monitor.Tick();
    b.monitor.Tick();
    EXPECT_EQ(b.said, QStringList{"away"});
    EXPECT_TRUE(b.monitor.IdleDownloading());
    b.idle = 3000; // a key press
    b.monitor.Tick();
    EXPECT_EQ(b.said, (QStringList{"away", "back"}));
    EXPECT_FALSE(b.monitor.IdleDownloading());
}

TEST(IdleMonitor, NothingStartsWhileDownloadsAreSwitchedOff) {
    Bench b;
    b.configuration.NoDownloads = true;
    b.idle = 60 * kMinute;
    b.monitor.Tick();
    EXPECT_TRUE(b.said.isEmpty());
    EXPECT_FALSE(b.monitor.IdleDownloading());
}

TEST(IdleMonitor, ReturnIsNoticedEvenAfterDownloadsWereSwitchedOff) {
    Bench b;
    b.idle = 20 * kMinute;
    b.monitor.Tick();
    b.configuration.NoDownloads = true;
    b.idle = 0;
    b.monitor.Tick();
    EXPECT_EQ(b.said, (QStringList{"away", "back"}));
    EXPECT_FALSE(b.monitor.IdleDownloading());
}

TEST(IdleMonitor, ThresholdFollowsTheSettingAtEveryTick) {
    Bench b;
    b.idle = 2 * kMinute;
    b.monitor.Tick();
    EXPECT_TRUE(b.said.isEmpty());
    b.configuration.IdleTime = 1;
    b.monitor.Tick();
    EXPECT_EQ(b.said, QStringList{"away"});
}

TEST(IdleMonitor, LooksEveryTenSecondsOnceStarted) {
    Bench b;
    b.monitor.Start();
    EXPECT_TRUE(b.monitor.IdleMonitorTimer.isActive());
    EXPECT_EQ(b.monitor.IdleMonitorTimer.interval(), 10000);
}

} // namespace
