#include "net/Mutex.h"

#include <QSemaphore>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// Runs work on a thread of its own and waits for it.
template <typename F> void OnOtherThread(F work) {
    std::unique_ptr<QThread> thread(QThread::create(std::move(work)));
    thread->start();
    thread->wait();
}

TEST(Mutex, AcquireWithoutWaitFailsAtOnceWhileAnotherThreadHoldsIt) {
    TMutex mutex(QStringLiteral("test.held"), false);
    ASSERT_TRUE(mutex.Acquire(0));
    bool other = true;
    OnOtherThread([&] { other = mutex.Acquire(0); });
    EXPECT_FALSE(other);
    EXPECT_TRUE(mutex.Release());
    OnOtherThread([&] {
        other = mutex.Acquire(0);
        mutex.Release();
    });
    EXPECT_TRUE(other);
}

TEST(Mutex, MutexesOfTheSameNameAreOne) {
    TMutex first(kDocumentAccessMutexName, false);
    TMutex second(kDocumentAccessMutexName, false);
    TMutex unrelated(QStringLiteral("test.unrelated"), false);
    ASSERT_TRUE(first.Acquire(0));
    bool sameName = true, otherName = false;
    OnOtherThread([&] {
        sameName = second.Acquire(0);
        otherName = unrelated.Acquire(0);
        unrelated.Release();
    });
    EXPECT_FALSE(sameName);
    EXPECT_TRUE(otherName);
    first.Release();
}

TEST(Mutex, OwnerAcquiresAgainAndReleasesAsOften) {
    TMutex mutex(QStringLiteral("test.nested"), false);
    ASSERT_TRUE(mutex.Acquire(0));
    ASSERT_TRUE(mutex.Acquire(0));
    EXPECT_TRUE(mutex.Release());
    bool other = true;
    OnOtherThread([&] { other = mutex.Acquire(0); });
    EXPECT_FALSE(other) << "still held once";
    EXPECT_TRUE(mutex.Release());
    EXPECT_FALSE(mutex.Release()) << "released more often than acquired";
}

TEST(Mutex, OnlyTheOwnerReleases) {
    TMutex mutex(QStringLiteral("test.owner"), false);
    ASSERT_TRUE(mutex.Acquire(0));
    bool released = true;
    OnOtherThread([&] { released = mutex.Release(); });
    EXPECT_FALSE(released);
    EXPECT_TRUE(mutex.Release());
}

TEST(Mutex, InitiallyOwnedOnlyByTheThreadThatCreatedIt) {
    TMutex creator(QStringLiteral("test.initial"), true);
    bool other = true;
    OnOtherThread([&] {
        TMutex opener(QStringLiteral("test.initial"), true);
        other = opener.Acquire(0);
    });
    EXPECT_FALSE(other);
    EXPECT_TRUE(creator.Release());
}

TEST(Mutex, WaitingAcquireGetsTheMutexWhenItIsReleased) {
    TMutex mutex(QStringLiteral("test.wait"), false);
    QSemaphore held, release;
    std::unique_ptr<QThread> holder(QThread::create([&] {
        mutex.Acquire(0);
        held.release();
        release.acquire();
        mutex.Release();
    }));
    holder->start();
    held.acquire();
    EXPECT_FALSE(mutex.Acquire(0));
    release.release();
    EXPECT_TRUE(mutex.Acquire(-1));
    mutex.Release();
    holder->wait();
}

TEST(Mutex, LockerReleasesWhatItAcquired) {
    TMutex mutex(QStringLiteral("test.locker"), false);
    {
        TMutexLocker lock(mutex, 0);
        EXPECT_TRUE(lock.Owned());
    }
    bool other = false;
    OnOtherThread([&] {
        other = mutex.Acquire(0);
        mutex.Release();
    });
    EXPECT_TRUE(other);
}

TEST(NamedEvent, EventsOfTheSameNameShareTheirState) {
    const auto first = TNamedEvent::Open(QStringLiteral("test.event"));
    const auto second = TNamedEvent::Open(QStringLiteral("test.event"));
    const auto other = TNamedEvent::Open(QStringLiteral("test.other"));
    EXPECT_FALSE(second->IsSet());
    first->Set();
    EXPECT_TRUE(second->IsSet());
    EXPECT_TRUE(second->Wait(0));
    EXPECT_FALSE(other->IsSet());
    second->Reset();
    EXPECT_FALSE(first->IsSet());
}

TEST(NamedEvent, NameNobodyHoldsOpensAFreshEvent) {
    TNamedEvent::Open(QStringLiteral("test.fresh"))->Set();
    EXPECT_FALSE(TNamedEvent::Open(QStringLiteral("test.fresh"))->IsSet());
}

TEST(NamedEvent, WaiterWakesWhenAnotherThreadSetsIt) {
    const auto event = TNamedEvent::Open(QStringLiteral("test.wake"));
    EXPECT_FALSE(event->Wait(0));
    std::unique_ptr<QThread> setter(
        QThread::create([] { TNamedEvent::Open(QStringLiteral("test.wake"))->Set(); }));
    setter->start();
    EXPECT_TRUE(event->Wait(-1));
    setter->wait();
}

} // namespace
