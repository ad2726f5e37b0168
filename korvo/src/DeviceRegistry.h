// The open devices: a fixed table of slots indexed by handle. Each slot has
// its own lock, which every call on that device holds for its (short)
// duration, so client threads and the servo thread never see a device half
// changed, and closing a device cannot pull it from under a running call.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "DeviceModel.h"
#include "SimDevice.h"

namespace korvo::sim {

// Exclusive access to one open device for as long as the object lives.
class DeviceAccess {
public:
    DeviceAccess() = default;
    DeviceAccess(std::unique_lock<std::mutex> lock, ISimDevice* device) noexcept
        : lock_(std::move(lock)), device_(device) {}
    explicit operator bool() const noexcept { return device_ != nullptr; }
    ISimDevice* operator->() const noexcept { return device_; }
    ISimDevice& operator*() const noexcept { return *device_; }

private:
    std::unique_lock<std::mutex> lock_;
    ISimDevice* device_ = nullptr;
};

class IDeviceRegistry {
public:
    virtual ~IDeviceRegistry() = default;
    // Opens the device of this model and returns its handle, or the handle it
    // already has (created tells which). Throws Error(KORVO_TOO_MANY_DEVICES)
    // when every slot is taken.
    virtual unsigned open(const IDeviceModel& model, bool& created) = 0;
    // Closes a device; false when the handle is not open.
    virtual bool close(unsigned handle) noexcept = 0;
    virtual void closeAll() noexcept = 0;
    // Locked access to an open device; empty for an invalid handle.
    virtual DeviceAccess access(unsigned handle) noexcept = 0;
    // Bit i set while handle i is open (a hint for the servo thread, which
    // still checks under the slot lock).
    virtual std::uint32_t openMask() const noexcept = 0;
};

class DeviceRegistry final : public IDeviceRegistry {
public:
    static constexpr unsigned kMaxDevices = 16;

    unsigned open(const IDeviceModel& model, bool& created) override;
    bool close(unsigned handle) noexcept override;
    void closeAll() noexcept override;
    DeviceAccess access(unsigned handle) noexcept override;
    std::uint32_t openMask() const noexcept override { return openMask_.load(std::memory_order_acquire); }

private:
    struct Slot {
        std::mutex mutex;
        std::unique_ptr<ISimDevice> device;  // guarded by mutex
    };

    std::mutex registryMutex_;  // guards models_ and the open/close sequence
    std::array<const IDeviceModel*, kMaxDevices> models_{};
    std::array<Slot, kMaxDevices> slots_;
    std::atomic<std::uint32_t> openMask_{0};
};

}  // namespace korvo::sim
