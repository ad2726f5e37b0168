// The catalogue of simulated device models: everything that is fixed for a
// model (facts reported through the information calls, limits, geometry of the
// arm, the mechanics of the stylus and the calibration style).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "Vec.h"

namespace korvo::sim {

enum class CalibrationStyle {
    Automatic,    // the device finds its references by itself; update_calibration completes it
    Inkwell,      // references are taken with the stylus in the inkwell
    EncoderReset  // the encoders are re-zeroed with the arm held in its reset pose
};

struct ModelData {
    const char* name;   // model type string, also the device name
    const char* alias;  // short device name accepted by init_korvo
    const char* serial;
    int hardwareRevision;

    bool sixDofInput;   // gimbal encoders present
    bool sixDofOutput;  // gimbal motors present
    CalibrationStyle calibration;
    bool encoderResetSupported;
    int buttons;  // number of stylus buttons (1..3)
    bool hasInkwell;

    // Workspace boxes in mm: low x, high x, low y, high y, low z, high z.
    std::array<int, 6> usable;
    std::array<int, 6> maximum;
    int tabletopOffset;  // height of the workspace origin above the tabletop, mm

    double maxStiffness;         // N/mm
    double maxDamping;           // N s/mm
    double maxForce;             // N
    double maxContinuousForce;   // N
    double maxTorqueStiffness;   // N mm/rad
    double maxTorqueDamping;     // N mm s/rad
    double maxTorque;            // N mm
    double maxContinuousTorque;  // N mm

    double defaultMaxVelocity;  // mm/s
    double defaultKickLimit;    // N per tick
    double defaultRampRate;     // full scale per second

    // Arm geometry: shoulder pivot (base) and link lengths, mm.
    Vec3 base;
    double upperArm;
    double forearm;
    // Gimbal joint ranges, radians (symmetric).
    std::array<double, 3> gimbalRange;
    double armCountsPerRadian;
    double gimbalCountsPerRadian;
    // Time constant of the first-order filter that smooths the velocity
    // derived from encoder differences, seconds.
    double velocityFilterTime;

    // Stylus mechanics: apparent mass at the tip (kg), viscous friction
    // (N s/mm) and Coulomb friction (N).
    double mass;
    double viscousFriction;
    double coulombFriction;
};

// A device model: its fixed description and a few derived facts.
class IDeviceModel {
public:
    virtual ~IDeviceModel() = default;
    virtual const ModelData& data() const noexcept = 0;
    // Number of motors (3 or 6) and of input degrees of freedom (3 or 6).
    virtual int motorCount() const noexcept = 0;
    virtual int inputDof() const noexcept = 0;
    // Centre of the usable workspace, where the hand rests by default.
    virtual Vec3 workspaceCentre() const noexcept = 0;
    virtual bool insideMaximumWorkspace(const Vec3& p) const noexcept = 0;
    // Fills the 24-entry information record.
    virtual void fillInfo(std::int32_t info[24]) const noexcept = 0;
};

class DeviceModel final : public IDeviceModel {
public:
    explicit constexpr DeviceModel(const ModelData& data) noexcept : data_(data) {}
    const ModelData& data() const noexcept override { return data_; }
    int motorCount() const noexcept override { return data_.sixDofOutput ? 6 : 3; }
    int inputDof() const noexcept override { return data_.sixDofInput ? 6 : 3; }
    Vec3 workspaceCentre() const noexcept override;
    bool insideMaximumWorkspace(const Vec3& p) const noexcept override;
    void fillInfo(std::int32_t info[24]) const noexcept override;

private:
    ModelData data_;
};

// The model a device name designates ("" is resolved by the caller), matched
// case-insensitively against model names and aliases; null when unknown.
const IDeviceModel* findModel(std::string_view name) noexcept;
// The model opened for the default device name.
const IDeviceModel& defaultModel() noexcept;

}  // namespace korvo::sim
