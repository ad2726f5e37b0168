// Scheduling through the exported functions on the simulator's manual clock.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "zv_test_support.h"

namespace zvtest {
namespace {

ZVCallbackCode keepRunning(void*) { return ZV_CALLBACK_CONTINUE; }
ZVCallbackCode finish(void*) { return ZV_CALLBACK_DONE; }

// Appends its tag to a trace each tick (servo thread only).
struct Tagged {
    std::string* trace;
    char tag;
};
ZVCallbackCode appendTag(void* data) {
    auto* t = static_cast<Tagged*>(data);
    *t->trace += t->tag;
    return ZV_CALLBACK_CONTINUE;
}

// Counts its runs and finishes at a given count.
struct Countdown {
    std::atomic<int> runs{0};
    int doneAt = 1;
};
ZVCallbackCode countDown(void* data) {
    auto* c = static_cast<Countdown*>(data);
    return ++c->runs >= c->doneAt ? ZV_CALLBACK_DONE : ZV_CALLBACK_CONTINUE;
}

TEST(SchedulerHandles, StartAtZeroAndAFreedHandleIsNotHandedOutAgain) {
    for (ZVSchedulerHandle expected = 0; expected < 8; ++expected) {
        EXPECT_EQ(zvScheduleAsynchronous(keepRunning, nullptr, 1), expected);
    }
    zvUnschedule(5);
    zvUnschedule(2);
    EXPECT_EQ(zvScheduleAsynchronous(keepRunning, nullptr, 1), 8u) << "unused slots come before freed ones";
    EXPECT_TRUE(drainErrors().empty());
}

// A handle names one scheduling: once its operation has gone, the handle
// names nothing, even after its slot has been given to another operation.
TEST(SchedulerHandles, AStaleHandleNeverNamesTheOperationThatReusesItsSlot) {
    for (int i = 0; i < 1000; ++i) {
        ASSERT_NE(zvScheduleAsynchronous(keepRunning, nullptr, 1), ZV_INVALID_HANDLE);
    }
    zvUnschedule(5);
    const ZVSchedulerHandle reused = zvScheduleAsynchronous(keepRunning, nullptr, 1);
    EXPECT_EQ(reused % 1000, 5u) << "the only free slot";
    EXPECT_NE(reused, 5u);
    EXPECT_FALSE(zvWaitForCompletion(5, ZV_WAIT_CHECK_STATUS));
    zvUnschedule(5);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_OPERATION}));
    EXPECT_TRUE(zvWaitForCompletion(reused, ZV_WAIT_CHECK_STATUS));
    zvUnschedule(reused);
    EXPECT_TRUE(drainErrors().empty());
    EXPECT_FALSE(zvWaitForCompletion(reused, ZV_WAIT_CHECK_STATUS));
}

TEST(SchedulerHandles, TheThousandAndFirstOperationIsRefused) {
    zvMakeCurrentDevice(4);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(zvScheduleAsynchronous(keepRunning, nullptr, static_cast<unsigned>(i % 50)),
                  static_cast<ZVSchedulerHandle>(i));
    }
    EXPECT_EQ(zvScheduleAsynchronous(keepRunning, nullptr, 1), ZV_INVALID_HANDLE);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_SCHEDULER_FULL, 0, 4}}));
    // With no tick in progress a synchronous call runs inline and needs no slot.
    Countdown once;
    zvScheduleSynchronous(countDown, &once, 1);
    EXPECT_EQ(once.runs.load(), 1);
    EXPECT_TRUE(drainErrors().empty());
}

// An operation nobody waits for owns no descriptor, so the full 1000 fit in a
// process with the common limit of 1024 open files; a waiter makes one.
TEST_F(ManualClock, OnlyAWaitedForOperationOwnsADescriptor) {
    const auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = openFiles();
    Countdown waited;
    waited.doneAt = 2;
    const ZVSchedulerHandle handle = zvScheduleAsynchronous(countDown, &waited, 1);
    for (int i = 0; i < 997; ++i) {
        ASSERT_NE(zvScheduleAsynchronous(keepRunning, nullptr, 1), ZV_INVALID_HANDLE);
    }
    EXPECT_EQ(openFiles(), before);
    EXPECT_TRUE(drainErrors().empty());
    std::atomic<bool> completed{false};
    std::thread waiter([&] { completed = zvWaitForCompletion(handle, ZV_WAIT_INFINITE) == ZV_TRUE; });
    while (openFiles() == before) {  // the waiter has made the event
        std::this_thread::yield();
    }
    ticks(2);
    waiter.join();
    EXPECT_TRUE(completed.load());
}

TEST(SchedulerArguments, PriorityAboveTheMaximumAndNullCallbacksAreRefused) {
    EXPECT_EQ(zvScheduleAsynchronous(keepRunning, nullptr, 0x10000), ZV_INVALID_HANDLE);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_PRIORITY}));
    EXPECT_EQ(zvScheduleAsynchronous(nullptr, nullptr, 1), ZV_INVALID_HANDLE);
    zvScheduleSynchronous(nullptr, nullptr, 1);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_VALUE}));
    EXPECT_EQ(zvScheduleAsynchronous(keepRunning, nullptr, ZV_MAX_SCHEDULER_PRIORITY), 0u);
    EXPECT_EQ(zvScheduleAsynchronous(keepRunning, nullptr, ZV_MIN_SCHEDULER_PRIORITY), 1u);
    EXPECT_TRUE(drainErrors().empty());
}

TEST(SchedulerUnschedule, UnknownHandlesAreInvalidOperations) {
    zvMakeCurrentDevice(9);
    for (ZVSchedulerHandle handle : {0u, 999u, 1000u, 0xFFFFFFFFu}) {
        zvUnschedule(handle);
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_INVALID_OPERATION, 0, 9}})) << handle;
    }
}

TEST(SchedulerSynchronous, BeforeTheLoopStartsACallbackRunsAtOnceOnTheCallingThread) {
    zvMakeCurrentDevice(2);
    struct Seen {
        std::thread::id thread;
        HZV device = 0;
    } seen;
    zvScheduleSynchronous(
        [](void* data) {
            auto* s = static_cast<Seen*>(data);
            s->thread = std::this_thread::get_id();
            s->device = zvGetCurrentDevice();
            return ZVCallbackCode{ZV_CALLBACK_DONE};
        },
        &seen, 5);
    EXPECT_EQ(seen.thread, std::this_thread::get_id());
    EXPECT_EQ(seen.device, 2u);
    EXPECT_TRUE(drainErrors().empty());
}

// ---------------------------------------------------------------- tick order

class SchedulerTicks : public DeviceTest {};

TEST_F(SchedulerTicks, ClientCallbacksRunByDescendingPriorityInArrivalOrder) {
    std::string trace;
    Tagged a{&trace, 'a'}, b{&trace, 'b'}, c{&trace, 'c'}, d{&trace, 'd'}, e{&trace, 'e'};
    zvScheduleAsynchronous(appendTag, &a, 10);
    zvScheduleAsynchronous(appendTag, &b, 20);
    zvScheduleAsynchronous(appendTag, &c, 10);
    zvScheduleAsynchronous(appendTag, &d, ZV_MIN_SCHEDULER_PRIORITY);
    zvScheduleAsynchronous(appendTag, &e, ZV_MAX_SCHEDULER_PRIORITY);
    ticks(2);
    EXPECT_EQ(trace, "ebacdebacd");
}

// A frame at the lowest client priority in every tick: if the device's update
// operation ran before it, the frame-done mark would survive into the next
// tick and the next frame would be refused.
TEST_F(SchedulerTicks, DeviceUpdatesRunAfterEveryClientCallback) {
    std::function<void()> makeFrame = [this] {
        zvBeginFrame(device);
        zvEndFrame(device);
    };
    zvScheduleAsynchronous(
        [](void* f) {
            runOnce(f);
            return ZVCallbackCode{ZV_CALLBACK_CONTINUE};
        },
        &makeFrame, ZV_MIN_SCHEDULER_PRIORITY);
    ticks(5);
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(SchedulerTicks, CheckStatusIsTrueUntilTheTickInWhichTheCallbackFinished) {
    Countdown countdown;
    countdown.doneAt = 3;
    const ZVSchedulerHandle handle = zvScheduleAsynchronous(countDown, &countdown, 7);
    for (int tick = 1; tick <= 3; ++tick) {
        EXPECT_TRUE(zvWaitForCompletion(handle, ZV_WAIT_CHECK_STATUS)) << tick;
        ticks(1);
    }
    EXPECT_EQ(countdown.runs.load(), 3);
    EXPECT_FALSE(zvWaitForCompletion(handle, ZV_WAIT_CHECK_STATUS));
}

TEST_F(SchedulerTicks, StopThenStartResumesTheRemainingOperations) {
    Countdown counter;
    counter.doneAt = 1000000;
    const ZVSchedulerHandle handle = zvScheduleAsynchronous(countDown, &counter, 1);
    ticks(3);
    zvStopScheduler();
    EXPECT_EQ(korvo_sim_run_ticks(1), KORVO_SIM_E_NOT_RUNNING);
    EXPECT_TRUE(zvWaitForCompletion(handle, ZV_WAIT_CHECK_STATUS));
    zvStartScheduler();
    ticks(2);
    EXPECT_EQ(counter.runs.load(), 5);
    EXPECT_TRUE(drainErrors().empty());
}

// Starting a running loop fails in the I/O library and must not schedule the
// error bookkeeping a second time (which would leak two slots per call).
TEST_F(SchedulerTicks, StartingARunningLoopSchedulesNothingTwice) {
    const ZVSchedulerHandle before = zvScheduleAsynchronous(finish, nullptr, 1);
    ticks(1);
    zvStartScheduler();
    const std::vector<ZVErrorInfo> errors = drainErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].errorCode, ZV_TIMER_ERROR);
    EXPECT_EQ(errors[0].internalErrorCode, KORVO_SERVO_ALREADY_RUNNING);
    EXPECT_EQ(zvScheduleAsynchronous(finish, nullptr, 1), before + 1) << "the next unused slot";
}

// ---------------------------------------------------------------- the library's own operations

// A client cleans up its finished operation by a handle the library may have
// reused: the library's operations and the client's later ones survive.
TEST_F(ManualClock, StaleHandlesRemoveNeitherLibraryNorClientOperations) {
    const ZVSchedulerHandle a = zvScheduleAsynchronous(finish, nullptr, 1);
    ticks(1);
    const HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ASSERT_NE(device, ZV_INVALID_HANDLE);
    zvUnschedule(a);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_OPERATION}));
    Countdown b;
    b.doneAt = 2;
    const ZVSchedulerHandle bHandle = zvScheduleAsynchronous(countDown, &b, 1);
    zvDisableDevice(device);
    EXPECT_TRUE(drainErrors().empty()) << "the device's update operation was still there";
    EXPECT_TRUE(zvWaitForCompletion(bHandle, ZV_WAIT_CHECK_STATUS));
    ticks(2);
    EXPECT_EQ(b.runs.load(), 2) << "B ran to its end";
    EXPECT_FALSE(zvWaitForCompletion(bHandle, ZV_WAIT_CHECK_STATUS));
}

// Every scheduled handle that a client was not given belongs to the library
// (tick bookkeeping, device updates) and refuses zvUnschedule.
TEST_F(SchedulerTicks, ClientsCannotRemoveTheLibrarysOperations) {
    const ZVSchedulerHandle mine = zvScheduleAsynchronous(keepRunning, nullptr, 1);
    std::vector<ZVSchedulerHandle> library;
    for (ZVSchedulerHandle handle = 0; handle < 20; ++handle) {
        if (handle != mine && zvWaitForCompletion(handle, ZV_WAIT_CHECK_STATUS)) {
            library.push_back(handle);
        }
    }
    ASSERT_EQ(library.size(), 3u) << "two bookkeeping operations and one device update";
    for (ZVSchedulerHandle handle : library) {
        zvUnschedule(handle);
        EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_OPERATION})) << handle;
        ticks(1);
        EXPECT_TRUE(zvWaitForCompletion(handle, ZV_WAIT_CHECK_STATUS)) << handle;
    }
    zvUnschedule(mine);
    ticks(1);
    EXPECT_TRUE(drainErrors().empty());
}

// ---------------------------------------------------------------- never waiting forever

TEST(SchedulerSynchronous, ContinueWithoutARunningLoopRunsOnceAndReturns) {
    Countdown forever;
    forever.doneAt = 1000000;
    zvScheduleSynchronous(countDown, &forever, 1);
    EXPECT_EQ(forever.runs.load(), 1);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_OPERATION}));
    EXPECT_EQ(zvScheduleAsynchronous(finish, nullptr, 1), 0u) << "the operation was not kept";
}

TEST_F(SchedulerTicks, ContinueFromTheServoThreadRunsOnceAndReturns) {
    Countdown inner;
    inner.doneAt = 1000000;
    Countdown innerDone;
    inTick([&] {
        zvScheduleSynchronous(countDown, &inner, 1);
        EXPECT_EQ(inner.runs.load(), 1);
        zvScheduleSynchronous(countDown, &innerDone, 1);
        EXPECT_EQ(innerDone.runs.load(), 1);
    });
    ticks(2);
    EXPECT_EQ(inner.runs.load(), 1);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_INVALID_OPERATION, 0, device}}));
}

TEST_F(SchedulerTicks, ContinueIsCompletedByLaterTicksOfARunningLoop) {
    Countdown three;
    three.doneAt = 3;
    std::atomic<bool> returned{false};
    std::thread client([&] {
        zvScheduleSynchronous(countDown, &three, 1);
        returned.store(true);
    });
    while (!returned.load()) {
        ticks(1);
    }
    client.join();
    EXPECT_EQ(three.runs.load(), 3);
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(SchedulerTicks, AWaitingSynchronousCallReturnsWhenTheLoopIsStopped) {
    Countdown forever;
    forever.doneAt = 1000000;
    std::thread client([&] { zvScheduleSynchronous(countDown, &forever, 1); });
    while (forever.runs.load() == 0) {
        std::this_thread::yield();
    }
    zvStopScheduler();
    client.join();
    EXPECT_GE(forever.runs.load(), 1);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_OPERATION}));
    zvStartScheduler();
    ticks(2);
    EXPECT_EQ(forever.runs.load(), 1) << "a callback given up on is never run again";
}

// ---------------------------------------------------------------- infinite waits

ZVCallbackCode finishWhenReleased(void* release) {
    return static_cast<std::atomic<bool>*>(release)->load() ? ZV_CALLBACK_DONE : ZV_CALLBACK_CONTINUE;
}

// The waiter holds its own duplicate of the completion event, so the servo
// thread may delete the operation while it waits. Which of the two threads
// gets there first is up to the OS; an attempt in which the operation was
// gone before the wait began proves nothing and is repeated.
TEST_F(SchedulerTicks, AnInfiniteWaitOutlivesTheOperationItWaitsFor) {
    bool waited = false;
    for (int attempt = 1; attempt <= 10 && !waited; ++attempt) {
        std::atomic<bool> release{false};
        const ZVSchedulerHandle handle = zvScheduleAsynchronous(finishWhenReleased, &release, 1);
        std::atomic<int> result{-1};
        std::atomic<bool> started{false};
        std::thread waiter([&] {
            started.store(true);
            result.store(zvWaitForCompletion(handle, ZV_WAIT_INFINITE));
        });
        while (!started.load()) {
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * attempt));
        ticks(2);
        EXPECT_EQ(result.load(), -1) << "the wait lasts while the operation runs";
        release.store(true);
        while (result.load() < 0) {
            ticks(1);
        }
        waiter.join();
        waited = result.load() == 1;
        EXPECT_FALSE(zvWaitForCompletion(handle, ZV_WAIT_INFINITE)) << "no operation has that handle any more";
    }
    EXPECT_TRUE(waited);
    EXPECT_FALSE(zvWaitForCompletion(1000, ZV_WAIT_INFINITE));
    EXPECT_TRUE(drainErrors().empty());
}

TEST(SchedulerWaits, AnInfiniteWaitWithoutALoopDoesNotBlock) {
    const ZVSchedulerHandle handle = zvScheduleAsynchronous(keepRunning, nullptr, 1);
    EXPECT_FALSE(zvWaitForCompletion(handle, ZV_WAIT_INFINITE));
    EXPECT_TRUE(zvWaitForCompletion(handle, ZV_WAIT_CHECK_STATUS));
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(SchedulerTicks, AnInfiniteWaitFromTheServoThreadDoesNotBlock) {
    const ZVSchedulerHandle other = zvScheduleAsynchronous(keepRunning, nullptr, 1);
    inTick([&] { EXPECT_FALSE(zvWaitForCompletion(other, ZV_WAIT_INFINITE)); });
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_INVALID_OPERATION, 0, device}}));
}

}  // namespace
}  // namespace zvtest

namespace zvtest {
namespace {

// Whether the loop runs follows start and stop, so that a library can tell a
// loop the application started from one it must start itself.
TEST(SchedulerState, RunningFollowsStartAndStop) {
    ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
    EXPECT_EQ(zvIsSchedulerRunning(), 0);
    zvStartScheduler();
    EXPECT_EQ(zvIsSchedulerRunning(), 1);
    zvStopScheduler();
    EXPECT_EQ(zvIsSchedulerRunning(), 0);
    EXPECT_TRUE(drainErrors().empty());
    ASSERT_EQ(korvo_sim_set_manual_clock(0), 0);
}

}  // namespace
}  // namespace zvtest
