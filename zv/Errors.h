// The process-wide error stack and the code tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/Platform.h"
#include "zv/zv.h"

namespace zv {

// Internal refusal: thrown inside the library, caught by every exported
// function and turned into an error record on the stack.
struct ZvError {
    ZVerror code;
    int internalCode = 0;
};

// The suppression classes of ZV_ERROR_MAP.
enum class ErrorClass { None, SchedulerComm, DeviceWarning };

// Error records shared by client threads and the servo thread.
//
// Raising a record: the tick error counter always counts it. A record of the
// scheduler/communication class is dropped while that class is suppressed, a
// record of the device-warning class likewise; a record equal in all three
// fields to the top of the stack is not pushed twice. Raising a record of
// either class suppresses its class. Suppression ends at the end of a tick in
// which nothing was raised and the stack was empty.
//
// The stack is a fixed ring of kCapacity records: raising never allocates,
// and a full stack drops its oldest record. Its lock inherits priority, so the
// servo thread never waits behind a client thread that cannot run.
class IErrorStack {
public:
    virtual ~IErrorStack() = default;
    virtual void raise(const ZVErrorInfo& record) noexcept = 0;
    // The newest record, removed; {0, 0, 0} when there is none.
    virtual ZVErrorInfo pop() noexcept = 0;
    // The newest record of one device, removed; the others keep their
    // places. {0, 0, 0} when there is none.
    virtual ZVErrorInfo popDevice(HZV device) noexcept = 0;
    virtual std::size_t size() const noexcept = 0;
    // Tick bookkeeping, run by the scheduler at the start and end of a tick.
    virtual void tickStart() noexcept = 0;
    virtual void tickEnd() noexcept = 0;
};

class ErrorStack : public IErrorStack {
public:
    static constexpr std::size_t kCapacity = 1024;

    void raise(const ZVErrorInfo& record) noexcept override;
    ZVErrorInfo pop() noexcept override;
    ZVErrorInfo popDevice(HZV device) noexcept override;
    std::size_t size() const noexcept override;
    void tickStart() noexcept override;
    void tickEnd() noexcept override;

private:
    const ZVErrorInfo* top() const noexcept;

    mutable plat::PiMutex mutex_;
    std::array<ZVErrorInfo, kCapacity> records_{};
    std::size_t oldest_ = 0;
    std::size_t count_ = 0;
    std::uint32_t tickErrors_ = 0;
    bool schedulerErrorsSuppressed_ = false;
    bool warningsSuppressed_ = false;
};

// The class, message and translations of codes, from the tables in
// ErrorTable.h.
ErrorClass errorClass(ZVerror code) noexcept;
// The message of a code, "" for an unknown one.
const char* errorMessage(ZVerror code) noexcept;
ZVerror translateDeviceCode(int code) noexcept;
ZVerror translateServoCode(int code) noexcept;

IErrorStack& errorStack();

// Raises a record with the calling thread's current device. Never throws and
// never allocates once the calling thread has a current-device holder.
void raise(ZVerror code, int internalCode = 0) noexcept;
inline void raiseNoThrow(ZVerror code, int internalCode) noexcept { raise(code, internalCode); }

// Runs the body of an exported function: a ZvError becomes its record, any
// other exception becomes ZV_INVALID_OPERATION. Nothing escapes. Refusals
// that can happen on the servo thread are not thrown but returned: a body
// that returns a ZVerror has it raised when it is not ZV_SUCCESS.
template <class Body>
void guarded(Body&& body) noexcept {
    try {
        if constexpr (std::is_same_v<decltype(body()), ZVerror>) {
            if (const ZVerror error = body()) {
                raise(error, 0);
            }
        } else {
            body();
        }
    } catch (const ZvError& error) {
        raise(error.code, error.internalCode);
    } catch (...) {
        raise(ZV_INVALID_OPERATION, 0);
    }
}

}  // namespace zv
