#include "DeviceRegistry.h"

#include "Error.h"
#include "korvo/korvo.h"

namespace korvo::sim {

// A device name designates one physical device, so a second open of the same
// model finds the existing slot. New devices take the lowest free handle; the
// device object is built before the slot lock is taken.
unsigned DeviceRegistry::open(const IDeviceModel& model, bool& created) {
    std::lock_guard registry(registryMutex_);
    for (unsigned i = 0; i < kMaxDevices; ++i) {
        if (models_[i] == &model) {
            created = false;
            return i;
        }
    }
    for (unsigned i = 0; i < kMaxDevices; ++i) {
        if (models_[i] != nullptr) continue;
        auto device = std::make_unique<SimDevice>(model);
        {
            std::lock_guard slot(slots_[i].mutex);
            slots_[i].device = std::move(device);
        }
        models_[i] = &model;
        openMask_.fetch_or(1u << i, std::memory_order_acq_rel);
        created = true;
        return i;
    }
    throw Error(KORVO_TOO_MANY_DEVICES);
}

bool DeviceRegistry::close(unsigned handle) noexcept {
    if (handle >= kMaxDevices) return false;
    std::unique_ptr<ISimDevice> closed;
    {
        std::lock_guard registry(registryMutex_);
        if (models_[handle] == nullptr) return false;
        models_[handle] = nullptr;
        openMask_.fetch_and(~(1u << handle), std::memory_order_acq_rel);
        std::lock_guard slot(slots_[handle].mutex);
        closed = std::move(slots_[handle].device);
    }
    return true;
}

void DeviceRegistry::closeAll() noexcept {
    for (unsigned i = 0; i < kMaxDevices; ++i) close(i);
}

DeviceAccess DeviceRegistry::access(unsigned handle) noexcept {
    if (handle >= kMaxDevices) return {};
    std::unique_lock lock(slots_[handle].mutex);
    ISimDevice* device = slots_[handle].device.get();
    if (device == nullptr) return {};
    return {std::move(lock), device};
}

}  // namespace korvo::sim
