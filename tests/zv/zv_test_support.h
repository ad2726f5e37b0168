// Helpers shared by the device library tests: error draining, running code
// inside a servo tick on the simulator's manual clock, and a fixture that
// opens a simulated device.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <vector>

#include "korvo/korvo.h"
#include "korvo/korvo_sim.h"
#include "zv/zv.h"

inline bool operator==(const ZVErrorInfo& a, const ZVErrorInfo& b) {
    return a.errorCode == b.errorCode && a.internalErrorCode == b.internalErrorCode && a.deviceHandle == b.deviceHandle;
}

inline std::ostream& operator<<(std::ostream& out, const ZVErrorInfo& e) {
    return out << "{0x" << std::hex << e.errorCode << std::dec << ", " << e.internalErrorCode << ", " << e.deviceHandle
               << "}";
}

namespace zvtest {

// Pops every error, newest first.
inline std::vector<ZVErrorInfo> drainErrors() {
    std::vector<ZVErrorInfo> errors;
    for (ZVErrorInfo e = zvGetError(); e.errorCode != ZV_SUCCESS; e = zvGetError()) {
        errors.push_back(e);
    }
    return errors;
}

// Codes of the drained errors, newest first.
inline std::vector<ZVerror> drainCodes() {
    std::vector<ZVerror> codes;
    for (const ZVErrorInfo& e : drainErrors()) {
        codes.push_back(e.errorCode);
    }
    return codes;
}

// A scheduler callback that runs a std::function once.
inline ZVCallbackCode runOnce(void* body) {
    (*static_cast<std::function<void()>*>(body))();
    return ZV_CALLBACK_DONE;
}

// Starts the scheduler on the simulator's manual clock, so that every tick is
// run explicitly by the test.
class ManualClock : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
        zvStartScheduler();
        ASSERT_TRUE(drainErrors().empty());
    }
    void TearDown() override { zvStopScheduler(); }

    static void ticks(unsigned int count) { ASSERT_EQ(korvo_sim_run_ticks(count), 0); }

    // Runs `body` once on the servo thread during the next tick.
    static void inTick(std::function<void()> body, unsigned int priority = ZV_DEFAULT_SCHEDULER_PRIORITY) {
        ASSERT_NE(zvScheduleAsynchronous(runOnce, &body, priority), ZV_INVALID_HANDLE);
        ticks(1);
    }
};

// A simulated device opened before the scheduler starts.
class DeviceTest : public ManualClock {
protected:
    explicit DeviceTest(const char* model = ZV_DEFAULT_DEVICE) : model_(model) {}

    void SetUp() override {
        ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
        device = zvInitDevice(model_);
        ASSERT_NE(device, ZV_INVALID_HANDLE);
        ManualClock::SetUp();
    }
    void TearDown() override {
        ManualClock::TearDown();
        zvDisableDevice(device);
    }

    // One frame on the device inside the next tick.
    void frame(std::function<void()> body = [] {}) {
        inTick([&] {
            zvBeginFrame(device);
            body();
            zvEndFrame(device);
        });
    }

    HZV device = ZV_INVALID_HANDLE;

private:
    const char* model_;
};

}  // namespace zvtest
