// The servo thread neither allocates nor throws in steady state, even when
// every tick raises errors. This binary replaces the global operator new with
// one that counts the allocations made on the servo thread, and counts the
// exceptions allocated there, while a callback runs a frame and a set of
// refused calls each tick.
#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <set>

#include "zv_test_support.h"

namespace {

thread_local bool t_counting = false;
std::atomic<long> g_allocations{0};
std::atomic<long> g_exceptions{0};

}  // namespace

void* operator new(std::size_t size) {
    if (t_counting) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

// The replaced operator new takes its memory from malloc, so free is the
// matching release; the compiler cannot see that pairing.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

// Every thrown C++ exception is allocated here first.
extern "C" void* __cxa_allocate_exception(std::size_t size) noexcept {
    using Allocate = void* (*)(std::size_t);
    static const auto next = reinterpret_cast<Allocate>(dlsym(RTLD_NEXT, "__cxa_allocate_exception"));
    if (t_counting) {
        g_exceptions.fetch_add(1, std::memory_order_relaxed);
    }
    return next(size);
}

namespace zvtest {
namespace {

std::atomic<bool> g_countWanted{false};

ZVCallbackCode finish(void*) { return ZV_CALLBACK_DONE; }
ZVCallbackCode keepRunning(void*) { return ZV_CALLBACK_CONTINUE; }

struct Tick {
    HZV device;
    ZVSchedulerHandle other;
};

// A frame with reads and a force, and calls that each raise an error.
ZVCallbackCode busyTick(void* data) {
    t_counting = g_countWanted.load(std::memory_order_acquire);
    const auto* tick = static_cast<const Tick*>(data);
    double values[16] = {};
    zvBeginFrame(tick->device);
    zvGetDoublev(ZV_CURRENT_POSITION, values);
    zvGetDoublev(ZV_CURRENT_TRANSFORM, values);
    const double force[3] = {0.0, 0.1, 0.0};
    zvSetDoublev(ZV_CURRENT_FORCE, force);
    const double notFinite[3] = {NAN, 0.0, 0.0};
    zvSetDoublev(ZV_CURRENT_FORCE, notFinite);         // ZV_INVALID_VALUE
    zvGetDoublev(0x1234, values);                      // ZV_INVALID_ENUM
    zvGetIntegerv(ZV_CURRENT_SAFETY_SWITCH, nullptr);  // ZV_INVALID_INPUT_TYPE or ZV_INVALID_VALUE
    zvEnable(0x4321);                                  // ZV_INVALID_ENUM
    zvEndFrame(tick->device);
    zvEndFrame(tick->device);               // ZV_ILLEGAL_END
    zvBeginFrame(tick->device);             // ZV_ILLEGAL_BEGIN (one frame per tick)
    zvSetDoublev(ZV_CURRENT_FORCE, force);  // ZV_FRAME_ERROR
    zvBeginFrame(12345);                    // ZV_BAD_HANDLE
    zvMakeCurrentDevice(tick->device);
    zvScheduleAsynchronous(finish, nullptr, 70000);      // ZV_INVALID_PRIORITY
    zvScheduleSynchronous(keepRunning, nullptr, 1);      // ZV_INVALID_OPERATION
    zvWaitForCompletion(tick->other, ZV_WAIT_INFINITE);  // ZV_INVALID_OPERATION
    zvUnschedule(999999);                                // ZV_INVALID_OPERATION
    return ZV_CALLBACK_CONTINUE;
}

TEST_F(DeviceTest, TheServoThreadNeitherAllocatesNorThrowsWhileErrorsAreRaisedEveryTick) {
    Tick tick{device, zvScheduleAsynchronous(keepRunning, nullptr, 1)};
    ASSERT_NE(zvScheduleAsynchronous(busyTick, &tick, ZV_MAX_SCHEDULER_PRIORITY), ZV_INVALID_HANDLE);
    ticks(100);  // first uses: thread-local holders, lazily made objects
    drainErrors();
    g_countWanted = true;
    ticks(10000);
    g_countWanted = false;
    ticks(1);
    EXPECT_EQ(g_allocations.load(), 0) << "allocations on the servo thread";
    EXPECT_EQ(g_exceptions.load(), 0) << "exceptions thrown on the servo thread";

    std::set<ZVerror> raised;
    for (const ZVErrorInfo& e : drainErrors()) {
        raised.insert(e.errorCode);
    }
    for (ZVerror code : {ZV_INVALID_VALUE, ZV_INVALID_ENUM, ZV_ILLEGAL_END, ZV_ILLEGAL_BEGIN, ZV_FRAME_ERROR,
                         ZV_BAD_HANDLE, ZV_INVALID_OPERATION}) {
        EXPECT_EQ(raised.count(code), 1u) << "0x" << std::hex << code;
    }
}

}  // namespace
}  // namespace zvtest
