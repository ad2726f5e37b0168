// The exported functions. Each one finds what it acts on, checks its
// arguments, calls the one component that does the work and turns refusals
// into error records; none throws.
#include "korvo/korvo.h"
#include "zv/Calibration.h"
#include "zv/CurrentDevice.h"
#include "zv/DeviceRegistry.h"
#include "zv/Errors.h"
#include "zv/FunctionState.h"
#include "zv/ServoControl.h"
#include "zv/zv.h"

using namespace zv;

namespace {

// The per-tick update operation of an open device. One whose device is no
// longer registered (its removal was refused while the device was being
// disabled) has nothing left to service and finishes.
ZVCallbackCode serviceDevice(void* userData) {
    const auto device = static_cast<HZV>(reinterpret_cast<std::uintptr_t>(userData));
    const std::shared_ptr<IDeviceState> state = deviceRegistry().find(device);
    if (!state) {
        return ZV_CALLBACK_DONE;
    }
    state->serviceTick();
    return ZV_CALLBACK_CONTINUE;
}

// Opens, registers and services a device. A device whose update operation
// cannot be scheduled is unregistered and closed again, so a failed open
// leaves nothing behind.
HZV initDevice(const char* name) {
    const int rc = init_korvo(name != nullptr ? name : "");
    if (rc < 0) {
        raise(translateDeviceCode(rc), rc);
        return ZV_INVALID_HANDLE;
    }
    const auto device = static_cast<HZV>(rc);
    auto state = std::make_shared<ZVDeviceState>(device);
    if (!deviceRegistry().insert(state)) {
        throw ZvError{ZV_DEVICE_ALREADY_INITIATED, 0};
    }
    try {
        state->setUpdateOperationHandle(static_cast<int>(
            servoControl().scheduleInternal(serviceDevice, reinterpret_cast<void*>(static_cast<std::uintptr_t>(device)),
                                            ServoControl::kDeviceUpdatePriority, device)));
    } catch (const ZvError& error) {
        raise(error.code, error.internalCode);
        deviceRegistry().erase(device);
        disable_korvo(device);
        throw ZvError{ZV_DEVICE_ALREADY_INITIATED, 0};
    }
    setCurrentDevice(device);
    return device;
}

template <class T>
void typedGet(ZVenum code, ValueType type, T* values) {
    guarded([&] { return functionState().get(code, type, values); });
}

template <class T>
void typedSet(ZVenum code, ValueType type, const T* values) {
    guarded([&] { return functionState().set(code, type, values); });
}

// A frame call: the device becomes current, then the frame operation runs on
// its state.
template <class Operation>
ZVerror onDevice(HZV device, Operation operation) {
    setCurrentDevice(device);
    const std::shared_ptr<IDeviceState> state = findCurrentState();
    return state ? operation(*state) : ZV_BAD_HANDLE;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------- devices and errors

ZV_API HZV zvInitDevice(const char* pConfigName) {
    HZV device = ZV_INVALID_HANDLE;
    guarded([&] { device = initDevice(pConfigName); });
    return device;
}

ZV_API void zvDisableDevice(HZV hDevice) {
    guarded([&] {
        if (disable_korvo(hDevice) != 0) {
            raise(ZV_DEVICE_FAULT, 0);
        }
        if (const std::shared_ptr<IDeviceState> state = deviceRegistry().find(hDevice)) {
            // The device is closed at this point, so its registration goes
            // even when the removal of its update operation is refused (a
            // full list during a tick, a loop stopped meanwhile): a stale
            // entry would refuse every later open of the same device.
            const int update = state->updateOperationHandle();
            if (update >= 0) {
                guarded([&] { servoControl().unscheduleInternal(static_cast<ZVSchedulerHandle>(update)); });
            }
            deviceRegistry().erase(hDevice);
        }
    });
}

ZV_API void zvMakeCurrentDevice(HZV hDevice) {
    guarded([&] { setCurrentDevice(hDevice); });
}

ZV_API HZV zvGetCurrentDevice(void) {
    HZV device = ZV_INVALID_HANDLE;
    guarded([&] { device = currentDevice(); });
    return device;
}

ZV_API ZVErrorInfo zvGetError(void) {
    ZVErrorInfo record{ZV_SUCCESS, 0, 0};
    guarded([&] { record = errorStack().pop(); });
    return record;
}

ZV_API ZVErrorInfo zvGetDeviceError(HZV hDevice) {
    ZVErrorInfo record{ZV_SUCCESS, 0, 0};
    guarded([&] { record = errorStack().popDevice(hDevice); });
    return record;
}

ZV_API const char* zvGetErrorString(ZVerror errorCode) {
    const char* text = "";
    guarded([&] { text = errorMessage(errorCode); });
    return text;
}

// ---------------------------------------------------------------- scheduler

ZV_API void zvStartScheduler(void) {
    guarded([] { servoControl().start(); });
}

ZV_API void zvStopScheduler(void) {
    guarded([] { servoControl().stop(); });
}

ZV_API ZVboolean zvIsSchedulerRunning(void) {
    bool running = false;
    guarded([&] { running = servoControl().isRunning(); });
    return running ? 1 : 0;
}

ZV_API void zvSetSchedulerRate(unsigned int rate) {
    guarded([&] { servoControl().setRate(rate); });
}

ZV_API double zvGetSchedulerTimeStamp(void) {
    double stamp = 0.0;
    guarded([&] { stamp = servoControl().timeStamp(); });
    return stamp;
}

ZV_API void zvScheduleSynchronous(ZVSchedulerCallback pCallback, void* pUserData, unsigned int nPriority) {
    guarded([&] { return servoControl().scheduleSynchronous(pCallback, pUserData, nPriority); });
}

ZV_API ZVSchedulerHandle zvScheduleAsynchronous(ZVSchedulerCallback pCallback, void* pUserData,
                                                unsigned int nPriority) {
    ZVSchedulerHandle handle = ZV_INVALID_HANDLE;
    guarded([&] { return servoControl().scheduleAsynchronous(pCallback, pUserData, nPriority, handle); });
    return handle;
}

ZV_API void zvUnschedule(ZVSchedulerHandle hHandle) {
    guarded([&] { return servoControl().unschedule(hHandle); });
}

ZV_API ZVboolean zvWaitForCompletion(ZVSchedulerHandle hHandle, unsigned int param) {
    bool result = false;
    guarded([&] { return servoControl().waitForCompletion(hHandle, param, result); });
    return result ? ZV_TRUE : ZV_FALSE;
}

// ---------------------------------------------------------------- frames

ZV_API void zvBeginFrame(HZV hDevice) {
    guarded([&] { return onDevice(hDevice, [](IDeviceState& state) { return state.beginFrame(); }); });
}

ZV_API void zvEndFrame(HZV hDevice) {
    guarded([&] { return onDevice(hDevice, [](IDeviceState& state) { return state.endFrame(); }); });
}

// ---------------------------------------------------------------- parameters

ZV_API void zvGetBooleanv(ZVenum pname, ZVboolean* params) { typedGet(pname, kBoolean, params); }
ZV_API void zvGetIntegerv(ZVenum pname, ZVint* params) { typedGet(pname, kInt, params); }
ZV_API void zvGetFloatv(ZVenum pname, ZVfloat* params) { typedGet(pname, kFloat, params); }
ZV_API void zvGetDoublev(ZVenum pname, ZVdouble* params) { typedGet(pname, kDouble, params); }
ZV_API void zvGetLongv(ZVenum pname, ZVlong* params) { typedGet(pname, kLong, params); }

ZV_API void zvSetBooleanv(ZVenum pname, const ZVboolean* params) { typedSet(pname, kBoolean, params); }
ZV_API void zvSetIntegerv(ZVenum pname, const ZVint* params) { typedSet(pname, kInt, params); }
ZV_API void zvSetFloatv(ZVenum pname, const ZVfloat* params) { typedSet(pname, kFloat, params); }
ZV_API void zvSetDoublev(ZVenum pname, const ZVdouble* params) { typedSet(pname, kDouble, params); }
ZV_API void zvSetLongv(ZVenum pname, const ZVlong* params) { typedSet(pname, kLong, params); }

ZV_API ZVstring zvGetString(ZVenum pname) {
    ZVstring text = nullptr;
    guarded([&] { return functionState().getString(pname, text); });
    return text;
}

ZV_API void zvEnable(ZVenum cap) {
    guarded([&] { return functionState().enable(cap); });
}

ZV_API void zvDisable(ZVenum cap) {
    guarded([&] { return functionState().disable(cap); });
}

ZV_API ZVboolean zvIsEnabled(ZVenum cap) {
    ZVboolean state = ZV_FALSE;
    guarded([&] { return functionState().isEnabled(cap, state); });
    return state;
}

// ---------------------------------------------------------------- calibration

ZV_API unsigned int zvCheckCalibration(void) {
    unsigned int result = ZV_CALIBRATION_NEEDS_MANUAL_INPUT;
    guarded([&] { result = calibration().check(*currentState()); });
    return result;
}

ZV_API void zvUpdateCalibration(int style) {
    guarded([&] { calibration().update(*currentState(), style); });
}

}  // extern "C"
