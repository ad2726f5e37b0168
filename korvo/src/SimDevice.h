// One simulated device: the model, its kinematics, the stylus mechanics, the
// motors (output stage and heating), calibration state, inputs and faults.
//
// A SimDevice does no locking of its own: the registry serialises every call
// on a device with the device's lock, whether it comes from a client thread or
// from the servo thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "DeviceModel.h"
#include "FaultInjector.h"
#include "FaultSchedule.h"
#include "Kinematics.h"
#include "OutputStage.h"
#include "Physics.h"
#include "SharedSegment.h"
#include "Thermal.h"
#include "Trace.h"
#include "Trajectory.h"

namespace korvo::sim {

// Sensor data as latched by update_korvo and returned by every read.
struct SensorSnapshot {
    std::array<double, 3> position{};
    std::array<double, 3> velocity{};
    std::array<double, 3> angularVelocity{};
    Joints jointAngles{};
    Joints gimbalAngles{};
    std::array<double, 16> matrix{};  // column-major
    Jacobian6 jacobian{};
    std::array<std::int32_t, 6> encoders{};
    int buttons = 0;
    int safetySwitch = 0;
    int inkwellSwitch = 0;
    double pinch = 0.0;
};

// Status light states.
enum { kLightOff = 0, kLightOn = 1, kLightBlinkSlow = 2, kLightBlinkFast = 3 };

class ISimDevice {
public:
    virtual ~ISimDevice() = default;

    virtual const IDeviceModel& model() const noexcept = 0;

    // ---- servo thread
    // Advances the device by dt: playback, stylus, motor heating, ramp.
    virtual void step(double dt) noexcept = 0;
    virtual TraceRow traceRow(double time, unsigned handle) const noexcept = 0;
    // Drops the held output (the servo loop stopped).
    virtual void holdZero() noexcept = 0;

    // ---- device calls
    virtual int update() noexcept = 0;
    virtual const SensorSnapshot& snapshot() const noexcept = 0;
    virtual bool forcesEnabled() const noexcept = 0;
    virtual void setForcesEnabled(bool on) noexcept = 0;
    virtual int sendForce(const float forceTorque[6]) noexcept = 0;
    virtual int sendMotorValues(const std::int32_t values[6]) noexcept = 0;
    virtual OutputSettings& outputSettings() noexcept = 0;
    virtual MotorValues temperatures() const noexcept = 0;
    virtual int calibrationStatus() const noexcept = 0;
    virtual int updateCalibration() noexcept = 0;
    virtual int resetEncoders() noexcept = 0;
    virtual void setJointReferences(const Joints& angles) noexcept = 0;
    virtual int statusLight() const noexcept = 0;
    virtual bool statusLightOverridden() const noexcept = 0;
    virtual void overrideStatusLight(int state) noexcept = 0;
    virtual void restoreStatusLight() noexcept = 0;

    // ---- simulator control
    virtual void setHandTarget(const Vec3& target) noexcept = 0;
    virtual void setHandGains(double stiffness, double damping) noexcept = 0;
    virtual void setHandForce(const Vec3& force) noexcept = 0;
    virtual void setFriction(double viscous, double coulomb) noexcept = 0;
    // Encoders with (true) or without (false) unlimited resolution.
    virtual void setIdealEncoders(bool ideal) noexcept = 0;
    // Throws Error(KORVO_OUT_OF_RANGE) for a point outside the maximum workspace.
    virtual void placeStylus(const Vec3& position) = 0;
    // Throws Error(KORVO_NOT_SUPPORTED) without a gimbal, KORVO_OUT_OF_RANGE past its stops.
    virtual void setGimbalAngles(const Joints& angles) = 0;
    virtual void setButtons(int bits) noexcept = 0;
    virtual void setSwitches(bool inkwell, bool safety) noexcept = 0;
    virtual void setPinch(double value) noexcept = 0;
    // Starts playback (null stops it); the old trajectory is returned so that
    // the caller frees it outside the device lock.
    virtual std::unique_ptr<ITrajectory> setTrajectory(std::unique_ptr<ITrajectory> trajectory) noexcept = 0;
    virtual IFaultInjector& faults() noexcept = 0;
    // Faults to inject at times of the device's clock (seconds of simulated
    // time since the device was opened); null drops the plan. Faults due at
    // the current time are injected at once.
    virtual void setFaultSchedule(std::unique_ptr<IFaultSchedule> schedule) noexcept = 0;
    virtual void setCalibrationStatus(int status) noexcept = 0;
    virtual void setTemperatures(const double* values, int count) noexcept = 0;
    virtual Vec3 truePosition() const noexcept = 0;
    virtual Vec3 trueVelocity() const noexcept = 0;
    virtual Vec3 appliedForce() const noexcept = 0;

    // ---- viewers (through the shared segment)
    // Takes a viewer's command (servo thread); it applies at the start of
    // the next step. A command with a non-finite number is dropped; the
    // target is clamped to the maximum workspace and the grip to its range.
    virtual void takeCommand(const shm::HandCommand& command) noexcept = 0;
    // Serial of the last command taken or dropped (0: none yet).
    virtual std::uint32_t commandSerial() const noexcept = 0;
    // A newly opened device ignores the command left in its slot for a
    // device closed before it.
    virtual void skipCommand(std::uint32_t serial) noexcept = 0;
    // What a rendering library in this process makes of the device (its
    // proxy and the touched surface's normal), shown by viewers beside the
    // device's own state. Device coordinates, mm.
    struct RenderingView {
        bool valid = false;
        bool touching = false;
        Vec3 proxy{};
        Vec3 normal{};
    };
    virtual void setRenderingView(const RenderingView& view) noexcept = 0;
    // The record that viewers see.
    virtual void describe(shm::DeviceState& state) const noexcept = 0;
};

class SimDevice final : public ISimDevice, private IMotorLimit {
public:
    explicit SimDevice(const IDeviceModel& model);

    const IDeviceModel& model() const noexcept override { return model_; }

    void step(double dt) noexcept override;
    TraceRow traceRow(double time, unsigned handle) const noexcept override;
    void holdZero() noexcept override { output_->holdZero(); }

    int update() noexcept override;
    const SensorSnapshot& snapshot() const noexcept override { return snapshot_; }
    bool forcesEnabled() const noexcept override { return output_->enabled(); }
    void setForcesEnabled(bool on) noexcept override;
    int sendForce(const float forceTorque[6]) noexcept override;
    int sendMotorValues(const std::int32_t values[6]) noexcept override;
    OutputSettings& outputSettings() noexcept override { return output_->settings(); }
    MotorValues temperatures() const noexcept override { return thermal_->temperatures(); }
    int calibrationStatus() const noexcept override { return calibrationStatus_; }
    int updateCalibration() noexcept override;
    int resetEncoders() noexcept override;
    void setJointReferences(const Joints& angles) noexcept override;
    int statusLight() const noexcept override;
    bool statusLightOverridden() const noexcept override { return lightOverridden_; }
    void overrideStatusLight(int state) noexcept override;
    void restoreStatusLight() noexcept override { lightOverridden_ = false; }

    void setHandTarget(const Vec3& target) noexcept override { physics_->setHandTarget(target); }
    void setHandGains(double stiffness, double damping) noexcept override;
    void setHandForce(const Vec3& force) noexcept override { physics_->setHandForce(force); }
    void setFriction(double viscous, double coulomb) noexcept override { physics_->setFriction(viscous, coulomb); }
    void setIdealEncoders(bool ideal) noexcept override;
    void placeStylus(const Vec3& position) override;
    void setGimbalAngles(const Joints& angles) override;
    void setButtons(int bits) noexcept override;
    void setSwitches(bool inkwell, bool safety) noexcept override;
    void setPinch(double value) noexcept override { pinch_ = value; }
    std::unique_ptr<ITrajectory> setTrajectory(std::unique_ptr<ITrajectory> trajectory) noexcept override;
    IFaultInjector& faults() noexcept override { return *faults_; }
    void setFaultSchedule(std::unique_ptr<IFaultSchedule> schedule) noexcept override;
    void setCalibrationStatus(int status) noexcept override { calibrationStatus_ = status; }
    void setTemperatures(const double* values, int count) noexcept override;
    Vec3 truePosition() const noexcept override { return physics_->position(); }
    Vec3 trueVelocity() const noexcept override { return physics_->velocity(); }
    Vec3 appliedForce() const noexcept override { return output_->appliedForce(thermal_->warm()); }

    void takeCommand(const shm::HandCommand& command) noexcept override;
    std::uint32_t commandSerial() const noexcept override { return commandSerial_; }
    void skipCommand(std::uint32_t serial) noexcept override { commandSerial_ = serial; }
    void setRenderingView(const RenderingView& view) noexcept override { rendering_ = view; }
    void describe(shm::DeviceState& state) const noexcept override;

private:
    // Remembers a device call's refusal for the viewers and returns it.
    int noteFault(int code) noexcept {
        if (code < 0) lastFault_ = code;
        return code;
    }
    void applyCommand() noexcept;

    // Encoder counts of the arm joints in the current pose, and the joint
    // angles the device computes from them.
    struct ArmReading {
        std::array<std::int32_t, 3> counts;
        Joints angles;
    };
    ArmReading readArm(const Joints& trueAngles) const noexcept;
    ArmReading readArm() const noexcept { return readArm(trueJoints()); }
    // Restarts the velocity estimate's differences from the current reading
    // (after the stylus was placed or the encoders re-based).
    void restartVelocityEstimate(bool atRest) noexcept;
    void estimateVelocity(double dt, const Joints& trueAngles) noexcept;
    void limit(Vec3& force, Vec3& torque) const noexcept override;
    void latch() noexcept;
    // The true arm angles, recomputed whenever the stylus moves.
    Joints trueJoints() const noexcept { return trueJoints_; }
    void poseChanged() noexcept;
    MotorValues motorTorques(const Vec3& force, const Vec3& torque, const Joints& trueAngles) const noexcept;
    MotorValues motorTorques(const Vec3& force, const Vec3& torque) const noexcept {
        return motorTorques(force, torque, trueJoints());
    }
    // Wrench that motor torques produce at the stylus; false at a singular pose.
    bool wrenchFromMotorTorques(const MotorValues& torques, Vec3& force, Vec3& torque) const noexcept;
    void refreshInkwellBits() noexcept;

    const IDeviceModel& model_;
    const ModelData& data_;
    std::unique_ptr<IKinematics> kinematics_;
    std::unique_ptr<IPhysics> physics_;
    std::unique_ptr<IThermalModel> thermal_;
    std::unique_ptr<IOutputStage> output_;
    std::unique_ptr<IFaultInjector> faults_;
    std::unique_ptr<ITrajectory> trajectory_;
    std::unique_ptr<IFaultSchedule> faultSchedule_;
    // Playback time is counted in whole periods since the last change of
    // period, so that t = base + n dt lands exactly on the recorded times.
    double playbackBase_ = 0.0;
    double playbackPeriod_ = 0.0;
    std::uint64_t playbackSteps_ = 0;
    // The device's clock since it was opened, counted the same way.
    double clockBase_ = 0.0;
    double clockPeriod_ = 0.0;
    std::uint64_t clockSteps_ = 0;

    // Per motor: torque at full DAC scale, N mm.
    MotorValues fullScaleTorque_{};
    Joints gimbal_{};
    Joints trueJoints_{};
    Joints encoderOffset_{};  // radians added to the true arm angles by re-basing
    bool idealEncoders_ = false;
    // Velocity estimate: the position computed from the encoders at the last
    // tick, the filtered velocity, and the filter's coefficient for the
    // period it was last computed for.
    std::array<std::int32_t, 3> encoderCounts_{};
    Vec3 encoderPosition_;
    Vec3 velocityEstimate_;
    double filterPeriod_ = 0.0;
    double filterKeep_ = 0.0;
    int buttons_ = 0;
    bool inkwell_ = false;
    bool safety_ = true;
    double pinch_ = 0.0;
    int calibrationStatus_ = 0;
    bool lightOverridden_ = false;
    int lightState_ = kLightOff;
    SensorSnapshot snapshot_;
    int lastFault_ = 0;
    std::uint64_t steps_ = 0;  // steps since open
    // The viewer's last command: taken, then applied by the next step.
    shm::HandCommand command_{};
    std::uint32_t commandSerial_ = 0;
    bool commandPending_ = false;
    bool viewerHold_ = false;
    RenderingView rendering_;
    double commandTime_ = 0.0;
};

}  // namespace korvo::sim
