#include "zv/Library.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "common/ThreadData.h"
#include "zv/Calibration.h"
#include "zv/CurrentDevice.h"
#include "zv/DeviceRegistry.h"
#include "zv/Errors.h"
#include "zv/FunctionState.h"
#include "zv/ServoControl.h"

namespace zv {

namespace {

// Everything lives on the heap and is destroyed explicitly at unload, in an
// order that keeps the servo thread away from destroyed objects: the loop is
// stopped first, then the scheduler's operations are discarded, then the
// registries go.
struct Library {
    sched::ThreadData<HZVWrapper> currentDevice;
    DeviceRegistry devices;
    ZVFunctionState functions;
    Calibration calibration;
    ServoControl servo;

    std::once_flag errorsCreated;
    std::unique_ptr<ErrorStack> errors;
};

std::atomic<Library*> g_library{nullptr};
std::once_flag g_created;

Library& library() {
    Library* current = g_library.load(std::memory_order_acquire);
    if (current == nullptr) {
        std::call_once(g_created, [] { g_library.store(new Library(), std::memory_order_release); });
        current = g_library.load(std::memory_order_acquire);
    }
    return *current;
}

// The calling thread's current-device holder. A process that has used up its
// thread-local-storage keys gives the slot none; a load cannot be refused on
// this platform, so the holders then live in each thread's own storage
// rather than being allocated anew (and lost) on every call.
HZVWrapper& currentHolder() {
    Library& lib = library();
    if (!lib.currentDevice.isValid()) {
        thread_local HZVWrapper fallback;
        return fallback;
    }
    return lib.currentDevice.local();
}

}  // namespace

void loadLibrary() { currentHolder(); }

void unloadLibrary() {
    Library* lib = g_library.load(std::memory_order_acquire);
    if (lib == nullptr) {
        return;
    }
    lib->servo.shutdown();
    lib->currentDevice.releaseLocal();
    g_library.store(nullptr, std::memory_order_release);
    delete lib;
    sched::Scheduler::releaseProcessObjects();
}

IErrorStack& errorStack() {
    Library& lib = library();
    std::call_once(lib.errorsCreated, [&lib] { lib.errors = std::make_unique<ErrorStack>(); });
    return *lib.errors;
}

IDeviceRegistry& deviceRegistry() { return library().devices; }

IFunctionState& functionState() { return library().functions; }

ICalibration& calibration() { return library().calibration; }

IServoControl& servoControl() { return library().servo; }

HZV currentDevice() { return currentHolder().handle; }

void setCurrentDevice(HZV device) { currentHolder().handle = device; }

namespace {
void onLoad() { loadLibrary(); }
void onUnload() { unloadLibrary(); }
}  // namespace

PLAT_ON_LOAD(onLoad)
PLAT_ON_UNLOAD(onUnload)

}  // namespace zv
