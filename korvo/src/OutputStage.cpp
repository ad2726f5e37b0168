#include "OutputStage.h"

#include <algorithm>
#include <cmath>

#include "korvo/korvo.h"

namespace korvo::sim {

OutputStage::OutputStage(const OutputLimits& limits, const OutputSettings& defaults) noexcept
    : limits_(limits), settings_(defaults) {}

// Switching the amplifiers on starts the ramp from zero when ramping is
// enabled; switching on while already on changes nothing.
void OutputStage::enable() noexcept {
    if (enabled_) return;
    enabled_ = true;
    rampScale_ = settings_.ramp ? 0.0 : 1.0;
    holdZero();
}

void OutputStage::disable() noexcept {
    enabled_ = false;
    holdZero();
}

void OutputStage::holdZero() noexcept {
    heldForce_ = {};
    heldTorque_ = {};
}

// Over the limit: truncation scales the vector back onto the limit along its
// own direction; zero saturation drops it. Returns true when it was over.
bool OutputStage::saturate(Vec3& value, double limit) const noexcept {
    const double magnitude = norm(value);
    if (!(magnitude > limit)) return false;
    value = settings_.truncateSaturation && magnitude > 0.0 ? value * (limit / magnitude) : Vec3{};
    return true;
}

// The safety chain, in the order a command meets it: non-finite values, the
// amplifier state, warm motors, the velocity check, the maximum-force check
// (Cartesian commands only; with the check on an over-maximum force is
// refused whatever the saturation mode), saturation (Cartesian only), the
// motors' own bound (amplifier saturation, on both paths), and last the kick
// check on the change from the held force to what the motors will deliver.
// A refusal holds zero.
int OutputStage::command(const Vec3& force, const Vec3& torque, const CommandContext& context) noexcept {
    periodsSinceCommand_ = 0;
    if (!isFinite(force) || !isFinite(torque)) {
        holdZero();
        return KORVO_NON_FINITE_VALUE;
    }
    if (!enabled_) {
        holdZero();
        return KORVO_OK;
    }
    if (context.warmMotors) {
        holdZero();
        return KORVO_WARM_MOTORS;
    }
    if (settings_.velocityCheck && context.speed > settings_.maxVelocity) {
        holdZero();
        return KORVO_EXCEEDED_MAX_VELOCITY;
    }
    Vec3 f = force;
    Vec3 t = limits_.maxTorque > 0.0 ? torque : Vec3{};
    if (!context.fromMotors) {
        if (settings_.forceCheck && (norm(f) > limits_.maxForce || norm(t) > limits_.maxTorque)) {
            holdZero();
            return KORVO_EXCEEDED_MAX_FORCE;
        }
        saturate(f, limits_.maxForce);
        saturate(t, limits_.maxTorque);
    }
    if (context.motors != nullptr) context.motors->limit(f, t);
    if (settings_.kickCheck && norm(f - heldForce_) > settings_.kickLimit) {
        holdZero();
        return KORVO_EXCEEDED_MAX_FORCE_IMPULSE;
    }
    heldForce_ = f;
    heldTorque_ = t;
    return KORVO_OK;
}

void OutputStage::advance(double dt) noexcept {
    if (enabled_ && rampScale_ < 1.0) rampScale_ = std::min(1.0, rampScale_ + settings_.rampRate * dt);
    if (periodsSinceCommand_ < kCommandWatchdogPeriods) {
        ++periodsSinceCommand_;
    } else {
        holdZero();
    }
}

Vec3 OutputStage::appliedForce(bool warmMotors) const noexcept {
    if (!enabled_ || warmMotors) return {};
    return heldForce_ * rampScale_;
}

Vec3 OutputStage::appliedTorque(bool warmMotors) const noexcept {
    if (!enabled_ || warmMotors) return {};
    return heldTorque_ * rampScale_;
}

}  // namespace korvo::sim
