// The open devices of the process.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/Platform.h"

#include "zv/DeviceState.h"

namespace zv {

// Handle -> device state. Lookups hand out shared ownership, so a state in use
// by one thread (a tick's update operation, a client reading a value) stays
// valid while another thread disables the device.
class IDeviceRegistry {
public:
    virtual ~IDeviceRegistry() = default;
    virtual std::shared_ptr<IDeviceState> find(HZV device) const = 0;
    // Registers a state unless its handle is registered already.
    virtual bool insert(std::shared_ptr<IDeviceState> state) = 0;
    virtual std::shared_ptr<IDeviceState> erase(HZV device) = 0;
};

class DeviceRegistry : public IDeviceRegistry {
public:
    std::shared_ptr<IDeviceState> find(HZV device) const override;
    bool insert(std::shared_ptr<IDeviceState> state) override;
    std::shared_ptr<IDeviceState> erase(HZV device) override;

private:
    mutable plat::PiMutex mutex_;
    std::map<HZV, std::shared_ptr<IDeviceState>> devices_;
};

IDeviceRegistry& deviceRegistry();

// The calling thread's current device state; throws ZV_BAD_HANDLE when the
// current device is not registered.
std::shared_ptr<IDeviceState> currentState();
// The same without throwing: null when the current device is not registered.
std::shared_ptr<IDeviceState> findCurrentState();

}  // namespace zv
