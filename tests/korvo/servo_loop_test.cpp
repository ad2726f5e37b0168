// The servo loop: exactness of the manual clock, error delivery, the rules
// about which thread may do what, and a real-time loop that starts and stops
// cleanly many times.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "sim_fixture.h"

namespace korvo_test {
namespace {

using ServoLoopTest = SimTest;

struct Counters {
    std::atomic<int> pre{0}, servo{0}, post{0};
};

int countPre(void* c) {
    static_cast<Counters*>(c)->pre++;
    return 0;
}
int countPost(void* c) {
    static_cast<Counters*>(c)->post++;
    return 0;
}

class ManualClockTest : public SimTest, public ::testing::WithParamInterface<unsigned> {};

// N ticks on the manual clock are exactly N calls of each callback and N
// periods of simulated time, and every tick reports its own start time.
TEST_P(ManualClockTest, NTicksAreNCallbacksAndNPeriods) {
    const unsigned rate = GetParam();
    ASSERT_EQ(setServoLoopRate(rate), KORVO_SERVO_OK);
    Counters counters;
    ASSERT_EQ(setPreServoCallback(countPre, &counters), 0);
    ASSERT_EQ(setPostServoCallback(countPost, &counters), 0);
    std::vector<double> stamps;
    start([&] {
        counters.servo++;
        stamps.push_back(getServoLoopTimeStamp());
    });
    run(1234);
    run(0);
    run(766);
    EXPECT_EQ(counters.pre.load(), 2000);
    EXPECT_EQ(counters.servo.load(), 2000);
    EXPECT_EQ(counters.post.load(), 2000);
    double seconds = 0;
    uint64_t ticks = 0;
    ASSERT_EQ(korvo_sim_get_time(&seconds, &ticks), 0);
    EXPECT_EQ(ticks, 2000u);
    EXPECT_DOUBLE_EQ(seconds, 2000.0 / rate);
    ASSERT_EQ(stamps.size(), 2000u);
    for (std::size_t k = 0; k < stamps.size(); ++k) ASSERT_NEAR(stamps[k], static_cast<double>(k) / rate, 1e-9);
    EXPECT_NEAR(getServoLoopTimeStamp(), 1999.0 / rate, 1e-9);
    const int h = open();
    EXPECT_FLOAT_EQ(get_korvo_inst_rate(static_cast<unsigned>(h)), static_cast<float>(rate));
    double lateness = 1;
    ASSERT_EQ(korvo_sim_get_tick_lateness(&lateness), 0);
    EXPECT_EQ(lateness, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, ManualClockTest, ::testing::Values(100u, 1000u, 4000u));

TEST_F(ServoLoopTest, RestartingBeginsTimeAgain) {
    start();
    run(10);
    ASSERT_EQ(stopServoLoop(), 0);
    start();
    run(3);
    double seconds = 0;
    uint64_t ticks = 0;
    ASSERT_EQ(korvo_sim_get_time(&seconds, &ticks), 0);
    EXPECT_EQ(ticks, 3u);
}

TEST_F(ServoLoopTest, RateOutsideTheLimitsIsRefused) {
    EXPECT_EQ(setServoLoopRate(KORVO_MIN_SERVO_RATE - 1), KORVO_SERVO_BAD_RATE);
    EXPECT_EQ(setServoLoopRate(KORVO_MAX_SERVO_RATE + 1), KORVO_SERVO_BAD_RATE);
    EXPECT_EQ(setServoLoopRate(KORVO_MIN_SERVO_RATE), KORVO_SERVO_OK);
    EXPECT_EQ(setServoLoopRate(KORVO_MAX_SERVO_RATE), KORVO_SERVO_OK);
    const int h = open();
    EXPECT_FLOAT_EQ(get_korvo_rate(static_cast<unsigned>(h)), static_cast<float>(KORVO_MAX_SERVO_RATE));
}

TEST_F(ServoLoopTest, StartAndStopReportTheLoopState) {
    EXPECT_EQ(stopServoLoop(), KORVO_SERVO_NOT_RUNNING);
    EXPECT_EQ(startServoLoop(nullptr, nullptr), KORVO_SERVO_NO_CALLBACK);
    start();
    EXPECT_EQ(startServoLoop([](void*) { return 0; }, nullptr), KORVO_SERVO_ALREADY_RUNNING);
    EXPECT_EQ(korvo_sim_set_manual_clock(0), KORVO_SIM_E_BUSY);
    EXPECT_EQ(korvo_sim_reset(), KORVO_SIM_E_BUSY);
    EXPECT_EQ(stopServoLoop(), KORVO_SERVO_OK);
    EXPECT_EQ(stopServoLoop(), KORVO_SERVO_NOT_RUNNING);
    EXPECT_EQ(korvo_sim_run_ticks(1), KORVO_SIM_E_NOT_RUNNING);
}

TEST_F(ServoLoopTest, RunTicksNeedsTheManualClock) {
    ASSERT_EQ(korvo_sim_set_manual_clock(0), 0);
    start();
    EXPECT_EQ(korvo_sim_run_ticks(1), KORVO_SIM_E_NOT_MANUAL);
}

// The servo thread may stop its own loop (the stop takes effect after the
// tick) but may not wait for ticks or start another loop.
TEST_F(ServoLoopTest, ServoThreadCanStopItsLoopButNotWaitForTicks) {
    int ticks = 0;
    int runFromServo = 0, startFromServo = 0, stopFromServo = 0, clockFromServo = 0;
    const auto body = [&] {
        if (++ticks == 5) {
            runFromServo = korvo_sim_run_ticks(1);
            startFromServo = startServoLoop([](void*) { return 0; }, nullptr);
            clockFromServo = korvo_sim_set_manual_clock(0);
            stopFromServo = stopServoLoop();
        }
    };
    start(body);
    EXPECT_EQ(korvo_sim_run_ticks(100), KORVO_SIM_E_NOT_RUNNING);
    EXPECT_EQ(ticks, 5);
    EXPECT_EQ(runFromServo, KORVO_SIM_E_WRONG_THREAD);
    EXPECT_EQ(startFromServo, KORVO_SERVO_ALREADY_RUNNING);
    EXPECT_EQ(clockFromServo, KORVO_SIM_E_BUSY);
    EXPECT_EQ(stopFromServo, KORVO_SERVO_OK);
    EXPECT_EQ(stopServoLoop(), KORVO_SERVO_OK) << "joins the loop that stopped itself";
    start(body);
    run(2);
    EXPECT_EQ(ticks, 7);
}

struct ErrorLog {
    std::vector<int> events;  // error codes, and 1 for each pre callback
};

// An injected servo error reaches the error callback at the next tick,
// before that tick's pre callback, exactly once.
TEST_F(ServoLoopTest, InjectedServoErrorIsDeliveredAtTheNextTick) {
    ErrorLog log;
    ASSERT_EQ(setServoErrorCallback([](int code, void* l) { static_cast<ErrorLog*>(l)->events.push_back(code); }, &log),
              0);
    ASSERT_EQ(setPreServoCallback(
                  [](void* l) {
                      static_cast<ErrorLog*>(l)->events.push_back(1);
                      return 0;
                  },
                  &log),
              0);
    start();
    run(1);
    ASSERT_EQ(korvo_sim_inject_servo_error(KORVO_SERVO_TIMER_FAILED), 0);
    run(2);
    EXPECT_EQ(log.events, (std::vector<int>{1, KORVO_SERVO_TIMER_FAILED, 1, 1}));
    ASSERT_EQ(setServoErrorCallback(nullptr, nullptr), 0);
    ASSERT_EQ(korvo_sim_inject_servo_error(KORVO_SERVO_TIMER_FAILED), 0);
    run(1);
    EXPECT_EQ(log.events.size(), 5u);
    EXPECT_EQ(korvo_sim_inject_servo_error(1), KORVO_OUT_OF_RANGE);
}

// Several client threads may ask for ticks at once; each returns after its
// own ticks and the total is exact.
TEST_F(ServoLoopTest, ConcurrentTickRequestsAddUp) {
    std::atomic<int> ticks{0};
    start([&] { ticks++; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) EXPECT_EQ(korvo_sim_run_ticks(10), 0);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ticks.load(), 2000);
}

// A thread waits for ticks that its loop never runs: the loop is stopped and
// started again before the waiter gets the CPU back. The waiter still sees
// the stop. It runs at idle priority on one CPU, which a normal thread keeps
// busy across the stop and the restart, so that it cannot wake in between.
TEST_F(ServoLoopTest, AWaiterSeesTheStopEvenWhenTheLoopRestartsBeforeItWakes) {
    const int cpu = plat::currentCpu();
    for (int round = 0; round < 10; ++round) {
        std::mutex mutex;
        std::condition_variable cv;
        bool entered = false;
        std::atomic<bool> release{false};
        int ticks = 0;
        start([&] {
            if (++ticks == 1) {
                {
                    std::lock_guard lock(mutex);
                    entered = true;
                }
                cv.notify_all();
                while (!release.load()) std::this_thread::yield();
            }
        });
        std::atomic<int> result{1};
        std::thread waiter([&] {
            if (cpu >= 0) plat::pinCurrentThread(cpu);
            plat::setCurrentThreadIdle();
            result = korvo_sim_run_ticks(1000);
        });
        {
            std::unique_lock lock(mutex);
            cv.wait(lock, [&] { return entered; });
        }
        std::atomic<bool> hogRunning{false}, hogStop{false};
        std::thread hog([&] {
            if (cpu >= 0) plat::pinCurrentThread(cpu);
            hogRunning = true;
            while (!hogStop.load()) plat::cpuRelax();
        });
        while (!hogRunning.load()) std::this_thread::yield();
        release = true;
        ASSERT_EQ(stopServoLoop(), KORVO_SERVO_OK);
        // The old loop may have run another of the waiter's ticks before the
        // stop reached it; from here on its callback must not run again.
        const int oldLoopTicks = ticks;
        start();
        hogStop = true;
        hog.join();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (result.load() == 1 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const bool returned = result.load() != 1;
        if (!returned) stopServoLoop();  // releases the waiter of the new loop
        waiter.join();
        ASSERT_TRUE(returned) << "round " << round << ": the waiter missed the stop of its loop";
        EXPECT_EQ(result.load(), KORVO_SIM_E_NOT_RUNNING) << "round " << round;
        run(3);
        EXPECT_EQ(ticks, oldLoopTicks) << "the new loop runs only its own ticks";
        ASSERT_EQ(stopServoLoop(), KORVO_SERVO_OK);
    }
}

// The trace is written by a thread of its own through a ring of rows; a run
// much longer than the ring still yields every row, in order.
TEST_F(ServoLoopTest, TraceKeepsEveryRowOfARunLongerThanItsRing) {
    const std::string trace = tempPath(".trace.csv");
    open("arm3g");
    open("mini");
    ASSERT_EQ(korvo_sim_open_trace(trace.c_str()), 0);
    start();
    run(10000);
    ASSERT_EQ(korvo_sim_open_trace(nullptr), 0);
    std::ifstream in(trace);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    std::size_t rows = 0;
    double previous = -1.0;
    bool ordered = true;
    while (std::getline(in, line)) {
        const double time = std::stod(line);
        ordered = ordered && time >= previous;
        previous = time;
        ++rows;
    }
    EXPECT_EQ(rows, 20000u);
    EXPECT_TRUE(ordered);
    EXPECT_NEAR(previous, 9.999, 1e-6);
}

TEST(ServoLoopStartup, StartNeedsTheOsExtender) {
    EXPECT_EXIT(
        {
            const int rc = startServoLoop([](void*) { return 0; }, nullptr);
            std::exit(rc == KORVO_SERVO_NOT_INITIALISED ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- real time

class RealTimeTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(korvo_sim_set_manual_clock(0), 0);
    }

    // Waits (bounded) until the loop has run `count` more ticks.
    static bool waitForTicks(uint64_t count) {
        double seconds = 0;
        uint64_t start = 0, now = 0;
        korvo_sim_get_time(&seconds, &start);
        for (int i = 0; i < 10000; ++i) {
            korvo_sim_get_time(&seconds, &now);
            if (now >= start + count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
};

// Start and stop many times; every run ticks, its time stamps increase, and
// after the stop no tick runs any more.
TEST_F(RealTimeTest, LoopStartsAndStopsCleanlyManyTimes) {
    const int h = open();
    std::atomic<int> ticks{0};
    std::atomic<bool> ordered{true};
    double lastStamp = -1;
    for (int round = 0; round < 20; ++round) {
        lastStamp = -1;
        start([&] {
            const double stamp = getServoLoopTimeStamp();
            if (!(stamp > lastStamp)) ordered = false;
            lastStamp = stamp;
            update_korvo(static_cast<unsigned>(h));
            ticks++;
        });
        ASSERT_TRUE(waitForTicks(3)) << "round " << round;
        ASSERT_EQ(stopServoLoop(), KORVO_SERVO_OK);
        const int after = ticks.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        EXPECT_EQ(ticks.load(), after);
    }
    EXPECT_TRUE(ordered.load());
    EXPECT_GT(get_korvo_inst_rate(static_cast<unsigned>(h)), 0.0f);
}

TEST_F(RealTimeTest, ServoThreadCanStopARealTimeLoop) {
    std::atomic<int> ticks{0};
    start([&] {
        if (++ticks == 3) stopServoLoop();
    });
    for (int i = 0; i < 5000 && ticks.load() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ticks.load(), 3);
    EXPECT_EQ(stopServoLoop(), KORVO_SERVO_OK);
}

// A tick that takes longer than the tolerated number of periods is an
// overrun, reported to the error callback at the following tick; with a
// tolerance larger than the stall nothing is reported.
TEST_F(RealTimeTest, SlowTickIsReportedAsOverrunBeyondTheTolerance) {
    struct Case {
        unsigned tolerance;
        bool reported;
    };
    for (const Case c : {Case{0, true}, Case{2000, false}}) {
        SCOPED_TRACE(c.tolerance);
        ASSERT_EQ(korvo_sim_set_overrun_tolerance(c.tolerance), 0);
        std::atomic<int> overruns{0};
        ASSERT_EQ(setServoErrorCallback(
                      [](int code, void* n) {
                          if (code == KORVO_SERVO_OVERRUN) ++*static_cast<std::atomic<int>*>(n);
                      },
                      &overruns),
                  0);
        std::atomic<int> ticks{0};
        start([&] {
            if (++ticks == 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        for (int i = 0; i < 2000 && ticks.load() < 50; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(stopServoLoop(), KORVO_SERVO_OK);
        EXPECT_EQ(overruns.load() >= 1, c.reported);
    }
}

// The periods missed in a stall pass while the motors hold the force of the
// tick that stalled; the physics catches up on them with that force, not
// with the force the next tick commands once the stall is over. Here the
// stylus, free of hand and friction, is pushed with 1 N in the first two
// ticks, and the second one stalls for 40 ms: the push lasts the stall, so
// the stylus ends far faster than after two periods of it.
TEST_F(RealTimeTest, StallIsCaughtUpWithTheForceHeldDuringIt) {
    const auto pushTwoTicks = [&](bool stall) {
        const int h = open();
        const auto u = static_cast<unsigned>(h);
        EXPECT_EQ(korvo_sim_set_hand_gains(u, 0.0, 0.0), 0);
        EXPECT_EQ(korvo_sim_set_friction(u, 0.0, 0.0), 0);
        EXPECT_EQ(enable_korvo_forces(u), 0);
        std::atomic<int> ticks{0};
        start([&, h, u] {
            const int n = ++ticks;
            update_korvo(u);
            sendForce(h, n <= 2 ? 1.0 : 0.0, 0, 0);
            if (stall && n == 2) std::this_thread::sleep_for(std::chrono::milliseconds(40));
        });
        if (stall) {
            EXPECT_TRUE(waitForTicks(10));
        } else {
            run(10);
        }
        EXPECT_EQ(stopServoLoop(), KORVO_SERVO_OK);
        const double speed = trueVelocity(h)[0];
        EXPECT_EQ(disable_korvo(u), 0);
        return speed;
    };
    ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
    const double twoPeriods = pushTwoTicks(false);
    ASSERT_GT(twoPeriods, 0.0);
    ASSERT_EQ(korvo_sim_set_manual_clock(0), 0);
    const double stalled = pushTwoTicks(true);
    EXPECT_GT(stalled, 3.0 * twoPeriods) << "two periods of the push: " << twoPeriods << " mm/s";
}

// Client threads reconfigure devices while the servo thread runs ticks that
// read and command them (the sanitizer builds check for races).
TEST_F(RealTimeTest, ClientCallsRaceFreeWithTheServoThread) {
    const int h = open();
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(enable_korvo_forces(u), 0);
    std::atomic<int> ticks{0};
    Counters counters;
    start([&] {
        const Vec p = readPosition(h);
        sendForce(h, -0.1 * p[0], 0, 0);
        ticks++;
    });
    std::thread client([&] {
        for (int i = 0; i < 200; ++i) {
            const double target[3] = {static_cast<double>(i % 20), 0, 0};
            korvo_sim_set_hand_target(u, target);
            korvo_sim_set_buttons(u, i % 4);
            set_korvo_max_velocity(u, 500.0f + static_cast<float>(i));
            setServoLoopRate(i % 2 ? 1000 : 2000);
            setPostServoCallback(i % 2 ? countPost : nullptr, &counters);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    client.join();
    ASSERT_TRUE(waitForTicks(5));
    ASSERT_EQ(stopServoLoop(), KORVO_SERVO_OK);
    EXPECT_GT(ticks.load(), 0);
}

}  // namespace
}  // namespace korvo_test
