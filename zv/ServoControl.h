// The device library's side of the servo scheduler.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/Scheduler.h"
#include "zv/zv.h"

namespace zv {

// A client operation: a C callback with its user data, run with the device
// that was current when it was scheduled.
class ZvSchedulerOperation : public sched::ContinualSchedulerOperation {
public:
    ZvSchedulerOperation(ZVSchedulerCallback callback, void* userData, HZV device);

    void execute() override;
    bool isDone() const override { return done_.load(std::memory_order_acquire); }
    void markDone() override { done_.store(true, std::memory_order_release); }

private:
    std::atomic<bool> done_{false};
    HZV device_;
    void* userData_;
    ZVSchedulerCallback callback_;
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
    virtual void scheduleSynchronous(ZVSchedulerCallback callback, void* userData, unsigned int priority) = 0;
    virtual ZVSchedulerHandle scheduleAsynchronous(ZVSchedulerCallback callback, void* userData,
                                                   unsigned int priority) = 0;
    // Schedules an internal operation at a list priority with its own device.
    // Throws ZV_SCHEDULER_FULL.
    virtual ZVSchedulerHandle scheduleInternal(ZVSchedulerCallback callback, void* userData, std::int32_t priority,
                                               HZV device) = 0;
    virtual void unschedule(ZVSchedulerHandle handle) = 0;
    virtual bool waitForCompletion(ZVSchedulerHandle handle, unsigned int mode) = 0;
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
    void scheduleSynchronous(ZVSchedulerCallback callback, void* userData, unsigned int priority) override;
    ZVSchedulerHandle scheduleAsynchronous(ZVSchedulerCallback callback, void* userData,
                                           unsigned int priority) override;
    ZVSchedulerHandle scheduleInternal(ZVSchedulerCallback callback, void* userData, std::int32_t priority,
                                       HZV device) override;
    void unschedule(ZVSchedulerHandle handle) override;
    bool waitForCompletion(ZVSchedulerHandle handle, unsigned int mode) override;
    void shutdown() override;

private:
    bool ensureOsExtender();
    void synchronous(ZVSchedulerCallback callback, void* userData, std::int32_t priority);

    sched::Scheduler* scheduler_;
    std::atomic<bool> osExtenderTried_{false};
    // Serialises start and stop with each other.
    std::mutex startStop_;
    ZVSchedulerHandle tickStartHandle_ = ZV_INVALID_HANDLE;
    ZVSchedulerHandle tickEndHandle_ = ZV_INVALID_HANDLE;
    bool handlersRegistered_ = false;
};

IServoControl& servoControl();

}  // namespace zv
