#include "zv/FunctionState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>

#include "korvo/korvo.h"
#include "zv/DeviceRegistry.h"
#include "zv/Errors.h"
#include "zv_version.h"

namespace zv {

namespace {

// Type masks shared by many parameters.
constexpr std::int32_t kAllNumbers = kDouble | kFloat | kInt | kLong;
constexpr std::int32_t kNumbersButLong = kDouble | kFloat | kInt;
constexpr std::int32_t kFloatingPoint = kDouble | kFloat;

using Lock = std::lock_guard<plat::RecursiveLock>;

ZVerror translated(int rc) { return rc == 0 ? ZV_SUCCESS : translateDeviceCode(rc); }

double* doubles(void* out) { return static_cast<double*>(out); }

// ---------------------------------------------------------------- snapshot values

template <std::size_t N, double (FrameRecord::*Field)[N]>
ZVerror snapshotArray(IDeviceState* device, void* out, const void*, std::int32_t selector) {
    Lock lock(device->mutex());
    std::copy_n(device->record(selector).*Field, N, doubles(out));
    return ZV_SUCCESS;
}

ZVerror snapshotButtons(IDeviceState* device, void* out, const void*, std::int32_t selector) {
    Lock lock(device->mutex());
    *doubles(out) = static_cast<double>(device->record(selector).buttons);
    return ZV_SUCCESS;
}

ZVerror snapshotPinch(IDeviceState* device, void* out, const void*, std::int32_t selector) {
    Lock lock(device->mutex());
    *doubles(out) = device->record(selector).pinchValue;
    return ZV_SUCCESS;
}

template <std::int32_t FrameRecord::*Field>
ZVerror snapshotSwitch(IDeviceState* device, void* out, const void*, std::int32_t selector) {
    Lock lock(device->mutex());
    *static_cast<ZVboolean*>(out) = device->record(selector).*Field != 0 ? 1 : 0;
    return ZV_SUCCESS;
}

ZVerror snapshotEncoders(IDeviceState* device, void* out, const void*, std::int32_t selector) {
    Lock lock(device->mutex());
    std::copy_n(device->record(selector).encoderValues, 6, static_cast<ZVlong*>(out));
    return ZV_SUCCESS;
}

ZVerror snapshotMotorDac(IDeviceState* device, void* out, const void*, std::int32_t selector) {
    int dof = 3;
    const ZVerror error = raw::outputDof(device->handle(), dof);
    Lock lock(device->mutex());
    std::copy_n(device->record(selector).motorDacValues, dof, static_cast<ZVlong*>(out));
    return error;
}

// Force and torque are commanded into the current record, inside a frame.
template <double (FrameRecord::*Field)[3]>
ZVerror commandVector(IDeviceState* device, void*, const void* in, std::int32_t) {
    Lock lock(device->mutex());
    if (!device->inFrame()) {
        return ZV_FRAME_ERROR;
    }
    FrameRecord& current = device->record(0);
    std::copy_n(static_cast<const double*>(in), 3, current.*Field);
    current.forceCommanded = 1;
    return ZV_SUCCESS;
}

ZVerror commandMotorDac(IDeviceState* device, void*, const void* in, std::int32_t) {
    int dof = 3;
    if (const ZVerror error = raw::outputDof(device->handle(), dof)) {
        return error;
    }
    Lock lock(device->mutex());
    if (!device->inFrame()) {
        return ZV_FRAME_ERROR;
    }
    FrameRecord& current = device->record(0);
    std::copy_n(static_cast<const ZVlong*>(in), dof, current.motorDacValues);
    current.dacCommanded = 1;
    return ZV_SUCCESS;
}

// ---------------------------------------------------------------- raw reads

template <ZVerror (*Read)(HZV, double*)>
ZVerror rawDoubles(IDeviceState* device, void* out, const void*, std::int32_t) {
    return Read(device->handle(), doubles(out));
}

template <std::size_t N>
ZVerror zeroDoubles(IDeviceState*, void* out, const void*, std::int32_t) {
    std::fill_n(doubles(out), N, 0.0);
    return ZV_SUCCESS;
}

ZVerror zeroLongs(IDeviceState*, void* out, const void*, std::int32_t) {
    std::fill_n(static_cast<ZVlong*>(out), 6, 0);
    return ZV_SUCCESS;
}

template <ZVerror (*Read)(HZV, std::int32_t&)>
ZVerror rawInt(IDeviceState* device, void* out, const void*, std::int32_t) {
    std::int32_t value = 0;
    const ZVerror error = Read(device->handle(), value);
    *static_cast<ZVint*>(out) = value;
    return error;
}

ZVerror rawEncoders(IDeviceState* device, void* out, const void*, std::int32_t) {
    return raw::encoderValues(device->handle(), static_cast<std::int32_t*>(out));
}

ZVerror rawPinch(IDeviceState* device, void* out, const void*, std::int32_t) {
    return raw::pinchValue(device->handle(), *doubles(out));
}

// ---------------------------------------------------------------- device information

const char* versionText() {
    static const char* const text = [] {
        static char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%d.%02d.%d", ZV_SDK_VERSION_MAJOR, ZV_SDK_VERSION_MINOR,
                      ZV_SDK_VERSION_PATCH);
        return buffer;
    }();
    return text;
}

ZVerror version(IDeviceState*, void* out, const void*, std::int32_t) {
    *static_cast<ZVstring*>(out) = versionText();
    return ZV_SUCCESS;
}

template <const char* (*Read)(KorvoHandle)>
ZVerror deviceString(IDeviceState* device, void* out, const void*, std::int32_t) {
    *static_cast<ZVstring*>(out) = Read(device->handle());
    return ZV_SUCCESS;
}

template <float (*Read)(KorvoHandle)>
ZVerror deviceFloat(IDeviceState* device, void* out, const void*, std::int32_t) {
    *doubles(out) = static_cast<double>(Read(device->handle()));
    return ZV_SUCCESS;
}

ZVerror hardwareRevision(IDeviceState* device, void* out, const void*, std::int32_t) {
    *doubles(out) = static_cast<double>(get_hardware_rev(device->handle()));
    return ZV_SUCCESS;
}

// Values of the information record, in the order of the index list.
template <int... Index>
ZVerror infoValues(IDeviceState* device, void* out, const void*, std::int32_t) {
    std::int32_t info[KORVO_INFO_COUNT];
    const ZVerror error = raw::readInfo(device->handle(), info);
    double* values = doubles(out);
    ((*values++ = static_cast<double>(info[Index])), ...);
    return error;
}

ZVerror inputDofValue(IDeviceState* device, void* out, const void*, std::int32_t) {
    int dof = 3;
    const ZVerror error = raw::inputDof(device->handle(), dof);
    *doubles(out) = dof;
    return error;
}

ZVerror outputDofValue(IDeviceState* device, void* out, const void*, std::int32_t) {
    int dof = 3;
    const ZVerror error = raw::outputDof(device->handle(), dof);
    *doubles(out) = dof;
    return error;
}

ZVerror calibrationStyle(IDeviceState* device, void* out, const void*, std::int32_t) {
    std::int32_t styles = 0;
    const ZVerror error = calibrationStyles(device->handle(), styles);
    *static_cast<ZVint*>(out) = styles;
    return error;
}

ZVerror motorTemperature(IDeviceState* device, void* out, const void*, std::int32_t) {
    int dof = 3;
    if (const ZVerror error = raw::outputDof(device->handle(), dof)) {
        return error;
    }
    float values[6] = {};
    int rc = 0;
    if (dof == 3) {
        rc = get_korvo_temp_normalized(device->handle(), values);
    } else if (dof == 6) {
        rc = get_korvo_temp_normalized_6dof(device->handle(), values);
    } else {
        return ZV_INVALID_OPERATION;
    }
    std::copy_n(values, dof, doubles(out));
    return translated(rc);
}

template <int (*Write)(KorvoHandle, float)>
ZVerror deviceFloatSetting(IDeviceState* device, void*, const void* in, std::int32_t) {
    return translated(Write(device->handle(), static_cast<float>(*static_cast<const double*>(in))));
}

// New joint angle references change every derived value, so the snapshot is
// taken again at once.
ZVerror jointAngleReferences(IDeviceState* device, void*, const void* in, std::int32_t) {
    const double* values = static_cast<const double*>(in);
    const float angles[3] = {static_cast<float>(values[0]), static_cast<float>(values[1]),
                             static_cast<float>(values[2])};
    const int rc = set_joint_angle_references(device->handle(), angles);
    device->refreshSnapshot();
    const int updated = update_korvo(device->handle());
    return translated(rc != 0 ? rc : updated);
}

ZVerror statusLight(IDeviceState* device, void* out, const void*, std::int32_t) {
    *static_cast<ZVint*>(out) = get_status_light(device->handle());
    return ZV_SUCCESS;
}

ZVerror setStatusLight(IDeviceState* device, void*, const void* in, std::int32_t) {
    return translated(override_status_light(device->handle(), *static_cast<const ZVint*>(in)));
}

// ---------------------------------------------------------------- capabilities

ZVboolean* flag(void* out) { return static_cast<ZVboolean*>(out); }

ZVerror forceOutputOn(IDeviceState* device, void*, const void*, std::int32_t) {
    device->setForceOutput(true);
    return ZV_SUCCESS;
}
ZVerror forceOutputOff(IDeviceState* device, void*, const void*, std::int32_t) {
    device->setForceOutput(false);
    return ZV_SUCCESS;
}
ZVerror forceOutputState(IDeviceState* device, void* out, const void*, std::int32_t) {
    *flag(out) = device->forceOutput() ? 1 : 0;
    return ZV_SUCCESS;
}
ZVerror oneFrameLimitOn(IDeviceState* device, void*, const void*, std::int32_t) {
    device->setOneFrameLimit(true);
    return ZV_SUCCESS;
}
ZVerror oneFrameLimitOff(IDeviceState* device, void*, const void*, std::int32_t) {
    device->setOneFrameLimit(false);
    return ZV_SUCCESS;
}
ZVerror oneFrameLimitState(IDeviceState* device, void* out, const void*, std::int32_t) {
    *flag(out) = device->oneFrameLimit() ? 1 : 0;
    return ZV_SUCCESS;
}

template <int (*Call)(KorvoHandle)>
ZVerror deviceCall(IDeviceState* device, void*, const void*, std::int32_t) {
    return translated(Call(device->handle()));
}

template <int (*Call)(KorvoHandle, int), int Argument>
ZVerror deviceCallWith(IDeviceState* device, void*, const void*, std::int32_t) {
    return translated(Call(device->handle(), Argument));
}

template <korvo_bool (*Query)(KorvoHandle)>
ZVerror deviceQuery(IDeviceState* device, void* out, const void*, std::int32_t) {
    *flag(out) = Query(device->handle()) != 0 ? 1 : 0;
    return ZV_SUCCESS;
}

// ---------------------------------------------------------------- conversions

std::int32_t truncated(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483647.0) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value <= -2147483648.0) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

void convertFromDoubles(const double* from, int count, ValueType type, void* out) {
    for (int i = 0; i < count; ++i) {
        switch (type) {
        case kFloat: static_cast<ZVfloat*>(out)[i] = static_cast<float>(from[i]); break;
        case kInt: static_cast<ZVint*>(out)[i] = truncated(from[i]); break;
        case kLong: static_cast<ZVlong*>(out)[i] = truncated(from[i]); break;
        case kBoolean: static_cast<ZVboolean*>(out)[i] = static_cast<ZVboolean>(truncated(from[i]) & 0xFF); break;
        default: static_cast<ZVdouble*>(out)[i] = from[i]; break;
        }
    }
}

void convertToDoubles(const void* in, int count, ValueType type, double* to) {
    for (int i = 0; i < count; ++i) {
        switch (type) {
        case kFloat: to[i] = static_cast<const ZVfloat*>(in)[i]; break;
        case kInt: to[i] = static_cast<const ZVint*>(in)[i]; break;
        case kLong: to[i] = static_cast<const ZVlong*>(in)[i]; break;
        case kBoolean: to[i] = static_cast<const ZVboolean*>(in)[i]; break;
        default: to[i] = static_cast<const ZVdouble*>(in)[i]; break;
        }
    }
}

// Every double-native value that is written ends up in single precision at
// the device.
bool deliverable(double value) {
    return std::isfinite(value) && std::fabs(value) <= static_cast<double>(std::numeric_limits<float>::max());
}

// The number of values a parameter reads or writes on a device.
ZVerror valueCount(const ParameterEntry& entry, IDeviceState* device, int& count) {
    count = entry.valueCount;
    if (entry.valueCount != kOutputDofCount) {
        return ZV_SUCCESS;
    }
    count = 3;
    return raw::outputDof(device->handle(), count);
}

}  // namespace

ZVerror calibrationStyles(HZV device, std::int32_t& styles) {
    styles = 0;
    std::int32_t info[KORVO_INFO_COUNT];
    if (const ZVerror error = raw::readInfo(device, info)) {
        return error;
    }
    if (is_korvo_reset_supported(device)) {
        styles |= ZV_CALIBRATION_ENCODER_RESET;
    }
    if (is_calibration_supported(device)) {
        styles |= info[KORVO_INFO_AUTO_CALIBRATION] != 0 ? ZV_CALIBRATION_AUTO : ZV_CALIBRATION_INKWELL;
    }
    return ZV_SUCCESS;
}

ZVFunctionState::ZVFunctionState() {
    const auto add = [](Map& map, ZVenum code, std::int32_t count, std::int32_t mask, Accessor accessor,
                        std::int32_t slot = kCurrentRecord, bool needsDevice = true) {
        map.emplace(code, ParameterEntry{slot, count, mask, accessor, needsDevice});
    };
    // Snapshot values: a current and a last code per value.
    const auto snapshot = [&](ZVenum current, ZVenum last, std::int32_t count, std::int32_t mask, Accessor accessor) {
        add(get_, current, count, mask, accessor, kCurrentRecord);
        add(get_, last, count, mask, accessor, kLastRecord);
    };
    snapshot(ZV_CURRENT_BUTTONS, ZV_LAST_BUTTONS, 1, kAllNumbers, snapshotButtons);
    snapshot(ZV_CURRENT_SAFETY_SWITCH, ZV_LAST_SAFETY_SWITCH, 1, kBoolean, snapshotSwitch<&FrameRecord::safetySwitch>);
    snapshot(ZV_CURRENT_INKWELL_SWITCH, ZV_LAST_INKWELL_SWITCH, 1, kBoolean,
             snapshotSwitch<&FrameRecord::inkwellSwitch>);
    snapshot(ZV_CURRENT_ENCODER_VALUES, ZV_LAST_ENCODER_VALUES, 6, kLong, snapshotEncoders);
    snapshot(ZV_CURRENT_PINCH_VALUE, ZV_LAST_PINCH_VALUE, 1, kAllNumbers, snapshotPinch);
    snapshot(ZV_CURRENT_POSITION, ZV_LAST_POSITION, 3, kAllNumbers, snapshotArray<3, &FrameRecord::position>);
    snapshot(ZV_CURRENT_VELOCITY, ZV_LAST_VELOCITY, 3, kAllNumbers, snapshotArray<3, &FrameRecord::velocity>);
    snapshot(ZV_CURRENT_TRANSFORM, ZV_LAST_TRANSFORM, 16, kAllNumbers, snapshotArray<16, &FrameRecord::transform>);
    snapshot(ZV_CURRENT_ANGULAR_VELOCITY, ZV_LAST_ANGULAR_VELOCITY, 3, kAllNumbers,
             snapshotArray<3, &FrameRecord::angularVelocity>);
    snapshot(ZV_CURRENT_JACOBIAN, ZV_LAST_JACOBIAN, 36, kAllNumbers, snapshotArray<36, &FrameRecord::jacobian>);
    snapshot(ZV_CURRENT_JOINT_ANGLES, ZV_LAST_JOINT_ANGLES, 3, kAllNumbers,
             snapshotArray<3, &FrameRecord::jointAngles>);
    snapshot(ZV_CURRENT_GIMBAL_ANGLES, ZV_LAST_GIMBAL_ANGLES, 3, kAllNumbers,
             snapshotArray<3, &FrameRecord::gimbalAngles>);
    snapshot(ZV_CURRENT_FORCE, ZV_LAST_FORCE, 3, kNumbersButLong, snapshotArray<3, &FrameRecord::force>);
    snapshot(ZV_CURRENT_TORQUE, ZV_LAST_TORQUE, 3, kNumbersButLong, snapshotArray<3, &FrameRecord::torque>);
    snapshot(ZV_CURRENT_MOTOR_DAC_VALUES, ZV_LAST_MOTOR_DAC_VALUES, kOutputDofCount, kLong, snapshotMotorDac);
    add(set_, ZV_CURRENT_FORCE, 3, kNumbersButLong, commandVector<&FrameRecord::force>, kNoRecord);
    add(set_, ZV_CURRENT_TORQUE, 3, kNumbersButLong, commandVector<&FrameRecord::torque>, kNoRecord);
    add(set_, ZV_CURRENT_MOTOR_DAC_VALUES, kOutputDofCount, kLong, commandMotorDac, kNoRecord);

    // Device information and settings.
    add(get_, ZV_VERSION, 1, kString, version, kCurrentRecord, false);
    add(get_, ZV_DEVICE_MODEL_TYPE, 1, kString, deviceString<get_korvo_model_type>);
    add(get_, ZV_DEVICE_DRIVER_VERSION, 1, kString, deviceString<get_library_version>);
    add(get_, ZV_DEVICE_VENDOR, 1, kString, deviceString<get_vendor_string>);
    add(get_, ZV_DEVICE_SERIAL_NUMBER, 1, kString, deviceString<get_hardware_serial_number>);
    add(get_, ZV_DEVICE_HARDWARE_REVISION, 1, kAllNumbers, hardwareRevision);
    add(get_, ZV_USABLE_WORKSPACE_DIMENSIONS, 6, kAllNumbers, infoValues<4, 6, 8, 5, 7, 9>);
    add(get_, ZV_MAX_WORKSPACE_DIMENSIONS, 6, kAllNumbers, infoValues<10, 12, 14, 11, 13, 15>);
    add(get_, ZV_TABLETOP_OFFSET, 1, kAllNumbers, infoValues<KORVO_INFO_TABLETOP_OFFSET>);
    add(get_, ZV_INPUT_DOF, 1, kAllNumbers, inputDofValue);
    add(get_, ZV_OUTPUT_DOF, 1, kAllNumbers, outputDofValue);
    add(get_, ZV_CALIBRATION_STYLE, 1, kInt, calibrationStyle);
    add(get_, ZV_UPDATE_RATE, 1, kAllNumbers, deviceFloat<get_korvo_rate>);
    add(get_, ZV_INSTANTANEOUS_UPDATE_RATE, 1, kAllNumbers, deviceFloat<get_korvo_inst_rate>);
    add(get_, ZV_NOMINAL_MAX_STIFFNESS, 1, kAllNumbers, deviceFloat<get_korvo_nominal_max_stiffness>);
    add(get_, ZV_NOMINAL_MAX_FORCE, 1, kAllNumbers, deviceFloat<get_korvo_nominal_max_force>);
    add(get_, ZV_NOMINAL_MAX_CONTINUOUS_FORCE, 1, kAllNumbers, deviceFloat<get_korvo_nominal_max_continuous_force>);
    add(get_, ZV_MOTOR_TEMPERATURE, kOutputDofCount, kAllNumbers, motorTemperature);
    add(get_, ZV_MAX_VELOCITY_LIMIT, 1, kFloatingPoint, deviceFloat<get_korvo_max_velocity>);
    add(set_, ZV_MAX_VELOCITY_LIMIT, 1, kAllNumbers, deviceFloatSetting<set_korvo_max_velocity>, kNoRecord);
    add(get_, ZV_MAX_FORCE_IMPULSE_LIMIT, 1, kFloatingPoint, deviceFloat<get_korvo_force_kick_safety>);
    add(set_, ZV_MAX_FORCE_IMPULSE_LIMIT, 1, kAllNumbers, deviceFloatSetting<set_korvo_force_kick_safety>, kNoRecord);
    add(get_, ZV_FORCE_RAMPING_RATE, 1, kAllNumbers, deviceFloat<get_korvo_ramp_forces_rate>);
    add(set_, ZV_FORCE_RAMPING_RATE, 1, kAllNumbers, deviceFloatSetting<set_korvo_ramp_forces_rate>, kNoRecord);
    add(get_, ZV_NOMINAL_MAX_DAMPING, 1, kAllNumbers, deviceFloat<get_korvo_nominal_max_damping>);
    add(get_, ZV_NOMINAL_MAX_TORQUE_STIFFNESS, 1, kAllNumbers, deviceFloat<get_korvo_nominal_max_torque_stiffness>);
    add(get_, ZV_NOMINAL_MAX_TORQUE_DAMPING, 1, kAllNumbers, deviceFloat<get_korvo_nominal_max_torque_damping>);
    add(get_, ZV_NOMINAL_MAX_TORQUE_FORCE, 1, kAllNumbers, deviceFloat<get_korvo_nominal_max_torque_force>);
    add(get_, ZV_NOMINAL_MAX_TORQUE_CONTINUOUS_FORCE, 1, kAllNumbers,
        deviceFloat<get_korvo_nominal_max_torque_continuous_force>);
    add(set_, ZV_JOINT_ANGLE_REFERENCES, 3, kNumbersButLong, jointAngleReferences, kNoRecord);
    add(get_, ZV_USER_STATUS_LIGHT, 1, kInt, statusLight);
    add(set_, ZV_USER_STATUS_LIGHT, 1, kInt, setStatusLight, kNoRecord);

    // Raw reads behind the snapshot.
    add(get_, ZV_RAW_FORCE_CLEAR, 3, kDouble, zeroDoubles<3>);
    add(get_, ZV_RAW_TORQUE_CLEAR, 3, kDouble, zeroDoubles<3>);
    add(get_, ZV_RAW_POSITION, 3, kDouble, rawDoubles<raw::position>);
    add(get_, ZV_RAW_VELOCITY, 3, kDouble, rawDoubles<raw::velocity>);
    add(get_, ZV_RAW_ANGULAR_VELOCITY, 3, kDouble, rawDoubles<raw::angularVelocity>);
    add(get_, ZV_RAW_BUTTONS, 1, kInt, rawInt<raw::buttons>);
    add(get_, ZV_RAW_JOINT_ANGLES, 3, kDouble, rawDoubles<raw::jointAngles>);
    add(get_, ZV_RAW_GIMBAL_ANGLES, 3, kDouble, rawDoubles<raw::gimbalAngles>);
    add(get_, ZV_RAW_ENCODER_VALUES, 6, kLong, rawEncoders);
    add(get_, ZV_RAW_TRANSFORM, 16, kDouble, rawDoubles<raw::transform>);
    add(get_, ZV_RAW_MOTOR_DAC_CLEAR, 6, kLong, zeroLongs);
    add(get_, ZV_RAW_SAFETY_SWITCH, 1, kInt, rawInt<raw::safetySwitch>);
    add(get_, ZV_RAW_INKWELL_SWITCH, 1, kInt, rawInt<raw::inkwellSwitch>);
    add(get_, ZV_RAW_JACOBIAN, 36, kDouble, rawDoubles<raw::jacobian>);
    add(get_, ZV_RAW_PINCH_VALUE, 1, kDouble, rawPinch);

    // Capabilities: the same codes in all three maps.
    const auto capability = [&](ZVenum code, Accessor on, Accessor off, Accessor state) {
        add(enable_, code, 1, 0, on, kNoRecord);
        add(disable_, code, 1, 0, off, kNoRecord);
        add(isEnabled_, code, 1, 0, state, kNoRecord);
    };
    capability(ZV_FORCE_OUTPUT, forceOutputOn, forceOutputOff, forceOutputState);
    capability(ZV_MAX_FORCE_CLAMPING, deviceCall<truncate_force_saturation>, deviceCall<zero_force_saturation>,
               deviceQuery<is_force_saturation_enabled>);
    capability(ZV_FORCE_RAMPING, deviceCallWith<enable_korvo_ramp_forces, 1>,
               deviceCallWith<enable_korvo_ramp_forces, 0>, deviceQuery<is_korvo_ramp_forces_enabled>);
    capability(ZV_FORCE_CHECK, deviceCallWith<enable_korvo_force_check, 1>, deviceCallWith<enable_korvo_force_check, 0>,
               deviceQuery<is_korvo_force_check_enabled>);
    capability(ZV_ONE_FRAME_LIMIT, oneFrameLimitOn, oneFrameLimitOff, oneFrameLimitState);
    capability(ZV_MAX_VELOCITY_LIMIT, deviceCallWith<enable_korvo_velocity_check, 1>,
               deviceCallWith<enable_korvo_velocity_check, 0>, deviceQuery<is_korvo_velocity_check_enabled>);
    capability(ZV_MAX_FORCE_IMPULSE_LIMIT, deviceCallWith<enable_korvo_force_kick_safety, 1>,
               deviceCallWith<enable_korvo_force_kick_safety, 0>, deviceQuery<is_korvo_force_kick_safety_enabled>);
    capability(ZV_USER_STATUS_LIGHT, deviceCallWith<override_status_light, 0>, deviceCall<restore_status_light>,
               deviceQuery<is_status_light_enabled>);
}

const ParameterEntry* ZVFunctionState::lookup(const Map& map, ZVenum code) {
    const auto at = map.find(code);
    return at == map.end() ? nullptr : &at->second;
}

ZVerror ZVFunctionState::get(ZVenum code, ValueType type, void* out) {
    const ParameterEntry* entry = lookup(get_, code);
    if (entry == nullptr) {
        return ZV_INVALID_ENUM;
    }
    if ((entry->typeMask & type) == 0) {
        return ZV_INVALID_INPUT_TYPE;
    }
    if (out == nullptr) {
        return ZV_INVALID_VALUE;
    }
    std::shared_ptr<IDeviceState> device;
    if (entry->needsDevice && !(device = findCurrentState())) {
        return ZV_BAD_HANDLE;
    }
    ZVerror error = ZV_SUCCESS;
    if ((entry->typeMask & kDouble) == 0 || type == kDouble) {
        error = entry->accessor(device.get(), out, nullptr, entry->slotSelector);
    } else {
        int count = 0;
        if (const ZVerror countError = valueCount(*entry, device.get(), count)) {
            return countError;
        }
        double buffer[kMaxValueCount] = {};
        error = entry->accessor(device.get(), buffer, nullptr, entry->slotSelector);
        convertFromDoubles(buffer, count, type, out);
    }
    if (error != ZV_SUCCESS) {
        raise(error, 0);
    }
    return ZV_SUCCESS;
}

ZVerror ZVFunctionState::set(ZVenum code, ValueType type, const void* in) {
    const ParameterEntry* entry = lookup(set_, code);
    if (entry == nullptr) {
        return ZV_INVALID_ENUM;
    }
    if ((entry->typeMask & type) == 0) {
        return ZV_INVALID_INPUT_TYPE;
    }
    if (in == nullptr) {
        return ZV_INVALID_VALUE;
    }
    std::shared_ptr<IDeviceState> device;
    if (entry->needsDevice && !(device = findCurrentState())) {
        return ZV_BAD_HANDLE;
    }
    ZVerror error = ZV_SUCCESS;
    if ((entry->typeMask & kDouble) != 0) {
        int count = 0;
        if (const ZVerror countError = valueCount(*entry, device.get(), count)) {
            return countError;
        }
        double buffer[kMaxValueCount] = {};
        convertToDoubles(in, count, type, buffer);
        if (!std::all_of(buffer, buffer + count, deliverable)) {
            return ZV_INVALID_VALUE;
        }
        error = entry->accessor(device.get(), nullptr, buffer, entry->slotSelector);
    } else {
        error = entry->accessor(device.get(), nullptr, in, entry->slotSelector);
    }
    if (error != ZV_SUCCESS) {
        raise(error, 0);
    }
    return ZV_SUCCESS;
}

ZVerror ZVFunctionState::getString(ZVenum code, ZVstring& text) {
    text = nullptr;
    const ParameterEntry* entry = lookup(get_, code);
    if (entry == nullptr) {
        return ZV_INVALID_ENUM;
    }
    if ((entry->typeMask & kString) == 0) {
        return ZV_INVALID_INPUT_TYPE;
    }
    std::shared_ptr<IDeviceState> device;
    if (entry->needsDevice && !(device = findCurrentState())) {
        return ZV_BAD_HANDLE;
    }
    const ZVerror error = entry->accessor(device.get(), &text, nullptr, entry->slotSelector);
    if (error != ZV_SUCCESS) {
        raise(error, 0);
    }
    return ZV_SUCCESS;
}

ZVerror ZVFunctionState::capability(const Map& map, ZVenum code, void* out) {
    const ParameterEntry* entry = lookup(map, code);
    if (entry == nullptr) {
        return ZV_INVALID_ENUM;
    }
    const std::shared_ptr<IDeviceState> device = findCurrentState();
    if (!device) {
        return ZV_BAD_HANDLE;
    }
    const ZVerror error = entry->accessor(device.get(), out, nullptr, entry->slotSelector);
    if (error != ZV_SUCCESS) {
        raise(error, 0);
    }
    return ZV_SUCCESS;
}

ZVerror ZVFunctionState::enable(ZVenum code) { return capability(enable_, code, nullptr); }

ZVerror ZVFunctionState::disable(ZVenum code) { return capability(disable_, code, nullptr); }

ZVerror ZVFunctionState::isEnabled(ZVenum code, ZVboolean& state) {
    state = 0;
    return capability(isEnabled_, code, &state);
}

}  // namespace zv
