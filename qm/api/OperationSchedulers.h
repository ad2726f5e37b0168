// Operation schedulers of named threads: work that other threads queue for
// the client thread or for the collision thread, run by that thread when it
// looks at its queue.
#pragma once

#include <cstdint>

#include "common/SchedulerThread.h"
#include "qm/qm.h"

namespace QM {

// A scheduler thread whose operations are run on demand by the OS thread it
// is bound to (the client thread inside qmCheckEvents, the collision thread
// when its wake-up event fires), rather than by a servo tick.
class OperationScheduler final : public sched::SchedulerThreadImp {
public:
    explicit OperationScheduler(QMenum name);
    ~OperationScheduler() override;

    QMenum symbol() const { return symbol_; }

    // Binds the scheduler to the calling thread, first unbinding it from the
    // thread it was bound to; registers it for that thread with the
    // scheduler-thread manager.
    void bindToCurrentThread();
    // Unbinds it from its thread, if any.
    void unbind();
    bool isBound() const { return isRunning(); }

    // Queues an operation; false (the operation has then been discarded) when
    // the queue is full or the scheduler is shutting down.
    bool schedule(sched::SchedulerOperation* operation, std::int32_t priority = 0);

    // Runs every operation queued now once, in priority order, on the calling
    // thread. The operations are taken out of the queue before they run, so
    // that an operation may queue further work, for this thread or another,
    // without holding the queue's lock; one that is not done afterwards is
    // queued again for the next run. Operations queued while the run is in
    // progress wait for the next run. Returns the number run.
    int runPending();

    // Deactivates and deletes every queued operation and refuses new ones.
    void shutDown();

private:
    QMenum symbol_;
};

// Creates the schedulers of QM_CLIENT_THREAD and then QM_COLLISION_THREAD
// (at library load, after the symbols).
void initialiseOperationSchedulers();
// Shuts them down and destroys them, then the scheduler-thread manager (at
// unload).
void releaseOperationSchedulers();
// The scheduler registered under a thread symbol, or null.
OperationScheduler* operationScheduler(QMenum thread);

}  // namespace QM
