// Frames: snapshots, nesting, force output and its safety cut-off.
#include <array>
#include <cmath>

#include "zv_test_support.h"

namespace zvtest {
namespace {

using Vec3 = std::array<double, 3>;

Vec3 getVector(ZVenum code) {
    Vec3 v{};
    zvGetDoublev(code, v.data());
    return v;
}

void setVector(ZVenum code, Vec3 v) { zvSetDoublev(code, v.data()); }

class Frames : public DeviceTest {
protected:
    Vec3 appliedForce() {
        double position[3], velocity[3];
        Vec3 force{};
        EXPECT_EQ(korvo_sim_get_true_state(device, position, velocity, force.data()), 0);
        return force;
    }
    void enableForces() {
        zvEnable(ZV_FORCE_OUTPUT);
        frame();  // the amplifiers follow at the next outermost begin
        ASSERT_EQ(is_korvo_forces_enabled(device), 1);
    }
};

TEST_F(Frames, BeginMakesTheDeviceCurrent) {
    zvMakeCurrentDevice(ZV_INVALID_HANDLE);
    inTick([&] {
        zvMakeCurrentDevice(ZV_INVALID_HANDLE);
        zvBeginFrame(device);
        EXPECT_EQ(zvGetCurrentDevice(), device);
        zvMakeCurrentDevice(ZV_INVALID_HANDLE);
        zvEndFrame(device);
        EXPECT_EQ(zvGetCurrentDevice(), device);
    });
    EXPECT_TRUE(drainErrors().empty());
}

// A nested begin does not take a new snapshot (which would clear the force
// set so far) and a nested end sends nothing: a one-shot warm-motor fault,
// which only the output calls meet, is consumed by the outermost end.
TEST_F(Frames, NestedFramesRefreshOnceAndSendOnce) {
    enableForces();
    const Vec3 force{0.5, -0.25, 0.125};
    inTick([&] {
        zvBeginFrame(device);
        setVector(ZV_CURRENT_FORCE, force);
        const Vec3 last = getVector(ZV_LAST_FORCE);
        ASSERT_EQ(korvo_sim_inject_fault(device, KORVO_WARM_MOTORS), 0);
        zvBeginFrame(device);
        EXPECT_EQ(getVector(ZV_CURRENT_FORCE), force);
        EXPECT_EQ(getVector(ZV_LAST_FORCE), last);
        zvEndFrame(device);
        EXPECT_TRUE(drainErrors().empty()) << "nothing sent by the nested end";
        setVector(ZV_CURRENT_FORCE, force);  // the frame is still open
        zvEndFrame(device);
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_WARM_MOTORS, KORVO_WARM_MOTORS, device}}));
    });
}

TEST_F(Frames, AFrameThatCommandsNothingSendsZeroForce) {
    enableForces();
    frame([] { setVector(ZV_CURRENT_FORCE, {1.0, 0.0, -0.5}); });
    const Vec3 pushed = appliedForce();
    EXPECT_NEAR(pushed[0], 1.0, 1e-6);
    EXPECT_NEAR(pushed[2], -0.5, 1e-6);
    frame();
    EXPECT_EQ(appliedForce(), (Vec3{0.0, 0.0, 0.0}));
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(Frames, WithForceOutputDisabledNothingIsApplied) {
    frame([] { setVector(ZV_CURRENT_FORCE, {1.0, 0.0, 0.0}); });
    EXPECT_EQ(is_korvo_forces_enabled(device), 0);
    EXPECT_EQ(appliedForce(), (Vec3{0.0, 0.0, 0.0}));
    EXPECT_TRUE(drainErrors().empty());
}

// A maximum-force report switches the amplifiers off at once; the next
// outermost begin switches them on again while force output is wanted.
TEST_F(Frames, AMaximumForceErrorCutsForcesOffUntilTheNextOutermostBegin) {
    enableForces();
    zvEnable(ZV_FORCE_CHECK);
    frame([] { setVector(ZV_CURRENT_FORCE, {50.0, 0.0, 0.0}); });
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_EXCEEDED_MAX_FORCE, KORVO_EXCEEDED_MAX_FORCE, device}}));
    EXPECT_EQ(is_korvo_forces_enabled(device), 0);
    EXPECT_EQ(appliedForce(), (Vec3{0.0, 0.0, 0.0}));
    ticks(2);  // no frame: still off
    EXPECT_EQ(is_korvo_forces_enabled(device), 0);
    inTick([&] {
        zvBeginFrame(device);
        EXPECT_EQ(is_korvo_forces_enabled(device), 1);
        setVector(ZV_CURRENT_FORCE, {1.0, 0.0, 0.0});
        zvEndFrame(device);
    });
    EXPECT_NEAR(appliedForce()[0], 1.0, 1e-6);
    EXPECT_TRUE(drainErrors().empty());
}

// Other refusals (here a warm motor) leave the amplifiers on.
TEST_F(Frames, AWarmMotorReportLeavesForcesOn) {
    enableForces();
    ASSERT_EQ(korvo_sim_inject_fault(device, KORVO_WARM_MOTORS), 0);
    frame([] { setVector(ZV_CURRENT_FORCE, {1.0, 0.0, 0.0}); });
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_WARM_MOTORS, KORVO_WARM_MOTORS, device}}));
    EXPECT_EQ(is_korvo_forces_enabled(device), 1);
}

TEST_F(Frames, ASecondFrameInOneTickIsRefusedWhileTheOneFrameLimitIsOn) {
    EXPECT_TRUE(zvIsEnabled(ZV_ONE_FRAME_LIMIT));
    inTick([&] {
        zvBeginFrame(device);
        setVector(ZV_CURRENT_FORCE, {0.1, 0.2, 0.3});
        zvEndFrame(device);
        zvBeginFrame(device);
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_ILLEGAL_BEGIN, 0, device}}));
        zvEndFrame(device);
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_ILLEGAL_END, 0, device}}));
        EXPECT_EQ(getVector(ZV_CURRENT_FORCE), (Vec3{0.1, 0.2, 0.3})) << "the refused begin took no snapshot";
    });
    frame();
    EXPECT_TRUE(drainErrors().empty()) << "the limit is per tick";

    zvDisable(ZV_ONE_FRAME_LIMIT);
    EXPECT_FALSE(zvIsEnabled(ZV_ONE_FRAME_LIMIT));
    inTick([&] {
        zvBeginFrame(device);
        setVector(ZV_CURRENT_FORCE, {0.1, 0.2, 0.3});
        zvEndFrame(device);
        zvBeginFrame(device);
        EXPECT_EQ(getVector(ZV_LAST_FORCE), (Vec3{0.1, 0.2, 0.3})) << "current became last";
        EXPECT_EQ(getVector(ZV_CURRENT_FORCE), (Vec3{0.0, 0.0, 0.0}));
        zvEndFrame(device);
    });
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(Frames, EndWithoutBeginIsRefusedAndLeavesTheTickUntouched) {
    inTick([&] {
        zvEndFrame(device);
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_ILLEGAL_END, 0, device}}));
        zvBeginFrame(device);
        zvEndFrame(device);
    });
    EXPECT_TRUE(drainErrors().empty());
}

// Force and DAC values in one frame: nothing is sent, the frame closes, and
// the tick may still make its frame.
TEST_F(Frames, ForceAndMotorValuesInOneFrameAreAForceError) {
    enableForces();
    frame([] { setVector(ZV_CURRENT_FORCE, {0.75, 0.0, 0.0}); });
    inTick([&] {
        zvBeginFrame(device);
        setVector(ZV_CURRENT_FORCE, {-1.0, 0.0, 0.0});
        const ZVlong dac[6] = {1000, 0, 0, 0, 0, 0};
        zvSetLongv(ZV_CURRENT_MOTOR_DAC_VALUES, dac);
        zvEndFrame(device);
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_FORCE_ERROR, 0, device}}));
        EXPECT_NEAR(appliedForce()[0], 0.75, 1e-6) << "nothing was sent";
        zvBeginFrame(device);
        zvEndFrame(device);
    });
    EXPECT_TRUE(drainErrors().empty());
    EXPECT_EQ(appliedForce(), (Vec3{0.0, 0.0, 0.0}));
}

TEST_F(Frames, MotorValuesAreSentInsteadOfForces) {
    enableForces();
    frame([] {
        const ZVlong dac[6] = {8000, 0, 0, 0, 0, 0};
        zvSetLongv(ZV_CURRENT_MOTOR_DAC_VALUES, dac);
    });
    const Vec3 force = appliedForce();
    EXPECT_GT(std::fabs(force[0]) + std::fabs(force[1]) + std::fabs(force[2]), 0.01);
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(Frames, OutputValuesCanOnlyBeSetInsideAFrame) {
    const double force[3] = {0.1, 0.1, 0.1};
    const ZVlong dac[6] = {};
    zvSetDoublev(ZV_CURRENT_FORCE, force);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_FRAME_ERROR, 0, device}}));
    zvSetDoublev(ZV_CURRENT_TORQUE, force);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_FRAME_ERROR, 0, device}}));
    zvSetLongv(ZV_CURRENT_MOTOR_DAC_VALUES, dac);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_FRAME_ERROR, 0, device}}));
    EXPECT_EQ(getVector(ZV_CURRENT_FORCE), (Vec3{0.0, 0.0, 0.0}));
}

// The first snapshot serves as the previous one too.
TEST_F(Frames, OnTheFirstFrameEveryLastValueEqualsItsCurrentValue) {
    const double where[3] = {12.5, -7.25, 4.0};
    ASSERT_EQ(korvo_sim_place_stylus(device, where), 0);
    ASSERT_EQ(korvo_sim_set_buttons(device, 1), 0);
    ASSERT_EQ(korvo_sim_set_switches(device, 0, 1), 0);
    ASSERT_EQ(korvo_sim_set_pinch(device, 0.25), 0);
    const std::pair<ZVenum, ZVenum> doublePairs[] = {
        {ZV_CURRENT_BUTTONS, ZV_LAST_BUTTONS},
        {ZV_CURRENT_PINCH_VALUE, ZV_LAST_PINCH_VALUE},
        {ZV_CURRENT_POSITION, ZV_LAST_POSITION},
        {ZV_CURRENT_VELOCITY, ZV_LAST_VELOCITY},
        {ZV_CURRENT_TRANSFORM, ZV_LAST_TRANSFORM},
        {ZV_CURRENT_ANGULAR_VELOCITY, ZV_LAST_ANGULAR_VELOCITY},
        {ZV_CURRENT_JACOBIAN, ZV_LAST_JACOBIAN},
        {ZV_CURRENT_JOINT_ANGLES, ZV_LAST_JOINT_ANGLES},
        {ZV_CURRENT_GIMBAL_ANGLES, ZV_LAST_GIMBAL_ANGLES},
        {ZV_CURRENT_FORCE, ZV_LAST_FORCE},
        {ZV_CURRENT_TORQUE, ZV_LAST_TORQUE},
    };
    inTick([&] {
        zvBeginFrame(device);
        for (const auto& [current, last] : doublePairs) {
            double a[36], b[36];
            zvGetDoublev(current, a);
            zvGetDoublev(last, b);
            const int count = current == ZV_CURRENT_JACOBIAN ? 36 : current == ZV_CURRENT_TRANSFORM ? 16 : 3;
            for (int i = 0; i < (current == ZV_CURRENT_BUTTONS || current == ZV_CURRENT_PINCH_VALUE ? 1 : count); ++i) {
                EXPECT_EQ(a[i], b[i]) << std::hex << current << " [" << i << "]";
            }
        }
        ZVlong encoders[2][6];
        zvGetLongv(ZV_CURRENT_ENCODER_VALUES, encoders[0]);
        zvGetLongv(ZV_LAST_ENCODER_VALUES, encoders[1]);
        EXPECT_TRUE(std::equal(encoders[0], encoders[0] + 6, encoders[1]));
        ZVboolean switches[4];
        zvGetBooleanv(ZV_CURRENT_SAFETY_SWITCH, &switches[0]);
        zvGetBooleanv(ZV_LAST_SAFETY_SWITCH, &switches[1]);
        zvGetBooleanv(ZV_CURRENT_INKWELL_SWITCH, &switches[2]);
        zvGetBooleanv(ZV_LAST_INKWELL_SWITCH, &switches[3]);
        EXPECT_EQ(switches[0], 1);
        EXPECT_EQ(switches[1], 1);
        EXPECT_EQ(switches[2], 0);
        EXPECT_EQ(switches[3], 0);
        const Vec3 position = getVector(ZV_CURRENT_POSITION);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(position[i], where[i], 0.05);
        }
        double buttons = 0;
        zvGetDoublev(ZV_CURRENT_BUTTONS, &buttons);
        EXPECT_EQ(buttons, 1.0);
        zvEndFrame(device);
    });
    EXPECT_TRUE(drainErrors().empty());
}

// Without a frame in a tick the device's update operation still latches new
// data, so the next frame's previous values come from the last frame, not
// from the skipped ticks.
TEST_F(Frames, LastValuesComeFromThePreviousFrame) {
    frame();
    const Vec3 first = getVector(ZV_CURRENT_POSITION);
    const double target[3] = {first[0] + 20.0, first[1], first[2]};
    ASSERT_EQ(korvo_sim_set_hand_target(device, target), 0);
    ticks(200);
    frame();
    EXPECT_EQ(getVector(ZV_LAST_POSITION), first);
    EXPECT_GT(getVector(ZV_CURRENT_POSITION)[0], first[0] + 1.0);
    EXPECT_TRUE(drainErrors().empty());
}

}  // namespace
}  // namespace zvtest
