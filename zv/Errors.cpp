#include "zv/Errors.h"

#include "zv/CurrentDevice.h"

namespace zv {

namespace {

struct MessageEntry {
    ZVerror code;
    const char* text;
};

constexpr MessageEntry kMessages[] = {
    {ZV_SUCCESS, "No error"},
    {ZV_INVALID_ENUM,
     "Invalid parameter of capability specified for a function that requires an ZVenum as one of its inputs."},
    {ZV_INVALID_VALUE, "Invalid value specified for a function that is attempting to set a value."},
    {ZV_INVALID_OPERATION, "The operation could not be performed."},
    {ZV_INVALID_INPUT_TYPE, "The parameter or capability does not support the input type."},
    {ZV_BAD_HANDLE, "The device handle passed into an operation is not valid."},
    {ZV_WARM_MOTORS,
     "Device Warning: One or more of the device motors are warm.  Wait until the motors cool before commanding "
     "forces again."},
    {ZV_EXCEEDED_MAX_FORCE, "Device warning: Device exceeded the maximum force limit."},
    {ZV_EXCEEDED_MAX_FORCE_IMPULSE,
     "Device warning: Change in force magnitude and direction exceeds the maximum force impulse limit."},
    {ZV_EXCEEDED_MAX_VELOCITY, "Device warning: Device exceeded the maximum velocity limit."},
    {ZV_FORCE_ERROR,
     "The device experienced an error in sending forces because forces of incompatible types such as DAC and "
     "Cartesian were commanded simultaneously."},
    {ZV_DEVICE_FAULT, "Device fault.  Check that the device is connected properly and activated."},
    {ZV_DEVICE_ALREADY_INITIATED, "The device name was already initialized."},
    {ZV_COMM_ERROR, "Communication Error: Check the device connection and configuration."},
    {ZV_COMM_CONFIG_ERROR,
     "Configuration Error: Check the base address and port/adapter number. Consult the appropriate device drivers "
     "documentation."},
    {ZV_TIMER_ERROR, "Unable to start or maintain the servo loop timer."},
    {ZV_ILLEGAL_BEGIN,
     "zvBeginFrame for a device was called when already in that device's frame, or more than once during a single "
     "servoloop tick."},
    {ZV_ILLEGAL_END,
     "zvEndFrame for a device was called without a matching zvBeginFrame for that device beforehand."},
    {ZV_FRAME_ERROR, "A function that is restricted to being called within a frame was called outside of one."},
    {ZV_INVALID_PRIORITY,
     "The priority for a scheduler callback does not fall within the proper numerical bounds defined by MIN and MAX "
     "scheduler priority."},
    {ZV_SCHEDULER_FULL, "The scheduler has reached its limit of callbacks and cannot add the new callback."},
};

struct DeviceCodeEntry {
    int ioCode;
    ZVerror error;
};

// Device I/O codes; -23 and -26 are deliberately absent.
constexpr DeviceCodeEntry kDeviceCodes[] = {
    {0, ZV_SUCCESS},
    {-1, ZV_WARM_MOTORS},
    {-2, ZV_EXCEEDED_MAX_FORCE},
    {-3, ZV_COMM_CONFIG_ERROR},
    {-4, ZV_DEVICE_FAULT},
    {-5, ZV_INVALID_VALUE},
    {-6, ZV_INVALID_VALUE},
    {-7, ZV_EXCEEDED_MAX_FORCE_IMPULSE},
    {-8, ZV_DEVICE_FAULT},
    {-9, ZV_INVALID_VALUE},
    {-10, ZV_DEVICE_FAULT},
    {-11, ZV_BAD_HANDLE},
    {-12, ZV_DEVICE_FAULT},
    {-13, ZV_EXCEEDED_MAX_VELOCITY},
    {-14, ZV_INVALID_VALUE},
    {-15, ZV_INVALID_VALUE},
    {-16, ZV_DEVICE_FAULT},
    {-17, ZV_COMM_ERROR},
    {-18, ZV_COMM_ERROR},
    {-19, ZV_COMM_ERROR},
    {-20, ZV_COMM_CONFIG_ERROR},
    {-21, ZV_COMM_CONFIG_ERROR},
    {-22, ZV_COMM_CONFIG_ERROR},
    {-24, ZV_COMM_CONFIG_ERROR},
    {-25, ZV_COMM_CONFIG_ERROR},
    {-27, ZV_TIMER_ERROR},
    {-28, ZV_COMM_ERROR},
    {-29, ZV_COMM_CONFIG_ERROR},
    {-30, ZV_COMM_CONFIG_ERROR},
    {-31, ZV_COMM_CONFIG_ERROR},
    {-32, ZV_COMM_CONFIG_ERROR},
};

constexpr ZVErrorInfo kEmptyRecord{ZV_SUCCESS, 0, 0};

bool sameRecord(const ZVErrorInfo& a, const ZVErrorInfo& b)
{
    return a.errorCode == b.errorCode && a.internalErrorCode == b.internalErrorCode &&
           a.deviceHandle == b.deviceHandle;
}

}  // namespace

ErrorStack::ErrorStack()
{
    for (const MessageEntry& entry : kMessages) {
        messages_.emplace(entry.code, entry.text);
    }
    for (const DeviceCodeEntry& entry : kDeviceCodes) {
        deviceCodes_.emplace(entry.ioCode, entry.error);
    }
}

bool ErrorStack::isSchedulerClass(ZVerror code)
{
    switch (code) {
    case ZV_COMM_ERROR:
    case ZV_COMM_CONFIG_ERROR:
    case ZV_TIMER_ERROR:
    case ZV_INVALID_PRIORITY:
    case ZV_SCHEDULER_FULL:
        return true;
    default:
        return false;
    }
}

bool ErrorStack::isWarningClass(ZVerror code)
{
    switch (code) {
    case ZV_WARM_MOTORS:
    case ZV_EXCEEDED_MAX_FORCE:
    case ZV_EXCEEDED_MAX_VELOCITY:
    case ZV_FORCE_ERROR:
        return true;
    default:
        return false;
    }
}

void ErrorStack::raise(const ZVErrorInfo& record)
{
    const bool schedulerClass = isSchedulerClass(record.errorCode);
    const bool warningClass = isWarningClass(record.errorCode);
    std::lock_guard<std::mutex> lock(mutex_);
    ++tickErrors_;
    if ((schedulerClass && onceFlag_) || (warningClass && warningFlag_)) {
        return;
    }
    const ZVErrorInfo& top = stack_.empty() ? kEmptyRecord : stack_.back();
    if (!sameRecord(record, top)) {
        stack_.push_back(record);
    }
    if (schedulerClass) {
        onceFlag_ = true;
    }
    if (warningClass) {
        warningFlag_ = true;
    }
}

ZVErrorInfo ErrorStack::pop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (stack_.empty()) {
        return kEmptyRecord;
    }
    const ZVErrorInfo record = stack_.back();
    stack_.pop_back();
    return record;
}

ZVErrorInfo ErrorStack::popDevice(HZV device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto at = stack_.rbegin(); at != stack_.rend(); ++at) {
        if (at->deviceHandle == device) {
            const ZVErrorInfo record = *at;
            stack_.erase(std::next(at).base());
            return record;
        }
    }
    return kEmptyRecord;
}

std::size_t ErrorStack::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stack_.size();
}

void ErrorStack::tickStart()
{
    std::lock_guard<std::mutex> lock(mutex_);
    tickErrors_ = 0;
}

void ErrorStack::tickEnd()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool empty = stack_.empty() || stack_.back().errorCode == ZV_SUCCESS;
    if (empty && tickErrors_ == 0) {
        onceFlag_ = false;
        warningFlag_ = false;
    }
}

const char* ErrorStack::message(ZVerror code) const
{
    const auto at = messages_.find(code);
    return at == messages_.end() ? "" : at->second;
}

ZVerror ErrorStack::translateDeviceCode(int code) const
{
    const auto at = deviceCodes_.find(code);
    return at == deviceCodes_.end() ? ZV_INVALID_OPERATION : at->second;
}

ZVerror ErrorStack::translateServoCode(int code) const
{
    if (code == 0) {
        return ZV_SUCCESS;
    }
    if (code >= -8 && code <= -1) {
        return ZV_TIMER_ERROR;
    }
    return ZV_INVALID_OPERATION;
}

void raise(ZVerror code, int internalCode)
{
    errorStack().raise(ZVErrorInfo{code, internalCode, currentDevice()});
}

void raiseNoThrow(ZVerror code, int internalCode) noexcept
{
    try {
        raise(code, internalCode);
    } catch (...) {
    }
}

ZVerror translateDeviceCode(int code) { return errorStack().translateDeviceCode(code); }

ZVerror translateServoCode(int code) { return errorStack().translateServoCode(code); }

}  // namespace zv
