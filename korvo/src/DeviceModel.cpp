#include "DeviceModel.h"

#include <cctype>

namespace korvo::sim {

namespace {

// Three models: a desktop arm with a sensed gimbal (the default), a larger arm
// that also drives the gimbal, and a small arm without gimbal whose only
// calibration is an encoder reset. Geometry: the shoulder pivot sits behind
// the workspace (negative z), y points up and z toward the user; the link
// lengths are chosen so that every corner of the maximum workspace is
// reachable with the elbow bent.
constexpr ModelData kArm3G{
    .name = "Korvo Arm 3G",
    .alias = "arm3g",
    .serial = "KA3G-2104-00731",
    .hardwareRevision = 3,
    .sixDofInput = true,
    .sixDofOutput = false,
    .calibration = CalibrationStyle::Automatic,
    .encoderResetSupported = false,
    .buttons = 2,
    .hasInkwell = false,
    .usable = {-80, 80, -60, 60, -60, 60},
    .maximum = {-120, 120, -90, 100, -90, 90},
    .tabletopOffset = 110,
    .maxStiffness = 1.2,
    .maxDamping = 0.005,
    .maxForce = 6.0,
    .maxContinuousForce = 1.5,
    .maxTorqueStiffness = 0.0,
    .maxTorqueDamping = 0.0,
    .maxTorque = 0.0,
    .maxContinuousTorque = 0.0,
    .defaultMaxVelocity = 1000.0,
    .defaultKickLimit = 3.0,
    .defaultRampRate = 2.0,
    .base = {0.0, 0.0, -200.0},
    .upperArm = 170.0,
    .forearm = 170.0,
    .gimbalRange = {2.6, 1.4, 3.1},
    .armCountsPerRadian = 10000.0,
    .gimbalCountsPerRadian = 2000.0,
    .velocityFilterTime = 0.002,
    .mass = 0.075,
    .viscousFriction = 0.0005,
    .coulombFriction = 0.02,
};

constexpr ModelData kArm6{
    .name = "Korvo Arm 6",
    .alias = "arm6",
    .serial = "KA6-1907-00118",
    .hardwareRevision = 5,
    .sixDofInput = true,
    .sixDofOutput = true,
    .calibration = CalibrationStyle::Inkwell,
    .encoderResetSupported = true,
    .buttons = 3,
    .hasInkwell = true,
    .usable = {-100, 100, -70, 70, -60, 60},
    .maximum = {-160, 160, -110, 120, -100, 100},
    .tabletopOffset = 150,
    .maxStiffness = 2.0,
    .maxDamping = 0.008,
    .maxForce = 8.0,
    .maxContinuousForce = 2.0,
    .maxTorqueStiffness = 25.0,
    .maxTorqueDamping = 0.5,
    .maxTorque = 400.0,
    .maxContinuousTorque = 120.0,
    .defaultMaxVelocity = 1000.0,
    .defaultKickLimit = 4.0,
    .defaultRampRate = 2.0,
    .base = {0.0, 0.0, -250.0},
    .upperArm = 210.0,
    .forearm = 210.0,
    .gimbalRange = {2.6, 1.4, 3.1},
    .armCountsPerRadian = 16000.0,
    .gimbalCountsPerRadian = 4000.0,
    .velocityFilterTime = 0.0015,
    .mass = 0.12,
    .viscousFriction = 0.0008,
    .coulombFriction = 0.03,
};

constexpr ModelData kMini{
    .name = "Korvo Mini",
    .alias = "mini",
    .serial = "KM-2201-04420",
    .hardwareRevision = 2,
    .sixDofInput = false,
    .sixDofOutput = false,
    .calibration = CalibrationStyle::EncoderReset,
    .encoderResetSupported = true,
    .buttons = 1,
    .hasInkwell = false,
    .usable = {-50, 50, -40, 40, -30, 30},
    .maximum = {-80, 80, -60, 60, -50, 50},
    .tabletopOffset = 70,
    .maxStiffness = 1.0,
    .maxDamping = 0.002,
    .maxForce = 3.3,
    .maxContinuousForce = 0.9,
    .maxTorqueStiffness = 0.0,
    .maxTorqueDamping = 0.0,
    .maxTorque = 0.0,
    .maxContinuousTorque = 0.0,
    .defaultMaxVelocity = 800.0,
    .defaultKickLimit = 1.5,
    .defaultRampRate = 2.0,
    .base = {0.0, 0.0, -140.0},
    .upperArm = 110.0,
    .forearm = 110.0,
    .gimbalRange = {0.0, 0.0, 0.0},
    .armCountsPerRadian = 6000.0,
    .gimbalCountsPerRadian = 0.0,
    .velocityFilterTime = 0.003,
    .mass = 0.045,
    .viscousFriction = 0.0003,
    .coulombFriction = 0.015,
};

const DeviceModel kModels[] = {DeviceModel(kArm3G), DeviceModel(kArm6), DeviceModel(kMini)};

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

Vec3 DeviceModel::workspaceCentre() const noexcept {
    const auto& u = data_.usable;
    return {0.5 * (u[0] + u[1]), 0.5 * (u[2] + u[3]), 0.5 * (u[4] + u[5])};
}

bool DeviceModel::insideMaximumWorkspace(const Vec3& p) const noexcept {
    const auto& m = data_.maximum;
    return p.x >= m[0] && p.x <= m[1] && p.y >= m[2] && p.y <= m[3] && p.z >= m[4] && p.z <= m[5];
}

void DeviceModel::fillInfo(std::int32_t info[24]) const noexcept {
    for (int i = 0; i < 24; ++i) info[i] = 0;
    info[0] = data_.sixDofInput ? 1 : 0;
    info[1] = data_.sixDofOutput ? 1 : 0;
    info[2] = data_.calibration == CalibrationStyle::Automatic ? 1 : 0;
    info[3] = data_.calibration == CalibrationStyle::Inkwell ? 1 : 0;
    for (int i = 0; i < 6; ++i) {
        info[4 + i] = data_.usable[static_cast<std::size_t>(i)];
        info[10 + i] = data_.maximum[static_cast<std::size_t>(i)];
    }
    info[22] = data_.tabletopOffset;
}

const IDeviceModel* findModel(std::string_view name) noexcept {
    for (const DeviceModel& model : kModels)
        if (equalsIgnoreCase(name, model.data().name) || equalsIgnoreCase(name, model.data().alias)) return &model;
    return nullptr;
}

const IDeviceModel& defaultModel() noexcept { return kModels[0]; }

}  // namespace korvo::sim
