// Operations run by a scheduler thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Platform.h"

namespace sched {

class SchedulerThread;

// Seconds per counter tick of plat::counter(), read once.
double counterPeriod();

// Records the high-resolution counter when the object is made.
class TimerObject {
public:
    TimerObject();
    virtual ~TimerObject() = default;
    std::uint64_t creationCounter() const { return creationCounter_; }

private:
    std::uint64_t creationCounter_;
};

// One unit of work in a scheduler thread's operation list.
//
// Life cycle, driven by the scheduler under its list lock: the first time a
// tick meets the operation it is activated (timing restarts, the completion
// state is cleared); every tick it is executed until it reports done; then it
// is deactivated, which marks it completed, and deleted when it deletes
// automatically.
//
// The completion event is made only when somebody asks for it, so that an
// operation nobody waits for costs no descriptor and no system call. It is a
// manual-reset event; a waiter takes its own copy (a duplicated handle), so
// the wait stays valid after the operation is gone. Making the event and
// completing the operation may happen at once on two threads without a lock:
// each side first publishes its own part (the event, the completed flag) and
// then looks at the other's, so at least one of them sets the event.
class SchedulerOperation : public TimerObject {
public:
    explicit SchedulerOperation(SchedulerThread* owner, bool autoDelete = true);
    ~SchedulerOperation() override;
    SchedulerOperation(const SchedulerOperation&) = delete;
    SchedulerOperation& operator=(const SchedulerOperation&) = delete;

    virtual void execute() = 0;
    virtual bool isDone() const = 0;
    virtual void markDone() = 0;
    // Called by the end-of-tick purge for operations that are not done.
    virtual void idleTick() {}
    // Records the time since activation, then executes. Returns true.
    virtual bool timedExecute();
    virtual void onActivate() {}
    virtual void onDeactivate() {}
    // A copy of the completion event, made on first use and set when the
    // operation has completed. Throws std::system_error when the process is
    // out of descriptors. Client threads only.
    plat::Event completionEvent() const;
    // True from deactivation until the next activation.
    bool isCompleted() const { return completed_.load(std::memory_order_seq_cst); }
    virtual int handle() const { return handle_.load(std::memory_order_acquire); }

    void activate();
    void deactivate();
    bool isActive() const { return active_; }
    bool autoDelete() const { return autoDelete_; }
    void setHandle(int handle) { handle_.store(handle, std::memory_order_release); }
    SchedulerThread* owner() const { return owner_; }
    // Seconds since activation as of the last timedExecute (-1e6 before).
    double elapsed() const { return elapsed_; }

    static constexpr double kNotStarted = -1000000.0;

private:
    SchedulerThread* owner_;
    std::uint64_t startCounter_;
    double elapsed_ = kNotStarted;
    std::atomic<bool> completed_{false};
    mutable std::atomic<plat::Event*> completion_{nullptr};
    std::atomic<int> handle_{-1};
    bool autoDelete_;
    bool active_ = false;
};

// An operation executed every tick until it reports done.
class ContinualSchedulerOperation : public SchedulerOperation {
public:
    using SchedulerOperation::SchedulerOperation;
};

}  // namespace sched
