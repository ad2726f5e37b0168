// The amplifier side of a device: whether forces are on, the safety checks a
// command must pass, force saturation, ramping after switch-on, and the
// wrench that is held (zero-order hold) until the next command.
#pragma once

#include "Vec.h"

namespace korvo::sim {

struct OutputLimits {
    double maxForce;   // N
    double maxTorque;  // N mm (0 for a device without gimbal motors)
};

struct OutputSettings {
    bool truncateSaturation = false;  // over-maximum forces truncated (true) or zeroed (false)
    bool forceCheck = false;
    bool velocityCheck = true;
    bool kickCheck = false;
    bool ramp = false;
    double maxVelocity = 1000.0;  // mm/s
    double kickLimit = 3.0;       // N per tick
    double rampRate = 2.0;        // full scale per second
};

// What the motors can deliver: a wrench beyond it is cut down to what the
// amplifiers, saturating, actually produce.
class IMotorLimit {
public:
    virtual void limit(Vec3& force, Vec3& torque) const noexcept = 0;

protected:
    ~IMotorLimit() = default;
};

// What the device knows at the moment of a command.
struct CommandContext {
    double speed;  // stylus speed as the device estimates it, mm/s
    bool warmMotors;
    bool fromMotors;                      // raw motor values: the Cartesian force check and saturation do not apply
    const IMotorLimit* motors = nullptr;  // applied after saturation, before the kick check
};

// Periods a commanded wrench is held without a new command before the
// amplifiers drop it: a program whose servo callback has stopped must not
// leave the arm pushing on the user's hand.
constexpr unsigned kCommandWatchdogPeriods = 10;

class IOutputStage {
public:
    virtual ~IOutputStage() = default;
    virtual void enable() noexcept = 0;
    virtual void disable() noexcept = 0;
    virtual bool enabled() const noexcept = 0;
    virtual OutputSettings& settings() noexcept = 0;
    virtual const OutputSettings& settings() const noexcept = 0;
    // Passes a commanded wrench through the safety chain and holds what
    // passes; returns 0 or the code of the check that refused it (the held
    // wrench is then zero).
    virtual int command(const Vec3& force, const Vec3& torque, const CommandContext& context) noexcept = 0;
    // Drops the held wrench (refused commands, faults, a stopped loop).
    virtual void holdZero() noexcept = 0;
    // Advances the force ramp by dt seconds and counts the period towards the
    // command watchdog.
    virtual void advance(double dt) noexcept = 0;
    // The wrench the motors deliver now: the held wrench scaled by the ramp,
    // zero while forces are off or the motors are too warm.
    virtual Vec3 appliedForce(bool warmMotors) const noexcept = 0;
    virtual Vec3 appliedTorque(bool warmMotors) const noexcept = 0;
    virtual double rampScale() const noexcept = 0;
};

class OutputStage final : public IOutputStage {
public:
    OutputStage(const OutputLimits& limits, const OutputSettings& defaults) noexcept;
    void enable() noexcept override;
    void disable() noexcept override;
    bool enabled() const noexcept override { return enabled_; }
    OutputSettings& settings() noexcept override { return settings_; }
    const OutputSettings& settings() const noexcept override { return settings_; }
    int command(const Vec3& force, const Vec3& torque, const CommandContext& context) noexcept override;
    void holdZero() noexcept override;
    void advance(double dt) noexcept override;
    Vec3 appliedForce(bool warmMotors) const noexcept override;
    Vec3 appliedTorque(bool warmMotors) const noexcept override;
    double rampScale() const noexcept override { return rampScale_; }

private:
    bool saturate(Vec3& value, double limit) const noexcept;

    OutputLimits limits_;
    OutputSettings settings_;
    bool enabled_ = false;
    double rampScale_ = 1.0;
    Vec3 heldForce_;
    Vec3 heldTorque_;
    unsigned periodsSinceCommand_ = 0;
};

}  // namespace korvo::sim
