// Scheduler threads and their operation lists.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "common/Lock.h"
#include "common/SchedulerOperation.h"
#include "platform/Platform.h"

namespace sched {

class SchedulerThreadImp;

// A thread that runs operations. The OS thread itself belongs to someone else
// (the device I/O library's servo loop, for instance); it attaches for the
// time it runs operations and detaches afterwards.
class SchedulerThread {
public:
    virtual void attach() = 0;
    virtual void detach() = 0;
    virtual bool isRunning() const = 0;
    virtual bool isCurrentThread() const = 0;
    virtual const std::string& name() const = 0;
    virtual int rate() const = 0;
    virtual void setRate(int rate) = 0;
    virtual const plat::Event& wakeUpEvent() const = 0;
    virtual SchedulerThreadImp* implementation() = 0;
    virtual ~SchedulerThread() = default;
};

// The operations of one scheduler thread, ordered by descending priority.
//
// A fixed pool of nodes, so that scheduling never allocates and a handle finds
// its operation in constant time. A handle names one scheduling of one
// operation, not a node: it is the node's index plus kCapacity times the
// node's generation, which advances every time the node is freed. A handle
// kept after its operation has gone therefore never names the operation that
// reuses the node. Free nodes are handed out least recently freed first, so a
// node's generation advances only once per kCapacity schedulings and takes
// billions of them to wrap. Scheduled nodes form a doubly linked list; a new
// node goes before the first node of lower priority, so equal priorities keep
// the order in which they were added. Every member takes the list lock, which
// is recursive, so a caller may hold it across several calls.
class OperationList : public CriticalSectionLock {
public:
    static constexpr int kCapacity = 1000;
    // Generations run 0..kMaxGeneration and wrap, so that every handle is a
    // non-negative int.
    static constexpr std::uint32_t kMaxGeneration =
        static_cast<std::uint32_t>((std::numeric_limits<int>::max() - (kCapacity - 1)) / kCapacity);

    struct Node {
        std::int32_t priority = 0;
        std::uint32_t generation = 0;
        Node* previous = nullptr;
        Node* next = nullptr;  // also links the free list
        SchedulerOperation* operation = nullptr;
    };

    OperationList();

    // Adds the operation and writes its handle into it. Returns the handle, or
    // -1 when the pool is exhausted.
    int insert(SchedulerOperation* operation, std::int32_t priority);
    // Unlinks the node that a handle names and frees it. Returns its
    // operation, or null when the handle names nothing (out of range, a free
    // node, or an earlier generation of the node).
    SchedulerOperation* removeHandle(int handle);
    // The operation scheduled under a handle, or null.
    SchedulerOperation* find(int handle) const;
    int count() const;

    // Traversal for the tick. The caller holds the lock.
    Node* head() const { return head_; }
    // The handle under which a scheduled node's operation was added.
    int handleOf(const Node* node) const {
        return static_cast<int>(node->generation) * kCapacity + static_cast<int>(node - nodes_);
    }
    // The same, under the name the rendering library's scheduler uses.
    int indexOf(const Node* node) const { return handleOf(node); }

private:
    Node* nodeOf(int handle) const;

    Node nodes_[kCapacity];
    Node* head_ = nullptr;
    Node* freeHead_ = nullptr;  // least recently freed
    Node* freeTail_ = nullptr;  // most recently freed
    int count_ = 0;
};

// The standard scheduler thread.
//
// running is set while a tick is in progress. The tick gate makes a tick and
// a synchronous operation executed inline on a client thread mutually
// exclusive: the inline caller holds the gate while it checks running and runs
// the callback, and the servo thread takes the gate only for the instant in
// which it sets or clears running. A tick therefore waits at most for one
// inline callback, and an inline callback never overlaps a tick.
class SchedulerThreadImp : public SchedulerThread {
public:
    explicit SchedulerThreadImp(std::string name);
    ~SchedulerThreadImp() override;

    void attach() override;
    void detach() override;
    bool isRunning() const override { return running_.load(std::memory_order_acquire); }
    bool isCurrentThread() const override;
    const std::string& name() const override { return name_; }
    int rate() const override { return rate_.load(std::memory_order_relaxed); }
    void setRate(int rate) override { rate_.store(rate, std::memory_order_relaxed); }
    const plat::Event& wakeUpEvent() const override { return wakeUp_; }
    SchedulerThreadImp* implementation() override { return this; }

    // Adds an operation at a list priority and optionally reports its handle
    // (read before the operation can complete on another thread). Fails when
    // the list is full, or once the thread is stopped: the operation is then
    // executed once on the spot. The caller discards an operation it could
    // not add.
    virtual bool add(SchedulerOperation* operation, std::int32_t priority, int* handle = nullptr);
    // Removes an operation: during a tick it is only marked done (the tick
    // removes it); otherwise it is unlinked, deactivated and deleted at once.
    // False when it is not in the list.
    virtual bool remove(SchedulerOperation* operation);
    virtual OperationList& operationList() { return list_; }
    virtual const OperationList& operationList() const { return list_; }
    virtual void setStopped(bool stopped) { stopped_.store(stopped, std::memory_order_release); }
    bool isStopped() const { return stopped_.load(std::memory_order_acquire); }

    plat::RecursiveLock& tickGate() { return gate_; }

    // The process's servo-loop thread, "ServoLoopThread", created on first
    // use. It outlives the Scheduler (operations and a servo thread may
    // still refer to it while a process exits); a library being unloaded
    // frees it with Scheduler::releaseProcessObjects.
    static SchedulerThreadImp& servoLoopThread();
    static void destroyServoLoopThread();

private:
    OperationList list_;
    std::atomic<bool> running_{false};
    std::atomic<plat::ThreadId> threadId_{0};
    std::atomic<bool> stopped_{false};
    plat::Event wakeUp_;
    std::string name_;
    std::atomic<int> rate_{0};
    plat::RecursiveLock gate_;
};

// Which scheduler thread runs on which OS thread. Entries live in a small
// sorted array reserved up front, so that attaching every tick allocates
// nothing.
class SchedulerThreadManager {
public:
    static SchedulerThreadManager& instance();
    static void destroyInstance();

    void attach(plat::ThreadId id, SchedulerThread* thread);
    void detach(plat::ThreadId id);
    // The scheduler thread attached on the OS thread `id`, or null.
    SchedulerThread* lookup(plat::ThreadId id);
    SchedulerThread* lookupCurrent() { return lookup(plat::currentThreadId()); }

private:
    SchedulerThreadManager();

    CriticalSectionLock lock_;
    std::vector<std::pair<plat::ThreadId, SchedulerThread*>> threads_;
};

}  // namespace sched
