// Local events, waitAny and periodic timers, with real waiting threads.
#include "platform/Platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using plat::Event;
using plat::ResetMode;

// Generous bound for waits that must succeed; reaching it is a failure, not a
// measurement.
constexpr double kLong = 30.0;
constexpr double kShort = 0.02;

// Starts `thread` running `wait` and returns once it is blocked in poll, so
// that what the test does next happens while the thread waits; false when it
// never blocked.
template <class Wait>
bool startBlockedWaiter(std::thread& thread, Wait wait) {
    std::atomic<plat::ThreadId> id{0};
    thread = std::thread([&id, wait]() mutable {
        id = plat::currentThreadId();
        wait();
    });
    while (id.load() == 0) plat::sleepFor(0.001);
    return plat_test::waitUntilBlockedInPoll(id.load());
}

// Threads blocked in a wait on one event; each records whether its wait
// succeeded. start() returns once every thread is blocked in poll.
class Waiters {
public:
    Waiters(const Event& event, int count) : event_(event), results_(static_cast<std::size_t>(count)) {
        for (auto& r : results_) r.store(kWaiting);
    }
    ~Waiters() { join(); }

    void start() {
        ids_.assign(results_.size(), 0);
        std::atomic<int> started{0};
        for (std::size_t i = 0; i < results_.size(); ++i) {
            threads_.emplace_back([this, i, &started] {
                ids_[i] = plat::currentThreadId();
                started.fetch_add(1);
                results_[i] = event_.wait(kLong) ? 1 : 0;
                done_.fetch_add(1);
            });
        }
        while (started.load() < static_cast<int>(results_.size())) plat::sleepFor(0.001);
        for (plat::ThreadId id : ids_) ASSERT_TRUE(plat_test::waitUntilBlockedInPoll(id));
    }

    // Waits until `count` waiters have returned and the others are blocked
    // again, so that the count is final for the signal just given.
    void settle(int count) {
        while (done_.load() < count) plat::sleepFor(0.001);
        for (std::size_t i = 0; i < ids_.size(); ++i) {
            while (results_[i].load() == kWaiting && !plat_test::blockedInPoll(ids_[i])) plat::sleepFor(0.001);
        }
    }

    int done() const { return done_.load(); }

    void join() {
        for (auto& t : threads_) t.join();
        threads_.clear();
    }

    int succeeded() const {
        int n = 0;
        for (const auto& r : results_) n += r.load() == 1 ? 1 : 0;
        return n;
    }

private:
    static constexpr int kWaiting = -1;
    Event event_;
    std::vector<std::atomic<int>> results_;
    std::vector<plat::ThreadId> ids_;
    std::vector<std::thread> threads_;
    std::atomic<int> done_{0};
};

// ---------------------------------------------------------------- single-thread semantics

struct ModeCase {
    ResetMode mode;
    bool initiallySet;
    friend void PrintTo(const ModeCase& c, std::ostream* out) {
        *out << (c.mode == ResetMode::Auto ? "auto" : "manual") << (c.initiallySet ? ", set" : ", unset");
    }
};

class EventModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(EventModes, SetResetWaitAndTimeout) {
    const ModeCase c = GetParam();
    Event e(c.mode, c.initiallySet);
    ASSERT_TRUE(e.valid());
    EXPECT_EQ(e.mode(), c.mode);
    EXPECT_EQ(e.isSet(), c.initiallySet);
    EXPECT_EQ(e.wait(0.0), c.initiallySet);

    e.reset();
    EXPECT_FALSE(e.isSet());
    EXPECT_FALSE(e.wait(kShort));

    e.set();
    e.set();  // setting a set event changes nothing
    EXPECT_TRUE(e.isSet());
    EXPECT_TRUE(e.wait(0.0));
    // A manual event stays set for further waits; an auto event was consumed
    // by the first one, however often it had been set.
    const bool manual = c.mode == ResetMode::Manual;
    EXPECT_EQ(e.isSet(), manual);
    EXPECT_EQ(e.wait(kShort), manual);

    e.reset();
    e.reset();
    EXPECT_FALSE(e.wait(0.0));
}

TEST_P(EventModes, PulseWithoutWaitersLeavesEventReset) {
    const ModeCase c = GetParam();
    Event e(c.mode, c.initiallySet);
    e.pulse();
    EXPECT_FALSE(e.isSet());
    EXPECT_FALSE(e.wait(0.0));
}

INSTANTIATE_TEST_SUITE_P(All, EventModes,
                         ::testing::Values(ModeCase{ResetMode::Manual, false}, ModeCase{ResetMode::Manual, true},
                                           ModeCase{ResetMode::Auto, false}, ModeCase{ResetMode::Auto, true}),
                         [](const auto& info) {
                             return std::string(info.param.mode == ResetMode::Auto ? "Auto" : "Manual") +
                                    (info.param.initiallySet ? "Set" : "Unset");
                         });

TEST(EventHandles, InvalidHandleIsNeverSignalled) {
    Event none;
    EXPECT_FALSE(none.valid());
    EXPECT_FALSE(static_cast<bool>(none));
    none.set();
    none.pulse();
    EXPECT_FALSE(none.isSet());
    EXPECT_FALSE(none.wait(0.0));
}

TEST(EventHandles, CopyStaysValidAfterOriginalIsDestroyed) {
    auto original = std::make_unique<Event>(ResetMode::Auto, false);
    const Event copy = *original;
    EXPECT_EQ(copy.impl(), original->impl());
    original.reset();

    ASSERT_TRUE(copy.valid());
    std::thread setter([copy] { copy.set(); });
    EXPECT_TRUE(copy.wait(kLong));
    setter.join();
}

TEST(EventHandles, CopiesShareOneObject) {
    const Event a(ResetMode::Manual, false);
    Event b;
    b = a;
    a.set();
    EXPECT_TRUE(b.isSet());
    b.reset();
    EXPECT_FALSE(a.isSet());
}

// ---------------------------------------------------------------- threads

TEST(EventThreads, SetWakesBlockedWaiterAndPublishesData) {
    const Event e(ResetMode::Auto, false);
    int payload = 0;  // plain data handed over by the event
    int seen = -1;
    std::thread waiter;
    ASSERT_TRUE(startBlockedWaiter(waiter, [&] {
        if (e.wait(kLong)) seen = payload;
    }));
    payload = 42;
    e.set();
    waiter.join();
    EXPECT_EQ(seen, 42);
}

TEST(EventThreads, ManualSetReleasesAllWaiters) {
    const Event e(ResetMode::Manual, false);
    Waiters w(e, 4);
    w.start();
    e.set();
    w.join();
    EXPECT_EQ(w.succeeded(), 4);
    EXPECT_TRUE(e.isSet());
}

TEST(EventThreads, AutoSetReleasesExactlyOneWaiterPerSet) {
    const Event e(ResetMode::Auto, false);
    Waiters w(e, 3);
    w.start();
    for (int released = 1; released <= 3; ++released) {
        e.set();
        w.settle(released);
        EXPECT_EQ(w.done(), released);
        EXPECT_FALSE(e.isSet());
    }
    w.join();
    EXPECT_EQ(w.succeeded(), 3);
}

TEST(EventThreads, ManualPulseReleasesCurrentWaitersAndLeavesEventReset) {
    const Event e(ResetMode::Manual, false);
    Waiters w(e, 4);
    w.start();
    e.pulse();
    w.join();
    EXPECT_EQ(w.succeeded(), 4);
    EXPECT_FALSE(e.isSet());
    EXPECT_FALSE(e.wait(0.0));
}

TEST(EventThreads, AutoPulseReleasesOneWaiterAndLeavesEventReset) {
    const Event e(ResetMode::Auto, false);
    Waiters w(e, 3);
    w.start();
    for (int released = 1; released <= 3; ++released) {
        e.pulse();
        w.settle(released);
        EXPECT_EQ(w.done(), released);
        EXPECT_FALSE(e.isSet());
    }
    w.join();
    EXPECT_EQ(w.succeeded(), 3);
}

TEST(EventThreads, HandleDestroyedWhileAnotherThreadWaitsOnItsCopy) {
    auto owner = std::make_unique<Event>(ResetMode::Manual, false);
    const Event waiterCopy = *owner;
    bool result = false;
    std::thread waiter;
    ASSERT_TRUE(startBlockedWaiter(waiter, [&] { result = waiterCopy.wait(kLong); }));
    const Event setter = *owner;
    owner.reset();
    setter.set();
    waiter.join();
    EXPECT_TRUE(result);
}

// ---------------------------------------------------------------- waitAny

TEST(WaitAny, ReturnsFirstSignalledInArrayOrderAndConsumesOnlyIt) {
    const Event manualUnset(ResetMode::Manual, false);
    const Event autoSet(ResetMode::Auto, true);
    const Event manualSet(ResetMode::Manual, true);
    const Event autoSet2(ResetMode::Auto, true);
    const std::array<const plat::Waitable*, 4> objects{&manualUnset, &autoSet, &manualSet, &autoSet2};

    EXPECT_EQ(plat::waitAny(objects, 0.0), 1);
    EXPECT_FALSE(autoSet.isSet());
    EXPECT_TRUE(autoSet2.isSet());  // later objects are left alone
    EXPECT_EQ(plat::waitAny(objects, 0.0), 2);
    EXPECT_EQ(plat::waitAny(objects, 0.0), 2);  // manual: not consumed
    manualSet.reset();
    EXPECT_EQ(plat::waitAny(objects, 0.0), 3);
    EXPECT_EQ(plat::waitAny(objects, kShort), plat::kWaitTimeout);
}

TEST(WaitAny, InvalidAndNullEntriesAreNeverSignalled) {
    const Event none;
    const Event set(ResetMode::Manual, true);
    const std::array<const plat::Waitable*, 3> objects{nullptr, &none, &set};
    EXPECT_EQ(plat::waitAny(objects, 0.0), 2);

    const std::array<const plat::Waitable*, 2> onlyInvalid{nullptr, &none};
    EXPECT_EQ(plat::waitAny(onlyInvalid, kShort), plat::kWaitTimeout);
    EXPECT_EQ(plat::waitAny(onlyInvalid, plat::kWaitForever), plat::kWaitTimeout);
    EXPECT_EQ(plat::waitAny({}, 0.0), plat::kWaitTimeout);
}

TEST(WaitAny, TimesOutWhenNothingIsSignalled) {
    const Event a(ResetMode::Manual, false);
    const Event b(ResetMode::Auto, false);
    const std::array<const plat::Waitable*, 2> objects{&a, &b};
    for (double timeout : {0.0, kShort, -0.0}) {
        EXPECT_EQ(plat::waitAny(objects, timeout), plat::kWaitTimeout) << timeout;
    }
}

TEST(WaitAny, WakesForLaterObjectSetByAnotherThread) {
    const Event a(ResetMode::Auto, false);
    const Event b(ResetMode::Auto, false);
    const std::array<const plat::Waitable*, 2> objects{&a, &b};
    int result = -5;
    std::thread waiter;
    ASSERT_TRUE(startBlockedWaiter(waiter, [&] { result = plat::waitAny(objects, kLong); }));
    b.set();
    waiter.join();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(b.isSet());
}

TEST(WaitAny, PulseReachesWaiterBlockedOnSeveralObjects) {
    const Event other(ResetMode::Manual, false);
    const Event pulsed(ResetMode::Auto, false);
    const std::array<const plat::Waitable*, 2> objects{&other, &pulsed};
    int result = -5;
    std::thread waiter;
    ASSERT_TRUE(startBlockedWaiter(waiter, [&] { result = plat::waitAny(objects, kLong); }));
    pulsed.pulse();
    waiter.join();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(pulsed.isSet());
}

// Auto-reset events set many times while several threads wait on them: every
// set is taken by exactly one waiter, none is lost or taken twice.
TEST(WaitAny, ConcurrentConsumersTakeEverySignalOnce) {
    const Event work(ResetMode::Auto, false);
    const Event done(ResetMode::Manual, false);
    constexpr int kRounds = 200;
    std::atomic<int> taken{0};
    const Event ack(ResetMode::Auto, false);
    std::vector<std::thread> consumers;
    for (int i = 0; i < 3; ++i) {
        consumers.emplace_back([&] {
            const std::array<const plat::Waitable*, 2> objects{&done, &work};
            while (plat::waitAny(objects, kLong) == 1) {
                taken.fetch_add(1);
                ack.set();
            }
        });
    }
    for (int round = 0; round < kRounds; ++round) {
        work.set();
        ASSERT_TRUE(ack.wait(kLong));
    }
    done.set();
    for (auto& t : consumers) t.join();
    EXPECT_EQ(taken.load(), kRounds);
}

// ---------------------------------------------------------------- periodic timers

TEST(PeriodicTimer, TicksWhileWaitedTogetherWithEvents) {
    const Event stop(ResetMode::Manual, false);
    const plat::PeriodicTimer timer = plat::PeriodicTimer::create();
    ASSERT_TRUE(timer.valid());
    timer.arm(0.0, 0.002);
    const std::array<const plat::Waitable*, 2> objects{&stop, &timer};
    for (int tick = 0; tick < 5; ++tick) EXPECT_EQ(plat::waitAny(objects, kLong), 1);

    // Both are signalled now or soon: the event comes first in array order.
    stop.set();
    EXPECT_EQ(plat::waitAny(objects, kLong), 0);
    timer.disarm();
    EXPECT_FALSE(timer.wait(0.0));
}

TEST(PeriodicTimer, OneShotFiresOnceAndDisarmDiscardsPendingExpiry) {
    const plat::PeriodicTimer timer = plat::PeriodicTimer::create();
    timer.arm(0.0, 0.0);
    EXPECT_TRUE(timer.wait(kLong));
    EXPECT_FALSE(timer.wait(kShort));

    timer.arm(0.0, 0.0);
    plat::sleepFor(0.005);
    timer.disarm();
    EXPECT_FALSE(timer.wait(0.0));

    const plat::PeriodicTimer none;
    none.arm(0.0, 0.0);
    EXPECT_FALSE(none.wait(0.0));
}

TEST(PeriodicTimer, CopyKeepsTimerRunning) {
    plat::PeriodicTimer copy;
    {
        const plat::PeriodicTimer timer = plat::PeriodicTimer::create();
        timer.arm(0.001, 0.001);
        copy = timer;
    }
    EXPECT_TRUE(copy.wait(kLong));
    EXPECT_TRUE(copy.wait(kLong));
}

}  // namespace
