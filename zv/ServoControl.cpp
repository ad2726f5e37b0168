#include "zv/ServoControl.h"

#include <cstdint>

#include "korvo/korvo.h"
#include "zv/CurrentDevice.h"
#include "zv/Errors.h"

namespace zv {

namespace {

constexpr unsigned int kMaxClientPriority = 0xFFFF;

std::int32_t listPriority(unsigned int clientPriority)
{
    if (clientPriority > kMaxClientPriority) {
        throw ZvError{ZV_INVALID_PRIORITY, 0};
    }
    return static_cast<std::int32_t>(clientPriority) + 1;
}

ZVCallbackCode tickStart(void*)
{
    errorStack().tickStart();
    return ZV_CALLBACK_CONTINUE;
}

ZVCallbackCode tickEnd(void*)
{
    errorStack().tickEnd();
    return ZV_CALLBACK_CONTINUE;
}

void servoError(int code, void*)
{
    raiseNoThrow(translateServoCode(code), code);
}

// The body of zvUnschedule, run as a synchronous operation (so never at the
// same time as a tick's pass over the list).
ZVCallbackCode removeOperation(void* userData)
{
    const auto handle = static_cast<int>(reinterpret_cast<std::intptr_t>(userData));
    sched::Scheduler* scheduler = sched::Scheduler::instance();
    if (scheduler == nullptr || !scheduler->removeHandle(handle)) {
        raiseNoThrow(ZV_INVALID_OPERATION, 0);
    }
    return ZV_CALLBACK_DONE;
}

void* handleAsUserData(ZVSchedulerHandle handle)
{
    // Handles beyond the pool can never be scheduled; map them all to one
    // value that is out of range on every platform.
    const std::intptr_t value = handle < static_cast<ZVSchedulerHandle>(sched::OperationList::kCapacity)
                                    ? static_cast<std::intptr_t>(handle)
                                    : -1;
    return reinterpret_cast<void*>(value);
}

}  // namespace

// ---------------------------------------------------------------- ZvSchedulerOperation

ZvSchedulerOperation::ZvSchedulerOperation(ZVSchedulerCallback callback, void* userData, HZV device)
    : ContinualSchedulerOperation(&sched::SchedulerThreadImp::servoLoopThread(), true),
      device_(device),
      userData_(userData),
      callback_(callback)
{
}

void ZvSchedulerOperation::execute()
{
    setCurrentDevice(device_);
    if (callback_(userData_) == ZV_CALLBACK_DONE) {
        markDone();
    }
}

// ---------------------------------------------------------------- ServoControl

ServoControl::ServoControl() : scheduler_(sched::Scheduler::acquire()) {}

ServoControl::~ServoControl() = default;

bool ServoControl::ensureOsExtender()
{
    if (osExtenderTried_.exchange(true)) {
        return true;
    }
    const int rc = initOSExtender();
    if (rc != 0) {
        raise(translateServoCode(rc), rc);
        return false;
    }
    return true;
}

void ServoControl::start()
{
    if (!ensureOsExtender()) {
        return;
    }
    sched::ServoScheduler& servo = scheduler_->servo();
    std::lock_guard<std::mutex> lock(startStop_);
    setPreServoCallback(&sched::ServoScheduler::preServoHandler, &servo);
    setPostServoCallback(&sched::ServoScheduler::postServoHandler, &servo);
    setServoErrorCallback(&servoError, nullptr);
    handlersRegistered_ = true;

    // The bookkeeping operations are scheduled once per running loop; a start
    // that fails takes back what it scheduled.
    bool scheduledStart = false;
    bool scheduledEnd = false;
    const auto takeBack = [&] {
        if (scheduledStart) {
            scheduler_->removeHandle(static_cast<int>(tickStartHandle_));
            tickStartHandle_ = ZV_INVALID_HANDLE;
        }
        if (scheduledEnd) {
            scheduler_->removeHandle(static_cast<int>(tickEndHandle_));
            tickEndHandle_ = ZV_INVALID_HANDLE;
        }
    };
    if (tickStartHandle_ == ZV_INVALID_HANDLE) {
        tickStartHandle_ = scheduleInternal(tickStart, nullptr, kTickStartPriority, ZV_INVALID_HANDLE);
        scheduledStart = true;
    }
    if (tickEndHandle_ == ZV_INVALID_HANDLE) {
        try {
            tickEndHandle_ = scheduleInternal(tickEnd, nullptr, kTickEndPriority, ZV_INVALID_HANDLE);
        } catch (...) {
            takeBack();
            throw;
        }
        scheduledEnd = true;
    }

    // Marked active before the first tick can run, so that a synchronous call
    // made during that tick waits for it.
    const bool wasActive = servo.loopActive();
    servo.setLoopActive(true);
    const int rc = startServoLoop(&sched::ServoScheduler::servoHandler, &servo);
    if (rc != 0) {
        if (!wasActive) {
            servo.setLoopActive(false);
            takeBack();
        }
        raise(translateServoCode(rc), rc);
    }
}

bool ServoControl::isRunning() const { return scheduler_ != nullptr && scheduler_->servo().loopActive(); }

void ServoControl::stop()
{
    if (!ensureOsExtender()) {
        return;
    }
    ZVSchedulerHandle startHandle = ZV_INVALID_HANDLE;
    ZVSchedulerHandle endHandle = ZV_INVALID_HANDLE;
    {
        std::lock_guard<std::mutex> lock(startStop_);
        setServoErrorCallback(nullptr, nullptr);
        stopServoLoop();
        scheduler_->servo().setLoopActive(false);
        std::swap(startHandle, tickStartHandle_);
        std::swap(endHandle, tickEndHandle_);
    }
    if (startHandle != ZV_INVALID_HANDLE) {
        unschedule(startHandle);
    }
    if (endHandle != ZV_INVALID_HANDLE) {
        unschedule(endHandle);
    }
}

void ServoControl::setRate(unsigned int rate)
{
    if (!ensureOsExtender()) {
        return;
    }
    const int rc = setServoLoopRate(rate);
    if (rc != 0) {
        raise(translateServoCode(rc), rc);
    }
}

double ServoControl::timeStamp() { return getServoLoopTimeStamp(); }

void ServoControl::synchronous(ZVSchedulerCallback callback, void* userData, std::int32_t priority)
{
    auto* operation = new ZvSchedulerOperation(callback, userData, currentDevice());
    switch (scheduler_->scheduleSynchronous(operation, priority)) {
    case sched::ScheduleResult::Ok:
        return;
    case sched::ScheduleResult::Full:
        throw ZvError{ZV_SCHEDULER_FULL, 0};
    case sched::ScheduleResult::NotCompleted:
        throw ZvError{ZV_INVALID_OPERATION, 0};
    }
}

void ServoControl::scheduleSynchronous(ZVSchedulerCallback callback, void* userData, unsigned int priority)
{
    const std::int32_t listValue = listPriority(priority);
    if (callback == nullptr) {
        throw ZvError{ZV_INVALID_VALUE, 0};
    }
    synchronous(callback, userData, listValue);
}

ZVSchedulerHandle ServoControl::scheduleAsynchronous(ZVSchedulerCallback callback, void* userData,
                                                     unsigned int priority)
{
    const std::int32_t listValue = listPriority(priority);
    if (callback == nullptr) {
        throw ZvError{ZV_INVALID_VALUE, 0};
    }
    return scheduleInternal(callback, userData, listValue, currentDevice());
}

ZVSchedulerHandle ServoControl::scheduleInternal(ZVSchedulerCallback callback, void* userData, std::int32_t priority,
                                                 HZV device)
{
    auto* operation = new ZvSchedulerOperation(callback, userData, device);
    int handle = -1;
    if (scheduler_->scheduleAsynchronous(operation, priority, &handle) != sched::ScheduleResult::Ok) {
        throw ZvError{ZV_SCHEDULER_FULL, 0};
    }
    return static_cast<ZVSchedulerHandle>(handle);
}

void ServoControl::unschedule(ZVSchedulerHandle handle)
{
    synchronous(removeOperation, handleAsUserData(handle), listPriority(0));
}

bool ServoControl::waitForCompletion(ZVSchedulerHandle handle, unsigned int mode)
{
    if (handle >= static_cast<ZVSchedulerHandle>(sched::OperationList::kCapacity)) {
        return false;
    }
    const int index = static_cast<int>(handle);
    if (mode != ZV_WAIT_INFINITE) {
        return scheduler_->isScheduled(index);
    }
    switch (scheduler_->waitForCompletion(index)) {
    case sched::WaitResult::Completed:
        return true;
    case sched::WaitResult::NotScheduled:
        return false;
    case sched::WaitResult::NoServoLoop:
        break;
    }
    if (scheduler_->thread().isCurrentThread() || sched::Scheduler::insideInlineCallback()) {
        throw ZvError{ZV_INVALID_OPERATION, 0};
    }
    return false;
}

void ServoControl::shutdown()
{
    {
        // The I/O library is left alone unless the handlers were registered.
        std::lock_guard<std::mutex> lock(startStop_);
        if (handlersRegistered_) {
            if (scheduler_->servo().loopActive()) {
                setServoErrorCallback(nullptr, nullptr);
                stopServoLoop();
                scheduler_->servo().setLoopActive(false);
            }
            setPreServoCallback(nullptr, nullptr);
            setPostServoCallback(nullptr, nullptr);
            setServoErrorCallback(nullptr, nullptr);
        }
    }
    scheduler_->releaseReference();
    scheduler_ = nullptr;
}

}  // namespace zv
