// Shared fixture of the simulator tests: a clean simulator on the manual
// clock, and a servo callback that runs whatever the test puts in it.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <string>

#include "korvo/korvo.h"
#include "korvo/korvo_sim.h"

namespace korvo_test {

using Vec = std::array<double, 3>;

inline double length(const Vec& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// Reads and commands used by most tests.
struct TrueState {
    Vec position{}, velocity{}, force{};
};

inline TrueState trueState(int handle) {
    TrueState s;
    EXPECT_EQ(
        korvo_sim_get_true_state(static_cast<unsigned>(handle), s.position.data(), s.velocity.data(), s.force.data()),
        0);
    return s;
}

inline Vec truePosition(int handle) { return trueState(handle).position; }
inline Vec trueVelocity(int handle) { return trueState(handle).velocity; }
inline Vec appliedForce(int handle) { return trueState(handle).force; }

inline Vec readPosition(int handle) {
    float p[3] = {};
    EXPECT_EQ(update_korvo(static_cast<unsigned>(handle)), 0);
    EXPECT_EQ(get_korvo_pos(static_cast<unsigned>(handle), p), 0);
    return {p[0], p[1], p[2]};
}

inline int sendForce(int handle, double fx, double fy, double fz) {
    const float f[6] = {static_cast<float>(fx), static_cast<float>(fy), static_cast<float>(fz), 0, 0, 0};
    return send_korvo_force_6dof(static_cast<unsigned>(handle), f);
}

inline void setHand(int handle, const Vec& target) {
    ASSERT_EQ(korvo_sim_set_hand_target(static_cast<unsigned>(handle), target.data()), 0);
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(korvo_sim_reset(), 0);
        ASSERT_EQ(initOSExtender(), KORVO_SERVO_OK);
        ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
    }

    void TearDown() override {
        stopServoLoop();
        EXPECT_EQ(korvo_sim_reset(), 0);
    }

    static int open(const char* name = "") {
        const int handle = init_korvo(name);
        EXPECT_GE(handle, 0) << "init_korvo(\"" << (name ? name : "NULL") << "\")";
        return handle;
    }

    // Starts the loop; `body` runs in the servo callback of every tick. Tests
    // change what it does only between korvo_sim_run_ticks calls, which
    // order the servo thread's work with the caller's.
    void start(std::function<void()> body = {}) {
        body_ = std::move(body);
        ASSERT_EQ(startServoLoop(&SimTest::servo, this), KORVO_SERVO_OK);
    }

    static void run(unsigned ticks) { ASSERT_EQ(korvo_sim_run_ticks(ticks), 0); }

    // A temporary file name unique to this test case.
    static std::string tempPath(const std::string& suffix) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("korvo_") + info->test_suite_name() + "_" + info->name() + suffix;
        for (char& c : name)
            if (c == '/') c = '_';
        return ::testing::TempDir() + name;
    }

private:
    static int servo(void* self) {
        auto* test = static_cast<SimTest*>(self);
        if (test->body_) test->body_();
        return 0;
    }

    std::function<void()> body_;
};

}  // namespace korvo_test
