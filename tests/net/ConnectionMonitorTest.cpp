#include "net/ConnectionMonitor.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// A network the test switches on and off, and what the monitor said about it.
struct Bench {
    explicit Bench(bool up) : network(up), monitor([this] { return network; }) {
        QObject::connect(&monitor, &TConnectionMonitor::WentOffline, [this] { said << "offline"; });
        QObject::connect(&monitor, &TConnectionMonitor::CameBack, [this] { said << "back"; });
        QObject::connect(&monitor, &TConnectionMonitor::OnlineConfirmed,
                         [this] { said << "confirmed"; });
    }
    bool network;
    TConnectionMonitor monitor;
    QStringList said;
};

TEST(ConnectionMonitor, StartsOfflineExactlyWhenTheNetworkIsDown) {
    EXPECT_FALSE(Bench(true).monitor.Offline());
    EXPECT_TRUE(Bench(false).monitor.Offline());
}

TEST(ConnectionMonitor, LossIsAnnouncedOnceAndAReturnAfterItsConfirmation) {
    Bench b(true);
    b.monitor.CheckConnection();
    EXPECT_TRUE(b.said.isEmpty());
    b.network = false;
    b.monitor.CheckConnection();
    b.monitor.CheckConnection();
    EXPECT_EQ(b.said, QStringList{"offline"});
    EXPECT_TRUE(b.monitor.Offline());

    b.network = true;
    b.monitor.CheckConnection();
    EXPECT_FALSE(b.monitor.Offline());
    EXPECT_TRUE(b.monitor.GoOnlineTimer.isActive());
    EXPECT_EQ(b.monitor.GoOnlineTimer.interval(), 12000);
    b.monitor.ConfirmOnline();
    EXPECT_EQ(b.said, (QStringList{"offline", "back", "confirmed"}));
    EXPECT_FALSE(b.monitor.GoOnlineTimer.isActive());
}

TEST(ConnectionMonitor, ReturnThatDoesNotLastIsNotConfirmed) {
    Bench b(false);
    b.network = true;
    b.monitor.CheckConnection();
    b.network = false;
    b.monitor.ConfirmOnline();
    EXPECT_EQ(b.said, QStringList{"back"});
    EXPECT_TRUE(b.monitor.Offline());
}

TEST(ConnectionMonitor, LossDuringTheConfirmationCancelsIt) {
    Bench b(false);
    b.network = true;
    b.monitor.CheckConnection();
    b.network = false;
    b.monitor.CheckConnection();
    EXPECT_FALSE(b.monitor.GoOnlineTimer.isActive());
    EXPECT_EQ(b.said, (QStringList{"back", "offline"}));
}

TEST(ConnectionMonitor, ChecksEverySecondOnceStarted) {
    Bench b(true);
    EXPECT_FALSE(b.monitor.ConnectionCheckTimer.isActive());
    b.monitor.Start();
    EXPECT_TRUE(b.monitor.ConnectionCheckTimer.isActive());
    EXPECT_EQ(b.monitor.ConnectionCheckTimer.interval(), 1000);
}

} // namespace
