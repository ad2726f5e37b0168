// The error store of a rendering context.
#pragma once

#include <cstddef>
#include <deque>
#include <new>

#include "common/Lock.h"
#include "qm/api/QMException.h"
#include "qm/qm.h"

namespace QM {

class IErrorManager {
public:
    virtual ~IErrorManager() = default;
    // Stores a device error as QM_DEVICE_ERROR, unless the newest stored
    // record carries the same device record.
    virtual void pushDeviceError(const ZVErrorInfo& info) = 0;
    // Stores an error code with the no-error device record, unless the newest
    // stored record has the same code.
    virtual void pushError(QMenum code) = 0;
    // Stores a whole record, unless the newest stored record equals it.
    virtual void pushRecord(const QMerror& record) = 0;
    // Removes and returns the newest record; the no-error record when empty.
    virtual QMerror pop() = 0;
    // The newest record, left in place; the no-error record when empty.
    virtual QMerror peek() const = 0;
};

// {QM_NO_ERROR, {0, 0, ZV_INVALID_HANDLE}}; its device part is what
// pushError stores.
QMerror noErrorRecord();
// What qmGetError returns on a thread without a current context.
QMerror noContextRecord();

bool operator==(const ZVErrorInfo& a, const ZVErrorInfo& b);
bool operator==(const QMerror& a, const QMerror& b);

// Records newest at the back. Every operation holds the lock for its whole
// duration: errors arrive from the client thread, from collision-thread
// callbacks and from the servo-synchronous part of each collision step. The
// store is unbounded; only consecutive repeats are collapsed.
class ErrorManager final : public IErrorManager {
public:
    ErrorManager() = default;
    ErrorManager(const ErrorManager&) = delete;
    ErrorManager& operator=(const ErrorManager&) = delete;

    void pushDeviceError(const ZVErrorInfo& info) override;
    void pushError(QMenum code) override;
    void pushRecord(const QMerror& record) override;
    QMerror pop() override;
    QMerror peek() const override;

    std::size_t size() const;

private:
    mutable sched::CriticalSectionLock lock_;
    std::deque<QMerror> records_;
};

// Runs work that runs on its own rather than for an API call (a collision
// step, the events of a step) and must not let anything escape: a failure
// becomes one error record in `errors`, and the caller carries on.
template <typename Work>
void recordingFailures(IErrorManager& errors, Work&& work) noexcept {
    QMenum failure = nullptr;
    try {
        work();
    } catch (const QMException& e) {
        failure = e.code();
    } catch (const std::bad_alloc&) {
        failure = QM_OUT_OF_MEMORY;
    } catch (...) {
        failure = QM_INVALID_OPERATION;
    }
    if (failure != nullptr) {
        try {
            errors.pushError(failure);
        } catch (...) {
        }
    }
}

}  // namespace QM
