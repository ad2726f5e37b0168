// Injected device faults: a one-shot code that the first call meeting it
// reports, and a persistent code reported by every call meeting it.
#pragma once

namespace korvo::sim {

// The kinds of call that meet injected codes.
enum class FaultSite {
    Update,      // update_korvo
    Output,      // send_korvo_force_6dof, command_motor_dac_values
    Calibration  // update_calibration, korvo_reset
};

class IFaultInjector {
public:
    virtual ~IFaultInjector() = default;
    virtual void inject(int code) noexcept = 0;
    virtual void setPersistent(int code) noexcept = 0;
    // The code a call at `site` reports now (0 for none); a one-shot code is
    // consumed by the call that reports it.
    virtual int meet(FaultSite site) noexcept = 0;
};

class FaultInjector final : public IFaultInjector {
public:
    // Which sites meet a code: the output warnings (-1, -2, -6, -7, -13) are
    // met by the output calls, a calibration failure (-24) by the calibration
    // calls, and every other code (communication, configuration, device,
    // timer faults) by update_korvo and the output calls.
    static bool meets(int code, FaultSite site) noexcept;

    void inject(int code) noexcept override { oneShot_ = code; }
    void setPersistent(int code) noexcept override { persistent_ = code; }
    int meet(FaultSite site) noexcept override;

private:
    int oneShot_ = 0;
    int persistent_ = 0;
};

}  // namespace korvo::sim
