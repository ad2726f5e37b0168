#include "common/SchedulerThread.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace sched {

namespace {

// Process objects created on first use; the atomic pointer keeps the common
// path (every tick attaches the servo thread) free of locking.
template <class T>
class ProcessObject {
public:
    template <class Make>
    T& get(Make make) {
        T* object = pointer_.load(std::memory_order_acquire);
        if (object == nullptr) {
            std::lock_guard<std::mutex> lock(mutex_);
            object = pointer_.load(std::memory_order_acquire);
            if (object == nullptr) {
                object = make();
                pointer_.store(object, std::memory_order_release);
            }
        }
        return *object;
    }
    void destroy() {
        std::lock_guard<std::mutex> lock(mutex_);
        delete pointer_.exchange(nullptr, std::memory_order_acq_rel);
    }

private:
    std::mutex mutex_;
    std::atomic<T*> pointer_{nullptr};
};

ProcessObject<SchedulerThreadImp> g_servoLoopThread;
ProcessObject<SchedulerThreadManager> g_threadManager;

}  // namespace

// ---------------------------------------------------------------- OperationList

OperationList::OperationList() {
    for (int i = 0; i + 1 < kCapacity; ++i) {
        nodes_[i].next = &nodes_[i + 1];
    }
    freeHead_ = &nodes_[0];
    freeTail_ = &nodes_[kCapacity - 1];
}

OperationList::Node* OperationList::nodeOf(int handle) const {
    if (handle < 0) {
        return nullptr;
    }
    Node* node = const_cast<Node*>(&nodes_[handle % kCapacity]);
    const auto generation = static_cast<std::uint32_t>(handle / kCapacity);
    if (node->operation == nullptr || node->generation != generation) {
        return nullptr;
    }
    return node;
}

int OperationList::insert(SchedulerOperation* operation, std::int32_t priority) {
    LockGuard guard(*this);
    if (count_ >= kCapacity || freeHead_ == nullptr) {
        return -1;
    }
    Node* node = freeHead_;
    freeHead_ = node->next;
    if (freeHead_ == nullptr) {
        freeTail_ = nullptr;
    }
    const int handle = handleOf(node);
    operation->setHandle(handle);
    node->priority = priority;
    node->operation = operation;
    node->previous = nullptr;
    node->next = nullptr;

    if (head_ == nullptr) {
        head_ = node;
    } else {
        Node* at = head_;
        Node* last = nullptr;
        while (at != nullptr && at->priority >= priority) {
            last = at;
            at = at->next;
        }
        if (at == nullptr) {
            last->next = node;
            node->previous = last;
        } else {
            node->next = at;
            node->previous = at->previous;
            if (at->previous != nullptr) {
                at->previous->next = node;
            } else {
                head_ = node;
            }
            at->previous = node;
        }
    }
    ++count_;
    return handle;
}

SchedulerOperation* OperationList::removeHandle(int handle) {
    LockGuard guard(*this);
    Node* node = nodeOf(handle);
    if (node == nullptr) {
        return nullptr;
    }
    SchedulerOperation* operation = node->operation;
    if (node->previous != nullptr) {
        node->previous->next = node->next;
    } else {
        head_ = node->next;
    }
    if (node->next != nullptr) {
        node->next->previous = node->previous;
    }
    node->operation = nullptr;
    node->previous = nullptr;
    node->next = nullptr;
    node->generation = node->generation == kMaxGeneration ? 0 : node->generation + 1;
    if (freeTail_ != nullptr) {
        freeTail_->next = node;
    } else {
        freeHead_ = node;
    }
    freeTail_ = node;
    --count_;
    return operation;
}

SchedulerOperation* OperationList::find(int handle) const {
    LockGuard guard(const_cast<OperationList&>(*this));
    const Node* node = nodeOf(handle);
    return node != nullptr ? node->operation : nullptr;
}

int OperationList::count() const {
    LockGuard guard(const_cast<OperationList&>(*this));
    return count_;
}

// ---------------------------------------------------------------- SchedulerThreadImp

SchedulerThreadImp::SchedulerThreadImp(std::string name)
    : wakeUp_(plat::ResetMode::Auto, false), name_(std::move(name)) {}

SchedulerThreadImp::~SchedulerThreadImp() = default;

void SchedulerThreadImp::attach() {
    if (isRunning()) {
        detach();
    }
    const plat::ThreadId self = plat::currentThreadId();
    {
        std::lock_guard<plat::RecursiveLock> gate(gate_);
        threadId_.store(self, std::memory_order_release);
        running_.store(true, std::memory_order_release);
    }
    SchedulerThreadManager::instance().attach(self, this);
}

void SchedulerThreadImp::detach() {
    {
        std::lock_guard<plat::RecursiveLock> gate(gate_);
        running_.store(false, std::memory_order_release);
    }
    SchedulerThreadManager::instance().detach(threadId_.load(std::memory_order_acquire));
    threadId_.store(0, std::memory_order_release);
}

bool SchedulerThreadImp::isCurrentThread() const {
    return threadId_.load(std::memory_order_acquire) == plat::currentThreadId();
}

bool SchedulerThreadImp::add(SchedulerOperation* operation, std::int32_t priority, int* handle) {
    if (isStopped()) {
        operation->execute();
        return false;
    }
    const int index = list_.insert(operation, priority);
    if (index < 0) {
        return false;
    }
    if (handle != nullptr) {
        *handle = index;
    }
    wakeUp_.set();
    return true;
}

bool SchedulerThreadImp::remove(SchedulerOperation* operation) {
    LockGuard guard(list_);
    const int handle = operation->handle();
    if (list_.find(handle) != operation) {
        return false;
    }
    if (isRunning()) {
        operation->markDone();
        return true;
    }
    list_.removeHandle(handle);
    operation->deactivate();
    if (operation->autoDelete()) {
        delete operation;
    }
    return true;
}

SchedulerThreadImp& SchedulerThreadImp::servoLoopThread() {
    return g_servoLoopThread.get([] { return new SchedulerThreadImp("ServoLoopThread"); });
}

void SchedulerThreadImp::destroyServoLoopThread() { g_servoLoopThread.destroy(); }

// ---------------------------------------------------------------- SchedulerThreadManager

SchedulerThreadManager::SchedulerThreadManager() { threads_.reserve(16); }

SchedulerThreadManager& SchedulerThreadManager::instance() {
    return g_threadManager.get([] { return new SchedulerThreadManager(); });
}

void SchedulerThreadManager::destroyInstance() { g_threadManager.destroy(); }

void SchedulerThreadManager::attach(plat::ThreadId id, SchedulerThread* thread) {
    LockGuard guard(lock_);
    auto at = std::lower_bound(threads_.begin(), threads_.end(), id,
                               [](const auto& entry, plat::ThreadId key) { return entry.first < key; });
    if (at != threads_.end() && at->first == id) {
        at->second = thread;
    } else {
        threads_.insert(at, {id, thread});
    }
}

void SchedulerThreadManager::detach(plat::ThreadId id) {
    LockGuard guard(lock_);
    auto at = std::lower_bound(threads_.begin(), threads_.end(), id,
                               [](const auto& entry, plat::ThreadId key) { return entry.first < key; });
    if (at != threads_.end() && at->first == id) {
        threads_.erase(at);
    }
}

SchedulerThread* SchedulerThreadManager::lookup(plat::ThreadId id) {
    LockGuard guard(lock_);
    auto at = std::lower_bound(threads_.begin(), threads_.end(), id,
                               [](const auto& entry, plat::ThreadId key) { return entry.first < key; });
    return (at != threads_.end() && at->first == id) ? at->second : nullptr;
}

}  // namespace sched
