#include "common/Scheduler.h"

#include <array>
#include <mutex>

namespace sched {

namespace {

std::mutex g_instanceMutex;

std::mutex& instanceMutex() { return g_instanceMutex; }

std::atomic<Scheduler*> g_instance{nullptr};

// Depth of inline synchronous execution on this thread. While it is above 0
// the thread holds the tick gate, so no tick can start before it returns.
thread_local int t_inlineDepth = 0;

class InlineScope {
public:
    InlineScope() { ++t_inlineDepth; }
    ~InlineScope() { --t_inlineDepth; }
    InlineScope(const InlineScope&) = delete;
    InlineScope& operator=(const InlineScope&) = delete;
};

void discard(SchedulerOperation* operation) { delete operation; }

}  // namespace

// ---------------------------------------------------------------- ServoScheduler

ServoScheduler::ServoScheduler(Scheduler& owner) : owner_(owner), loopIdle_(plat::ResetMode::Manual, true) {}

int ServoScheduler::preServoHandler(void* context) {
    static_cast<ServoScheduler*>(context)->preServo();
    return 0;
}

int ServoScheduler::servoHandler(void* context) {
    static_cast<ServoScheduler*>(context)->servo();
    return 0;
}

int ServoScheduler::postServoHandler(void* context) {
    static_cast<ServoScheduler*>(context)->postServo();
    return 0;
}

void ServoScheduler::preServo() {
    if (activationPending_.exchange(false, std::memory_order_acq_rel)) {
        setLoopActive(true);
    }
    owner_.thread().attach();
    inTick_.store(true, std::memory_order_release);
}

// One pass over the list under its lock. The next node is read before the
// current operation runs: an operation that completes is unlinked right away,
// and operations unscheduled during the tick are only marked done, so the
// saved next node stays valid.
void ServoScheduler::servo() {
    if (!inTick()) {
        return;
    }
    OperationList& list = owner_.thread().operationList();
    LockGuard guard(list);
    for (OperationList::Node* node = list.head(); node != nullptr;) {
        OperationList::Node* next = node->next;
        SchedulerOperation* operation = node->operation;
        if (!operation->isActive()) {
            operation->activate();
        }
        if (!operation->isDone()) {
            operation->timedExecute();
        }
        if (operation->isDone()) {
            retire(list, node);
        }
        node = next;
    }
}

// A finished operation leaves the list: its node is freed, its completion
// event signalled, and it is deleted when the scheduler owns it.
void ServoScheduler::retire(OperationList& list, OperationList::Node* node) {
    SchedulerOperation* operation = node->operation;
    list.removeHandle(list.handleOf(node));
    operation->deactivate();
    if (operation->autoDelete()) {
        delete operation;
    }
}

void ServoScheduler::postServo() {
    if (!inTick()) {
        return;
    }
    {
        OperationList& list = owner_.thread().operationList();
        LockGuard guard(list);
        for (OperationList::Node* node = list.head(); node != nullptr;) {
            OperationList::Node* next = node->next;
            SchedulerOperation* operation = node->operation;
            if (!operation->isDone()) {
                operation->idleTick();
            } else {
                retire(list, node);
            }
            node = next;
        }
    }
    inTick_.store(false, std::memory_order_release);
    owner_.thread().detach();
}

void ServoScheduler::setLoopActive(bool active) {
    std::lock_guard<std::mutex> lock(activityMutex_);
    loopActive_.store(active, std::memory_order_release);
    if (active) {
        loopIdle_.reset();
    } else {
        loopIdle_.set();
    }
}

// ---------------------------------------------------------------- Scheduler

Scheduler::Scheduler() : thread_(SchedulerThreadImp::servoLoopThread()), servo_(new ServoScheduler(*this)) {
    thread_.setStopped(false);
    thread_.setRate(kServoRate);
}

Scheduler::~Scheduler() {
    thread_.setStopped(true);
    {
        OperationList& list = thread_.operationList();
        LockGuard guard(list);
        while (OperationList::Node* node = list.head()) {
            SchedulerOperation* operation = list.removeHandle(list.handleOf(node));
            operation->deactivate();
            if (operation->autoDelete()) {
                delete operation;
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(instanceMutex());
        if (g_instance.load() == this) {
            g_instance.store(nullptr);
        }
    }
    delete servo_;
}

Scheduler* Scheduler::acquire() {
    std::lock_guard<std::mutex> lock(instanceMutex());
    Scheduler* scheduler = g_instance.load();
    if (scheduler == nullptr) {
        scheduler = new Scheduler();
        g_instance.store(scheduler);
    }
    scheduler->addReference();
    return scheduler;
}

Scheduler* Scheduler::instance() { return g_instance.load(std::memory_order_acquire); }

bool Scheduler::insideInlineCallback() { return t_inlineDepth > 0; }

void Scheduler::releaseProcessObjects() {
    std::lock_guard<std::mutex> lock(instanceMutex());
    if (g_instance.load() == nullptr) {
        SchedulerThreadImp::destroyServoLoopThread();
        SchedulerThreadManager::destroyInstance();
    }
}

ScheduleResult Scheduler::scheduleSynchronous(SchedulerOperation* operation, std::int32_t priority) {
    if (thread_.isCurrentThread()) {
        // On the servo thread, inside a tick: run now. A later tick would need
        // this very thread, so an operation that asks to continue cannot be
        // waited for.
        operation->execute();
        const bool done = operation->isDone();
        discard(operation);
        return done ? ScheduleResult::Ok : ScheduleResult::NotCompleted;
    }
    {
        std::lock_guard<plat::RecursiveLock> gate(thread_.tickGate());
        if (!thread_.isRunning()) {
            {
                InlineScope scope;
                operation->execute();
            }
            if (operation->isDone()) {
                discard(operation);
                return ScheduleResult::Ok;
            }
            if (!servo_->loopActive() || insideInlineCallback()) {
                discard(operation);
                return ScheduleResult::NotCompleted;
            }
        }
    }

    const plat::Event completed = operation->completionEvent();
    int handle = -1;
    if (!thread_.add(operation, priority, &handle)) {
        discard(operation);
        return ScheduleResult::Full;
    }
    const plat::Event idle = servo_->loopIdleEvent();
    const std::array<const plat::Waitable*, 2> objects{&completed, &idle};
    if (plat::waitAny(objects) == 0) {
        return ScheduleResult::Ok;
    }
    // The loop stopped. Under the list lock an operation that has not
    // signalled completion is still in the list, so it can be taken out
    // safely; one that has signalled is gone.
    OperationList& list = thread_.operationList();
    LockGuard guard(list);
    if (completed.isSet()) {
        return ScheduleResult::Ok;
    }
    SchedulerOperation* pending = list.removeHandle(handle);
    if (pending != nullptr) {
        pending->deactivate();
        discard(pending);
    }
    return ScheduleResult::NotCompleted;
}

ScheduleResult Scheduler::scheduleAsynchronous(SchedulerOperation* operation, std::int32_t priority, int* handle) {
    int index = -1;
    if (!thread_.add(operation, priority, &index)) {
        discard(operation);
        return ScheduleResult::Full;
    }
    if (handle != nullptr) {
        *handle = index;
    }
    return ScheduleResult::Ok;
}

bool Scheduler::isScheduled(int handle) { return thread_.operationList().find(handle) != nullptr; }

WaitResult Scheduler::waitForCompletion(int handle) {
    // The servo thread and inline callbacks would wait for themselves; they
    // only look, and need no event for that.
    const bool mayBlock = !thread_.isCurrentThread() && !insideInlineCallback();
    plat::Event completed;
    {
        OperationList& list = thread_.operationList();
        LockGuard guard(list);
        SchedulerOperation* operation = list.find(handle);
        if (operation == nullptr) {
            return WaitResult::NotScheduled;
        }
        if (!mayBlock) {
            return operation->isCompleted() ? WaitResult::Completed : WaitResult::NoServoLoop;
        }
        completed = operation->completionEvent();
    }
    const plat::Event idle = servo_->loopIdleEvent();
    const std::array<const plat::Waitable*, 2> objects{&completed, &idle};
    return plat::waitAny(objects) == 0 ? WaitResult::Completed : WaitResult::NoServoLoop;
}

bool Scheduler::removeHandle(int handle) {
    OperationList& list = thread_.operationList();
    LockGuard guard(list);
    SchedulerOperation* operation = list.find(handle);
    if (operation == nullptr) {
        return false;
    }
    return thread_.remove(operation);
}

}  // namespace sched
