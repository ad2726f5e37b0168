#include "common/SchedulerOperation.h"

namespace sched {

double counterPeriod()
{
    static const double period = 1.0 / static_cast<double>(plat::counterFrequency());
    return period;
}

TimerObject::TimerObject() : creationCounter_(plat::counter()) {}

SchedulerOperation::SchedulerOperation(SchedulerThread* owner, bool autoDelete)
    : owner_(owner),
      startCounter_(creationCounter()),
      completion_(plat::ResetMode::Manual, false),
      autoDelete_(autoDelete)
{
}

SchedulerOperation::~SchedulerOperation() = default;

bool SchedulerOperation::timedExecute()
{
    elapsed_ = static_cast<double>(plat::counter() - startCounter_) * counterPeriod();
    execute();
    return true;
}

void SchedulerOperation::activate()
{
    startCounter_ = plat::counter();
    elapsed_ = kNotStarted;
    active_ = true;
    onActivate();
    completion_.reset();
}

void SchedulerOperation::deactivate()
{
    active_ = false;
    onDeactivate();
    completion_.set();
}

}  // namespace sched
