// Per-device state: the two frame snapshots and the frame logic.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/Platform.h"

#include "zv/zv.h"

namespace zv {

// One snapshot of a device, taken at the start of an outermost frame. Values
// are those the device I/O library delivers, floats widened to double.
struct FrameRecord {
    double force[3];
    double torque[3];
    double position[3];
    double transform[16];  // column-major 4x4
    double jacobian[36];   // 6x6
    double velocity[3];
    double angularVelocity[3];
    std::int32_t buttons;
    std::int32_t safetySwitch;
    std::int32_t inkwellSwitch;
    double jointAngles[3];
    double gimbalAngles[3];
    std::int32_t encoderValues[6];
    double pinchValue;
    std::int32_t motorDacValues[6];
    std::uint8_t dacCommanded;
    std::uint8_t forceCommanded;
};

// The state of one open device.
//
// Frames are normally made by callbacks on the servo thread, but snapshot
// values and switches are also read and written by client threads; every
// access to the records and frame counters holds the state's lock (short
// sections: a record copy, or one frame's device reads). Capability switches
// are atomics so that a client can flip them without waiting.
class IDeviceState {
public:
    virtual ~IDeviceState() = default;

    virtual HZV handle() const = 0;

    // Frame operations; refusals are returned (ZV_ILLEGAL_BEGIN,
    // ZV_ILLEGAL_END, ZV_FORCE_ERROR), device failures are raised.
    virtual ZVerror beginFrame() = 0;
    virtual ZVerror endFrame() = 0;
    // The per-tick update operation: keeps the device serviced in ticks
    // without a frame, and ends the tick's frame accounting.
    virtual void serviceTick() = 0;
    // Takes a new snapshot into the other record and makes it current.
    virtual void refreshSnapshot() = 0;

    // Lock guarding the records and frame counters (recursive).
    virtual plat::RecursiveLock& mutex() = 0;
    // 0: the current record, 1: the last record. Caller holds mutex().
    virtual FrameRecord& record(int selector) = 0;
    virtual bool inFrame() const = 0;

    virtual bool forceOutput() const = 0;
    virtual void setForceOutput(bool on) = 0;
    virtual bool oneFrameLimit() const = 0;
    virtual void setOneFrameLimit(bool on) = 0;
    virtual bool needsEncoderReset() const = 0;
    virtual void setNeedsEncoderReset(bool needed) = 0;
    virtual int updateOperationHandle() const = 0;
    virtual void setUpdateOperationHandle(int handle) = 0;
};

class ZVDeviceState : public IDeviceState {
public:
    explicit ZVDeviceState(HZV handle);

    HZV handle() const override { return handle_; }
    ZVerror beginFrame() override;
    ZVerror endFrame() override;
    void serviceTick() override;
    void refreshSnapshot() override;
    plat::RecursiveLock& mutex() override { return mutex_; }
    FrameRecord& record(int selector) override;
    bool inFrame() const override;

    bool forceOutput() const override { return forceOutput_.load(std::memory_order_acquire); }
    void setForceOutput(bool on) override { forceOutput_.store(on, std::memory_order_release); }
    bool oneFrameLimit() const override { return oneFrameLimit_.load(std::memory_order_acquire); }
    void setOneFrameLimit(bool on) override { oneFrameLimit_.store(on, std::memory_order_release); }
    bool needsEncoderReset() const override { return needsEncoderReset_.load(std::memory_order_acquire); }
    void setNeedsEncoderReset(bool needed) override { needsEncoderReset_.store(needed, std::memory_order_release); }
    int updateOperationHandle() const override { return updateHandle_.load(std::memory_order_acquire); }
    void setUpdateOperationHandle(int handle) override { updateHandle_.store(handle, std::memory_order_release); }

private:
    void fillRecord(FrameRecord& record);

    const HZV handle_;
    mutable plat::RecursiveLock mutex_;
    FrameRecord frames_[2]{};
    std::atomic<bool> forceOutput_{false};
    int currentIndex_ = 0;
    bool firstFrame_ = true;
    std::atomic<int> updateHandle_{-1};
    int frameNesting_ = 0;
    bool frameDoneThisTick_ = false;
    std::atomic<bool> oneFrameLimit_{true};
    std::atomic<bool> needsEncoderReset_{true};
};

// Raw device reads behind the snapshot. Each returns a ZVerror (0 on
// success) and writes its values in any case (zeros where the device gave
// nothing).
namespace raw {
ZVerror readInfo(HZV device, std::int32_t info[24]);
// 3 or 6, from the information record.
ZVerror inputDof(HZV device, int& dof);
ZVerror outputDof(HZV device, int& dof);
ZVerror position(HZV device, double out[3]);
ZVerror velocity(HZV device, double out[3]);
// The reads that depend on the input DOF come in two forms: one that asks
// the device for it, and one given it (a frame reads it once for all).
ZVerror angularVelocity(HZV device, double out[3]);
ZVerror angularVelocity(HZV device, int inputDof, double out[3]);
ZVerror buttons(HZV device, std::int32_t& out);
ZVerror jointAngles(HZV device, double out[3]);
ZVerror gimbalAngles(HZV device, double out[3]);
ZVerror gimbalAngles(HZV device, int inputDof, double out[3]);
ZVerror encoderValues(HZV device, std::int32_t out[6]);
ZVerror transform(HZV device, double out[16]);
ZVerror transform(HZV device, int inputDof, double out[16]);
ZVerror safetySwitch(HZV device, std::int32_t& out);
ZVerror inkwellSwitch(HZV device, std::int32_t& out);
ZVerror jacobian(HZV device, double out[36]);
ZVerror pinchValue(HZV device, double& out);
}  // namespace raw

}  // namespace zv
