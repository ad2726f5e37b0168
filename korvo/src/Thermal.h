// Motor heating: one normalised temperature per motor (0 at ambient, 1 at the
// warm-motor limit) driven by the square of the motor's torque.
#pragma once

#include <array>

namespace korvo::sim {

using MotorValues = std::array<double, 6>;

class IThermalModel {
public:
    virtual ~IThermalModel() = default;
    // Advances the temperatures by dt under the given motor torques (N mm).
    virtual void update(const MotorValues& torques, double dt) noexcept = 0;
    virtual MotorValues temperatures() const noexcept = 0;
    // Replaces the first count temperatures (the model continues from them).
    virtual void setTemperatures(const double* values, int count) noexcept = 0;
    // True while the motors are too warm: set when a motor reaches 1.0,
    // cleared only when every motor has cooled below the release level.
    virtual bool warm() const noexcept = 0;
};

class MotorThermalModel final : public IThermalModel {
public:
    // Time constant of heating and cooling, seconds.
    static constexpr double kTimeConstant = 30.0;
    // Temperature reached in the steady state at the continuous torque.
    static constexpr double kContinuousLevel = 0.4;
    static constexpr double kWarmLevel = 1.0;
    static constexpr double kReleaseLevel = 0.9;

    // continuousTorques: per motor, the torque it carries when the device
    // delivers its continuous force (or torque) in the worst direction.
    MotorThermalModel(int motors, const MotorValues& continuousTorques) noexcept;
    void update(const MotorValues& torques, double dt) noexcept override;
    MotorValues temperatures() const noexcept override { return temperatures_; }
    void setTemperatures(const double* values, int count) noexcept override;
    bool warm() const noexcept override { return warm_; }

private:
    void refreshWarm() noexcept;

    int motors_;
    MotorValues continuous_;
    MotorValues temperatures_{};
    bool warm_ = false;
};

}  // namespace korvo::sim
