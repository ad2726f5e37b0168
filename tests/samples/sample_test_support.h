// A simulated device on the manual clock, for running a sample's servo
// callbacks in this process.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "korvo/korvo.h"
#include "korvo/korvo_sim.h"
#include "trace_reader.h"
#include "zv/zv.h"

namespace sample_test {

// Pops every pending device-library error.
inline std::vector<ZVErrorInfo> drainErrors() {
    std::vector<ZVErrorInfo> errors;
    for (ZVErrorInfo e = zvGetError(); e.errorCode != ZV_SUCCESS; e = zvGetError()) errors.push_back(e);
    return errors;
}

// The default simulated device, opened and with the scheduler started on
// the manual clock: ticks run only when a test asks for them, so a test
// sees exactly what one tick of a sample's callback did.
class SimulatedDevice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
        device = zvInitDevice(ZV_DEFAULT_DEVICE);
        ASSERT_NE(device, ZV_INVALID_HANDLE);
        zvStartScheduler();
        ASSERT_TRUE(drainErrors().empty());
    }
    void TearDown() override {
        zvStopScheduler();
        if (callback != ZV_INVALID_HANDLE && zvWaitForCompletion(callback, ZV_WAIT_CHECK_STATUS))
            zvUnschedule(callback);
        zvDisableDevice(device);
    }

    void schedule(ZVSchedulerCallback function, void* data, unsigned priority = ZV_DEFAULT_SCHEDULER_PRIORITY) {
        callback = zvScheduleAsynchronous(function, data, priority);
        ASSERT_NE(callback, ZV_INVALID_HANDLE);
    }
    static void ticks(unsigned count) { ASSERT_EQ(korvo_sim_run_ticks(count), 0); }
    bool callbackRunning() const { return zvWaitForCompletion(callback, ZV_WAIT_CHECK_STATUS) != 0; }

    // Puts the stylus at rest at `p`, with the hand holding it there.
    void place(const Vec3& p) const { ASSERT_EQ(korvo_sim_place_stylus(device, p.data()), 0); }
    // The force the motors apply now: what the last tick commanded.
    Vec3 appliedForce() const {
        Vec3 position{}, velocity{}, force{};
        EXPECT_EQ(korvo_sim_get_true_state(device, position.data(), velocity.data(), force.data()), 0);
        return force;
    }
    // The position the last tick's callbacks saw (the encoder reading).
    static Vec3 seenPosition() {
        Vec3 p{};
        zvGetDoublev(ZV_CURRENT_POSITION, p.data());
        return p;
    }

    HZV device = ZV_INVALID_HANDLE;
    ZVSchedulerHandle callback = ZV_INVALID_HANDLE;
};

}  // namespace sample_test
