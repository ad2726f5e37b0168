// The process-wide simulator: the open devices, the servo loop, the trace,
// and the settings that the environment can supply.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "DeviceRegistry.h"
#include "Publisher.h"
#include "ServoLoop.h"
#include "Trace.h"

namespace korvo::sim {

// Environment variables read when a device is opened.
struct Environment {
    static constexpr const char* kModel = "KORVO_SIM_MODEL";
    static constexpr const char* kTrajectory = "KORVO_SIM_TRAJECTORY";
    static constexpr const char* kTrace = "KORVO_SIM_TRACE";
    static constexpr const char* kNoDevice = "KORVO_SIM_NO_DEVICE";
    static constexpr const char* kFaults = "KORVO_SIM_FAULTS";
    static constexpr const char* kOverrunTolerance = "KORVO_SIM_OVERRUN_TOLERANCE";
};

class ISimulator {
public:
    virtual ~ISimulator() = default;
    virtual IDeviceRegistry& devices() noexcept = 0;
    virtual IServoLoop& loop() noexcept = 0;
    virtual ITraceWriter& trace() noexcept = 0;
    // Opens a device by name (null or "" for the default device); returns the
    // handle or throws Error with a device code.
    virtual unsigned open(const char* name) = 0;
    virtual int close(unsigned handle) noexcept = 0;
    virtual void injectInitFault(int code) noexcept = 0;
    // Makes sure the process-exit hook that stops the loop and flushes the
    // trace is registered.
    virtual void ensureExitHook() noexcept = 0;
    virtual int reset() noexcept = 0;
};

class Simulator final : public ISimulator, private ITickClient {
public:
    // The one instance. It is created on first use and deliberately never
    // destroyed: the servo thread may still be running while the process
    // exits, and the exit hook (not a destructor) ends it.
    static Simulator& instance();

    IDeviceRegistry& devices() noexcept override { return registry_; }
    IServoLoop& loop() noexcept override { return loop_; }
    ITraceWriter& trace() noexcept override { return trace_; }
    unsigned open(const char* name) override;
    int close(unsigned handle) noexcept override;
    void injectInitFault(int code) noexcept override { initFault_.store(code); }
    void ensureExitHook() noexcept override;
    int reset() noexcept override;

private:
    Simulator() : loop_(*this) {}

    void afterCallbacks(double time) noexcept override;
    void advance(double dt, unsigned steps) noexcept override;
    void loopEnded() noexcept override;
    void applyEnvironment(unsigned handle, bool isDefault);
    // Publishes a device's record from a client thread (at open), under
    // the device's lock like the servo thread's publishing.
    void publishNow(unsigned handle) noexcept;
    static void atExit() noexcept;

    DeviceRegistry registry_;
    // Opening and closing devices, and with them creating and removing the
    // shared segment, are serialised by segmentMutex_ (client threads only).
    std::mutex segmentMutex_;
    Publisher publisher_;
    ServoLoop loop_;
    TraceWriter trace_;
    std::atomic<int> initFault_{0};
    std::once_flag exitHookOnce_;
};

}  // namespace korvo::sim
