// Device faults planned ahead: codes that reach the fault injector at given
// times of the device's own clock, so that a program can be made to meet a
// disconnected cable or a failed amplifier at a chosen moment of a run
// without changing its code.
#pragma once

#include <string>
#include <vector>

#include "FaultInjector.h"

namespace korvo::sim {

struct ScheduledFault {
    double time;      // seconds of simulated time since the device was opened
    int code;         // a device code (negative), or 0 to clear
    bool persistent;  // korvo_sim_set_persistent_fault rather than a one-shot
};

class IFaultSchedule {
public:
    virtual ~IFaultSchedule() = default;
    // Hands every fault whose time is not after `time` and that has not been
    // handed yet to `faults`, in time order.
    virtual void apply(double time, IFaultInjector& faults) noexcept = 0;
    // True once every fault has been handed over.
    virtual bool finished() const noexcept = 0;
};

class FaultSchedule final : public IFaultSchedule {
public:
    FaultSchedule() = default;
    // Faults of equal time keep their order.
    explicit FaultSchedule(std::vector<ScheduledFault> faults);

    // Reads a list "time:code[:persistent]" separated by commas, e.g.
    // "2.5:-17,4.0:-4:persistent"; blanks around the items and fields are
    // allowed. Throws Error(KORVO_SIM_E_PARSE) for an empty list or item, a
    // time that is not a finite number >= 0, a code that is not an integer
    // <= 0, or a third field other than "persistent".
    static FaultSchedule parse(const std::string& text);

    void apply(double time, IFaultInjector& faults) noexcept override;
    bool finished() const noexcept override { return next_ >= faults_.size(); }
    const std::vector<ScheduledFault>& faults() const noexcept { return faults_; }

private:
    std::vector<ScheduledFault> faults_;
    std::size_t next_ = 0;
};

}  // namespace korvo::sim
