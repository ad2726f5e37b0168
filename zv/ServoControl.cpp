#include "zv/ServoControl.h"

#include <cstdint>
#include <limits>

#include "korvo/korvo.h"
#include "zv/CurrentDevice.h"
#include "zv/Errors.h"

namespace zv {

namespace {

constexpr unsigned int kMaxClientPriority = 0xFFFF;

// The list priority of a client priority; false when it is out of range.
bool listPriority(unsigned int clientPriority, std::int32_t& value) {
    value = static_cast<std::int32_t>(clientPriority & kMaxClientPriority) + 1;
    return clientPriority <= kMaxClientPriority;
}

ZVCallbackCode tickStart(void*) {
    errorStack().tickStart();
    return ZV_CALLBACK_CONTINUE;
}

ZVCallbackCode tickEnd(void*) {
    errorStack().tickEnd();
    return ZV_CALLBACK_CONTINUE;
}

void servoError(int code, void*) { raiseNoThrow(translateServoCode(code), code); }

ZVSchedulerHandle scheduled(sched::Scheduler& scheduler, ZvSchedulerOperation* operation, std::int32_t priority) {
    int handle = -1;
    if (scheduler.scheduleAsynchronous(operation, priority, &handle) != sched::ScheduleResult::Ok) {
        throw ZvError{ZV_SCHEDULER_FULL, 0};
    }
    return static_cast<ZVSchedulerHandle>(handle);
}

// A removal request: the handle and who asks. The request lives on the
// requester's stack; the synchronous call that carries it returns only after
// it has run or been discarded.
struct Removal {
    int handle;
    Owner owner;
};

// Handles that cannot be ints name nothing; they all map to -1.
int handleValue(ZVSchedulerHandle handle) {
    return handle <= static_cast<ZVSchedulerHandle>(std::numeric_limits<int>::max()) ? static_cast<int>(handle) : -1;
}

// The body of zvUnschedule, run as a synchronous operation (so never at the
// same time as a tick's pass over the list). An operation is removed only
// for whoever scheduled it.
ZVCallbackCode removeOperation(void* userData) {
    const Removal& removal = *static_cast<const Removal*>(userData);
    bool removed = false;
    if (sched::Scheduler* scheduler = sched::Scheduler::instance()) {
        sched::OperationList& list = scheduler->thread().operationList();
        sched::LockGuard guard(list);
        sched::SchedulerOperation* found = list.find(removal.handle);
        const auto* operation = dynamic_cast<const ZvSchedulerOperation*>(found);
        if (operation != nullptr && operation->scheduledBy() == removal.owner) {
            removed = scheduler->thread().remove(found);
        }
    }
    if (!removed) {
        raiseNoThrow(ZV_INVALID_OPERATION, 0);
    }
    return ZV_CALLBACK_DONE;
}

}  // namespace

// ---------------------------------------------------------------- ZvSchedulerOperation

ZvSchedulerOperation::ZvSchedulerOperation(ZVSchedulerCallback callback, void* userData, HZV device, Owner owner)
    : ContinualSchedulerOperation(&sched::SchedulerThreadImp::servoLoopThread(), true),
      device_(device),
      userData_(userData),
      callback_(callback),
      owner_(owner) {}

void ZvSchedulerOperation::execute() {
    setCurrentDevice(device_);
    if (callback_(userData_) == ZV_CALLBACK_DONE) {
        markDone();
    }
}

// ---------------------------------------------------------------- ServoControl

ServoControl::ServoControl() : scheduler_(sched::Scheduler::acquire()) {}

ServoControl::~ServoControl() = default;

bool ServoControl::ensureOsExtender() {
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

// One client transition (start, stop, shutdown) at a time; see startStop_.
class ServoControl::Transition {
public:
    explicit Transition(ServoControl& control) : control_(control) {
        std::unique_lock<std::mutex> lock(control_.startStop_);
        control_.transitionEnded_.wait(lock, [this] { return !control_.inTransition_; });
        control_.inTransition_ = true;
    }
    ~Transition() {
        {
            std::lock_guard<std::mutex> lock(control_.startStop_);
            control_.inTransition_ = false;
        }
        control_.transitionEnded_.notify_all();
    }
    Transition(const Transition&) = delete;
    Transition& operator=(const Transition&) = delete;

private:
    ServoControl& control_;
};

void ServoControl::scheduleBookkeeping(bool& scheduledStart, bool& scheduledEnd) {
    if (tickStartHandle_.load() == ZV_INVALID_HANDLE) {
        tickStartHandle_.store(scheduleInternal(tickStart, nullptr, kTickStartPriority, ZV_INVALID_HANDLE));
        scheduledStart = true;
    }
    if (tickEndHandle_.load() == ZV_INVALID_HANDLE) {
        tickEndHandle_.store(scheduleInternal(tickEnd, nullptr, kTickEndPriority, ZV_INVALID_HANDLE));
        scheduledEnd = true;
    }
}

void ServoControl::removeBookkeeping() {
    const ZVSchedulerHandle startHandle = tickStartHandle_.exchange(ZV_INVALID_HANDLE);
    const ZVSchedulerHandle endHandle = tickEndHandle_.exchange(ZV_INVALID_HANDLE);
    if (startHandle != ZV_INVALID_HANDLE) {
        unscheduleInternal(startHandle);
    }
    if (endHandle != ZV_INVALID_HANDLE) {
        unscheduleInternal(endHandle);
    }
}

void ServoControl::stopFromServoThread() {
    setServoErrorCallback(nullptr, nullptr);
    stopServoLoop();
    scheduler_->servo().setActivationPending(false);
    scheduler_->servo().setLoopActive(false);
    removeBookkeeping();
}

void ServoControl::start() {
    if (!ensureOsExtender()) {
        return;
    }
    if (scheduler_->thread().isCurrentThread()) {
        // A callback runs inside the loop it would start.
        raise(translateServoCode(KORVO_SERVO_ALREADY_RUNNING), KORVO_SERVO_ALREADY_RUNNING);
        return;
    }
    sched::ServoScheduler& servo = scheduler_->servo();
    Transition transition(*this);
    setPreServoCallback(&sched::ServoScheduler::preServoHandler, &servo);
    setPostServoCallback(&sched::ServoScheduler::postServoHandler, &servo);
    setServoErrorCallback(&servoError, nullptr);
    handlersRegistered_.store(true);

    // The bookkeeping operations are scheduled once per running loop; a start
    // that fails takes back what it scheduled.
    bool scheduledStart = false;
    bool scheduledEnd = false;
    const auto takeBack = [&] {
        if (scheduledStart) {
            scheduler_->removeHandle(static_cast<int>(tickStartHandle_.exchange(ZV_INVALID_HANDLE)));
        }
        if (scheduledEnd) {
            scheduler_->removeHandle(static_cast<int>(tickEndHandle_.exchange(ZV_INVALID_HANDLE)));
        }
    };
    try {
        scheduleBookkeeping(scheduledStart, scheduledEnd);
    } catch (...) {
        takeBack();
        throw;
    }

    // Marked active before the first tick can run, so that a synchronous call
    // made during that tick waits for it.
    const bool wasActive = servo.loopActive();
    servo.setLoopActive(true);
    servo.setActivationPending(true);
    const int rc = startServoLoop(&sched::ServoScheduler::servoHandler, &servo);
    if (rc != 0) {
        servo.setActivationPending(false);
        if (!wasActive) {
            servo.setLoopActive(false);
            takeBack();
        }
        raise(translateServoCode(rc), rc);
        return;
    }
    // A callback of the previous loop may have stopped it while this start
    // waited for its thread to end, removing the bookkeeping operations.
    bool unused = false;
    scheduleBookkeeping(unused, unused);
}

bool ServoControl::isRunning() const { return scheduler_ != nullptr && scheduler_->servo().loopActive(); }

void ServoControl::stop() {
    if (!ensureOsExtender()) {
        return;
    }
    if (scheduler_->thread().isCurrentThread()) {
        stopFromServoThread();
        return;
    }
    {
        Transition transition(*this);
        setServoErrorCallback(nullptr, nullptr);
        stopServoLoop();
        scheduler_->servo().setActivationPending(false);
        scheduler_->servo().setLoopActive(false);
    }
    removeBookkeeping();
}

void ServoControl::setRate(unsigned int rate) {
    if (!ensureOsExtender()) {
        return;
    }
    const int rc = setServoLoopRate(rate);
    if (rc != 0) {
        raise(translateServoCode(rc), rc);
    }
}

double ServoControl::timeStamp() { return getServoLoopTimeStamp(); }

ZVerror ServoControl::synchronous(ZVSchedulerCallback callback, void* userData, std::int32_t priority) {
    if (scheduler_->thread().isCurrentThread()) {
        // Inside a tick the callback runs now, with the current device it
        // would be given anyway; no later tick could complete it, so one that
        // asks to continue is refused. No operation is made for it.
        return callback(userData) == ZV_CALLBACK_DONE ? ZV_SUCCESS : ZV_INVALID_OPERATION;
    }
    auto* operation = new ZvSchedulerOperation(callback, userData, currentDevice());
    switch (scheduler_->scheduleSynchronous(operation, priority)) {
    case sched::ScheduleResult::Ok: return ZV_SUCCESS;
    case sched::ScheduleResult::Full: return ZV_SCHEDULER_FULL;
    case sched::ScheduleResult::NotCompleted: return ZV_INVALID_OPERATION;
    }
    return ZV_INVALID_OPERATION;
}

ZVerror ServoControl::scheduleSynchronous(ZVSchedulerCallback callback, void* userData, unsigned int priority) {
    std::int32_t listValue = 0;
    if (!listPriority(priority, listValue)) {
        return ZV_INVALID_PRIORITY;
    }
    if (callback == nullptr) {
        return ZV_INVALID_VALUE;
    }
    return synchronous(callback, userData, listValue);
}

ZVerror ServoControl::scheduleAsynchronous(ZVSchedulerCallback callback, void* userData, unsigned int priority,
                                           ZVSchedulerHandle& handle) {
    handle = ZV_INVALID_HANDLE;
    std::int32_t listValue = 0;
    if (!listPriority(priority, listValue)) {
        return ZV_INVALID_PRIORITY;
    }
    if (callback == nullptr) {
        return ZV_INVALID_VALUE;
    }
    auto* operation = new ZvSchedulerOperation(callback, userData, currentDevice());
    int index = -1;
    if (scheduler_->scheduleAsynchronous(operation, listValue, &index) != sched::ScheduleResult::Ok) {
        return ZV_SCHEDULER_FULL;
    }
    handle = static_cast<ZVSchedulerHandle>(index);
    return ZV_SUCCESS;
}

ZVSchedulerHandle ServoControl::scheduleInternal(ZVSchedulerCallback callback, void* userData, std::int32_t priority,
                                                 HZV device) {
    return scheduled(*scheduler_, new ZvSchedulerOperation(callback, userData, device, Owner::Library), priority);
}

ZVerror ServoControl::remove(ZVSchedulerHandle handle, Owner owner) {
    Removal removal{handleValue(handle), owner};
    std::int32_t priority = 0;
    listPriority(0, priority);
    return synchronous(removeOperation, &removal, priority);
}

ZVerror ServoControl::unschedule(ZVSchedulerHandle handle) { return remove(handle, Owner::Client); }

// The library removes its own operations at once, under the list lock,
// instead of through a synchronous operation: a tick's pass holds that lock,
// so the removal falls between passes, where an operation is only marked
// done during a tick (the tick retires it) and deleted otherwise. The removal
// thus needs no free slot and waits for no tick, and a loop that stops
// meanwhile cannot leave the operation behind.
void ServoControl::unscheduleInternal(ZVSchedulerHandle handle) {
    bool removed = false;
    {
        sched::OperationList& list = scheduler_->thread().operationList();
        sched::LockGuard guard(list);
        sched::SchedulerOperation* found = list.find(handleValue(handle));
        const auto* operation = dynamic_cast<const ZvSchedulerOperation*>(found);
        if (operation != nullptr && operation->scheduledBy() == Owner::Library) {
            removed = scheduler_->thread().remove(found);
        }
    }
    if (!removed) {
        raise(ZV_INVALID_OPERATION, 0);
    }
}

ZVerror ServoControl::waitForCompletion(ZVSchedulerHandle handle, unsigned int mode, bool& completed) {
    completed = false;
    const int index = handleValue(handle);
    if (index < 0) {
        return ZV_SUCCESS;
    }
    if (mode != ZV_WAIT_INFINITE) {
        completed = scheduler_->isScheduled(index);
        return ZV_SUCCESS;
    }
    switch (scheduler_->waitForCompletion(index)) {
    case sched::WaitResult::Completed: completed = true; return ZV_SUCCESS;
    case sched::WaitResult::NotScheduled: return ZV_SUCCESS;
    case sched::WaitResult::NoServoLoop: break;
    }
    if (scheduler_->thread().isCurrentThread() || sched::Scheduler::insideInlineCallback()) {
        return ZV_INVALID_OPERATION;
    }
    return ZV_SUCCESS;
}

void ServoControl::shutdown() {
    // The I/O library is left alone unless the handlers were registered. An
    // unload on the servo thread (a callback that exits the process) only
    // asks the loop to end.
    if (handlersRegistered_.load()) {
        const auto stopAndUnregister = [this] {
            if (scheduler_->servo().loopActive()) {
                setServoErrorCallback(nullptr, nullptr);
                stopServoLoop();
                scheduler_->servo().setActivationPending(false);
                scheduler_->servo().setLoopActive(false);
            }
            setPreServoCallback(nullptr, nullptr);
            setPostServoCallback(nullptr, nullptr);
            setServoErrorCallback(nullptr, nullptr);
        };
        if (scheduler_->thread().isCurrentThread()) {
            stopAndUnregister();
        } else {
            Transition transition(*this);
            stopAndUnregister();
        }
    }
    scheduler_->releaseReference();
    scheduler_ = nullptr;
}

}  // namespace zv
