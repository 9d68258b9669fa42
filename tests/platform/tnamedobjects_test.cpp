#include "platform/tnamedobjects.h"

#include <QUuid>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

using namespace platform;

namespace {

QString UniqueName() {
    return QStringLiteral("test.") + QUuid::createUuid().toString();
}

// Runs f on a thread of its own and returns its result.
template <typename F> auto OnOtherThread(F f) {
    return std::async(std::launch::async, f).get();
}

} // namespace

TEST(NamedMutex, HandlesOfOneNameShareOneMutexOwnedByAThread) {
    const QString name = UniqueName();
    TMutex mine(name, true);
    EXPECT_FALSE(mine.Existed());
    EXPECT_TRUE(OnOtherThread([&] {
        TMutex theirs(name);
        return theirs.Existed() && !theirs.WaitFor(20) && !theirs.Release();
    }));
    EXPECT_TRUE(mine.Release());
    EXPECT_TRUE(OnOtherThread([&] {
        TMutex theirs(name);
        return theirs.WaitFor(1000) && theirs.Release();
    }));
}

TEST(NamedMutex, OwnerMayAcquireAgainAndReleasesAsOftenAsItAcquired) {
    const QString name = UniqueName();
    TMutex mutex(name);
    ASSERT_TRUE(mutex.WaitFor(0));
    ASSERT_TRUE(mutex.WaitFor(0));
    EXPECT_TRUE(mutex.Release());
    EXPECT_FALSE(OnOtherThread([&] { return TMutex(name).WaitFor(0); }));
    EXPECT_TRUE(mutex.Release());
    EXPECT_FALSE(mutex.Release());
    EXPECT_TRUE(OnOtherThread([&] {
        TMutex theirs(name);
        return theirs.WaitFor(0) && theirs.Release();
    }));
}

TEST(NamedMutex, WaiterWakesWhenTheOwnerReleases) {
    const QString name = UniqueName();
    TMutex mine(name, true);
    auto waiter = std::async(std::launch::async, [&] {
        TMutex theirs(name);
        const bool acquired = theirs.WaitFor(kInfinite);
        theirs.Release();
        return acquired;
    });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    mine.Release();
    EXPECT_TRUE(waiter.get());
}

TEST(NamedMutex, AbandonedByItsEndedOwnerIsNotAcquiredOnceThenFree) {
    const QString name = UniqueName();
    TMutex mutex(name);
    std::thread([&] { ASSERT_TRUE(TMutex(name).WaitFor(0)); }).join();
    EXPECT_FALSE(mutex.WaitFor(1000));
    EXPECT_TRUE(mutex.WaitFor(0));
    EXPECT_TRUE(mutex.Release());
}

TEST(NamedMutex, InitialOwnershipOnlyForTheCreator) {
    const QString name = UniqueName();
    std::promise<void> created, done;
    std::thread owner([&] {
        TMutex theirs(name, true);
        created.set_value();
        done.get_future().wait();
        theirs.Release();
    });
    created.get_future().wait();
    TMutex mine(name, true);
    EXPECT_TRUE(mine.Existed());
    EXPECT_FALSE(mine.Release());
    EXPECT_FALSE(mine.WaitFor(0));
    done.set_value();
    owner.join();
    EXPECT_TRUE(mine.WaitFor(1000));
    mine.Release();
}

TEST(NamedObjects, NameIsFreeAgainOnceTheLastHandleCloses) {
    const QString name = UniqueName();
    {
        TEvent event(name, true);
        TEvent second(name);
        EXPECT_TRUE(second.Existed());
    }
    TEvent again(name);
    EXPECT_FALSE(again.Existed());
    EXPECT_FALSE(again.WaitFor(0));
}

TEST(NamedObjects, EmptyNamesAreNeverShared) {
    TEvent first((QString()));
    TEvent second((QString()));
    first.Set();
    EXPECT_FALSE(second.Existed());
    EXPECT_FALSE(second.WaitFor(0));
}

TEST(NamedEvent, StaysSignalledForEveryWaiterUntilReset) {
    const QString name = UniqueName();
    TEvent event(name);
    EXPECT_FALSE(event.WaitFor(10));
    auto waiter = std::async(std::launch::async, [&] { return TEvent(name).WaitFor(kInfinite); });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
    TEvent(name).Set();
    EXPECT_TRUE(waiter.get());
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_TRUE(event.WaitFor(0));
    event.Reset();
    EXPECT_FALSE(event.WaitFor(0));
}
