// The device library's side of the servo scheduler.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "common/Scheduler.h"
#include "zv/zv.h"

namespace zv {

// Who scheduled an operation. A client may only remove client operations,
// the library only its own (tick bookkeeping, device update operations).
enum class Owner { Client, Library };

// A scheduled operation: a C callback with its user data, run with the device
// that was current when it was scheduled.
class ZvSchedulerOperation : public sched::ContinualSchedulerOperation {
public:
    ZvSchedulerOperation(ZVSchedulerCallback callback, void* userData, HZV device, Owner owner = Owner::Client);

    Owner scheduledBy() const { return owner_; }

    void execute() override;
    bool isDone() const override { return done_.load(std::memory_order_acquire); }
    void markDone() override { done_.store(true, std::memory_order_release); }

private:
    std::atomic<bool> done_{false};
    HZV device_;
    void* userData_;
    ZVSchedulerCallback callback_;
    Owner owner_;
};

// Starting and stopping the servo loop, and scheduling.
//
// List priorities: a client priority p (0..65535) is stored as p + 1, the
// tick-start error bookkeeping runs at 65545 (before every client operation),
// device update operations at 0 (after them) and the tick-end bookkeeping at
// -10 (last).
class IServoControl {
public:
    virtual ~IServoControl() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void setRate(unsigned int rate) = 0;
    // Whether a servo loop is running (started and not stopped).
    virtual bool isRunning() const = 0;
    virtual double timeStamp() = 0;
    // The client calls return their refusals instead of throwing them: they
    // are made in servo callbacks too, where an error must cost nothing.
    virtual ZVerror scheduleSynchronous(ZVSchedulerCallback callback, void* userData, unsigned int priority) = 0;
    virtual ZVerror scheduleAsynchronous(ZVSchedulerCallback callback, void* userData, unsigned int priority,
                                         ZVSchedulerHandle& handle) = 0;
    // Schedules a library operation at a list priority with its own device.
    // Throws ZV_SCHEDULER_FULL.
    virtual ZVSchedulerHandle scheduleInternal(ZVSchedulerCallback callback, void* userData, std::int32_t priority,
                                               HZV device) = 0;
    // Removes a client operation; ZV_INVALID_OPERATION when the handle names
    // no operation or a library operation.
    virtual ZVerror unschedule(ZVSchedulerHandle handle) = 0;
    // Removes a library operation at once (see unscheduleInternal in the
    // source); raises ZV_INVALID_OPERATION when the handle names no operation
    // or a client operation.
    virtual void unscheduleInternal(ZVSchedulerHandle handle) = 0;
    virtual ZVerror waitForCompletion(ZVSchedulerHandle handle, unsigned int mode, bool& completed) = 0;
    // Library unload: stops a loop that is still running and releases the
    // scheduler.
    virtual void shutdown() = 0;
};

class ServoControl : public IServoControl {
public:
    static constexpr std::int32_t kTickStartPriority = 65545;
    static constexpr std::int32_t kDeviceUpdatePriority = 0;
    static constexpr std::int32_t kTickEndPriority = -10;

    ServoControl();
    ~ServoControl() override;

    void start() override;
    void stop() override;
    void setRate(unsigned int rate) override;
    bool isRunning() const override;
    double timeStamp() override;
    ZVerror scheduleSynchronous(ZVSchedulerCallback callback, void* userData, unsigned int priority) override;
    ZVerror scheduleAsynchronous(ZVSchedulerCallback callback, void* userData, unsigned int priority,
                                 ZVSchedulerHandle& handle) override;
    ZVSchedulerHandle scheduleInternal(ZVSchedulerCallback callback, void* userData, std::int32_t priority,
                                       HZV device) override;
    ZVerror unschedule(ZVSchedulerHandle handle) override;
    void unscheduleInternal(ZVSchedulerHandle handle) override;
    ZVerror waitForCompletion(ZVSchedulerHandle handle, unsigned int mode, bool& completed) override;
    void shutdown() override;

private:
    class Transition;

    bool ensureOsExtender();
    ZVerror synchronous(ZVSchedulerCallback callback, void* userData, std::int32_t priority);
    ZVerror remove(ZVSchedulerHandle handle, Owner owner);
    // Schedules the tick bookkeeping operations that are missing; reports
    // which ones it scheduled.
    void scheduleBookkeeping(bool& scheduledStart, bool& scheduledEnd);
    // Takes the bookkeeping operations away from this object and removes them.
    void removeBookkeeping();
    // The part of a stop that a callback does: the loop ends after the
    // current tick, and nobody waits for a later one.
    void stopFromServoThread();

    sched::Scheduler* scheduler_;
    std::atomic<bool> osExtenderTried_{false};

    // Client threads start and stop one at a time: a transition is marked
    // under startStop_, which is then released, so that no lock is held while
    // a stop waits for the servo thread to end. The servo thread never takes
    // startStop_ and never waits for a transition: a stop from a callback
    // only asks the loop to end and releases waiters.
    std::mutex startStop_;
    std::condition_variable transitionEnded_;
    bool inTransition_ = false;

    // Exchanged, so that a stop on the servo thread and one on a client
    // thread never both remove the same operation.
    std::atomic<ZVSchedulerHandle> tickStartHandle_{ZV_INVALID_HANDLE};
    std::atomic<ZVSchedulerHandle> tickEndHandle_{ZV_INVALID_HANDLE};
    std::atomic<bool> handlersRegistered_{false};
};

IServoControl& servoControl();

}  // namespace zv
