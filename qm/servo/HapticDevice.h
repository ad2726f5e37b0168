// The rendering library's wrapper around one device handle, and the spring
// and damper that couple the device to the proxy.
#pragma once

#include <array>
#include <cstddef>

#include "qm/qm.h"
#include "qm/servo/MotionTransform.h"
#include "zv/zv.h"

namespace QM {

// Limits scaled by a fraction x clamped to [0, 1].
class IDeviceLimits {
public:
    virtual ~IDeviceLimits() = default;
    virtual double maxStiffness(double x) const = 0;
    virtual double maxDamping(double x) const = 0;
    virtual double maxForce(double x) const = 0;
    virtual double maxContinuousForce(double x) const = 0;
    // min(3, the nominal maximum force): the force of an effect of
    // magnitude 1.
    virtual double effectForce(double x) const = 0;
};

class IImpedanceController {
public:
    virtual ~IImpedanceController() = default;
    virtual zvu::zvuVector3Dd computeForce(const ITarget& target, const MotionTransform& output) const = 0;
    virtual zvu::zvuVector3Dd computeTorque(const ITarget& target, const MotionTransform& output) const = 0;
};

// F = k d - b ((d . v) / |d|^2) d with d = output - device: a spring toward
// the output point, damped along the spring only. The torque is a rotational
// spring toward the output rotation, damped along itself.
class SpringDamperController final : public IImpedanceController {
public:
    SpringDamperController(double k, double b, double kr, double br) : k_(k), b_(b), kr_(kr), br_(br) {}
    zvu::zvuVector3Dd computeForce(const ITarget& target, const MotionTransform& output) const override;
    zvu::zvuVector3Dd computeTorque(const ITarget& target, const MotionTransform& output) const override;
    double stiffness() const { return k_; }

private:
    double k_, b_, kr_, br_;
};

// One device error record.
using DeviceError = ZVErrorInfo;

class IHapticDevice {
public:
    virtual ~IHapticDevice() = default;
    virtual const IImpedanceController& getImpedanceController() const = 0;
    virtual const IDeviceLimits& getLimits() const = 0;
    virtual HZV getHandle() const = 0;
    virtual void beginFrame() = 0;
    virtual void readState(HapticDeviceTarget& target) = 0;
    virtual void endFrame() = 0;
    // Moves this device's new errors off the device library's stack into the
    // pending list (a fixed buffer: the servo thread neither allocates nor
    // blocks here); errors of other devices and of the application stay on
    // the stack. Returns how many errors were new.
    virtual int collectErrors() = 0;
    // Copies the pending errors out (at most `capacity`) and empties the list.
    virtual std::size_t takeErrors(DeviceError* out, std::size_t capacity) = 0;
    // Adds to the frame's commanded force and torque. A force above the
    // device's nominal maximum is scaled down to it, and a non-finite force
    // or torque is replaced by zero, so that nothing unsafe reaches the
    // device whatever the scene and the callbacks produced.
    virtual void addForceAndTorque(const zvu::zvuVector3Dd& force, const zvu::zvuVector3Dd& torque) = 0;
    virtual void lastForceAndTorque(double force[3], double torque[3]) = 0;
    virtual int buttons() = 0;
    virtual bool safetySwitch() = 0;
    virtual bool inkwellSwitch() = 0;
    virtual unsigned checkCalibration() = 0;
    virtual void updateCalibration() = 0;
};

// Every operation makes the wrapped device current on the calling thread
// and restores the caller's device afterwards.
class HapticDevice final : public IHapticDevice, private IDeviceLimits {
public:
    static constexpr std::size_t kMaxPendingErrors = 32;

    // Reads the device's limits and switches its force output on (with
    // clamping and ramping). Client thread.
    explicit HapticDevice(HZV handle);

    const IImpedanceController& getImpedanceController() const override { return controller_; }
    const IDeviceLimits& getLimits() const override { return *this; }
    HZV getHandle() const override { return handle_; }
    void beginFrame() override;
    void readState(HapticDeviceTarget& target) override;
    void endFrame() override;
    int collectErrors() override;
    std::size_t takeErrors(DeviceError* out, std::size_t capacity) override;
    void addForceAndTorque(const zvu::zvuVector3Dd& force, const zvu::zvuVector3Dd& torque) override;
    void lastForceAndTorque(double force[3], double torque[3]) override;
    int buttons() override;
    bool safetySwitch() override;
    bool inkwellSwitch() override;
    unsigned checkCalibration() override;
    void updateCalibration() override;

    // The frame statistics: the update rate seen at each begin.
    std::size_t frames() const { return frames_; }

private:
    double maxStiffness(double x) const override { return scaled(x, nominalStiffness_); }
    double maxDamping(double x) const override { return scaled(x, nominalDamping_); }
    double maxForce(double x) const override { return scaled(x, nominalForce_); }
    double maxContinuousForce(double x) const override { return scaled(x, nominalContinuousForce_); }
    double effectForce(double x) const override { return scaled(x, nominalForce_ < 3.0 ? nominalForce_ : 3.0); }
    static double scaled(double x, double value);
    struct Nominal {
        double stiffness, damping, force, continuousForce;
    };
    static Nominal readNominal(HZV handle);
    HapticDevice(HZV handle, const Nominal& nominal);

    HZV handle_;
    double nominalStiffness_ = 0.0;
    double nominalDamping_ = 0.0;
    double nominalForce_ = 0.0;
    double nominalContinuousForce_ = 0.0;
    SpringDamperController controller_;
    std::array<DeviceError, kMaxPendingErrors> pending_{};
    std::size_t pendingCount_ = 0;
    std::size_t frames_ = 0;
};

// Makes a device current on the calling thread for a scope.
class DeviceScope {
public:
    explicit DeviceScope(HZV device) : saved_(zvGetCurrentDevice()) { zvMakeCurrentDevice(device); }
    ~DeviceScope() { zvMakeCurrentDevice(saved_); }
    DeviceScope(const DeviceScope&) = delete;
    DeviceScope& operator=(const DeviceScope&) = delete;

private:
    HZV saved_;
};

}  // namespace QM
