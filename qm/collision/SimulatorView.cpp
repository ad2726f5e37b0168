#include "qm/collision/SimulatorView.h"

#include <map>

#include "common/Lock.h"
#include "platform/Platform.h"

namespace QM {

namespace {

// korvo_sim_publish_proxy(handle, proxy, touching, normal). A device handle
// is the driver's handle for the same device.
using PublishProxy = int (*)(unsigned, const double*, int, const double*);

// Looked up once: the driver is loaded with the device library, before any
// renderer exists, and stays for the life of the process.
PublishProxy publishFunction() noexcept {
    static const PublishProxy function =
        reinterpret_cast<PublishProxy>(plat::findLoadedFunction("korvo_sim_publish_proxy"));
    return function;
}

// Which renderer shows its view for each device. The lock is a leaf: it is
// held only around the map and the simulator's call.
struct Owners {
    sched::CriticalSectionLock lock;
    std::map<HZV, const void*> byDevice;
};

Owners& owners() {
    static Owners* const table = new Owners();
    return *table;
}

}  // namespace

void SimulatorView::publish(const void* owner, HZV device, const zvu::zvuVector3Dd& proxy, bool touching,
                            const zvu::zvuVector3Dd& normal) noexcept {
    const PublishProxy function = publishFunction();
    if (function == nullptr || device == ZV_INVALID_HANDLE) return;
    try {
        Owners& table = owners();
        sched::LockGuard guard(table.lock);
        const auto [entry, claimed] = table.byDevice.try_emplace(device, owner);
        if (!claimed && entry->second != owner) return;
        const double p[3] = {proxy.x, proxy.y, proxy.z};
        const double n[3] = {normal.x, normal.y, normal.z};
        // A step that found no usable normal shows the proxy without one; a
        // refusal for any other reason (a closed device, a value out of
        // range) leaves what was shown.
        if (function(device, p, touching ? 1 : 0, n) != 0 && touching) function(device, p, 0, nullptr);
    } catch (...) {
        // Out of memory for the table: the view is simply not shown.
    }
}

void SimulatorView::withdraw(const void* owner, HZV device) noexcept {
    const PublishProxy function = publishFunction();
    if (function == nullptr || device == ZV_INVALID_HANDLE) return;
    try {
        Owners& table = owners();
        sched::LockGuard guard(table.lock);
        const auto entry = table.byDevice.find(device);
        if (entry == table.byDevice.end() || entry->second != owner) return;
        table.byDevice.erase(entry);
        function(device, nullptr, 0, nullptr);
    } catch (...) {
    }
}

bool SimulatorView::available() noexcept { return publishFunction() != nullptr; }

}  // namespace QM
