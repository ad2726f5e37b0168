#include "zv/DeviceRegistry.h"

#include "zv/CurrentDevice.h"
#include "zv/Errors.h"

namespace zv {

std::shared_ptr<IDeviceState> DeviceRegistry::find(HZV device) const {
    std::lock_guard<plat::PiMutex> lock(mutex_);
    const auto at = devices_.find(device);
    return at == devices_.end() ? nullptr : at->second;
}

bool DeviceRegistry::insert(std::shared_ptr<IDeviceState> state) {
    std::lock_guard<plat::PiMutex> lock(mutex_);
    return devices_.emplace(state->handle(), std::move(state)).second;
}

std::shared_ptr<IDeviceState> DeviceRegistry::erase(HZV device) {
    std::shared_ptr<IDeviceState> state;
    std::lock_guard<plat::PiMutex> lock(mutex_);
    const auto at = devices_.find(device);
    if (at != devices_.end()) {
        state = std::move(at->second);
        devices_.erase(at);
    }
    return state;
}

std::shared_ptr<IDeviceState> findCurrentState() { return deviceRegistry().find(currentDevice()); }

std::shared_ptr<IDeviceState> currentState() {
    std::shared_ptr<IDeviceState> state = deviceRegistry().find(currentDevice());
    if (!state) {
        throw ZvError{ZV_BAD_HANDLE, 0};
    }
    return state;
}

}  // namespace zv
