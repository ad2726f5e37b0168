// Starting and stopping the servo loop from several threads at once, the
// servo thread among them. A deadlock here cannot be recovered from, so each
// test runs under a watchdog that ends the process with a message instead of
// letting it hang.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "zv_test_support.h"

namespace zvtest {
namespace {

class Watchdog {
public:
    Watchdog(const char* what, std::chrono::seconds limit)
        : thread_([this, what, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "watchdog: %s did not finish within %lld s (deadlock)\n", what,
                               static_cast<long long>(limit.count()));
                  std::fflush(stderr);
                  std::_Exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// The callback that stops the loop: it announces itself, waits until the main
// thread is about to stop too, and stops.
struct StopRace {
    std::atomic<bool> inCallback{false};
    std::atomic<bool> mainStopping{false};
};

ZVCallbackCode stopWhenMainStops(void* data) {
    auto* race = static_cast<StopRace*>(data);
    race->inCallback = true;
    while (!race->mainStopping.load()) {
        std::this_thread::yield();
    }
    zvStopScheduler();
    return ZV_CALLBACK_DONE;
}

ZVCallbackCode keepRunning(void*) { return ZV_CALLBACK_CONTINUE; }

// Ignores what the race may legitimately raise: a start that met a running
// loop (ZV_TIMER_ERROR), a synchronous call given up on because the loop
// stopped (ZV_INVALID_OPERATION).
void drainExpected() {
    for (const ZVErrorInfo& e : drainErrors()) {
        EXPECT_TRUE(e.errorCode == ZV_TIMER_ERROR || e.errorCode == ZV_INVALID_OPERATION) << e;
    }
}

TEST(StartStop, ACallbackAndTheMainThreadStopTheLoopAtTheSameMoment) {
    ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
    Watchdog watchdog("stopping from a callback and from main", std::chrono::seconds(120));
    for (int round = 0; round < 1000; ++round) {
        zvStartScheduler();
        StopRace race;
        ASSERT_NE(zvScheduleAsynchronous(stopWhenMainStops, &race, 1), ZV_INVALID_HANDLE);
        std::thread ticker([] { korvo_sim_run_ticks(1); });
        while (!race.inCallback.load()) {
            std::this_thread::yield();
        }
        race.mainStopping = true;
        zvStopScheduler();
        ticker.join();
    }
    drainExpected();
    // The library is still usable: a new loop runs operations.
    zvStartScheduler();
    std::atomic<int> runs{0};
    std::function<void()> count = [&] { ++runs; };
    ASSERT_NE(zvScheduleAsynchronous(runOnce, &count, 1), ZV_INVALID_HANDLE);
    ASSERT_EQ(korvo_sim_run_ticks(1), 0);
    EXPECT_EQ(runs.load(), 1);
    zvStopScheduler();
    EXPECT_TRUE(drainErrors().empty());
}

// Client threads start and stop the loop at random while another asks for
// ticks and a callback stops the loop now and then. Afterwards the state is
// consistent: a stopped loop releases a synchronous call at once, a started
// one runs every tick's operations, with exactly one set of bookkeeping
// operations.
TEST(StartStop, ConcurrentStartsAndStopsLeaveAConsistentState) {
    ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
    Watchdog watchdog("concurrent starts and stops", std::chrono::seconds(120));
    std::atomic<bool> finished{false};
    std::atomic<int> tickCalls{0};
    std::atomic<unsigned> callbackStops{0};
    struct Stopper {
        std::atomic<unsigned>* counter;
        std::atomic<unsigned> seen{0};
    } stopper{&callbackStops};
    const auto stopEvery = [](void* data) -> ZVCallbackCode {
        auto* s = static_cast<Stopper*>(data);
        if (++s->seen % 7 == 0) {
            ++*s->counter;
            zvStopScheduler();
        }
        return ZV_CALLBACK_CONTINUE;
    };
    ASSERT_NE(zvScheduleAsynchronous(stopEvery, &stopper, 5), ZV_INVALID_HANDLE);

    std::thread ticker([&] {
        while (!finished.load()) {
            if (korvo_sim_run_ticks(1) != 0) {
                std::this_thread::yield();
            }
            ++tickCalls;
        }
    });
    std::vector<std::thread> clients;
    for (int id = 0; id < 3; ++id) {
        clients.emplace_back([id] {
            std::mt19937 random(static_cast<unsigned>(id) + 1);
            for (int i = 0; i < 300; ++i) {
                if (random() % 2 == 0) {
                    zvStartScheduler();
                } else {
                    zvStopScheduler();
                }
                if (random() % 4 == 0) {
                    std::function<void()> nothing = [] {};
                    zvScheduleSynchronous(runOnce, &nothing, 1);
                }
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    finished = true;
    zvStopScheduler();
    ticker.join();
    drainExpected();

    // Stopped: a synchronous callback that asks to continue is not waited for.
    int continued = 0;
    const auto continueOnce = [](void* data) -> ZVCallbackCode {
        return ++*static_cast<int*>(data) >= 2 ? ZV_CALLBACK_DONE : ZV_CALLBACK_CONTINUE;
    };
    zvScheduleSynchronous(continueOnce, &continued, 1);
    EXPECT_EQ(continued, 1);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_OPERATION}));

    // Started: ticks run, and the scheduled operations are the stopper, one
    // pair of bookkeeping operations and nothing else.
    zvStartScheduler();
    ASSERT_TRUE(drainErrors().empty());
    const ZVSchedulerHandle probe = zvScheduleAsynchronous(keepRunning, nullptr, 1);
    unsigned scheduled = 0;
    for (ZVSchedulerHandle handle = 0; handle < 1000000; ++handle) {
        if (zvWaitForCompletion(handle, ZV_WAIT_CHECK_STATUS)) {
            ++scheduled;
        }
    }
    EXPECT_EQ(scheduled, 4u) << "the stopper, the probe and two bookkeeping operations";
    zvUnschedule(probe);
    EXPECT_TRUE(drainErrors().empty());
    EXPECT_GT(tickCalls.load(), 0);
    zvStopScheduler();
}

}  // namespace
}  // namespace zvtest
