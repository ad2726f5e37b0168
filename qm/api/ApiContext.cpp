// Exported functions: contexts, errors and strings.
#include <cstdio>
#include <limits>
#include <mutex>

#include "qm/api/CallFrame.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"
#include "qm/servo/HapticDevice.h"
#include "qm/state/AttributeMap.h"
#include "zv_version.h"

namespace QM {

void recordError(QMenum code) noexcept {
    try {
        if (Context* context = currentContext()) {
            context->errors->pushError(code);
        }
    } catch (...) {
        // The store could not grow: the error is lost, as without a context.
    }
}

bool onCollisionThread() {
    OperationScheduler* collision = operationScheduler(QM_COLLISION_THREAD);
    return collision != nullptr && collision->isBound() && collision->isCurrentThread();
}

namespace {

// Reads a six-double workspace box. A read that fails writes nothing, which
// the NaN fill reveals.
bool readBox(ZVenum parameter, double box[6]) {
    for (int i = 0; i < 6; ++i) {
        box[i] = std::numeric_limits<double>::quiet_NaN();
    }
    zvGetDoublev(parameter, box);
    for (int i = 0; i < 6; ++i) {
        if (box[i] != box[i]) {
            return false;
        }
    }
    return true;
}

// The context's workspace box: the midpoint, component by component, of the
// device's maximum and usable boxes. When the device cannot report one of
// them the other is used alone; when it reports neither, and for a context
// without a device (which is not asked, so that no error is left on the
// device library's stack), the unbounded default box stays.
void readWorkspace(Context& context, HZV device) {
    double maximum[6];
    double usable[6];
    bool haveMaximum = false;
    bool haveUsable = false;
    if (device != ZV_INVALID_HANDLE) {
        DeviceScope scope(device);
        haveMaximum = readBox(ZV_MAX_WORKSPACE_DIMENSIONS, maximum);
        haveUsable = readBox(ZV_USABLE_WORKSPACE_DIMENSIONS, usable);
    }
    IStackedAttributeMap& attributes = context.state->getAttributes();
    double box[6];
    if (haveMaximum && haveUsable) {
        for (int i = 0; i < 6; ++i) {
            box[i] = (maximum[i] + usable[i]) * 0.5;
        }
    } else if (haveMaximum || haveUsable) {
        for (int i = 0; i < 6; ++i) {
            box[i] = haveMaximum ? maximum[i] : usable[i];
        }
    } else {
        attributes.getArray<double>(QM_MAX_WORKSPACE_DIMS, box);
    }
    attributes.setArray<double>(QM_WORKSPACE, box);
    attributes.setArray<double>(QM_MAX_WORKSPACE_DIMS, box);
}

}  // namespace

}  // namespace QM

using namespace QM;

extern "C" {

QM_API HQMRC qmCreateContext(HZV hDevice) {
    if (!currentContextAvailable()) {
        return nullptr;
    }
    Context* context = nullptr;
    try {
        context = new Context();
        context->attachDevice(hDevice);
        readWorkspace(*context, hDevice);
        return context->handle();
    } catch (...) {
        // No context exists to record the failure in.
        delete context;
        return nullptr;
    }
}

QM_API void qmDeleteContext(HQMRC hRC) {
    Context* context = Context::fromHandle(hRC);
    if (context == nullptr) {
        return;
    }
    // A collision-thread callback runs inside a step of this very context,
    // and a client-thread callback inside its qmCheckEvents.
    if (onCollisionThread() || context->sceneRenderer->getEventManager().isDispatchingClientEvents()) {
        recordError(QM_INVALID_OPERATION);
        return;
    }
    if (currentContext() == context) {
        setCurrentContext(nullptr);
    }
    delete context;
}

QM_API void qmMakeCurrent(HQMRC hRC) {
    try {
        setCurrentContext(Context::fromHandle(hRC));
    } catch (...) {
        // The thread's cell could not be created: it keeps no context.
    }
}

QM_API HQMRC qmGetCurrentContext(void) {
    Context* context = currentContext();
    return context == nullptr ? nullptr : context->handle();
}

QM_API void qmContextDevice(HZV hDevice) {
    // No lock is held while the renderer stops and starts: both wait for the
    // collision thread, whose step takes the renderer lock. inFrame is the
    // client thread's own flag, read here on that thread.
    callInContext(CallLocks::None, [&](Context& context) {
        require(!onCollisionThread() && !context.inFrame, QM_INVALID_OPERATION);
        context.attachDevice(hDevice);
    });
}

QM_API HZV qmGetCurrentDevice(void) {
    return callInContext<HZV>(ZV_INVALID_HANDLE, [](Context& context) { return context.sceneRenderer->getDevice(); });
}

QM_API QMerror qmGetError(void) {
    Context* context = currentContext();
    return context == nullptr ? noContextRecord() : context->errors->pop();
}

QM_API const char* qmGetString(QMenum name) {
    if (isSymbol(name, QM_VERSION)) {
        // Formatted once: every caller, on any thread, gets the same buffer
        // and text, and no caller writes it while another reads it.
        static char version[32];
        static std::once_flag formatted;
        std::call_once(formatted, [] {
            std::snprintf(version, sizeof version, "%d.%02d.%d", ZV_SDK_VERSION_MAJOR, ZV_SDK_VERSION_MINOR,
                          ZV_SDK_VERSION_PATCH);
        });
        return version;
    }
    if (isSymbol(name, QM_VENDOR)) {
        return "Orvell Technologies, Inc.";
    }
    return nullptr;
}

}  // extern "C"
