#include "zv/DeviceState.h"

#include <algorithm>

#include "korvo/korvo.h"
#include "zv/Errors.h"

namespace zv {

namespace raw {

namespace {

ZVerror translated(int rc) { return rc == 0 ? ZV_SUCCESS : translateDeviceCode(rc); }

template <std::size_t N>
ZVerror floats(int (*read)(KorvoHandle, float*), HZV device, double* out) {
    float values[N] = {};
    const int rc = read(device, values);
    std::copy_n(values, N, out);
    return translated(rc);
}

// A switch read: nonzero is on, a negative result is a failure (and reads
// as off rather than as a pressed switch).
ZVerror switchState(int result, std::int32_t& out) {
    if (result < 0) {
        out = 0;
        return translated(result);
    }
    out = result;
    return ZV_SUCCESS;
}

}  // namespace

ZVerror readInfo(HZV device, std::int32_t info[24]) {
    std::fill_n(info, KORVO_INFO_COUNT, 0);
    return translated(get_korvo_info(device, info, KORVO_INFO_SIZE));
}

ZVerror inputDof(HZV device, int& dof) {
    std::int32_t info[KORVO_INFO_COUNT];
    const ZVerror error = readInfo(device, info);
    dof = info[KORVO_INFO_6DOF_INPUT] != 0 ? 6 : 3;
    return error;
}

ZVerror outputDof(HZV device, int& dof) {
    std::int32_t info[KORVO_INFO_COUNT];
    const ZVerror error = readInfo(device, info);
    dof = info[KORVO_INFO_6DOF_OUTPUT] != 0 ? 6 : 3;
    return error;
}

ZVerror position(HZV device, double out[3]) { return floats<3>(get_korvo_pos, device, out); }

ZVerror velocity(HZV device, double out[3]) { return floats<3>(get_korvo_vel, device, out); }

ZVerror angularVelocity(HZV device, double out[3]) {
    int dof = 3;
    if (const ZVerror error = inputDof(device, dof)) {
        std::fill_n(out, 3, 0.0);
        return error;
    }
    return angularVelocity(device, dof, out);
}

ZVerror angularVelocity(HZV device, int dof, double out[3]) {
    std::fill_n(out, 3, 0.0);
    if (dof != 6) {
        return ZV_SUCCESS;
    }
    double six[6];
    const ZVerror error = floats<6>(get_korvo_vel_6dof, device, six);
    std::copy_n(six + 3, 3, out);
    return error;
}

ZVerror buttons(HZV device, std::int32_t& out) {
    out = 0;
    for (int index = 0; index < 3; ++index) {
        const int state = get_stylus_switch(device, index);
        if (state < 0) {
            return translated(state);
        }
        if (state != 0) {
            out |= 1 << index;
        }
    }
    return ZV_SUCCESS;
}

ZVerror jointAngles(HZV device, double out[3]) { return floats<3>(get_korvo_encoders, device, out); }

ZVerror gimbalAngles(HZV device, double out[3]) {
    int dof = 3;
    if (const ZVerror error = inputDof(device, dof)) {
        std::fill_n(out, 3, 0.0);
        return error;
    }
    return gimbalAngles(device, dof, out);
}

ZVerror gimbalAngles(HZV device, int dof, double out[3]) {
    std::fill_n(out, 3, 0.0);
    return dof == 6 ? floats<3>(get_gimbal_encoders, device, out) : ZV_SUCCESS;
}

ZVerror encoderValues(HZV device, std::int32_t out[6]) {
    std::int32_t values[6] = {};
    const int rc = get_encoder_values(device, values);
    std::copy_n(values, 6, out);
    return translated(rc);
}

ZVerror transform(HZV device, double out[16]) {
    int dof = 3;
    const ZVerror infoError = inputDof(device, dof);
    const ZVerror error = transform(device, infoError == ZV_SUCCESS ? dof : 3, out);
    return infoError != ZV_SUCCESS ? infoError : error;
}

ZVerror transform(HZV device, int dof, double out[16]) {
    if (dof == 6) {
        return floats<16>(get_stylus_matrix, device, out);
    }
    // Without an orientation sensor the transform is a pure translation.
    std::fill_n(out, 16, 0.0);
    out[0] = out[5] = out[10] = out[15] = 1.0;
    return position(device, out + 12);
}

ZVerror safetySwitch(HZV device, std::int32_t& out) { return switchState(get_stylus_presence(device), out); }

ZVerror inkwellSwitch(HZV device, std::int32_t& out) { return switchState(get_inkwell_switch(device), out); }

ZVerror jacobian(HZV device, double out[36]) {
    double values[36] = {};
    const int rc = get_korvo_jacobian(device, values);
    std::copy_n(values, 36, out);
    return translated(rc);
}

ZVerror pinchValue(HZV device, double& out) {
    out = get_pinch_value(device);
    return ZV_SUCCESS;
}

}  // namespace raw

namespace {

void raiseIf(ZVerror error) {
    if (error != ZV_SUCCESS) {
        raise(error, 0);
    }
}

}  // namespace

ZVDeviceState::ZVDeviceState(HZV handle) : handle_(handle) {}

FrameRecord& ZVDeviceState::record(int selector) { return frames_[selector == 0 ? currentIndex_ : 1 - currentIndex_]; }

bool ZVDeviceState::inFrame() const {
    std::lock_guard<plat::RecursiveLock> lock(mutex_);
    return frameNesting_ > 0;
}

// The snapshot is filled in a fixed order; each read that fails is raised on
// its own and the rest still run. The input DOF decides three of the reads;
// it is asked for once (a failure is raised once; the zeroed record then
// reads as 3-DOF input).
void ZVDeviceState::fillRecord(FrameRecord& r) {
    int dof = 3;
    raiseIf(raw::inputDof(handle_, dof));
    r.dacCommanded = 0;
    r.forceCommanded = 0;
    std::fill_n(r.motorDacValues, 6, 0);
    std::fill_n(r.force, 3, 0.0);
    std::fill_n(r.torque, 3, 0.0);
    raiseIf(raw::position(handle_, r.position));
    raiseIf(raw::transform(handle_, dof, r.transform));
    raiseIf(raw::jacobian(handle_, r.jacobian));
    raiseIf(raw::velocity(handle_, r.velocity));
    raiseIf(raw::angularVelocity(handle_, dof, r.angularVelocity));
    raiseIf(raw::buttons(handle_, r.buttons));
    raiseIf(raw::safetySwitch(handle_, r.safetySwitch));
    raiseIf(raw::inkwellSwitch(handle_, r.inkwellSwitch));
    raiseIf(raw::jointAngles(handle_, r.jointAngles));
    raiseIf(raw::gimbalAngles(handle_, dof, r.gimbalAngles));
    raiseIf(raw::encoderValues(handle_, r.encoderValues));
    raiseIf(raw::pinchValue(handle_, r.pinchValue));
}

void ZVDeviceState::refreshSnapshot() {
    std::lock_guard<plat::RecursiveLock> lock(mutex_);
    currentIndex_ = 1 - currentIndex_;
    fillRecord(frames_[currentIndex_]);
    if (firstFrame_) {
        // The first snapshot serves as the previous one too.
        firstFrame_ = false;
        frames_[1 - currentIndex_] = frames_[currentIndex_];
    }
}

ZVerror ZVDeviceState::beginFrame() {
    std::lock_guard<plat::RecursiveLock> lock(mutex_);
    if (oneFrameLimit() && frameDoneThisTick_) {
        return ZV_ILLEGAL_BEGIN;
    }
    if (++frameNesting_ > 1) {
        return ZV_SUCCESS;
    }
    // The amplifiers follow the wanted state here, so a cut-off made by the
    // safety checks of an earlier frame ends with this frame.
    const bool wanted = forceOutput();
    if (is_korvo_forces_enabled(handle_) != (wanted ? 1 : 0)) {
        if (wanted) {
            enable_korvo_forces(handle_);
        } else {
            disable_korvo_forces(handle_);
        }
    }
    const int rc = update_korvo(handle_);
    refreshSnapshot();
    if (rc != 0) {
        raise(translateDeviceCode(rc), rc);
    }
    return ZV_SUCCESS;
}

ZVerror ZVDeviceState::endFrame() {
    std::lock_guard<plat::RecursiveLock> lock(mutex_);
    if (frameNesting_ <= 0) {
        return ZV_ILLEGAL_END;
    }
    if (--frameNesting_ > 0) {
        return ZV_SUCCESS;
    }
    const FrameRecord& current = record(0);
    if (is_korvo_forces_enabled(handle_) != 0) {
        if (current.dacCommanded && current.forceCommanded) {
            return ZV_FORCE_ERROR;
        }
        int rc = 0;
        if (current.dacCommanded) {
            rc = command_motor_dac_values(handle_, current.motorDacValues);
        } else {
            const float forceTorque[6] = {
                static_cast<float>(current.force[0]),  static_cast<float>(current.force[1]),
                static_cast<float>(current.force[2]),  static_cast<float>(current.torque[0]),
                static_cast<float>(current.torque[1]), static_cast<float>(current.torque[2]),
            };
            rc = send_korvo_force_6dof(handle_, forceTorque);
        }
        if (rc != 0) {
            raise(translateDeviceCode(rc), rc);
            if (rc == KORVO_EXCEEDED_MAX_FORCE || rc == KORVO_EXCEEDED_MAX_VELOCITY || rc == KORVO_DEVICE_FAULT) {
                disable_korvo_forces(handle_);
            }
        }
    }
    frameDoneThisTick_ = true;
    return ZV_SUCCESS;
}

void ZVDeviceState::serviceTick() {
    std::lock_guard<plat::RecursiveLock> lock(mutex_);
    if (!frameDoneThisTick_) {
        update_korvo(handle_);
    }
    frameDoneThisTick_ = false;
}

}  // namespace zv
