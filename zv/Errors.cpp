#include "zv/Errors.h"

#include <mutex>

#include "zv/CurrentDevice.h"
#include "zv/ErrorTable.h"

namespace zv {

namespace {

constexpr ZVErrorInfo kEmptyRecord{ZV_SUCCESS, 0, 0};

bool sameRecord(const ZVErrorInfo& a, const ZVErrorInfo& b) {
    return a.errorCode == b.errorCode && a.internalErrorCode == b.internalErrorCode && a.deviceHandle == b.deviceHandle;
}

}  // namespace

ErrorClass errorClass(ZVerror code) noexcept {
    switch (code) {
#define ZV_ERROR_CLASS(name, kind, text) \
    case name: return ErrorClass::kind;
        ZV_ERROR_MAP(ZV_ERROR_CLASS)
#undef ZV_ERROR_CLASS
    default: return ErrorClass::None;
    }
}

const char* errorMessage(ZVerror code) noexcept {
    switch (code) {
#define ZV_ERROR_MESSAGE(name, kind, text) \
    case name: return text;
        ZV_ERROR_MAP(ZV_ERROR_MESSAGE)
#undef ZV_ERROR_MESSAGE
    default: return "";
    }
}

ZVerror translateDeviceCode(int code) noexcept {
    switch (code) {
#define ZV_TRANSLATE(from, to) \
    case from: return to;
        ZV_DEVICE_CODE_MAP(ZV_TRANSLATE)
    default: return ZV_INVALID_OPERATION;
    }
}

ZVerror translateServoCode(int code) noexcept {
    switch (code) {
        ZV_SERVO_CODE_MAP(ZV_TRANSLATE)
#undef ZV_TRANSLATE
    default: return ZV_INVALID_OPERATION;
    }
}

const ZVErrorInfo* ErrorStack::top() const noexcept {
    return count_ == 0 ? nullptr : &records_[(oldest_ + count_ - 1) % kCapacity];
}

void ErrorStack::raise(const ZVErrorInfo& record) noexcept {
    const ErrorClass kind = errorClass(record.errorCode);
    std::lock_guard<plat::PiMutex> lock(mutex_);
    ++tickErrors_;
    if ((kind == ErrorClass::SchedulerComm && schedulerErrorsSuppressed_) ||
        (kind == ErrorClass::DeviceWarning && warningsSuppressed_)) {
        return;
    }
    const ZVErrorInfo* newest = top();
    if (!sameRecord(record, newest != nullptr ? *newest : kEmptyRecord)) {
        if (count_ == kCapacity) {
            oldest_ = (oldest_ + 1) % kCapacity;
            --count_;
        }
        records_[(oldest_ + count_) % kCapacity] = record;
        ++count_;
    }
    if (kind == ErrorClass::SchedulerComm) {
        schedulerErrorsSuppressed_ = true;
    }
    if (kind == ErrorClass::DeviceWarning) {
        warningsSuppressed_ = true;
    }
}

ZVErrorInfo ErrorStack::pop() noexcept {
    std::lock_guard<plat::PiMutex> lock(mutex_);
    const ZVErrorInfo* newest = top();
    if (newest == nullptr) {
        return kEmptyRecord;
    }
    const ZVErrorInfo record = *newest;
    --count_;
    return record;
}

ZVErrorInfo ErrorStack::popDevice(HZV device) noexcept {
    std::lock_guard<plat::PiMutex> lock(mutex_);
    for (std::size_t i = count_; i-- > 0;) {
        const std::size_t at = (oldest_ + i) % kCapacity;
        if (records_[at].deviceHandle != device) {
            continue;
        }
        const ZVErrorInfo record = records_[at];
        // The newer records close the gap, keeping their order.
        for (std::size_t j = i; j + 1 < count_; ++j) {
            records_[(oldest_ + j) % kCapacity] = records_[(oldest_ + j + 1) % kCapacity];
        }
        --count_;
        return record;
    }
    return kEmptyRecord;
}

std::size_t ErrorStack::size() const noexcept {
    std::lock_guard<plat::PiMutex> lock(mutex_);
    return count_;
}

void ErrorStack::tickStart() noexcept {
    std::lock_guard<plat::PiMutex> lock(mutex_);
    tickErrors_ = 0;
}

void ErrorStack::tickEnd() noexcept {
    std::lock_guard<plat::PiMutex> lock(mutex_);
    const ZVErrorInfo* newest = top();
    const bool empty = newest == nullptr || newest->errorCode == ZV_SUCCESS;
    if (empty && tickErrors_ == 0) {
        schedulerErrorsSuppressed_ = false;
        warningsSuppressed_ = false;
    }
}

// Only a thread's first use can fail (its current-device holder, the stack
// itself cannot be allocated); the record is then lost.
void raise(ZVerror code, int internalCode) noexcept {
    try {
        errorStack().raise(ZVErrorInfo{code, internalCode, currentDevice()});
    } catch (...) {
    }
}

}  // namespace zv
