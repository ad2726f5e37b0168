// The recursive lock: recursion, mutual exclusion and the owner check.
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

class RecursiveLockSpin : public ::testing::TestWithParam<unsigned> {};

TEST_P(RecursiveLockSpin, RecursesAndExcludesOtherThreads) {
    plat::RecursiveLock lock(GetParam());
    EXPECT_FALSE(lock.heldByCurrentThread());
    lock.lock();
    lock.lock();
    EXPECT_TRUE(lock.tryLock());
    EXPECT_TRUE(lock.heldByCurrentThread());

    auto otherCanTake = [&] {
        bool took = false;
        bool heldThere = true;
        std::thread t([&] {
            heldThere = lock.heldByCurrentThread();
            took = lock.tryLock();
            if (took) lock.unlock();
        });
        t.join();
        EXPECT_FALSE(heldThere);
        return took;
    };
    EXPECT_FALSE(otherCanTake());
    lock.unlock();
    lock.unlock();
    EXPECT_TRUE(lock.heldByCurrentThread());
    EXPECT_FALSE(otherCanTake());
    lock.unlock();
    EXPECT_FALSE(lock.heldByCurrentThread());
    EXPECT_TRUE(otherCanTake());
}

TEST_P(RecursiveLockSpin, MutualExclusionUnderContention) {
    plat::RecursiveLock lock(GetParam());
    constexpr int kThreads = 4;
    constexpr int kIterations = 20000;
    long counter = 0;  // plain data: only the lock protects it
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kIterations; ++i) {
                std::lock_guard<plat::RecursiveLock> outer(lock);
                if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                {
                    std::lock_guard<plat::RecursiveLock> inner(lock);
                    ++counter;
                }
                inside.fetch_sub(1);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kIterations);
    EXPECT_EQ(overlaps.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(SpinCounts, RecursiveLockSpin, ::testing::Values(0u, 200u),
                         [](const auto& info) { return "Spin" + std::to_string(info.param); });

class RecursiveLockDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(RecursiveLockDeathTest, UnlockByNonOwnerAborts) {
    EXPECT_DEATH(
        {
            plat::RecursiveLock lock;
            lock.lock();
            std::thread intruder([&] { lock.unlock(); });
            intruder.join();
        },
        "does not own");
}

TEST_F(RecursiveLockDeathTest, UnlockOfUnheldLockAborts) {
    EXPECT_DEATH(
        {
            plat::RecursiveLock lock;
            lock.lock();
            lock.unlock();
            lock.unlock();
        },
        "does not own");
}

}  // namespace
