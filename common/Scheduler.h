// The process-wide servo scheduler.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/ReferenceCounter.h"
#include "common/SchedulerThread.h"

namespace sched {

class Scheduler;

// The three per-tick handlers that the servo loop calls on its own thread, in
// the order preServo, servo, postServo. The static entry points take the
// ServoScheduler as their context pointer and return 0, as servo-loop
// callbacks do.
//
// The scheduler also tracks whether a servo loop is active (between a
// successful start and a stop), so that a caller never waits for a tick that
// cannot come: the loop-idle event is set while no loop is active. A starter
// marks the loop active before it starts the loop and also arms a pending
// activation that the new loop's first tick carries out: a callback of the
// previous loop that stops that loop (on the servo thread, while the starter
// waits for the old thread to end) marks it idle, and the first tick of the
// new loop then makes it active again.
class ServoScheduler {
public:
    explicit ServoScheduler(Scheduler& owner);

    static int preServoHandler(void* context);
    static int servoHandler(void* context);
    static int postServoHandler(void* context);

    void preServo();
    void servo();
    void postServo();

    bool inTick() const { return inTick_.load(std::memory_order_acquire); }

    void setLoopActive(bool active);
    // Arms (or disarms) the activation done by the next tick's preServo.
    void setActivationPending(bool pending) { activationPending_.store(pending, std::memory_order_release); }
    bool loopActive() const { return loopActive_.load(std::memory_order_acquire); }
    const plat::Event& loopIdleEvent() const { return loopIdle_; }

private:
    static void retire(OperationList& list, OperationList::Node* node);

    Scheduler& owner_;
    std::atomic<bool> inTick_{false};
    std::atomic<bool> loopActive_{false};
    std::atomic<bool> activationPending_{false};
    // Keeps the flag and the idle event in step when a stop on the servo
    // thread and a start on a client thread change them at once. Taken on the
    // servo thread only by the first tick of a loop and by a stop.
    std::mutex activityMutex_;
    plat::Event loopIdle_;
};

// Outcome of a scheduling call.
enum class ScheduleResult {
    Ok,            // scheduled (asynchronous) or completed (synchronous)
    Full,          // the operation list is full (or the scheduler is stopping)
    NotCompleted,  // a synchronous operation asked to continue where no later
                   // tick could complete it; it was run once and discarded
};

// Outcome of a blocking wait for an operation.
enum class WaitResult {
    Completed,
    NotScheduled,  // no operation has that handle
    NoServoLoop,   // no tick can complete it: no loop is active (or the loop
                   // stopped meanwhile), or the caller is the servo thread
                   // itself or inside an inline synchronous callback
};

// The servo scheduler: the "ServoLoopThread" scheduler thread with its
// operation list, and the ServoScheduler whose handlers drive it.
//
// One instance per process (per copy of this library), created by the first
// acquire() and deleted when its last reference is released. Deleting it
// stops the thread from taking new operations and removes every remaining
// operation (each is deactivated, so waiters wake, and deleted).
class Scheduler : public ReferenceCounter<IReferenceCounter> {
public:
    // The instance with one more reference, created when there is none.
    static Scheduler* acquire();
    // The instance, or null when none exists.
    static Scheduler* instance();

    ServoScheduler& servo() { return *servo_; }
    SchedulerThreadImp& thread() { return thread_; }

    // Synchronous scheduling. When no tick is in progress, or the caller is
    // the servo thread, the operation is executed at once on the calling
    // thread (a client thread holds the tick gate meanwhile). If it is done it
    // is deleted and the call succeeds. If it asks to continue, it is queued
    // and the call waits until a tick completes it, unless no tick can: no
    // loop is active, the caller is the servo thread, or the caller is itself
    // inside an inline synchronous callback. Then the operation is discarded
    // and NotCompleted returned. A loop that stops while the caller waits
    // also ends the wait: the operation is removed unrun and NotCompleted
    // returned. The operation is owned by the scheduler from the call on.
    ScheduleResult scheduleSynchronous(SchedulerOperation* operation, std::int32_t priority);
    // Asynchronous scheduling: queues the operation and reports its handle.
    ScheduleResult scheduleAsynchronous(SchedulerOperation* operation, std::int32_t priority, int* handle);

    // True while an operation is scheduled under the handle.
    bool isScheduled(int handle);
    // Blocks until the operation under the handle completes. The wait uses a
    // duplicate of the operation's completion event (made by the first
    // waiter) taken under the list lock, so the operation may complete and
    // be deleted meanwhile. The servo thread and inline callbacks only look.
    WaitResult waitForCompletion(int handle);
    // Removes the operation under the handle through the scheduler thread
    // (marked done during a tick, removed at once otherwise). False when no
    // operation has that handle.
    bool removeHandle(int handle);

    // True on a thread that is executing a synchronous callback inline.
    static bool insideInlineCallback();

    // Frees the servo-loop thread and the thread manager once no Scheduler
    // exists, for a library that is being unloaded (its servo loop stopped).
    static void releaseProcessObjects();

    static constexpr int kServoRate = 1000;

private:
    Scheduler();
    ~Scheduler() override;

    SchedulerThreadImp& thread_;
    ServoScheduler* servo_;
};

}  // namespace sched
