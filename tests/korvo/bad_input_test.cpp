// Every exported function meets invalid handles, null pointers and
// out-of-range arguments with a negative code (or the documented neutral
// value), writes nothing and does not crash.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace korvo_test {
namespace {

constexpr unsigned kNotOpen = 9;
constexpr unsigned kHuge = 0xFFFFFFFFu;
constexpr float kSentinel = 12345.0f;

struct Case {
    std::string name;
    std::function<int(unsigned handle)> call;
    int expected;
};

// Output buffers the calls may write; they are checked to be untouched.
struct Buffers {
    float f[16];
    double d[36];
    int32_t i[24];
    int status;
    uint64_t ticks;
    Buffers() { fill(); }
    void fill() {
        for (float& x : f) x = kSentinel;
        for (double& x : d) x = kSentinel;
        for (int32_t& x : i) x = 12345;
        status = 12345;
        ticks = 12345;
    }
    bool untouched() const {
        for (float x : f)
            if (x != kSentinel) return false;
        for (double x : d)
            if (x != kSentinel) return false;
        for (int32_t x : i)
            if (x != 12345) return false;
        return status == 12345 && ticks == 12345;
    }
};

Buffers buffers;

// Calls with a handle: each is made with a handle that is not open.
std::vector<Case> handleCalls() {
    Buffers& b = buffers;
    const float force[6] = {};
    const int32_t dac[6] = {};
    const double xyz[3] = {};
    return {
        {"disable_korvo", [](unsigned h) { return disable_korvo(h); }, KORVO_INVALID_HANDLE},
        {"update_korvo", [](unsigned h) { return update_korvo(h); }, KORVO_INVALID_HANDLE},
        {"is_korvo_forces_enabled", [](unsigned h) { return is_korvo_forces_enabled(h); }, KORVO_INVALID_HANDLE},
        {"enable_korvo_forces", [](unsigned h) { return enable_korvo_forces(h); }, KORVO_INVALID_HANDLE},
        {"disable_korvo_forces", [](unsigned h) { return disable_korvo_forces(h); }, KORVO_INVALID_HANDLE},
        {"get_korvo_pos", [&b](unsigned h) { return get_korvo_pos(h, b.f); }, KORVO_INVALID_HANDLE},
        {"get_korvo_vel", [&b](unsigned h) { return get_korvo_vel(h, b.f); }, KORVO_INVALID_HANDLE},
        {"get_korvo_vel_6dof", [&b](unsigned h) { return get_korvo_vel_6dof(h, b.f); }, KORVO_INVALID_HANDLE},
        {"get_korvo_encoders", [&b](unsigned h) { return get_korvo_encoders(h, b.f); }, KORVO_INVALID_HANDLE},
        {"get_gimbal_encoders", [&b](unsigned h) { return get_gimbal_encoders(h, b.f); }, KORVO_INVALID_HANDLE},
        {"get_stylus_matrix", [&b](unsigned h) { return get_stylus_matrix(h, b.f); }, KORVO_INVALID_HANDLE},
        {"get_korvo_jacobian", [&b](unsigned h) { return get_korvo_jacobian(h, b.d); }, KORVO_INVALID_HANDLE},
        {"get_encoder_values", [&b](unsigned h) { return get_encoder_values(h, b.i); }, KORVO_INVALID_HANDLE},
        {"get_stylus_switch", [](unsigned h) { return get_stylus_switch(h, 0); }, KORVO_INVALID_HANDLE},
        {"get_stylus_presence", [](unsigned h) { return get_stylus_presence(h); }, KORVO_INVALID_HANDLE},
        {"get_inkwell_switch", [](unsigned h) { return get_inkwell_switch(h); }, KORVO_INVALID_HANDLE},
        {"get_korvo_info", [&b](unsigned h) { return get_korvo_info(h, b.i, KORVO_INFO_SIZE); }, KORVO_INVALID_HANDLE},
        {"get_hardware_rev", [](unsigned h) { return get_hardware_rev(h); }, KORVO_INVALID_HANDLE},
        {"get_status_light", [](unsigned h) { return get_status_light(h); }, KORVO_INVALID_HANDLE},
        {"get_korvo_temp_normalized", [&b](unsigned h) { return get_korvo_temp_normalized(h, b.f); },
         KORVO_INVALID_HANDLE},
        {"get_korvo_temp_normalized_6dof", [&b](unsigned h) { return get_korvo_temp_normalized_6dof(h, b.f); },
         KORVO_INVALID_HANDLE},
        {"send_korvo_force_6dof", [force](unsigned h) { return send_korvo_force_6dof(h, force); },
         KORVO_INVALID_HANDLE},
        {"command_motor_dac_values", [dac](unsigned h) { return command_motor_dac_values(h, dac); },
         KORVO_INVALID_HANDLE},
        {"set_korvo_max_velocity", [](unsigned h) { return set_korvo_max_velocity(h, 100.0f); }, KORVO_INVALID_HANDLE},
        {"set_korvo_force_kick_safety", [](unsigned h) { return set_korvo_force_kick_safety(h, 1.0f); },
         KORVO_INVALID_HANDLE},
        {"set_korvo_ramp_forces_rate", [](unsigned h) { return set_korvo_ramp_forces_rate(h, 1.0f); },
         KORVO_INVALID_HANDLE},
        {"enable_korvo_velocity_check", [](unsigned h) { return enable_korvo_velocity_check(h, 1); },
         KORVO_INVALID_HANDLE},
        {"enable_korvo_force_check", [](unsigned h) { return enable_korvo_force_check(h, 1); }, KORVO_INVALID_HANDLE},
        {"enable_korvo_force_kick_safety", [](unsigned h) { return enable_korvo_force_kick_safety(h, 1); },
         KORVO_INVALID_HANDLE},
        {"enable_korvo_ramp_forces", [](unsigned h) { return enable_korvo_ramp_forces(h, 1); }, KORVO_INVALID_HANDLE},
        {"truncate_force_saturation", [](unsigned h) { return truncate_force_saturation(h); }, KORVO_INVALID_HANDLE},
        {"zero_force_saturation", [](unsigned h) { return zero_force_saturation(h); }, KORVO_INVALID_HANDLE},
        {"set_joint_angle_references", [force](unsigned h) { return set_joint_angle_references(h, force); },
         KORVO_INVALID_HANDLE},
        {"override_status_light", [](unsigned h) { return override_status_light(h, 1); }, KORVO_INVALID_HANDLE},
        {"restore_status_light", [](unsigned h) { return restore_status_light(h); }, KORVO_INVALID_HANDLE},
        {"get_calibration_status", [&b](unsigned h) { return get_calibration_status(h, &b.status); },
         KORVO_INVALID_HANDLE},
        {"update_calibration", [](unsigned h) { return update_calibration(h); }, KORVO_INVALID_HANDLE},
        {"korvo_reset", [](unsigned h) { return korvo_reset(h); }, KORVO_INVALID_HANDLE},
        {"korvo_sim_set_hand_target", [xyz](unsigned h) { return korvo_sim_set_hand_target(h, xyz); },
         KORVO_INVALID_HANDLE},
        {"korvo_sim_set_hand_gains", [](unsigned h) { return korvo_sim_set_hand_gains(h, 1, 0.01); },
         KORVO_INVALID_HANDLE},
        {"korvo_sim_place_stylus", [xyz](unsigned h) { return korvo_sim_place_stylus(h, xyz); }, KORVO_INVALID_HANDLE},
        {"korvo_sim_set_gimbal_angles", [xyz](unsigned h) { return korvo_sim_set_gimbal_angles(h, xyz); },
         KORVO_INVALID_HANDLE},
        {"korvo_sim_set_buttons", [](unsigned h) { return korvo_sim_set_buttons(h, 1); }, KORVO_INVALID_HANDLE},
        {"korvo_sim_set_switches", [](unsigned h) { return korvo_sim_set_switches(h, 1, 1); }, KORVO_INVALID_HANDLE},
        {"korvo_sim_set_pinch", [](unsigned h) { return korvo_sim_set_pinch(h, 0.5); }, KORVO_INVALID_HANDLE},
        {"korvo_sim_load_trajectory", [](unsigned h) { return korvo_sim_load_trajectory(h, nullptr); },
         KORVO_INVALID_HANDLE},
        {"korvo_sim_inject_fault", [](unsigned h) { return korvo_sim_inject_fault(h, -17); }, KORVO_INVALID_HANDLE},
        {"korvo_sim_set_persistent_fault", [](unsigned h) { return korvo_sim_set_persistent_fault(h, -17); },
         KORVO_INVALID_HANDLE},
        {"korvo_sim_set_calibration_status", [](unsigned h) { return korvo_sim_set_calibration_status(h, 0); },
         KORVO_INVALID_HANDLE},
        {"korvo_sim_set_motor_temperatures", [xyz](unsigned h) { return korvo_sim_set_motor_temperatures(h, xyz, 3); },
         KORVO_INVALID_HANDLE},
        {"korvo_sim_get_true_state", [&b](unsigned h) { return korvo_sim_get_true_state(h, b.d, b.d + 3, b.d + 6); },
         KORVO_INVALID_HANDLE},
        {"korvo_sim_set_hand_force", [xyz](unsigned h) { return korvo_sim_set_hand_force(h, xyz); },
         KORVO_INVALID_HANDLE},
        {"korvo_sim_set_friction", [](unsigned h) { return korvo_sim_set_friction(h, 0, 0); }, KORVO_INVALID_HANDLE},
        {"korvo_sim_set_encoder_quantisation", [](unsigned h) { return korvo_sim_set_encoder_quantisation(h, 0); },
         KORVO_INVALID_HANDLE},
    };
}

// Calls with an open handle and a bad argument.
std::vector<Case> argumentCalls() {
    Buffers& b = buffers;
    const float nanForce[6] = {NAN, 0, 0, 0, 0, 0};
    const double nan3[3] = {0, NAN, 0};
    const double far3[3] = {0, 0, 1e6};
    const double hot[3] = {0, 200, 0};
    return {
        {"get_korvo_pos(null)", [](unsigned h) { return get_korvo_pos(h, nullptr); }, KORVO_INVALID_ARGUMENT},
        {"get_korvo_vel(null)", [](unsigned h) { return get_korvo_vel(h, nullptr); }, KORVO_INVALID_ARGUMENT},
        {"get_korvo_vel_6dof(null)", [](unsigned h) { return get_korvo_vel_6dof(h, nullptr); }, KORVO_INVALID_ARGUMENT},
        {"get_korvo_encoders(null)", [](unsigned h) { return get_korvo_encoders(h, nullptr); }, KORVO_INVALID_ARGUMENT},
        {"get_gimbal_encoders(null)", [](unsigned h) { return get_gimbal_encoders(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"get_stylus_matrix(null)", [](unsigned h) { return get_stylus_matrix(h, nullptr); }, KORVO_INVALID_ARGUMENT},
        {"get_korvo_jacobian(null)", [](unsigned h) { return get_korvo_jacobian(h, nullptr); }, KORVO_INVALID_ARGUMENT},
        {"get_encoder_values(null)", [](unsigned h) { return get_encoder_values(h, nullptr); }, KORVO_INVALID_ARGUMENT},
        {"get_stylus_switch(-1)", [](unsigned h) { return get_stylus_switch(h, -1); }, KORVO_INVALID_INDEX},
        {"get_stylus_switch(3)", [](unsigned h) { return get_stylus_switch(h, 3); }, KORVO_INVALID_INDEX},
        {"get_korvo_info(null)", [](unsigned h) { return get_korvo_info(h, nullptr, KORVO_INFO_SIZE); },
         KORVO_INVALID_ARGUMENT},
        {"get_korvo_info(small)", [&b](unsigned h) { return get_korvo_info(h, b.i, 4); }, KORVO_INVALID_ARGUMENT},
        {"get_korvo_info(negative)", [&b](unsigned h) { return get_korvo_info(h, b.i, -96); }, KORVO_INVALID_ARGUMENT},
        {"get_korvo_temp_normalized(null)", [](unsigned h) { return get_korvo_temp_normalized(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"get_korvo_temp_normalized_6dof(null)", [](unsigned h) { return get_korvo_temp_normalized_6dof(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"send_korvo_force_6dof(null)", [](unsigned h) { return send_korvo_force_6dof(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"send_korvo_force_6dof(nan)", [nanForce](unsigned h) { return send_korvo_force_6dof(h, nanForce); },
         KORVO_NON_FINITE_VALUE},
        {"command_motor_dac_values(null)", [](unsigned h) { return command_motor_dac_values(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"set_korvo_max_velocity(0)", [](unsigned h) { return set_korvo_max_velocity(h, 0.0f); }, KORVO_OUT_OF_RANGE},
        {"set_korvo_max_velocity(nan)", [](unsigned h) { return set_korvo_max_velocity(h, NAN); },
         KORVO_NON_FINITE_VALUE},
        {"set_korvo_force_kick_safety(-1)", [](unsigned h) { return set_korvo_force_kick_safety(h, -1.0f); },
         KORVO_OUT_OF_RANGE},
        {"set_korvo_force_kick_safety(inf)", [](unsigned h) { return set_korvo_force_kick_safety(h, INFINITY); },
         KORVO_NON_FINITE_VALUE},
        {"set_korvo_ramp_forces_rate(0)", [](unsigned h) { return set_korvo_ramp_forces_rate(h, 0.0f); },
         KORVO_OUT_OF_RANGE},
        {"enable_korvo_velocity_check(2)", [](unsigned h) { return enable_korvo_velocity_check(h, 2); },
         KORVO_OUT_OF_RANGE},
        {"enable_korvo_force_check(-1)", [](unsigned h) { return enable_korvo_force_check(h, -1); },
         KORVO_OUT_OF_RANGE},
        {"enable_korvo_force_kick_safety(7)", [](unsigned h) { return enable_korvo_force_kick_safety(h, 7); },
         KORVO_OUT_OF_RANGE},
        {"enable_korvo_ramp_forces(2)", [](unsigned h) { return enable_korvo_ramp_forces(h, 2); }, KORVO_OUT_OF_RANGE},
        {"set_joint_angle_references(null)", [](unsigned h) { return set_joint_angle_references(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"override_status_light(-1)", [](unsigned h) { return override_status_light(h, -1); }, KORVO_OUT_OF_RANGE},
        {"get_calibration_status(null)", [](unsigned h) { return get_calibration_status(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"korvo_sim_set_hand_target(null)", [](unsigned h) { return korvo_sim_set_hand_target(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"korvo_sim_set_hand_target(nan)", [nan3](unsigned h) { return korvo_sim_set_hand_target(h, nan3); },
         KORVO_NON_FINITE_VALUE},
        {"korvo_sim_set_hand_target(far)", [far3](unsigned h) { return korvo_sim_set_hand_target(h, far3); },
         KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_hand_gains(-1)", [](unsigned h) { return korvo_sim_set_hand_gains(h, -1, 0); },
         KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_hand_gains(nan)", [](unsigned h) { return korvo_sim_set_hand_gains(h, 1, NAN); },
         KORVO_NON_FINITE_VALUE},
        {"korvo_sim_set_hand_force(null)", [](unsigned h) { return korvo_sim_set_hand_force(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"korvo_sim_set_hand_force(nan)", [nan3](unsigned h) { return korvo_sim_set_hand_force(h, nan3); },
         KORVO_NON_FINITE_VALUE},
        {"korvo_sim_set_hand_force(huge)", [far3](unsigned h) { return korvo_sim_set_hand_force(h, far3); },
         KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_friction(-1)", [](unsigned h) { return korvo_sim_set_friction(h, -1, 0); }, KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_friction(coulomb 11)", [](unsigned h) { return korvo_sim_set_friction(h, 0, 11); },
         KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_friction(nan)", [](unsigned h) { return korvo_sim_set_friction(h, NAN, 0); },
         KORVO_NON_FINITE_VALUE},
        {"korvo_sim_set_encoder_quantisation(2)", [](unsigned h) { return korvo_sim_set_encoder_quantisation(h, 2); },
         KORVO_OUT_OF_RANGE},
        {"korvo_sim_place_stylus(null)", [](unsigned h) { return korvo_sim_place_stylus(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"korvo_sim_place_stylus(nan)", [nan3](unsigned h) { return korvo_sim_place_stylus(h, nan3); },
         KORVO_NON_FINITE_VALUE},
        {"korvo_sim_place_stylus(far)", [far3](unsigned h) { return korvo_sim_place_stylus(h, far3); },
         KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_gimbal_angles(null)", [](unsigned h) { return korvo_sim_set_gimbal_angles(h, nullptr); },
         KORVO_INVALID_ARGUMENT},
        {"korvo_sim_set_gimbal_angles(nan)", [nan3](unsigned h) { return korvo_sim_set_gimbal_angles(h, nan3); },
         KORVO_NON_FINITE_VALUE},
        {"korvo_sim_set_buttons(8)", [](unsigned h) { return korvo_sim_set_buttons(h, 8); }, KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_buttons(-1)", [](unsigned h) { return korvo_sim_set_buttons(h, -1); }, KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_switches(2)", [](unsigned h) { return korvo_sim_set_switches(h, 2, 0); }, KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_pinch(2)", [](unsigned h) { return korvo_sim_set_pinch(h, 2.0); }, KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_pinch(nan)", [](unsigned h) { return korvo_sim_set_pinch(h, NAN); }, KORVO_NON_FINITE_VALUE},
        {"korvo_sim_inject_fault(1)", [](unsigned h) { return korvo_sim_inject_fault(h, 1); }, KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_persistent_fault(3)", [](unsigned h) { return korvo_sim_set_persistent_fault(h, 3); },
         KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_calibration_status(-1)", [](unsigned h) { return korvo_sim_set_calibration_status(h, -1); },
         KORVO_OUT_OF_RANGE},
        {"korvo_sim_set_motor_temperatures(null)",
         [](unsigned h) { return korvo_sim_set_motor_temperatures(h, nullptr, 3); }, KORVO_INVALID_ARGUMENT},
        {"korvo_sim_set_motor_temperatures(count)",
         [hot](unsigned h) { return korvo_sim_set_motor_temperatures(h, hot, 2); }, KORVO_INVALID_ARGUMENT},
        {"korvo_sim_set_motor_temperatures(hot)",
         [hot](unsigned h) { return korvo_sim_set_motor_temperatures(h, hot, 3); }, KORVO_OUT_OF_RANGE},
        {"korvo_sim_get_true_state(null)",
         [&b](unsigned h) { return korvo_sim_get_true_state(h, b.d, b.d + 3, nullptr); }, KORVO_INVALID_ARGUMENT},
        {"korvo_sim_get_true_state(null velocity)",
         [&b](unsigned h) { return korvo_sim_get_true_state(h, b.d, nullptr, b.d + 6); }, KORVO_INVALID_ARGUMENT},
    };
}

class BadHandleTest : public SimTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(BadHandleTest, EveryDeviceCallRefusesAHandleThatIsNotOpen) {
    open();
    for (const Case& c : handleCalls()) {
        buffers.fill();
        EXPECT_EQ(c.call(GetParam()), c.expected) << c.name;
        EXPECT_TRUE(buffers.untouched()) << c.name;
    }
}

// Calls without an error channel return the neutral value.
TEST_P(BadHandleTest, ValueCallsReturnNeutralValuesForAHandleThatIsNotOpen) {
    open();
    const unsigned h = GetParam();
    using FloatCall = float (*)(KorvoHandle);
    const FloatCall floats[] = {get_korvo_rate,
                                get_korvo_inst_rate,
                                get_korvo_nominal_max_stiffness,
                                get_korvo_nominal_max_damping,
                                get_korvo_nominal_max_force,
                                get_korvo_nominal_max_continuous_force,
                                get_korvo_nominal_max_torque_stiffness,
                                get_korvo_nominal_max_torque_damping,
                                get_korvo_nominal_max_torque_force,
                                get_korvo_nominal_max_torque_continuous_force,
                                get_korvo_max_velocity,
                                get_korvo_force_kick_safety,
                                get_korvo_ramp_forces_rate};
    for (FloatCall f : floats) EXPECT_EQ(f(h), 0.0f);
    using BoolCall = korvo_bool (*)(KorvoHandle);
    const BoolCall bools[] = {is_korvo_velocity_check_enabled,    is_korvo_force_check_enabled,
                              is_korvo_force_kick_safety_enabled, is_korvo_ramp_forces_enabled,
                              is_force_saturation_enabled,        is_status_light_enabled,
                              is_calibration_supported,           is_korvo_reset_supported};
    for (BoolCall f : bools) EXPECT_EQ(f(h), 0);
    using StringCall = const char* (*)(KorvoHandle);
    const StringCall strings[] = {get_korvo_model_type, get_library_version, get_vendor_string,
                                  get_hardware_serial_number};
    for (StringCall f : strings) {
        ASSERT_NE(f(h), nullptr);
        EXPECT_STREQ(f(h), "");
    }
    EXPECT_EQ(get_pinch_value(h), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Handles, BadHandleTest, ::testing::Values(kNotOpen, 16u, kHuge));

TEST_F(SimTest, EveryDeviceCallRefusesBadArgumentsWithoutWriting) {
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(enable_korvo_forces(h), 0);
    for (const Case& c : argumentCalls()) {
        buffers.fill();
        EXPECT_EQ(c.call(h), c.expected) << c.name;
        EXPECT_TRUE(buffers.untouched()) << c.name;
    }
}

TEST_F(SimTest, CallsWithoutDeviceRefuseBadArguments) {
    EXPECT_EQ(init_korvo("definitely not a device"), KORVO_DEVICE_NOT_FOUND);
    EXPECT_EQ(setServoLoopRate(0), KORVO_SERVO_BAD_RATE);
    EXPECT_EQ(setServoLoopRate(1u << 31), KORVO_SERVO_BAD_RATE);
    EXPECT_EQ(startServoLoop(nullptr, nullptr), KORVO_SERVO_NO_CALLBACK);
    EXPECT_EQ(korvo_sim_get_time(nullptr, &buffers.ticks), KORVO_INVALID_ARGUMENT);
    EXPECT_EQ(korvo_sim_get_time(buffers.d, nullptr), KORVO_INVALID_ARGUMENT);
    EXPECT_EQ(korvo_sim_get_tick_lateness(nullptr), KORVO_INVALID_ARGUMENT);
    EXPECT_EQ(korvo_sim_inject_init_fault(2), KORVO_OUT_OF_RANGE);
    EXPECT_EQ(korvo_sim_inject_servo_error(2), KORVO_OUT_OF_RANGE);
    EXPECT_EQ(korvo_sim_run_ticks(5), KORVO_SIM_E_NOT_RUNNING);
    EXPECT_EQ(korvo_sim_open_trace(""), KORVO_SIM_E_FILE);
    EXPECT_EQ(korvo_sim_open_trace(nullptr), 0);
    EXPECT_EQ(setPreServoCallback(nullptr, nullptr), 0);
    EXPECT_EQ(setPostServoCallback(nullptr, nullptr), 0);
    EXPECT_EQ(setServoErrorCallback(nullptr, nullptr), 0);
    EXPECT_EQ(getServoLoopTimeStamp(), 0.0);
}

}  // namespace
}  // namespace korvo_test
