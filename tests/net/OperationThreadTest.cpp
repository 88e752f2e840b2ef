#include "net/OperationThread.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

// A worker whose operation the test supplies; it sees the protected parts.
class TTestOperation : public TOperationThread {
public:
    explicit TTestOperation(std::function<void(TTestOperation&)> work) : m_work(std::move(work)) {}
    ~TTestOperation() override { StopAndWait(); }

    using TOperationThread::CheckStopped;
    using TOperationThread::Notify;

    // Checks for a stop request until one comes; records how the work ended.
    void RunUntilStopped(QSemaphore& running) {
        running.release();
        try {
            for (;;) {
                CheckStopped();
                QThread::msleep(1);
            }
        } catch (const EOperationStopped&) {
            stopped = true;
            throw;
        }
    }

    std::atomic<bool> stopped{false};

protected:
    void DoOperation() override { m_work(*this); }

private:
    std::function<void(TTestOperation&)> m_work;
};

struct Report {
    quint16 kind, identifier;
    quint32 value;
    bool onMainThread;
    bool operator==(const Report&) const = default;
};

// Collects the worker's reports on the main thread.
struct Collector : QObject {
    explicit Collector(TOperationThread& worker) {
        connect(&worker, &TOperationThread::OperationProgress, this,
                [this](quint16 kind, quint16 identifier, quint32 value) {
                    reports.append(
                        {kind, identifier, value, QThread::currentThread() == qApp->thread()});
                });
    }
    bool WaitForFinished() {
        return QTest::qWaitFor(
            [this] {
                return !reports.isEmpty() && reports.last().kind == TOperationThread::kindFinished;
            },
            10000);
    }
    QList<Report> reports;
};

TEST(OperationThread, ReportsReachTheMainThreadAndFinishedComesLast) {
    TTestOperation worker([](TTestOperation& self) {
        self.Notify(1, 100);
        self.Notify(2, 40);
    });
    Collector collector(worker);
    worker.start();
    ASSERT_TRUE(collector.WaitForFinished());
    EXPECT_EQ(collector.reports,
              (QList<Report>{{1, 0, 100, true}, {2, 0, 40, true}, {5, 0, 0, true}}));
}

TEST(OperationThread, WhateverTheOperationRaisesIsSwallowedAndFinishedStillReported) {
    const QList<std::function<void(TTestOperation&)>> failures{
        [](TTestOperation&) { throw Exception(QStringLiteral("broken")); },
        [](TTestOperation&) { throw std::runtime_error("broken"); },
        [](TTestOperation&) { throw 42; },
    };
    for (const auto& failure : failures) {
        TTestOperation worker(failure);
        Collector collector(worker);
        worker.start();
        ASSERT_TRUE(collector.WaitForFinished());
        EXPECT_EQ(collector.reports.size(), 1);
    }
}

TEST(OperationThread, StopEventStopsEveryRunningWorker) {
    QSemaphore running;
    TTestOperation first([&](TTestOperation& self) { self.RunUntilStopped(running); });
    TTestOperation second([&](TTestOperation& self) { self.RunUntilStopped(running); });
    Collector c1(first), c2(second);
    first.start();
    second.start();
    running.acquire(2);
    TNamedEvent::Open(kStopOperationEventName)->Set();
    ASSERT_TRUE(c1.WaitForFinished());
    ASSERT_TRUE(c2.WaitForFinished());
    EXPECT_TRUE(first.stopped);
    EXPECT_TRUE(second.stopped);
}

TEST(OperationThread, NewWorkerForgetsAnEarlierStopRequest) {
    const auto stop = TNamedEvent::Open(kStopOperationEventName);
    stop->Set();
    bool checked = false;
    TTestOperation worker([&](TTestOperation& self) {
        self.CheckStopped();
        checked = true;
    });
    EXPECT_FALSE(stop->IsSet());
    Collector collector(worker);
    worker.start();
    ASSERT_TRUE(collector.WaitForFinished());
    EXPECT_TRUE(checked);
}

TEST(OperationThread, CreatorsRequestStopsOnlyItsOwnWorker) {
    QSemaphore running;
    TTestOperation asked([&](TTestOperation& self) { self.RunUntilStopped(running); });
    TTestOperation left([&](TTestOperation& self) { self.RunUntilStopped(running); });
    Collector collector(asked);
    asked.start();
    left.start();
    running.acquire(2);
    asked.requestInterruption();
    ASSERT_TRUE(collector.WaitForFinished());
    EXPECT_TRUE(asked.stopped);
    EXPECT_FALSE(left.stopped);
    // Destroying a running worker stops it and waits.
}

} // namespace
