#include "common/SchedulerOperation.h"

#include <memory>

namespace sched {

double counterPeriod() {
    static const double period = 1.0 / static_cast<double>(plat::counterFrequency());
    return period;
}

TimerObject::TimerObject() : creationCounter_(plat::counter()) {}

SchedulerOperation::SchedulerOperation(SchedulerThread* owner, bool autoDelete)
    : owner_(owner), startCounter_(creationCounter()), autoDelete_(autoDelete) {}

SchedulerOperation::~SchedulerOperation() { delete completion_.load(std::memory_order_acquire); }

plat::Event SchedulerOperation::completionEvent() const {
    plat::Event* event = completion_.load(std::memory_order_seq_cst);
    if (event == nullptr) {
        auto made = std::make_unique<plat::Event>(plat::ResetMode::Manual, false);
        if (completion_.compare_exchange_strong(event, made.get(), std::memory_order_seq_cst)) {
            event = made.release();
        }
    }
    // Completed before the event was published: the completing side may not
    // have seen the event, so it is set here.
    if (completed_.load(std::memory_order_seq_cst)) {
        event->set();
    }
    return *event;
}

bool SchedulerOperation::timedExecute() {
    elapsed_ = static_cast<double>(plat::counter() - startCounter_) * counterPeriod();
    execute();
    return true;
}

void SchedulerOperation::activate() {
    startCounter_ = plat::counter();
    elapsed_ = kNotStarted;
    active_ = true;
    onActivate();
    completed_.store(false, std::memory_order_seq_cst);
    if (plat::Event* event = completion_.load(std::memory_order_seq_cst)) {
        event->reset();
    }
}

void SchedulerOperation::deactivate() {
    active_ = false;
    onDeactivate();
    completed_.store(true, std::memory_order_seq_cst);
    if (plat::Event* event = completion_.load(std::memory_order_seq_cst)) {
        event->set();
    }
}

}  // namespace sched
