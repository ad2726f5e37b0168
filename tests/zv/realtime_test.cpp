// The real-time servo loop with client threads working concurrently: servo
// callbacks write what synchronous callbacks read, clients read snapshots,
// schedule and wait, and drain errors raised on the servo thread. Run under
// ThreadSanitizer, these show that the library adds no data race.
#include <atomic>
#include <thread>
#include <vector>

#include "zv_test_support.h"

namespace zvtest {
namespace {

// Written by the servo callback, read by synchronous callbacks: plain data,
// safe only because synchronous callbacks never overlap a tick.
struct Shared {
    long ticks = 0;
    double position[3] = {};
    HZV device = ZV_INVALID_HANDLE;
};

// Errors a test may see besides its own: on a loaded machine the real-time
// loop reports overruns.
bool isOverrun(const ZVErrorInfo& e) {
    return e.errorCode == ZV_TIMER_ERROR && e.internalErrorCode == KORVO_SERVO_OVERRUN;
}

ZVCallbackCode servoFrame(void* data) {
    auto* shared = static_cast<Shared*>(data);
    zvBeginFrame(shared->device);
    zvGetDoublev(ZV_CURRENT_POSITION, shared->position);
    const double force[3] = {0.0, 0.2, 0.0};
    zvSetDoublev(ZV_CURRENT_FORCE, force);
    zvEndFrame(shared->device);
    if (++shared->ticks % 50 == 0) {
        zvEnable(0x1234);  // an error raised on the servo thread now and then
    }
    return ZV_CALLBACK_CONTINUE;
}

struct Snapshot {
    Shared* shared;
    long ticks;
};

ZVCallbackCode copyTicks(void* data) {
    auto* snapshot = static_cast<Snapshot*>(data);
    snapshot->ticks = snapshot->shared->ticks;
    return ZV_CALLBACK_DONE;
}

ZVCallbackCode threeTicks(void* data) {
    return ++*static_cast<int*>(data) >= 3 ? ZV_CALLBACK_DONE : ZV_CALLBACK_CONTINUE;
}

// Schedules an operation that needs three ticks and waits for it. A waiter
// that was held up for longer finds the operation gone (false); either way
// the wait must not return before the operation has finished.
bool waitThreeTicks() {
    int runs = 0;
    const ZVSchedulerHandle handle = zvScheduleAsynchronous(threeTicks, &runs, 1);
    EXPECT_NE(handle, ZV_INVALID_HANDLE);
    zvWaitForCompletion(handle, ZV_WAIT_INFINITE);
    return runs == 3;
}

// Stops the loop however a test ends, so that no servo callback outlives the
// test's data.
class RealTimeLoop : public ::testing::Test {
protected:
    void TearDown() override { zvStopScheduler(); }
};

TEST_F(RealTimeLoop, ClientThreadsAndServoCallbacksWorkConcurrently) {
    Shared shared;
    shared.device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ASSERT_NE(shared.device, ZV_INVALID_HANDLE);
    zvEnable(ZV_FORCE_OUTPUT);
    const ZVSchedulerHandle frames = zvScheduleAsynchronous(servoFrame, &shared, ZV_DEFAULT_SCHEDULER_PRIORITY);
    ASSERT_NE(frames, ZV_INVALID_HANDLE);
    zvStartScheduler();

    std::atomic<bool> stop{false};
    std::atomic<int> decreasing{0};
    std::atomic<int> failedWaits{0};
    std::vector<std::thread> clients;
    for (int r = 0; r < 2; ++r) {
        clients.emplace_back([&] {
            zvMakeCurrentDevice(shared.device);
            long last = 0;
            for (int i = 0; i < 150; ++i) {
                Snapshot snapshot{&shared, 0};
                zvScheduleSynchronous(copyTicks, &snapshot, ZV_MAX_SCHEDULER_PRIORITY);
                if (snapshot.ticks < last) {
                    decreasing.fetch_add(1);
                }
                last = snapshot.ticks;
                double position[3];
                zvGetDoublev(ZV_CURRENT_POSITION, position);
            }
        });
    }
    clients.emplace_back([&] {
        for (int i = 0; i < 40; ++i) {
            if (!waitThreeTicks()) {
                failedWaits.fetch_add(1);
            }
        }
    });
    std::thread drainer([&] {
        while (!stop.load()) {
            zvGetError();
            std::this_thread::yield();
        }
    });
    for (auto& client : clients) {
        client.join();
    }
    stop.store(true);
    drainer.join();

    zvStopScheduler();
    EXPECT_EQ(decreasing.load(), 0);
    EXPECT_EQ(failedWaits.load(), 0);
    EXPECT_GT(shared.ticks, 0);
    zvUnschedule(frames);
    zvDisableDevice(shared.device);
    for (const ZVErrorInfo& e : drainErrors()) {
        EXPECT_TRUE(e.errorCode == ZV_INVALID_ENUM || isOverrun(e)) << e;
    }
}

// Disabling a device while the loop runs waits for its update operation to
// leave the list; the other device keeps working.
TEST_F(RealTimeLoop, ADeviceCanBeDisabledWhileTheLoopRuns) {
    Shared first;
    Shared second;
    first.device = zvInitDevice("Korvo Arm 3G");
    second.device = zvInitDevice("Korvo Mini");
    ASSERT_NE(first.device, ZV_INVALID_HANDLE);
    ASSERT_NE(second.device, ZV_INVALID_HANDLE);
    const ZVSchedulerHandle secondFrames = zvScheduleAsynchronous(servoFrame, &second, 5);
    zvStartScheduler();
    EXPECT_TRUE(waitThreeTicks());
    zvDisableDevice(first.device);
    Snapshot before{&second, 0};
    zvScheduleSynchronous(copyTicks, &before, 1);
    EXPECT_TRUE(waitThreeTicks());
    Snapshot after{&second, 0};
    zvScheduleSynchronous(copyTicks, &after, 1);
    EXPECT_GT(after.ticks, before.ticks);
    zvStopScheduler();
    zvUnschedule(secondFrames);
    zvDisableDevice(second.device);
    for (const ZVErrorInfo& e : drainErrors()) {
        EXPECT_TRUE(e.errorCode == ZV_INVALID_ENUM || isOverrun(e)) << e;
    }
}

// Starting and stopping while a client keeps making synchronous calls that
// need several ticks: every call returns, completed or given up.
TEST_F(RealTimeLoop, StartAndStopNeverStrandASynchronousCaller) {
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::thread client([&] {
        while (!stop.load()) {
            int runs = 0;
            zvScheduleSynchronous(threeTicks, &runs, 1);
            calls.fetch_add(1);
        }
    });
    for (int i = 0; i < 10; ++i) {
        zvStartScheduler();
        const long seen = calls.load();
        while (calls.load() < seen + 2) {
            std::this_thread::yield();
        }
        zvStopScheduler();
    }
    stop.store(true);
    client.join();
    for (const ZVErrorInfo& e : drainErrors()) {
        EXPECT_TRUE(e.errorCode == ZV_INVALID_OPERATION || isOverrun(e)) << e;
    }
}

}  // namespace
}  // namespace zvtest
