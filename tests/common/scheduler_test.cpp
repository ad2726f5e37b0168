// The servo scheduler driven tick by tick from a stand-in servo thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test_operation.h"

namespace sched::test {
namespace {

class SchedulerTest : public ::testing::Test {
protected:
    SchedulerTest() : scheduler(*Scheduler::acquire()) {}
    ~SchedulerTest() override { scheduler.releaseReference(); }

    ServoScheduler& servo() { return scheduler.servo(); }

    int schedule(std::function<bool()> body, int priority) {
        int handle = -1;
        EXPECT_EQ(scheduler.scheduleAsynchronous(new TestOperation(std::move(body), &destroyed), priority, &handle),
                  ScheduleResult::Ok);
        return handle;
    }

    Scheduler& scheduler;
    std::atomic<int> destroyed{0};
};

TEST_F(SchedulerTest, TicksRunOperationsByPriorityUntilTheyAreDone) {
    std::string trace;  // written on the servo thread only, read after join
    schedule(
        [&] {
            trace += 'a';
            return false;
        },
        11);
    schedule(
        [&] {
            trace += 'b';
            return trace.size() > 3;
        },
        21);
    schedule(
        [&] {
            trace += 'c';
            return true;
        },
        11);
    runTicks(servo(), 1);
    EXPECT_EQ(trace, "bac");
    EXPECT_EQ(destroyed.load(), 1);
    runTicks(servo(), 1);
    EXPECT_EQ(trace, "bacba");
    EXPECT_EQ(destroyed.load(), 2);
    EXPECT_FALSE(scheduler.isScheduled(1));
    EXPECT_TRUE(scheduler.isScheduled(0));
}

TEST_F(SchedulerTest, CompletionSignalsADuplicatedEventThatOutlivesTheOperation) {
    const int handle = schedule([] { return true; }, 5);
    plat::Event completion = scheduler.thread().operationList().find(handle)->completionEvent();
    EXPECT_FALSE(completion.isSet());
    runTicks(servo(), 1);
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_TRUE(completion.wait(0.0));
}

TEST_F(SchedulerTest, RemovalDuringATickOnlyMarksDoneAndThePassSkipsTheOperation) {
    int laterRuns = 0;
    const int later = schedule(
        [&] {
            ++laterRuns;
            return false;
        },
        1);
    // Runs first in the tick and unschedules the later operation.
    schedule(
        [&] {
            EXPECT_TRUE(scheduler.removeHandle(later));
            return true;
        },
        100);
    runTicks(servo(), 1);
    EXPECT_EQ(laterRuns, 0);
    EXPECT_FALSE(scheduler.isScheduled(later));
    EXPECT_EQ(destroyed.load(), 2);
}

TEST_F(SchedulerTest, OutsideATickRemovalDeletesAtOnce) {
    const int handle = schedule([] { return false; }, 1);
    EXPECT_TRUE(scheduler.removeHandle(handle));
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_FALSE(scheduler.removeHandle(handle));
    EXPECT_FALSE(scheduler.removeHandle(OperationList::kCapacity));
}

TEST_F(SchedulerTest, PurgeGivesUnfinishedOperationsTheirIdleTick) {
    auto* operation = new TestOperation([] { return false; });
    int handle = -1;
    scheduler.scheduleAsynchronous(operation, 1, &handle);
    runTicks(servo(), 3);
    EXPECT_EQ(operation->idleTicks.load(), 3);
    EXPECT_TRUE(operation->isActive());
    EXPECT_GE(operation->elapsed(), 0.0);
}

TEST_F(SchedulerTest, SynchronousOperationRunsInlineWhenNoTickIsInProgress) {
    const plat::ThreadId caller = plat::currentThreadId();
    plat::ThreadId ranOn = 0;
    EXPECT_EQ(scheduler.scheduleSynchronous(new TestOperation(
                                                [&] {
                                                    ranOn = plat::currentThreadId();
                                                    return true;
                                                },
                                                &destroyed),
                                            1),
              ScheduleResult::Ok);
    EXPECT_EQ(ranOn, caller);
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_EQ(scheduler.thread().operationList().count(), 0);
}

// A synchronous operation that asks to continue where no tick can follow is
// run once and discarded instead of waiting forever.
TEST_F(SchedulerTest, SynchronousContinueWithoutALoopDoesNotWait) {
    int runs = 0;
    EXPECT_EQ(scheduler.scheduleSynchronous(new TestOperation(
                                                [&] {
                                                    ++runs;
                                                    return false;
                                                },
                                                &destroyed),
                                            1),
              ScheduleResult::NotCompleted);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_EQ(scheduler.thread().operationList().count(), 0);
}

TEST_F(SchedulerTest, SynchronousContinueFromTheServoThreadDoesNotWait) {
    servo().setLoopActive(true);
    std::atomic<int> innerRuns{0};
    ScheduleResult inner = ScheduleResult::Ok;
    schedule(
        [&] {
            inner = scheduler.scheduleSynchronous(new TestOperation(
                                                      [&] {
                                                          innerRuns++;
                                                          return false;
                                                      },
                                                      &destroyed),
                                                  1);
            return true;
        },
        5);
    runTicks(servo(), 2);
    EXPECT_EQ(inner, ScheduleResult::NotCompleted);
    EXPECT_EQ(innerRuns.load(), 1);
    EXPECT_EQ(destroyed.load(), 2);
    servo().setLoopActive(false);
}

TEST_F(SchedulerTest, SynchronousContinueIsCompletedByLaterTicksOfARunningLoop) {
    RunningLoop loop(servo());
    std::atomic<int> runs{0};
    EXPECT_EQ(scheduler.scheduleSynchronous(new TestOperation([&] { return ++runs == 3; }, &destroyed), 1),
              ScheduleResult::Ok);
    EXPECT_EQ(runs.load(), 3);
    loop.stop();  // the servo thread deletes the operation after signalling completion
    EXPECT_EQ(destroyed.load(), 1);
}

TEST_F(SchedulerTest, AWaitingSynchronousCallReturnsWhenTheLoopStops) {
    // The loop is marked active but never ticks; a stop must end the wait.
    servo().setLoopActive(true);
    std::atomic<int> runs{0};
    std::atomic<bool> returned{false};
    ScheduleResult result = ScheduleResult::Ok;
    std::thread caller([&] {
        result = scheduler.scheduleSynchronous(new TestOperation(
                                                   [&] {
                                                       ++runs;
                                                       return false;
                                                   },
                                                   &destroyed),
                                               1);
        returned.store(true);
    });
    while (scheduler.thread().operationList().count() == 0) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(returned.load());
    servo().setLoopActive(false);
    caller.join();
    EXPECT_EQ(result, ScheduleResult::NotCompleted);
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_EQ(scheduler.thread().operationList().count(), 0);
}

// The waiter holds a duplicate of the completion event while the servo
// thread deletes the operation. An attempt in which the operation completed
// before the wait began proves nothing and is repeated.
TEST_F(SchedulerTest, WaitForCompletionSurvivesTheOperationBeingDeleted) {
    RunningLoop loop(servo());
    bool waited = false;
    for (int attempt = 1; attempt <= 10 && !waited; ++attempt) {
        std::atomic<bool> release{false};
        const int handle = schedule([&] { return release.load(); }, 1);
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5 * attempt));
            release.store(true);
        });
        waited = scheduler.waitForCompletion(handle) == WaitResult::Completed;
        releaser.join();
        while (scheduler.isScheduled(handle)) {
            std::this_thread::yield();
        }
        EXPECT_EQ(scheduler.waitForCompletion(handle), WaitResult::NotScheduled);
    }
    EXPECT_TRUE(waited);
}

TEST_F(SchedulerTest, WaitForCompletionWithoutALoopDoesNotBlock) {
    const int handle = schedule([] { return false; }, 1);
    EXPECT_EQ(scheduler.waitForCompletion(handle), WaitResult::NoServoLoop);
    EXPECT_EQ(scheduler.waitForCompletion(handle + 1), WaitResult::NotScheduled);
}

// Inline synchronous callbacks and ticks touch the same plain data; under
// ThreadSanitizer any overlap between them is reported.
TEST_F(SchedulerTest, InlineSynchronousCallbacksNeverOverlapATick) {
    long shared = 0;
    schedule(
        [&] {
            ++shared;
            return false;
        },
        1);
    RunningLoop loop(servo());
    std::vector<std::thread> clients;
    std::atomic<int> completed{0};
    for (int c = 0; c < 2; ++c) {
        clients.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                const ScheduleResult result = scheduler.scheduleSynchronous(new TestOperation([&] {
                                                                                ++shared;
                                                                                return true;
                                                                            }),
                                                                            1);
                if (result == ScheduleResult::Ok) {
                    completed.fetch_add(1);
                }
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    loop.stop();
    EXPECT_EQ(completed.load(), 600);
    EXPECT_GE(shared, 600);
}

TEST(SchedulerLifetime, ReleasingTheLastReferenceDiscardsEveryOperationAndWakesWaiters) {
    Scheduler* scheduler = Scheduler::acquire();
    std::atomic<int> destroyed{0};
    int handle = -1;
    scheduler->scheduleAsynchronous(new TestOperation([] { return false; }, &destroyed), 1, &handle);
    scheduler->scheduleAsynchronous(new TestOperation([] { return false; }, &destroyed), 2, nullptr);
    plat::Event completion = scheduler->thread().operationList().find(handle)->completionEvent();
    scheduler->releaseReference();
    EXPECT_EQ(Scheduler::instance(), nullptr);
    EXPECT_EQ(destroyed.load(), 2);
    EXPECT_TRUE(completion.isSet());
    EXPECT_EQ(SchedulerThreadImp::servoLoopThread().operationList().count(), 0);

    // A stopped thread runs an operation once on the spot and refuses it.
    int runs = 0;
    TestOperation late([&] {
        ++runs;
        return false;
    });
    EXPECT_FALSE(SchedulerThreadImp::servoLoopThread().add(&late, 1));
    EXPECT_EQ(runs, 1);

    // A new instance takes operations again.
    Scheduler* again = Scheduler::acquire();
    EXPECT_EQ(again->scheduleAsynchronous(new TestOperation([] { return false; }), 1, &handle), ScheduleResult::Ok);
    again->releaseReference();
}

}  // namespace
}  // namespace sched::test
