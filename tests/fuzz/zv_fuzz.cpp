// Seeded random-sequence driver for the device library's public API.
//
// It calls every export with valid and invalid arguments (unknown and stale
// handles, unknown codes, null arrays, NaN, infinities, huge and negative
// numbers) on the simulator's manual clock, and checks the documented
// contract after each call against a model of its own:
//  - argument refusals: the exact error of an unknown code, a wrong type, a
//    null array or a missing device, with the output array untouched;
//  - no typed call writes beyond its parameter's value count;
//  - every scheduled operation runs once per tick until it finishes, a
//    finished or removed operation's handle names nothing any more
//    (zvWaitForCompletion reports it gone, zvUnschedule refuses it);
//  - frames: an end without a begin is refused;
//  - open devices, the current device, error strings.
// Between single-threaded stretches it runs phases in which a second thread
// drives the ticks (or the real-time loop runs) while this thread keeps
// calling; there only the checks that hold whatever the interleaving are made.
//
// Usage: zv_fuzz [--seed N] [--calls N] [--quiet]
// A finding prints the seed, the call number and the last calls, and ends the
// run with status 1; the same seed and count replay it exactly (the
// single-threaded part is deterministic).
#include <algorithm>
#include <array>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_journal.h"
#include "korvo/korvo.h"
#include "korvo/korvo_sim.h"
#include "zv/zv.h"

namespace {

// ---------------------------------------------------------------- the parameter table

enum : int { D = 0x01, B = 0x02, I = 0x04, F = 0x08, L = 0x10, S = 0x20 };
constexpr int kAll = D | F | I | L;
constexpr int kDfi = D | F | I;
constexpr int kDof = -1;  // the output DOF: 3 or 6

struct Code {
    ZVenum code;
    int getMask;
    int setMask;
    int count;
};

const Code kCodes[] = {
    {ZV_CURRENT_BUTTONS, kAll, 0, 1},
    {ZV_LAST_BUTTONS, kAll, 0, 1},
    {ZV_CURRENT_SAFETY_SWITCH, B, 0, 1},
    {ZV_LAST_SAFETY_SWITCH, B, 0, 1},
    {ZV_CURRENT_INKWELL_SWITCH, B, 0, 1},
    {ZV_LAST_INKWELL_SWITCH, B, 0, 1},
    {ZV_CURRENT_ENCODER_VALUES, L, 0, 6},
    {ZV_LAST_ENCODER_VALUES, L, 0, 6},
    {ZV_CURRENT_PINCH_VALUE, kAll, 0, 1},
    {ZV_LAST_PINCH_VALUE, kAll, 0, 1},
    {ZV_CURRENT_POSITION, kAll, 0, 3},
    {ZV_LAST_POSITION, kAll, 0, 3},
    {ZV_CURRENT_VELOCITY, kAll, 0, 3},
    {ZV_LAST_VELOCITY, kAll, 0, 3},
    {ZV_CURRENT_TRANSFORM, kAll, 0, 16},
    {ZV_LAST_TRANSFORM, kAll, 0, 16},
    {ZV_CURRENT_ANGULAR_VELOCITY, kAll, 0, 3},
    {ZV_LAST_ANGULAR_VELOCITY, kAll, 0, 3},
    {ZV_CURRENT_JACOBIAN, kAll, 0, 36},
    {ZV_LAST_JACOBIAN, kAll, 0, 36},
    {ZV_CURRENT_JOINT_ANGLES, kAll, 0, 3},
    {ZV_LAST_JOINT_ANGLES, kAll, 0, 3},
    {ZV_CURRENT_GIMBAL_ANGLES, kAll, 0, 3},
    {ZV_LAST_GIMBAL_ANGLES, kAll, 0, 3},
    {ZV_CURRENT_FORCE, kDfi, kDfi, 3},
    {ZV_LAST_FORCE, kDfi, 0, 3},
    {ZV_CURRENT_TORQUE, kDfi, kDfi, 3},
    {ZV_LAST_TORQUE, kDfi, 0, 3},
    {ZV_CURRENT_MOTOR_DAC_VALUES, L, L, kDof},
    {ZV_LAST_MOTOR_DAC_VALUES, L, 0, kDof},
    {ZV_VERSION, S, 0, 1},
    {ZV_DEVICE_MODEL_TYPE, S, 0, 1},
    {ZV_DEVICE_DRIVER_VERSION, S, 0, 1},
    {ZV_DEVICE_VENDOR, S, 0, 1},
    {ZV_DEVICE_SERIAL_NUMBER, S, 0, 1},
    {ZV_DEVICE_HARDWARE_REVISION, kAll, 0, 1},
    {ZV_USABLE_WORKSPACE_DIMENSIONS, kAll, 0, 6},
    {ZV_MAX_WORKSPACE_DIMENSIONS, kAll, 0, 6},
    {ZV_TABLETOP_OFFSET, kAll, 0, 1},
    {ZV_INPUT_DOF, kAll, 0, 1},
    {ZV_OUTPUT_DOF, kAll, 0, 1},
    {ZV_CALIBRATION_STYLE, I, 0, 1},
    {ZV_UPDATE_RATE, kAll, 0, 1},
    {ZV_INSTANTANEOUS_UPDATE_RATE, kAll, 0, 1},
    {ZV_NOMINAL_MAX_STIFFNESS, kAll, 0, 1},
    {ZV_NOMINAL_MAX_FORCE, kAll, 0, 1},
    {ZV_NOMINAL_MAX_CONTINUOUS_FORCE, kAll, 0, 1},
    {ZV_MOTOR_TEMPERATURE, kAll, 0, kDof},
    {ZV_MAX_VELOCITY_LIMIT, D | F, kAll, 1},
    {ZV_MAX_FORCE_IMPULSE_LIMIT, D | F, kAll, 1},
    {ZV_FORCE_RAMPING_RATE, kAll, kAll, 1},
    {ZV_NOMINAL_MAX_DAMPING, kAll, 0, 1},
    {ZV_NOMINAL_MAX_TORQUE_STIFFNESS, kAll, 0, 1},
    {ZV_NOMINAL_MAX_TORQUE_DAMPING, kAll, 0, 1},
    {ZV_NOMINAL_MAX_TORQUE_FORCE, kAll, 0, 1},
    {ZV_NOMINAL_MAX_TORQUE_CONTINUOUS_FORCE, kAll, 0, 1},
    {ZV_JOINT_ANGLE_REFERENCES, 0, kDfi, 3},
    {ZV_USER_STATUS_LIGHT, I, I, 1},
    {ZV_FORCE_OUTPUT, 0, 0, 1},
    {ZV_MAX_FORCE_CLAMPING, 0, 0, 1},
    {ZV_FORCE_RAMPING, 0, 0, 1},
    {ZV_FORCE_CHECK, 0, 0, 1},
    {ZV_ONE_FRAME_LIMIT, 0, 0, 1},
    {ZV_RAW_FORCE_CLEAR, D, 0, 3},
    {ZV_RAW_TORQUE_CLEAR, D, 0, 3},
    {ZV_RAW_POSITION, D, 0, 3},
    {ZV_RAW_VELOCITY, D, 0, 3},
    {ZV_RAW_ANGULAR_VELOCITY, D, 0, 3},
    {ZV_RAW_BUTTONS, I, 0, 1},
    {ZV_RAW_JOINT_ANGLES, D, 0, 3},
    {ZV_RAW_GIMBAL_ANGLES, D, 0, 3},
    {ZV_RAW_ENCODER_VALUES, L, 0, 6},
    {ZV_RAW_TRANSFORM, D, 0, 16},
    {ZV_RAW_MOTOR_DAC_CLEAR, L, 0, 6},
    {ZV_RAW_SAFETY_SWITCH, I, 0, 1},
    {ZV_RAW_INKWELL_SWITCH, I, 0, 1},
    {ZV_RAW_JACOBIAN, D, 0, 36},
    {ZV_RAW_PINCH_VALUE, D, 0, 1},
};

const ZVenum kCapabilities[] = {
    ZV_FORCE_OUTPUT,    ZV_MAX_FORCE_CLAMPING, ZV_FORCE_RAMPING,           ZV_FORCE_CHECK,
    ZV_ONE_FRAME_LIMIT, ZV_MAX_VELOCITY_LIMIT, ZV_MAX_FORCE_IMPULSE_LIMIT, ZV_USER_STATUS_LIGHT};

const Code* findCode(ZVenum code) {
    for (const Code& c : kCodes) {
        if (c.code == code) {
            return &c;
        }
    }
    return nullptr;
}

bool isCapability(ZVenum code) {
    return std::find(std::begin(kCapabilities), std::end(kCapabilities), code) != std::end(kCapabilities);
}

// Errors that only a refused argument raises.
bool isArgumentError(ZVerror e) { return e == ZV_INVALID_ENUM || e == ZV_INVALID_INPUT_TYPE || e == ZV_BAD_HANDLE; }

// ---------------------------------------------------------------- the run

constexpr std::size_t kSlots = 64;  // elements in every typed array
constexpr std::uint8_t kSentinel = 0xA5;
constexpr int kMaxClientOperations = 900;

// One scheduled client operation, owned by the model; the library only sees
// its address as user data.
struct Operation {
    std::atomic<long> runs{0};
    long doneAt = 1;  // finishes at this run
    bool finished = false;
};

ZVCallbackCode countRun(void* data) {
    auto* op = static_cast<Operation*>(data);
    const long runs = ++op->runs;
    return runs >= op->doneAt ? ZV_CALLBACK_DONE : ZV_CALLBACK_CONTINUE;
}

// A callback that also calls into the library from the servo thread.
ZVCallbackCode busyRun(void* data) {
    double position[3];
    zvGetDoublev(ZV_CURRENT_POSITION, position);
    zvEnable(0x7777);  // refused: an error raised on the servo thread
    return countRun(data);
}

class Fuzzer {
public:
    Fuzzer(std::uint64_t seed, std::uint64_t calls, bool quiet)
        : seed_(seed), calls_(calls), quiet_(quiet), random_(seed) {}

    int run();

private:
    // Randomness.
    std::uint64_t next() { return random_(); }
    bool chance(unsigned percent) { return next() % 100 < percent; }
    template <class T>
    const T& pick(const std::vector<T>& v) {
        return v[next() % v.size()];
    }
    ZVenum anyCode();
    unsigned anyPriority();
    ZVSchedulerHandle anyHandle();
    HZV anyDevice();
    double anyDouble();

    // Bookkeeping.
    void note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    [[noreturn]] void finding(const char* format, ...) __attribute__((format(printf, 2, 3)));
    std::vector<ZVerror> drain();
    void expectOnly(const std::vector<ZVerror>& errors, ZVerror expected, bool maySuppress, const char* what);
    void expectNoArgumentError(const std::vector<ZVerror>& errors, const char* what);
    HZV current() const { return current_; }
    bool currentOpen() const { return devices_.count(current_) != 0; }
    int outputDof(HZV device) const;

    // Steps.
    void step();
    void typedGet();
    void typedSet();
    void stringGet();
    void capabilityCall();
    void scheduleAsync();
    void scheduleSync();
    void unschedule();
    void waitStatus();
    void runTicks();
    void startStop();
    void deviceCall();
    void frameCall();
    void misc();
    void concurrentPhase(bool realTime);
    void resyncOperations();

    std::uint64_t seed_;
    std::uint64_t calls_;
    bool quiet_;
    std::mt19937_64 random_;
    std::uint64_t call_ = 0;
    fuzz::CallJournal journal_{"zv_fuzz", seed_};

    bool running_ = false;
    HZV current_ = ZV_INVALID_HANDLE;
    std::map<HZV, std::string> devices_;  // open devices and their names
    std::map<HZV, int> frameDepth_;       // open frames per device
    std::map<ZVSchedulerHandle, Operation*> live_;
    std::set<ZVSchedulerHandle> gone_;  // handles of finished or removed operations
    std::vector<std::unique_ptr<Operation>> operations_;
    std::uint64_t errorsSeen_ = 0;
};

void Fuzzer::note(const char* format, ...) {
    va_list args;
    va_start(args, format);
    journal_.note(call_, fuzz::formatted(format, args));
    va_end(args);
}

void Fuzzer::finding(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = fuzz::formatted(format, args);
    va_end(args);
    journal_.finding(call_, text);
}

std::vector<ZVerror> Fuzzer::drain() {
    std::vector<ZVerror> errors;
    for (ZVErrorInfo e = zvGetError(); e.errorCode != ZV_SUCCESS; e = zvGetError()) {
        errors.push_back(e.errorCode);
        if (errors.size() > 2000) {
            finding("the error stack does not empty");
        }
    }
    errorsSeen_ += errors.size();
    return errors;
}

std::string codes(const std::vector<ZVerror>& errors) {
    std::string text = "{";
    for (ZVerror e : errors) {
        char one[16];
        std::snprintf(one, sizeof one, " 0x%x", e);
        text += one;
    }
    return text + " }";
}

void Fuzzer::expectOnly(const std::vector<ZVerror>& errors, ZVerror expected, bool maySuppress, const char* what) {
    if (errors.size() == 1 && errors[0] == expected) {
        return;
    }
    if (maySuppress && errors.empty()) {
        return;
    }
    finding("%s: expected only 0x%x, got %s", what, expected, codes(errors).c_str());
}

void Fuzzer::expectNoArgumentError(const std::vector<ZVerror>& errors, const char* what) {
    for (ZVerror e : errors) {
        if (isArgumentError(e)) {
            finding("%s: valid arguments refused with 0x%x (all: %s)", what, e, codes(errors).c_str());
        }
    }
}

ZVenum Fuzzer::anyCode() {
    switch (next() % 8) {
    case 0: return static_cast<ZVenum>(next());  // anything
    case 1: return kCapabilities[next() % std::size(kCapabilities)];
    default: return kCodes[next() % std::size(kCodes)].code;
    }
}

unsigned Fuzzer::anyPriority() {
    switch (next() % 6) {
    case 0: return static_cast<unsigned>(next());
    case 1: return ZV_MAX_SCHEDULER_PRIORITY;
    case 2: return ZV_MAX_SCHEDULER_PRIORITY + 1;
    default: return static_cast<unsigned>(next() % 100);
    }
}

ZVSchedulerHandle Fuzzer::anyHandle() {
    switch (next() % 6) {
    case 0: return static_cast<ZVSchedulerHandle>(next());
    case 1: return ZV_INVALID_HANDLE;
    case 2:
        if (!gone_.empty()) {
            auto at = gone_.begin();
            std::advance(at, static_cast<long>(next() % std::min<std::size_t>(gone_.size(), 50)));
            return *at;
        }
        return static_cast<ZVSchedulerHandle>(next() % 2000);
    default:
        if (!live_.empty()) {
            auto at = live_.begin();
            std::advance(at, static_cast<long>(next() % live_.size()));
            return at->first;
        }
        return static_cast<ZVSchedulerHandle>(next() % 1000);
    }
}

HZV Fuzzer::anyDevice() {
    if (!devices_.empty() && chance(80)) {
        auto at = devices_.begin();
        std::advance(at, static_cast<long>(next() % devices_.size()));
        return at->first;
    }
    switch (next() % 3) {
    case 0: return ZV_INVALID_HANDLE;
    case 1: return static_cast<HZV>(next() % 40);
    default: return static_cast<HZV>(next());
    }
}

double Fuzzer::anyDouble() {
    switch (next() % 10) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return chance(50) ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
    case 2: return chance(50) ? 1e300 : -1e300;
    case 3: return -static_cast<double>(next() % 1000);
    default: return static_cast<double>(next() % 2000) / 100.0 - 5.0;
    }
}

// The most a parameter sized by the output DOF may write.
int Fuzzer::outputDof(HZV) const { return 6; }

// ---------------------------------------------------------------- typed calls

struct Typed {
    int bit;
    const char* name;
    std::size_t size;
};
const Typed kTypes[] = {{D, "double", sizeof(ZVdouble)},
                        {F, "float", sizeof(ZVfloat)},
                        {I, "int", sizeof(ZVint)},
                        {L, "long", sizeof(ZVlong)},
                        {B, "boolean", sizeof(ZVboolean)}};

void callGet(int bit, ZVenum code, void* out) {
    switch (bit) {
    case D: zvGetDoublev(code, static_cast<ZVdouble*>(out)); break;
    case F: zvGetFloatv(code, static_cast<ZVfloat*>(out)); break;
    case I: zvGetIntegerv(code, static_cast<ZVint*>(out)); break;
    case L: zvGetLongv(code, static_cast<ZVlong*>(out)); break;
    default: zvGetBooleanv(code, static_cast<ZVboolean*>(out)); break;
    }
}

void callSet(int bit, ZVenum code, const void* in) {
    switch (bit) {
    case D: zvSetDoublev(code, static_cast<const ZVdouble*>(in)); break;
    case F: zvSetFloatv(code, static_cast<const ZVfloat*>(in)); break;
    case I: zvSetIntegerv(code, static_cast<const ZVint*>(in)); break;
    case L: zvSetLongv(code, static_cast<const ZVlong*>(in)); break;
    default: zvSetBooleanv(code, static_cast<const ZVboolean*>(in)); break;
    }
}

void Fuzzer::typedGet() {
    const ZVenum code = anyCode();
    const Typed& type = kTypes[next() % std::size(kTypes)];
    const bool null = chance(5);
    alignas(8) std::array<std::uint8_t, kSlots * 8> buffer;
    buffer.fill(kSentinel);
    note("zvGet%sv(0x%x, %s) current %u", type.name, code, null ? "NULL" : "array", current_);
    callGet(type.bit, code, null ? nullptr : buffer.data());
    const std::vector<ZVerror> errors = drain();

    const Code* entry = findCode(code);
    ZVerror expected = ZV_SUCCESS;
    if (entry == nullptr || entry->getMask == 0) {
        expected = ZV_INVALID_ENUM;
    } else if ((entry->getMask & type.bit) == 0) {
        expected = ZV_INVALID_INPUT_TYPE;
    } else if (null) {
        expected = ZV_INVALID_VALUE;
    } else if (code != ZV_VERSION && !currentOpen()) {
        expected = ZV_BAD_HANDLE;
    }
    const bool untouched = std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == kSentinel; });
    if (expected != ZV_SUCCESS) {
        expectOnly(errors, expected, false, "refused get");
        if (!untouched) {
            finding("refused get wrote into the array");
        }
        return;
    }
    expectNoArgumentError(errors, "get");
    if (entry->getMask == S) {
        return;
    }
    const std::size_t limit =
        static_cast<std::size_t>(entry->count == kDof ? outputDof(current_) : entry->count) * type.size;
    for (std::size_t k = limit; k < buffer.size(); ++k) {
        if (buffer[k] != kSentinel) {
            finding("get of 0x%x as %s wrote beyond its %zu bytes (byte %zu)", code, type.name, limit, k);
        }
    }
}

void Fuzzer::typedSet() {
    const ZVenum code = anyCode();
    const Typed& type = kTypes[next() % std::size(kTypes)];
    const bool null = chance(5);
    alignas(8) std::array<std::uint8_t, kSlots * 8> buffer{};
    for (std::size_t k = 0; k < kSlots; ++k) {
        const double value = anyDouble();
        switch (type.bit) {
        case D: reinterpret_cast<ZVdouble*>(buffer.data())[k] = value; break;
        case F: reinterpret_cast<ZVfloat*>(buffer.data())[k] = static_cast<float>(value); break;
        case I: reinterpret_cast<ZVint*>(buffer.data())[k] = static_cast<ZVint>(next() % 70000) - 35000; break;
        case L: reinterpret_cast<ZVlong*>(buffer.data())[k] = static_cast<ZVlong>(next() % 70000) - 35000; break;
        default: buffer[k] = static_cast<std::uint8_t>(next()); break;
        }
    }
    const bool inFrame = frameDepth_.count(current_) != 0 && frameDepth_[current_] > 0;
    note("zvSet%sv(0x%x, %s) current %u%s", type.name, code, null ? "NULL" : "array", current_,
         inFrame ? " in frame" : "");
    callSet(type.bit, code, null ? nullptr : buffer.data());
    const std::vector<ZVerror> errors = drain();

    const Code* entry = findCode(code);
    ZVerror expected = ZV_SUCCESS;
    if (entry == nullptr || entry->setMask == 0) {
        expected = ZV_INVALID_ENUM;
    } else if ((entry->setMask & type.bit) == 0) {
        expected = ZV_INVALID_INPUT_TYPE;
    } else if (null) {
        expected = ZV_INVALID_VALUE;
    } else if (!currentOpen()) {
        expected = ZV_BAD_HANDLE;
    }
    if (expected != ZV_SUCCESS) {
        expectOnly(errors, expected, false, "refused set");
        return;
    }
    expectNoArgumentError(errors, "set");
    const bool output = code == ZV_CURRENT_FORCE || code == ZV_CURRENT_TORQUE || code == ZV_CURRENT_MOTOR_DAC_VALUES;
    if (output && !inFrame) {
        const bool frameError = std::find(errors.begin(), errors.end(), ZV_FRAME_ERROR) != errors.end();
        const bool valueError = std::find(errors.begin(), errors.end(), ZV_INVALID_VALUE) != errors.end();
        if (!frameError && !valueError) {
            finding("an output value set outside a frame raised %s", codes(errors).c_str());
        }
    }
}

void Fuzzer::stringGet() {
    const ZVenum code = anyCode();
    note("zvGetString(0x%x) current %u", code, current_);
    const ZVstring text = zvGetString(code);
    const std::vector<ZVerror> errors = drain();
    const Code* entry = findCode(code);
    if (entry == nullptr || entry->getMask == 0) {
        expectOnly(errors, ZV_INVALID_ENUM, false, "string of an unknown code");
    } else if (entry->getMask != S) {
        expectOnly(errors, ZV_INVALID_INPUT_TYPE, false, "string of a numeric code");
    } else if (code != ZV_VERSION && !currentOpen()) {
        expectOnly(errors, ZV_BAD_HANDLE, false, "string without a device");
    } else if (text == nullptr) {
        finding("zvGetString(0x%x) returned NULL without an error", code);
    } else {
        (void)std::strlen(text);
        return;
    }
    if (text != nullptr) {
        finding("a refused zvGetString returned a string");
    }
}

void Fuzzer::capabilityCall() {
    const ZVenum code = chance(70) ? kCapabilities[next() % std::size(kCapabilities)] : anyCode();
    const int which = static_cast<int>(next() % 3);
    note("%s(0x%x) current %u", which == 0 ? "zvEnable" : which == 1 ? "zvDisable" : "zvIsEnabled", code, current_);
    ZVboolean state = 7;
    if (which == 0) {
        zvEnable(code);
    } else if (which == 1) {
        zvDisable(code);
    } else {
        state = zvIsEnabled(code);
    }
    const std::vector<ZVerror> errors = drain();
    if (!isCapability(code)) {
        expectOnly(errors, ZV_INVALID_ENUM, false, "capability call with a non-capability");
    } else if (!currentOpen()) {
        expectOnly(errors, ZV_BAD_HANDLE, false, "capability call without a device");
    } else {
        expectNoArgumentError(errors, "capability call");
        if (which == 2 && state != ZV_TRUE && state != ZV_FALSE) {
            finding("zvIsEnabled returned %u", state);
        }
        return;
    }
    if (which == 2 && state != ZV_FALSE) {
        finding("a refused zvIsEnabled returned true");
    }
}

// ---------------------------------------------------------------- scheduling

void Fuzzer::scheduleAsync() {
    const unsigned priority = anyPriority();
    const bool nullCallback = chance(4);
    auto op = std::make_unique<Operation>();
    op->doneAt = chance(30) ? 1000000000L : static_cast<long>(1 + next() % 5);
    const bool busy = chance(20);
    const bool full = live_.size() >= kMaxClientOperations;
    if (full && !nullCallback && priority <= ZV_MAX_SCHEDULER_PRIORITY) {
        return;  // the model does not count the library's own operations
    }
    note("zvScheduleAsynchronous(%s, priority %u) done at %ld",
         nullCallback ? "NULL"
         : busy       ? "busy"
                      : "count",
         priority, op->doneAt);
    const ZVSchedulerHandle handle = zvScheduleAsynchronous(nullCallback ? nullptr
                                                            : busy       ? busyRun
                                                                         : countRun,
                                                            op.get(), priority);
    const std::vector<ZVerror> errors = drain();
    if (priority > ZV_MAX_SCHEDULER_PRIORITY) {
        expectOnly(errors, ZV_INVALID_PRIORITY, true, "bad priority");
    } else if (nullCallback) {
        expectOnly(errors, ZV_INVALID_VALUE, false, "null callback");
    } else {
        if (handle == ZV_INVALID_HANDLE || !errors.empty()) {
            finding("scheduling refused: handle %u, errors %s", handle, codes(errors).c_str());
        }
        if (live_.count(handle) != 0) {
            finding("handle %u given out while it still names a live operation", handle);
        }
        if (gone_.count(handle) != 0) {
            finding("handle %u given out again after its operation had gone", handle);
        }
        live_[handle] = op.get();
        operations_.push_back(std::move(op));
        return;
    }
    if (handle != ZV_INVALID_HANDLE) {
        finding("a refused schedule returned handle %u", handle);
    }
}

void Fuzzer::scheduleSync() {
    const unsigned priority = anyPriority();
    const bool nullCallback = chance(4);
    Operation op;
    // With a loop running, a callback that continues would wait for a tick
    // that this single thread never runs.
    op.doneAt = running_ || chance(60) ? 1 : 3;
    note("zvScheduleSynchronous(%s, priority %u) done at %ld", nullCallback ? "NULL" : "count", priority, op.doneAt);
    zvScheduleSynchronous(nullCallback ? nullptr : countRun, &op, priority);
    const std::vector<ZVerror> errors = drain();
    if (priority > ZV_MAX_SCHEDULER_PRIORITY) {
        expectOnly(errors, ZV_INVALID_PRIORITY, true, "bad priority");
    } else if (nullCallback) {
        expectOnly(errors, ZV_INVALID_VALUE, false, "null callback");
    } else if (op.doneAt == 1) {
        if (op.runs != 1 || !errors.empty()) {
            finding("synchronous callback ran %ld times, errors %s", op.runs.load(), codes(errors).c_str());
        }
    } else {
        if (op.runs != 1) {
            finding("a continuing synchronous callback without a loop ran %ld times", op.runs.load());
        }
        expectOnly(errors, ZV_INVALID_OPERATION, false, "continuing synchronous callback without a loop");
    }
}

void Fuzzer::unschedule() {
    const ZVSchedulerHandle handle = anyHandle();
    note("zvUnschedule(%u)", handle);
    zvUnschedule(handle);
    const std::vector<ZVerror> errors = drain();
    const auto at = live_.find(handle);
    if (at != live_.end()) {
        if (!errors.empty()) {
            finding("unscheduling live operation %u raised %s", handle, codes(errors).c_str());
        }
        at->second->finished = true;
        live_.erase(at);
        gone_.insert(handle);
        return;
    }
    if (gone_.count(handle) != 0) {
        expectOnly(errors, ZV_INVALID_OPERATION, false, "unscheduling a stale handle");
        return;
    }
    // Any other handle names nothing of this client: nothing or a library
    // operation, and both are refused.
    expectOnly(errors, ZV_INVALID_OPERATION, false, "unscheduling a handle never given out");
}

void Fuzzer::waitStatus() {
    const ZVSchedulerHandle handle = anyHandle();
    const bool infinite = !running_ && chance(30);
    note("zvWaitForCompletion(%u, %s)", handle, infinite ? "INFINITE" : "CHECK_STATUS");
    const ZVboolean result = zvWaitForCompletion(handle, infinite ? ZV_WAIT_INFINITE : ZV_WAIT_CHECK_STATUS);
    const std::vector<ZVerror> errors = drain();
    if (!errors.empty()) {
        finding("zvWaitForCompletion raised %s", codes(errors).c_str());
    }
    const bool live = live_.count(handle) != 0;
    if (infinite) {
        if (result != ZV_FALSE && (live || gone_.count(handle) != 0)) {
            finding("an infinite wait without a loop returned true");
        }
        return;
    }
    if ((live || gone_.count(handle) != 0) && (result == ZV_TRUE) != live) {
        finding("status of %u is %u, the operation is %s", handle, result, live ? "live" : "gone");
    }
}

void Fuzzer::runTicks() {
    if (!running_) {
        note("korvo_sim_run_ticks(1) without a loop");
        if (korvo_sim_run_ticks(1) != KORVO_SIM_E_NOT_RUNNING) {
            finding("ticks ran without a loop");
        }
        drain();
        return;
    }
    const unsigned count = static_cast<unsigned>(1 + next() % 4);
    std::map<Operation*, long> before;
    for (const auto& [handle, op] : live_) {
        before[op] = op->runs;
    }
    note("korvo_sim_run_ticks(%u) with %zu operations", count, live_.size());
    if (const int rc = korvo_sim_run_ticks(count)) {
        finding("korvo_sim_run_ticks failed with %d", rc);
    }
    drain();  // errors raised in callbacks, not checked
    for (auto at = live_.begin(); at != live_.end();) {
        Operation* op = at->second;
        const long expected = std::min(before[op] + static_cast<long>(count), op->doneAt);
        if (op->runs != expected) {
            finding("operation %u ran %ld times, expected %ld", at->first, op->runs.load(), expected);
        }
        if (op->runs >= op->doneAt) {
            op->finished = true;
            gone_.insert(at->first);
            at = live_.erase(at);
        } else {
            ++at;
        }
    }
}

void Fuzzer::startStop() {
    if (chance(50)) {
        note("zvStartScheduler() running %d", running_);
        zvStartScheduler();
        const std::vector<ZVerror> errors = drain();
        if (running_) {
            expectOnly(errors, ZV_TIMER_ERROR, true, "starting a running loop");
        } else if (!errors.empty()) {
            finding("starting the loop raised %s", codes(errors).c_str());
        }
        running_ = true;
    } else {
        note("zvStopScheduler() running %d", running_);
        zvStopScheduler();
        const std::vector<ZVerror> errors = drain();
        if (!errors.empty()) {
            finding("stopping the loop raised %s", codes(errors).c_str());
        }
        running_ = false;
    }
}

// ---------------------------------------------------------------- devices and frames

void Fuzzer::deviceCall() {
    static const std::vector<const char*> kNames = {nullptr, "", "arm3g", "mini", "no such device", "arm3g "};
    if (chance(50)) {
        const char* name = pick(kNames);
        note("zvInitDevice(%s)", name == nullptr ? "NULL" : name);
        const HZV device = zvInitDevice(name);
        const std::vector<ZVerror> errors = drain();
        if (device != ZV_INVALID_HANDLE) {
            if (devices_.count(device) != 0) {
                finding("zvInitDevice returned the open device %u again", device);
            }
            if (zvGetCurrentDevice() != device) {
                finding("the opened device is not current");
            }
            expectNoArgumentError(errors, "zvInitDevice");
            devices_[device] = name == nullptr ? "(default)" : name;
            frameDepth_[device] = 0;
            current_ = device;
        } else {
            if (zvGetCurrentDevice() != current_) {
                finding("a failed zvInitDevice changed the current device");
            }
        }
        return;
    }
    const HZV device = anyDevice();
    note("zvDisableDevice(%u)", device);
    zvDisableDevice(device);
    drain();
    devices_.erase(device);
    frameDepth_.erase(device);
    if (zvGetCurrentDevice() != current_) {
        finding("zvDisableDevice changed the current device");
    }
}

void Fuzzer::frameCall() {
    const HZV device = anyDevice();
    const bool begin = chance(50);
    note("%s(%u)", begin ? "zvBeginFrame" : "zvEndFrame", device);
    if (begin) {
        zvBeginFrame(device);
    } else {
        zvEndFrame(device);
    }
    const std::vector<ZVerror> errors = drain();
    current_ = device;  // frame calls make the device current
    if (zvGetCurrentDevice() != device) {
        finding("a frame call did not make its device current");
    }
    if (devices_.count(device) == 0) {
        expectOnly(errors, ZV_BAD_HANDLE, false, "frame call on a device that is not open");
        return;
    }
    int& depth = frameDepth_[device];
    const bool refused =
        std::find(errors.begin(), errors.end(), begin ? ZV_ILLEGAL_BEGIN : ZV_ILLEGAL_END) != errors.end();
    if (begin) {
        if (!refused) {
            ++depth;
        }
    } else if (depth == 0) {
        if (!refused) {
            finding("an end without a begin was accepted");
        }
    } else if (refused) {
        finding("an end inside a frame (depth %d) was refused", depth);
    } else {
        --depth;
    }
}

void Fuzzer::misc() {
    switch (next() % 6) {
    case 0: {
        const HZV device = anyDevice();
        note("zvMakeCurrentDevice(%u)", device);
        zvMakeCurrentDevice(device);
        current_ = device;
        break;
    }
    case 1: {
        note("zvGetCurrentDevice()");
        if (zvGetCurrentDevice() != current_) {
            finding("the current device is %u, expected %u", zvGetCurrentDevice(), current_);
        }
        break;
    }
    case 2: {
        const ZVerror code = static_cast<ZVerror>(chance(50) ? next() % 0x600 : next());
        note("zvGetErrorString(0x%x)", code);
        const char* text = zvGetErrorString(code);
        if (text == nullptr) {
            finding("zvGetErrorString returned NULL");
        }
        (void)std::strlen(text);
        break;
    }
    case 3: {
        const unsigned rates[] = {0, 1, 500, 1000, 2000, 100000, 0xFFFFFFFFu};
        const unsigned rate = rates[next() % std::size(rates)];
        note("zvSetSchedulerRate(%u)", rate);
        zvSetSchedulerRate(rate);
        break;
    }
    case 4: {
        note("zvGetSchedulerTimeStamp()");
        if (!std::isfinite(zvGetSchedulerTimeStamp())) {
            finding("the time stamp is not finite");
        }
        break;
    }
    default: {
        if (chance(50)) {
            note("zvCheckCalibration() current %u", current_);
            const unsigned result = zvCheckCalibration();
            if (result != ZV_CALIBRATION_OK && result != ZV_CALIBRATION_NEEDS_UPDATE &&
                result != ZV_CALIBRATION_NEEDS_MANUAL_INPUT) {
                finding("zvCheckCalibration returned 0x%x", result);
            }
        } else {
            const int style = static_cast<int>(next() % 9);
            note("zvUpdateCalibration(%d) current %u", style, current_);
            zvUpdateCalibration(style);
        }
        const std::vector<ZVerror> errors = drain();
        if (!currentOpen()) {
            expectOnly(errors, ZV_BAD_HANDLE, false, "calibration without a device");
        }
        break;
    }
    }
    drain();
}

// ---------------------------------------------------------------- concurrent phases

// After a phase whose ticks the model did not follow: operations that ran to
// their end are gone; the others carry on from their present count.
void Fuzzer::resyncOperations() {
    for (auto at = live_.begin(); at != live_.end();) {
        Operation* op = at->second;
        const bool scheduled = zvWaitForCompletion(at->first, ZV_WAIT_CHECK_STATUS) == ZV_TRUE;
        if (op->runs >= op->doneAt) {
            if (scheduled) {
                finding("operation %u finished but is still scheduled", at->first);
            }
            op->finished = true;
            gone_.insert(at->first);
            at = live_.erase(at);
        } else {
            if (!scheduled) {
                finding("operation %u vanished before its end", at->first);
            }
            ++at;
        }
    }
}

// A second thread drives the ticks (manual clock) or the real-time loop runs,
// while this thread calls reads, writes, capability calls and schedules.
void Fuzzer::concurrentPhase(bool realTime) {
    note("concurrent phase (%s)", realTime ? "real time" : "second thread ticks");
    zvStopScheduler();
    if (realTime && korvo_sim_set_manual_clock(0) != 0) {
        finding("the clock cannot be switched to real time");
    }
    zvStartScheduler();
    std::atomic<bool> stop{false};
    std::thread ticker;
    if (!realTime) {
        ticker = std::thread([&stop] {
            while (!stop.load()) {
                korvo_sim_run_ticks(1);
            }
        });
    }
    std::thread second([this, seed = next(), &stop] {
        std::mt19937_64 random(seed);
        double values[kSlots];
        while (!stop.load()) {
            switch (random() % 4) {
            case 0: zvGetDoublev(kCodes[random() % std::size(kCodes)].code, values); break;
            case 1: zvIsEnabled(kCapabilities[random() % std::size(kCapabilities)]); break;
            case 2: {
                zvScheduleSynchronous([](void*) { return ZVCallbackCode{ZV_CALLBACK_DONE}; }, nullptr,
                                      static_cast<unsigned>(random() % 100));
                break;
            }
            default: zvGetError(); break;
            }
        }
    });
    for (int k = 0; k < 300; ++k) {
        ++call_;
        switch (next() % 5) {
        case 0: {
            const ZVenum code = anyCode();
            double values[kSlots];
            note("(concurrent) zvGetDoublev(0x%x)", code);
            zvGetDoublev(code, values);
            break;
        }
        case 1: {
            auto op = std::make_unique<Operation>();
            op->doneAt = static_cast<long>(1 + next() % 3);
            if (live_.size() < kMaxClientOperations) {
                note("(concurrent) zvScheduleAsynchronous");
                const ZVSchedulerHandle handle = zvScheduleAsynchronous(countRun, op.get(), 5);
                if (handle != ZV_INVALID_HANDLE) {
                    live_[handle] = op.get();
                    operations_.push_back(std::move(op));
                }
            }
            break;
        }
        case 2: {
            const ZVenum cap = kCapabilities[next() % std::size(kCapabilities)];
            note("(concurrent) zvIsEnabled(0x%x)", cap);
            zvIsEnabled(cap);
            break;
        }
        case 3: {
            const ZVSchedulerHandle handle = anyHandle();
            note("(concurrent) zvWaitForCompletion(%u, CHECK_STATUS)", handle);
            zvWaitForCompletion(handle, ZV_WAIT_CHECK_STATUS);
            break;
        }
        default: std::this_thread::yield(); break;
        }
        if (realTime && k % 50 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // The stop releases a synchronous call of the second thread that waits
    // for a tick.
    stop = true;
    zvStopScheduler();
    second.join();
    if (ticker.joinable()) {
        ticker.join();
    }
    if (realTime && korvo_sim_set_manual_clock(1) != 0) {
        finding("the clock cannot be switched back to manual");
    }
    // Errors of the phase are not attributed to calls; the suppression they
    // may have left ends only with a clean tick, so a few clean ticks are run.
    drain();
    zvStartScheduler();
    resyncOperations();
    for (int k = 0; k < 3; ++k) {
        korvo_sim_run_ticks(1);
        drain();
    }
    resyncOperations();
    drain();
    running_ = true;
}

// ---------------------------------------------------------------- driver

void Fuzzer::step() {
    const std::uint64_t roll = next() % 1000;
    if (roll < 220) {
        typedGet();
    } else if (roll < 400) {
        typedSet();
    } else if (roll < 430) {
        stringGet();
    } else if (roll < 500) {
        capabilityCall();
    } else if (roll < 600) {
        scheduleAsync();
    } else if (roll < 640) {
        scheduleSync();
    } else if (roll < 700) {
        unschedule();
    } else if (roll < 760) {
        waitStatus();
    } else if (roll < 850) {
        runTicks();
    } else if (roll < 865) {
        startStop();
    } else if (roll < 885) {
        deviceCall();
    } else if (roll < 935) {
        frameCall();
    } else if (roll < 999) {
        misc();
    } else {
        concurrentPhase(chance(30));
    }
}

int Fuzzer::run() {
    if (korvo_sim_set_manual_clock(1) != 0) {
        std::fprintf(stderr, "zv_fuzz: the manual clock is not available\n");
        return 2;
    }
    drain();
    for (call_ = 0; call_ < calls_; ++call_) {
        step();
    }
    zvStopScheduler();
    for (const auto& [device, name] : devices_) {
        (void)name;
        zvDisableDevice(device);
    }
    drain();
    if (!quiet_) {
        std::printf("zv_fuzz: seed %" PRIu64 ": %" PRIu64 " calls, %" PRIu64
                    " errors raised and checked, %zu operations scheduled, 0 findings\n",
                    seed_, calls_, errorsSeen_, operations_.size());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 1;
    std::uint64_t calls = 100000;
    bool quiet = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--seed" && k + 1 < argc) {
            seed = std::strtoull(argv[++k], nullptr, 10);
        } else if (arg == "--calls" && k + 1 < argc) {
            calls = std::strtoull(argv[++k], nullptr, 10);
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            std::fprintf(stderr, "usage: zv_fuzz [--seed N] [--calls N] [--quiet]\n");
            return 2;
        }
    }
    return Fuzzer(seed, calls, quiet).run();
}
