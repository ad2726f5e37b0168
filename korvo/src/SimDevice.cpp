#include "SimDevice.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "Error.h"
#include "korvo/korvo.h"

namespace korvo::sim {

namespace {

constexpr double kDacFullScale = 32767.0;

// Calibration status word: the high nibble holds the axes that still need
// calibration, the low nibble the axes that can be calibrated automatically
// right now. All three arm axes are calibrated together.
constexpr int kAllAxes = 0x7;
constexpr int kNeedsCalibration = kAllAxes << 4;

std::int32_t toCount(double value) {
    const double limit = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    const double clamped = std::fmax(-limit, std::fmin(limit, std::round(value)));
    return static_cast<std::int32_t>(clamped);
}

}  // namespace

// The motors are sized from the arm's levers at the centre of the workspace:
// full DAC scale on one motor gives the nominal maximum force there (in the
// direction that motor pushes best), and the continuous rating is the torque
// that the continuous force needs in that direction. A gimbal motor's lever
// is its unit axis.
SimDevice::SimDevice(const IDeviceModel& model)
    : model_(model),
      data_(model.data()),
      kinematics_(std::make_unique<ArmKinematics>(data_)),
      faults_(std::make_unique<FaultInjector>()) {
    std::array<double, 6> stops{};
    for (std::size_t i = 0; i < 6; ++i) stops[i] = data_.maximum[i];
    const Vec3 centre = model_.workspaceCentre();
    physics_ = std::make_unique<StylusPhysics>(
        StylusMechanics{data_.mass, data_.viscousFriction, data_.coulombFriction, stops}, centre);

    const Mat3 levers = kinematics_->linearJacobian(kinematics_->inverse(centre));
    MotorValues continuous{};
    for (int i = 0; i < 3; ++i) {
        const double lever = norm(levers.column(i));
        fullScaleTorque_[static_cast<std::size_t>(i)] = data_.maxForce * lever;
        continuous[static_cast<std::size_t>(i)] = data_.maxContinuousForce * lever;
    }
    if (data_.sixDofOutput) {
        for (std::size_t i = 3; i < 6; ++i) {
            fullScaleTorque_[i] = data_.maxTorque;
            continuous[i] = data_.maxContinuousTorque;
        }
    }
    thermal_ = std::make_unique<MotorThermalModel>(model_.motorCount(), continuous);

    OutputSettings defaults;
    defaults.maxVelocity = data_.defaultMaxVelocity;
    defaults.kickLimit = data_.defaultKickLimit;
    defaults.rampRate = data_.defaultRampRate;
    output_ = std::make_unique<OutputStage>(OutputLimits{data_.maxForce, data_.maxTorque}, defaults);

    calibrationStatus_ =
        data_.calibration == CalibrationStyle::Automatic ? (kNeedsCalibration | kAllAxes) : kNeedsCalibration;
    poseChanged();
    restartVelocityEstimate(true);
    latch();
}

void SimDevice::poseChanged() noexcept { trueJoints_ = kinematics_->inverse(physics_->position()); }

// Sensor model: the true arm angles (plus any re-basing offset) are read by
// encoders with a finite number of counts per radian, and the joint angles
// the device works with are the counts divided by that resolution (or, with
// ideal encoders, the exact angles; the counts are still whole numbers).
SimDevice::ArmReading SimDevice::readArm(const Joints& q) const noexcept {
    ArmReading r{};
    for (std::size_t i = 0; i < 3; ++i) {
        const double angle = q[i] + encoderOffset_[i];
        r.counts[i] = toCount(angle * data_.armCountsPerRadian);
        r.angles[i] = idealEncoders_ ? angle : r.counts[i] / data_.armCountsPerRadian;
    }
    return r;
}

void SimDevice::restartVelocityEstimate(bool atRest) noexcept {
    const ArmReading arm = readArm();
    encoderCounts_ = arm.counts;
    encoderPosition_ = kinematics_->forward(arm.angles);
    if (atRest) velocityEstimate_ = {};
}

// Velocity as the device derives it: every tick, the position computed from
// the encoders is differenced over the period and smoothed by a first-order
// low-pass filter,
//   raw_k = (p_k - p_(k-1)) / T,   v_k = v_(k-1) + (1 - a) (raw_k - v_(k-1)),
//   a = exp(-T / tau),
// with the model's time constant tau. The difference lags the true velocity
// by half a period and the filter by a T / (1 - a) (about tau), and both
// carry the encoder's steps: one count in one period is a velocity of
// (length per count) / T before the filter.
void SimDevice::estimateVelocity(double dt, const Joints& trueAngles) noexcept {
    if (dt != filterPeriod_) {
        filterPeriod_ = dt;
        filterKeep_ = std::exp(-dt / data_.velocityFilterTime);
    }
    // Unchanged counts give the same position (most ticks, for a slow hand).
    const ArmReading arm = readArm(trueAngles);
    const Vec3 p =
        !idealEncoders_ && arm.counts == encoderCounts_ ? encoderPosition_ : kinematics_->forward(arm.angles);
    const Vec3 raw = (p - encoderPosition_) / dt;
    velocityEstimate_ += (raw - velocityEstimate_) * (1.0 - filterKeep_);
    encoderCounts_ = arm.counts;
    encoderPosition_ = p;
}

// Everything the device reports (angles, position, transform, Jacobian) is
// computed from the encoder readings, so the reports agree with each other
// exactly; the velocity is the device's estimate above, and the angular
// velocity is what that motion turns the stylus by.
void SimDevice::latch() noexcept {
    SensorSnapshot s;
    const ArmReading arm = readArm();
    const Joints reported = arm.angles;
    for (std::size_t i = 0; i < 3; ++i) s.encoders[i] = arm.counts[i];
    Joints gimbal{};
    if (data_.sixDofInput) {
        for (std::size_t i = 0; i < 3; ++i) {
            s.encoders[3 + i] = toCount(gimbal_[i] * data_.gimbalCountsPerRadian);
            gimbal[i] = idealEncoders_ ? gimbal_[i] : s.encoders[3 + i] / data_.gimbalCountsPerRadian;
        }
    }
    const Vec3 p = kinematics_->forward(reported);
    const Mat3 r = kinematics_->orientation(reported, gimbal);
    const Vec3 v = velocityEstimate_;
    s.jointAngles = reported;
    s.gimbalAngles = gimbal;
    s.jacobian = kinematics_->jacobian(reported, gimbal);
    for (std::size_t i = 0; i < 3; ++i) {
        s.position[i] = p[i];
        s.velocity[i] = v[i];
    }
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row) s.matrix[static_cast<std::size_t>(c * 4 + row)] = r(row, c);
    s.matrix[12] = p.x;
    s.matrix[13] = p.y;
    s.matrix[14] = p.z;
    s.matrix[15] = 1.0;
    if (data_.sixDofInput) {
        std::array<double, 9> a{};
        for (std::size_t row = 0; row < 3; ++row)
            for (std::size_t c = 0; c < 3; ++c) a[row * 3 + c] = s.jacobian[row * 6 + c];
        std::array<double, 3> rates{};
        if (solveLinear<3>(a, {v.x, v.y, v.z}, rates)) {
            for (std::size_t row = 0; row < 3; ++row) {
                double w = 0.0;
                for (std::size_t c = 0; c < 3; ++c) w += s.jacobian[(3 + row) * 6 + c] * rates[c];
                s.angularVelocity[row] = w;
            }
        }
    }
    s.buttons = buttons_;
    s.safetySwitch = safety_ ? 1 : 0;
    s.inkwellSwitch = inkwell_ ? 1 : 0;
    s.pinch = pinch_;
    snapshot_ = s;
}

// Joint torques from a wrench: tau = J^T (force, torque), one per motor (no
// Jacobian needed for the zero wrench of an idle device, and only its linear
// block for a device with three motors).
MotorValues SimDevice::motorTorques(const Vec3& force, const Vec3& torque, const Joints& q) const noexcept {
    MotorValues tau{};
    if (dot(force, force) == 0.0 && dot(torque, torque) == 0.0) return tau;
    if (model_.motorCount() == 3) {
        const Mat3 lin = kinematics_->linearJacobian(q);
        for (int m = 0; m < 3; ++m) tau[static_cast<std::size_t>(m)] = dot(lin.column(m), force);
        return tau;
    }
    const Jacobian6 j = kinematics_->jacobian(q, gimbal_);
    const double w[6] = {force.x, force.y, force.z, torque.x, torque.y, torque.z};
    for (int m = 0; m < model_.motorCount(); ++m) {
        double s = 0.0;
        for (int r = 0; r < 6; ++r) s += j[static_cast<std::size_t>(r * 6 + m)] * w[r];
        tau[static_cast<std::size_t>(m)] = s;
    }
    return tau;
}

// The inverse: solve J^T w = tau for the wrench (the 3x3 linear block for a
// device with three motors, the whole 6x6 Jacobian with six).
bool SimDevice::wrenchFromMotorTorques(const MotorValues& tau, Vec3& force, Vec3& torque) const noexcept {
    const Jacobian6 j = kinematics_->jacobian(trueJoints(), gimbal_);
    if (model_.motorCount() == 3) {
        std::array<double, 9> jt{};
        for (std::size_t r = 0; r < 3; ++r)
            for (std::size_t c = 0; c < 3; ++c) jt[r * 3 + c] = j[c * 6 + r];
        std::array<double, 3> f{};
        if (!solveLinear<3>(jt, {tau[0], tau[1], tau[2]}, f)) return false;
        force = {f[0], f[1], f[2]};
        torque = {};
        return true;
    }
    std::array<double, 36> jt{};
    for (std::size_t r = 0; r < 6; ++r)
        for (std::size_t c = 0; c < 6; ++c) jt[r * 6 + c] = j[c * 6 + r];
    std::array<double, 6> w{};
    if (!solveLinear<6>(jt, {tau[0], tau[1], tau[2], tau[3], tau[4], tau[5]}, w)) return false;
    force = {w[0], w[1], w[2]};
    torque = {w[3], w[4], w[5]};
    return true;
}

// One servo period of the device. The wrench commanded during the tick is
// held over the step; playback moves the hand first so that the hand's spring
// pulls toward where the recording is at the end of the step. The encoders
// are read at the end of the step, for the velocity estimate.
void SimDevice::step(double dt) noexcept {
    if (dt != clockPeriod_) {
        clockBase_ += static_cast<double>(clockSteps_) * clockPeriod_;
        clockSteps_ = 0;
        clockPeriod_ = dt;
    }
    ++clockSteps_;
    ++steps_;
    const double clock = clockBase_ + static_cast<double>(clockSteps_) * clockPeriod_;
    if (faultSchedule_) faultSchedule_->apply(clock, *faults_);
    if (commandPending_) {
        commandPending_ = false;
        commandTime_ = clock;
        applyCommand();
    }
    // While a viewer holds the hand the playback pauses: its clock stops
    // and resumes where it was when the viewer lets go.
    if (trajectory_ && !viewerHold_) {
        if (dt != playbackPeriod_) {
            playbackBase_ += static_cast<double>(playbackSteps_) * playbackPeriod_;
            playbackSteps_ = 0;
            playbackPeriod_ = dt;
        }
        const double before = playbackBase_ + static_cast<double>(playbackSteps_) * playbackPeriod_;
        ++playbackSteps_;
        const double t = playbackBase_ + static_cast<double>(playbackSteps_) * playbackPeriod_;
        // A jump in the path (two points at one time) is a hand put down
        // elsewhere, not one that moved there within a period: it has no
        // speed for the grip's damper to follow. This is also how a viewer's
        // command moves the hand, so a recorded drag replays exactly.
        if (trajectory_->jumpsWithin(before, t))
            physics_->setHandTarget(trajectory_->positionAt(t));
        else
            physics_->moveHandTarget(trajectory_->positionAt(t), dt);
        buttons_ = trajectory_->buttonsAt(t) & ((1 << data_.buttons) - 1);
    }
    const bool warm = thermal_->warm();
    const Vec3 force = output_->appliedForce(warm);
    const Vec3 torque = output_->appliedTorque(warm);
    physics_->step(dt, force);
    poseChanged();
    estimateVelocity(dt, trueJoints_);
    thermal_->update(motorTorques(force, torque, trueJoints_), dt);
    output_->advance(dt);
}

TraceRow SimDevice::traceRow(double time, unsigned handle) const noexcept {
    return {time, handle, physics_->handTarget(), physics_->position(), physics_->velocity(), appliedForce()};
}

int SimDevice::update() noexcept {
    if (const int code = faults_->meet(FaultSite::Update)) return noteFault(code);
    latch();
    return KORVO_OK;
}

void SimDevice::setForcesEnabled(bool on) noexcept {
    if (on)
        output_->enable();
    else
        output_->disable();
}

int SimDevice::sendForce(const float ft[6]) noexcept {
    if (const int code = faults_->meet(FaultSite::Output)) {
        output_->holdZero();
        return noteFault(code);
    }
    const CommandContext context{norm(velocityEstimate_), thermal_->warm(), false, this};
    return noteFault(output_->command(Vec3::from(ft), Vec3::from(ft + 3), context));
}

// Raw motor values become joint torques through each motor's full-scale
// torque and then the Cartesian wrench at the stylus through the inverse of
// the Jacobian transpose.
int SimDevice::sendMotorValues(const std::int32_t values[6]) noexcept {
    if (const int code = faults_->meet(FaultSite::Output)) {
        output_->holdZero();
        return noteFault(code);
    }
    MotorValues tau{};
    for (int m = 0; m < model_.motorCount(); ++m) {
        const auto i = static_cast<std::size_t>(m);
        if (values[i] < -32768 || values[i] > 32767) {
            output_->holdZero();
            return noteFault(KORVO_OUT_OF_RANGE);
        }
        tau[i] = values[i] / kDacFullScale * fullScaleTorque_[i];
    }
    Vec3 force;
    Vec3 torque;
    if (!wrenchFromMotorTorques(tau, force, torque)) {
        output_->holdZero();
        return noteFault(KORVO_INTERNAL_ERROR);
    }
    const CommandContext context{norm(velocityEstimate_), thermal_->warm(), true, this};
    return noteFault(output_->command(force, torque, context));
}

// Amplifier saturation. Each motor delivers at most its peak torque (the
// torque of full DAC scale): the joint torques a wrench needs are clipped
// motor by motor and the wrench is what the clipped torques produce. The
// amplifiers also share a supply sized for the nominal maximum force, so a
// force at the stylus beyond it (possible near the edge of the workspace,
// where the levers are short) is cut back to it along its direction. The
// clipping is skipped when no motor is over its peak, so that a command the
// motors can deliver arrives unchanged.
void SimDevice::limit(Vec3& force, Vec3& torque) const noexcept {
    MotorValues tau = motorTorques(force, torque);
    bool clipped = false;
    for (int m = 0; m < model_.motorCount(); ++m) {
        const auto i = static_cast<std::size_t>(m);
        const double peak = fullScaleTorque_[i];
        if (std::fabs(tau[i]) > peak) {
            tau[i] = std::copysign(peak, tau[i]);
            clipped = true;
        }
    }
    if (clipped) {
        Vec3 f;
        Vec3 t;
        if (!wrenchFromMotorTorques(tau, f, t)) {
            force = {};
            torque = {};
            return;
        }
        force = f;
        torque = t;
    }
    const double magnitude = norm(force);
    if (magnitude > data_.maxForce) force *= data_.maxForce / magnitude;
}

int SimDevice::updateCalibration() noexcept {
    if (data_.calibration == CalibrationStyle::EncoderReset) return KORVO_NOT_SUPPORTED;
    if (const int code = faults_->meet(FaultSite::Calibration)) return code;
    if (data_.calibration == CalibrationStyle::Inkwell && !inkwell_) return KORVO_CALIBRATION_FAILED;
    calibrationStatus_ &= 0x0F;
    return KORVO_OK;
}

// The arm is taken to be held in its reset pose, so re-zeroing the encoders
// makes them read the true angles again (undoing any re-basing).
int SimDevice::resetEncoders() noexcept {
    if (!data_.encoderResetSupported) return KORVO_NOT_SUPPORTED;
    if (const int code = faults_->meet(FaultSite::Calibration)) return code;
    encoderOffset_ = {};
    restartVelocityEstimate(false);
    calibrationStatus_ &= 0x0F;
    return KORVO_OK;
}

// Re-basing: from now on the joints read `angles` in the current pose.
void SimDevice::setJointReferences(const Joints& angles) noexcept {
    const Joints q = trueJoints();
    for (std::size_t i = 0; i < 3; ++i) encoderOffset_[i] = angles[i] - q[i];
    restartVelocityEstimate(false);
}

// Left to the device, the light blinks while calibration is needed and is
// steady otherwise.
int SimDevice::statusLight() const noexcept {
    if (lightOverridden_) return lightState_;
    return (calibrationStatus_ & 0xF0) != 0 ? kLightBlinkSlow : kLightOn;
}

void SimDevice::overrideStatusLight(int state) noexcept {
    lightOverridden_ = true;
    lightState_ = state;
}

void SimDevice::setHandGains(double stiffness, double damping) noexcept { physics_->setHandGains(stiffness, damping); }

void SimDevice::placeStylus(const Vec3& position) {
    require(model_.insideMaximumWorkspace(position), KORVO_OUT_OF_RANGE);
    physics_->place(position);
    poseChanged();
    restartVelocityEstimate(true);
    latch();
}

void SimDevice::setGimbalAngles(const Joints& angles) {
    require(data_.sixDofInput, KORVO_NOT_SUPPORTED);
    for (std::size_t i = 0; i < 3; ++i) require(std::fabs(angles[i]) <= data_.gimbalRange[i], KORVO_OUT_OF_RANGE);
    gimbal_ = angles;
}

void SimDevice::setIdealEncoders(bool ideal) noexcept {
    idealEncoders_ = ideal;
    restartVelocityEstimate(false);
}

void SimDevice::setButtons(int bits) noexcept { buttons_ = bits & ((1 << data_.buttons) - 1); }

void SimDevice::setSwitches(bool inkwell, bool safety) noexcept {
    inkwell_ = data_.hasInkwell && inkwell;
    safety_ = safety;
    refreshInkwellBits();
}

// With the stylus in the inkwell an inkwell-calibrated device can take its
// references, which the low nibble of the status reports.
void SimDevice::refreshInkwellBits() noexcept {
    if (data_.calibration != CalibrationStyle::Inkwell) return;
    calibrationStatus_ = (calibrationStatus_ & ~0x0F) | (inkwell_ ? kAllAxes : 0);
}

std::unique_ptr<ITrajectory> SimDevice::setTrajectory(std::unique_ptr<ITrajectory> trajectory) noexcept {
    std::swap(trajectory_, trajectory);
    playbackBase_ = 0.0;
    playbackPeriod_ = 0.0;
    playbackSteps_ = 0;
    if (trajectory_) {
        physics_->setHandTarget(trajectory_->positionAt(0.0));
        buttons_ = trajectory_->buttonsAt(0.0) & ((1 << data_.buttons) - 1);
    } else {
        // Stopped playback leaves the hand where it is, holding still.
        physics_->setHandTarget(physics_->handTarget());
    }
    return trajectory;
}

void SimDevice::setFaultSchedule(std::unique_ptr<IFaultSchedule> schedule) noexcept {
    faultSchedule_ = std::move(schedule);
    if (faultSchedule_) faultSchedule_->apply(clockBase_ + static_cast<double>(clockSteps_) * clockPeriod_, *faults_);
}

void SimDevice::setTemperatures(const double* values, int count) noexcept { thermal_->setTemperatures(values, count); }

// A viewer's command is checked here, on the servo thread, because it comes
// from another process: a non-finite number drops the whole command, and
// the rest is brought into range, so that nothing a viewer writes can push
// the simulation outside what the control interface allows.
void SimDevice::takeCommand(const shm::HandCommand& c) noexcept {
    commandSerial_ = c.serial;
    const double numbers[5] = {c.target[0], c.target[1], c.target[2], c.gripStiffness, c.gripDamping};
    for (double v : numbers)
        if (!std::isfinite(v)) return;
    command_ = c;
    for (std::size_t i = 0; i < 3; ++i)
        command_.target[i] = std::fmax(data_.maximum[2 * i], std::fmin(data_.maximum[2 * i + 1], c.target[i]));
    command_.gripStiffness = std::fmax(0.0, std::fmin(100.0, c.gripStiffness));
    command_.gripDamping = std::fmax(0.0, std::fmin(10.0, c.gripDamping));
    command_.buttons = c.buttons & 0x7;
    commandPending_ = true;
}

// Applied as korvo_sim_set_hand_target, korvo_sim_set_buttons and
// korvo_sim_set_hand_gains would be.
void SimDevice::applyCommand() noexcept {
    viewerHold_ = command_.hold != 0;
    physics_->setHandTarget({command_.target[0], command_.target[1], command_.target[2]});
    setButtons(command_.buttons);
    physics_->setHandGains(command_.gripStiffness, command_.gripDamping);
}

void SimDevice::describe(shm::DeviceState& s) const noexcept {
    s = shm::DeviceState{};
    std::snprintf(s.model, sizeof s.model, "%s", data_.name);
    for (std::size_t i = 0; i < 6; ++i) {
        s.usable[i] = data_.usable[i];
        s.maximum[i] = data_.maximum[i];
    }
    s.maxForce = data_.maxForce;
    s.time = clockBase_ + static_cast<double>(clockSteps_) * clockPeriod_;
    s.period = clockPeriod_;
    const Vec3 target = physics_->handTarget();
    const Vec3 p = physics_->position();
    const Vec3 v = physics_->velocity();
    const Vec3 f = appliedForce();
    const double t3[3] = {target.x, target.y, target.z}, p3[3] = {p.x, p.y, p.z}, v3[3] = {v.x, v.y, v.z},
                 f3[3] = {f.x, f.y, f.z};
    for (std::size_t i = 0; i < 3; ++i) {
        s.handTarget[i] = t3[i];
        s.position[i] = p3[i];
        s.velocity[i] = v3[i];
        s.force[i] = f3[i];
    }
    const HandGains gains = physics_->handGains();
    s.gripStiffness = gains.stiffness;
    s.gripDamping = gains.damping;
    s.commandTime = commandTime_;
    s.ticks = steps_;
    s.open = 1;
    s.buttons = buttons_;
    s.buttonCount = data_.buttons;
    s.forcesOn = output_->enabled() ? 1 : 0;
    s.warmMotors = thermal_->warm() ? 1 : 0;
    s.lastFault = lastFault_;
    s.playing = trajectory_ ? 1 : 0;
    s.held = viewerHold_ ? 1 : 0;
    s.commandSerial = commandSerial_;
    if (rendering_.valid) {
        s.rendererValid = 1;
        s.touching = rendering_.touching ? 1 : 0;
        for (std::size_t i = 0; i < 3; ++i) {
            s.proxy[i] = rendering_.proxy[i];
            s.touchNormal[i] = rendering_.normal[i];
        }
    }
}

}  // namespace korvo::sim
