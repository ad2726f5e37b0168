// The process-wide error stack and the code tables.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>

#include "zv/zv.h"

namespace zv {

// Internal refusal: thrown inside the library, caught by every exported
// function and turned into an error record on the stack.
struct ZvError {
    ZVerror code;
    int internalCode = 0;
};

// Error records shared by client threads and the servo thread.
//
// Raising a record: the tick error counter always counts it. A record of the
// scheduler/communication class is dropped while that class is suppressed, a
// record of the device-warning class likewise; a record equal in all three
// fields to the top of the stack is not pushed twice. Raising a record of
// either class suppresses its class. Suppression ends at the end of a tick in
// which nothing was raised and the stack was empty.
class IErrorStack {
public:
    virtual ~IErrorStack() = default;
    virtual void raise(const ZVErrorInfo& record) = 0;
    // The newest record, removed; {0, 0, 0} when there is none.
    virtual ZVErrorInfo pop() = 0;
    // The newest record of one device, removed; the others keep their
    // places. {0, 0, 0} when there is none.
    virtual ZVErrorInfo popDevice(HZV device) = 0;
    virtual std::size_t size() const = 0;
    // Tick bookkeeping, run by the scheduler at the start and end of a tick.
    virtual void tickStart() = 0;
    virtual void tickEnd() = 0;
    // The message of a code, "" for an unknown one.
    virtual const char* message(ZVerror code) const = 0;
    virtual ZVerror translateDeviceCode(int code) const = 0;
    virtual ZVerror translateServoCode(int code) const = 0;
};

class ErrorStack : public IErrorStack {
public:
    ErrorStack();

    void raise(const ZVErrorInfo& record) override;
    ZVErrorInfo pop() override;
    ZVErrorInfo popDevice(HZV device) override;
    std::size_t size() const override;
    void tickStart() override;
    void tickEnd() override;
    const char* message(ZVerror code) const override;
    ZVerror translateDeviceCode(int code) const override;
    ZVerror translateServoCode(int code) const override;

    static bool isSchedulerClass(ZVerror code);
    static bool isWarningClass(ZVerror code);

private:
    // One short critical section per operation; the servo thread never waits
    // on anything slower than a push.
    mutable std::mutex mutex_;
    std::deque<ZVErrorInfo> stack_;
    std::uint32_t tickErrors_ = 0;
    bool onceFlag_ = false;
    bool warningFlag_ = false;

    // Filled once in the constructor, read-only afterwards.
    std::map<ZVerror, const char*> messages_;
    std::map<int, ZVerror> deviceCodes_;
};

IErrorStack& errorStack();

// Raises a record with the calling thread's current device.
void raise(ZVerror code, int internalCode = 0);
// The same for paths that must not throw (a failed push is lost).
void raiseNoThrow(ZVerror code, int internalCode) noexcept;
ZVerror translateDeviceCode(int code);
ZVerror translateServoCode(int code);

// Runs the body of an exported function: a ZvError becomes its record, any
// other exception becomes ZV_INVALID_OPERATION. Nothing escapes.
template <class Body>
void guarded(Body&& body) noexcept
{
    try {
        body();
    } catch (const ZvError& error) {
        raiseNoThrow(error.code, error.internalCode);
    } catch (...) {
        raiseNoThrow(ZV_INVALID_OPERATION, 0);
    }
}

}  // namespace zv
