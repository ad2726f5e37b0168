#include "qm/api/ErrorManager.h"

namespace QM {

QMerror noErrorRecord() { return QMerror{QM_NO_ERROR, ZVErrorInfo{0, 0, ZV_INVALID_HANDLE}}; }

QMerror noContextRecord() { return QMerror{QM_INVALID_OPERATION, ZVErrorInfo{0, static_cast<int>(0xFFFFFFFFu), 0}}; }

bool operator==(const ZVErrorInfo& a, const ZVErrorInfo& b) {
    return a.errorCode == b.errorCode && a.internalErrorCode == b.internalErrorCode && a.deviceHandle == b.deviceHandle;
}

bool operator==(const QMerror& a, const QMerror& b) { return a.errorCode == b.errorCode && a.errorInfo == b.errorInfo; }

void ErrorManager::pushDeviceError(const ZVErrorInfo& info) {
    sched::LockGuard guard(lock_);
    if (!records_.empty() && records_.back().errorInfo == info) {
        return;
    }
    records_.push_back(QMerror{QM_DEVICE_ERROR, info});
}

void ErrorManager::pushError(QMenum code) {
    sched::LockGuard guard(lock_);
    if (!records_.empty() && records_.back().errorCode == code) {
        return;
    }
    records_.push_back(QMerror{code, noErrorRecord().errorInfo});
}

void ErrorManager::pushRecord(const QMerror& record) {
    sched::LockGuard guard(lock_);
    if (!records_.empty() && records_.back() == record) {
        return;
    }
    records_.push_back(record);
}

QMerror ErrorManager::pop() {
    sched::LockGuard guard(lock_);
    if (records_.empty()) {
        return noErrorRecord();
    }
    QMerror newest = records_.back();
    records_.pop_back();
    return newest;
}

QMerror ErrorManager::peek() const {
    sched::LockGuard guard(lock_);
    return records_.empty() ? noErrorRecord() : records_.back();
}

std::size_t ErrorManager::size() const {
    sched::LockGuard guard(lock_);
    return records_.size();
}

}  // namespace QM
