// Locks, reference counts, per-thread slots and the thread manager.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/Lock.h"
#include "common/ReferenceCounter.h"
#include "common/SchedulerThread.h"
#include "common/ThreadData.h"

namespace sched {
namespace {

TEST(CriticalSectionLock, IsRecursiveAndExcludesOtherThreads) {
    CriticalSectionLock lock;
    long counter = 0;  // deliberately plain: the lock must make this safe
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                LockGuard outer(lock);
                LockGuard inner(lock);
                ++counter;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 8000);
}

TEST(CriticalSectionLockDeathTest, UnlockByAnotherThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CriticalSectionLock lock;
            lock.lock();
            std::thread([&] { lock.unlock(); }).join();
        },
        "");
}

class Counted : public ReferenceCounter<IReferenceCounter> {
public:
    explicit Counted(std::atomic<int>& deleted) : deleted_(deleted) {}
    ~Counted() override { deleted_.fetch_add(1); }

private:
    std::atomic<int>& deleted_;
};

TEST(ReferenceCounter, DeletesItselfWhenTheLastReferenceGoesAcrossThreads) {
    std::atomic<int> deleted{0};
    auto* object = new Counted(deleted);
    object->addReference();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                object->addReference();
                object->releaseReference();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(object->referenceCount(), 1);
    EXPECT_EQ(deleted.load(), 0);
    object->releaseReference();
    EXPECT_EQ(deleted.load(), 1);
}

struct Holder {
    static std::atomic<int> alive;
    Holder() { alive.fetch_add(1); }
    ~Holder() { alive.fetch_sub(1); }
    int value = 7;
};
std::atomic<int> Holder::alive{0};

TEST(ThreadData, ThreadsOlderThanTheSlotGetTheirValueOnFirstUseAndLoseItAtExit) {
    std::atomic<bool> slotReady{false};
    std::atomic<bool> done{false};
    ThreadData<Holder>* data = nullptr;
    // This thread exists before the slot does.
    std::thread early([&] {
        while (!slotReady.load()) {
            std::this_thread::yield();
        }
        EXPECT_EQ(data->peek(), nullptr);
        data->local().value = 42;
        EXPECT_EQ(data->local().value, 42);
        done.store(true);
    });
    data = new ThreadData<Holder>();
    ASSERT_TRUE(data->isValid());
    slotReady.store(true);
    early.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(Holder::alive.load(), 0) << "the exiting thread's value must be freed";

    EXPECT_EQ(data->local().value, 7) << "each thread has its own value";
    EXPECT_EQ(Holder::alive.load(), 1);
    data->releaseLocal();
    EXPECT_EQ(Holder::alive.load(), 0);
    delete data;
}

class NamedThread : public SchedulerThreadImp {
public:
    using SchedulerThreadImp::SchedulerThreadImp;
};

TEST(SchedulerThreadManager, FindsTheSchedulerThreadAttachedOnTheCallingThread) {
    SchedulerThreadManager& manager = SchedulerThreadManager::instance();
    NamedThread servo("Servo");
    EXPECT_EQ(manager.lookupCurrent(), nullptr);
    servo.attach();
    EXPECT_TRUE(servo.isRunning());
    EXPECT_TRUE(servo.isCurrentThread());
    EXPECT_EQ(manager.lookupCurrent(), &servo);
    std::thread([&] {
        EXPECT_EQ(manager.lookupCurrent(), nullptr);
        EXPECT_FALSE(servo.isCurrentThread());
    }).join();
    // Attaching again while running detaches first; still one entry.
    servo.attach();
    EXPECT_EQ(manager.lookupCurrent(), &servo);
    servo.detach();
    EXPECT_FALSE(servo.isRunning());
    EXPECT_EQ(manager.lookupCurrent(), nullptr);
}

}  // namespace
}  // namespace sched
