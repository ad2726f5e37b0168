#include "Thermal.h"

#include <cmath>

namespace korvo::sim {

MotorThermalModel::MotorThermalModel(int motors, const MotorValues& continuousTorques) noexcept
    : motors_(motors), continuous_(continuousTorques) {}

// First-order heating: dT/dt = (L (tau / tau_c)^2 - T) / time constant, so the
// steady state is L (tau / tau_c)^2: 0.4 at the continuous torque and 16 times
// that at four times the continuous torque. Over one step the input is held,
// which the exact exponential solution uses:
//   T' = T_ss + (T - T_ss) exp(-dt / time constant)
void MotorThermalModel::update(const MotorValues& torques, double dt) noexcept {
    const double decay = std::exp(-dt / kTimeConstant);
    for (int i = 0; i < motors_; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const double ratio = continuous_[k] > 0.0 ? torques[k] / continuous_[k] : 0.0;
        const double steady = kContinuousLevel * ratio * ratio;
        temperatures_[k] = steady + (temperatures_[k] - steady) * decay;
    }
    refreshWarm();
}

void MotorThermalModel::setTemperatures(const double* values, int count) noexcept {
    for (int i = 0; i < count && i < motors_; ++i) temperatures_[static_cast<std::size_t>(i)] = values[i];
    refreshWarm();
}

void MotorThermalModel::refreshWarm() noexcept {
    double hottest = 0.0;
    for (int i = 0; i < motors_; ++i) hottest = std::fmax(hottest, temperatures_[static_cast<std::size_t>(i)]);
    if (hottest >= kWarmLevel)
        warm_ = true;
    else if (hottest < kReleaseLevel)
        warm_ = false;
}

}  // namespace korvo::sim
