// Opening devices by name, the facts each model reports, the environment
// switches and the readings of a stylus at rest.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "sim_fixture.h"

namespace korvo_test {
namespace {

using DeviceTest = SimTest;

TEST_F(DeviceTest, DefaultDeviceAnswersToEveryNameOfIt) {
    const int h = open("");
    EXPECT_EQ(init_korvo(nullptr), h);
    EXPECT_EQ(init_korvo("Korvo Arm 3G"), h);
    EXPECT_EQ(init_korvo("ARM3G"), h);
    EXPECT_STREQ(get_korvo_model_type(static_cast<unsigned>(h)), "Korvo Arm 3G");
}

TEST_F(DeviceTest, DifferentDevicesAreOpenTogetherWithDistinctHandles) {
    const int a = open("arm3g");
    const int b = open("Korvo Arm 6");
    const int c = open("mini");
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_NE(a, c);
    EXPECT_STREQ(get_korvo_model_type(static_cast<unsigned>(b)), "Korvo Arm 6");
    EXPECT_STREQ(get_korvo_model_type(static_cast<unsigned>(c)), "Korvo Mini");
    for (int h : {a, b, c}) {
        EXPECT_GE(h, 0);
        EXPECT_LT(h, 16);
    }
}

TEST_F(DeviceTest, UnknownNameIsNotFound) {
    EXPECT_EQ(init_korvo("no such arm"), KORVO_DEVICE_NOT_FOUND);
    EXPECT_EQ(init_korvo("arm3"), KORVO_DEVICE_NOT_FOUND);
}

TEST_F(DeviceTest, ClosedHandleIsInvalidUntilTheDeviceIsOpenedAgain) {
    const int h = open();
    float p[3] = {7, 7, 7};
    ASSERT_EQ(disable_korvo(static_cast<unsigned>(h)), 0);
    EXPECT_EQ(get_korvo_pos(static_cast<unsigned>(h), p), KORVO_INVALID_HANDLE);
    EXPECT_EQ(p[0], 7.0f);
    EXPECT_EQ(disable_korvo(static_cast<unsigned>(h)), KORVO_INVALID_HANDLE);
    EXPECT_STREQ(get_korvo_model_type(static_cast<unsigned>(h)), "");
    EXPECT_GE(open(), 0);
}

TEST_F(DeviceTest, InjectedInitFaultFailsExactlyTheNextOpen) {
    ASSERT_EQ(korvo_sim_inject_init_fault(KORVO_COMM_ERROR), 0);
    EXPECT_EQ(init_korvo(""), KORVO_COMM_ERROR);
    EXPECT_GE(init_korvo(""), 0);
    EXPECT_EQ(korvo_sim_inject_init_fault(5), KORVO_OUT_OF_RANGE);
}

struct ModelFacts {
    const char* name;
    int sixDofInput;
    int sixDofOutput;
    int automatic;
    int inkwell;
};

void PrintTo(const ModelFacts& m, std::ostream* os) { *os << m.name; }

class ModelInfoTest : public SimTest, public ::testing::WithParamInterface<ModelFacts> {};

// The information record must describe a plausible device: flags as the
// model promises, a usable box inside the maximum box, both around the
// origin, and nominal limits in the range of desktop arms.
TEST_P(ModelInfoTest, InformationRecordDescribesTheModel) {
    const ModelFacts m = GetParam();
    const auto h = static_cast<unsigned>(open(m.name));
    int32_t info[KORVO_INFO_COUNT];
    ASSERT_EQ(get_korvo_info(h, info, KORVO_INFO_SIZE), 0);
    EXPECT_EQ(info[KORVO_INFO_6DOF_INPUT], m.sixDofInput);
    EXPECT_EQ(info[KORVO_INFO_6DOF_OUTPUT], m.sixDofOutput);
    EXPECT_EQ(info[KORVO_INFO_AUTO_CALIBRATION], m.automatic);
    EXPECT_EQ(info[KORVO_INFO_INKWELL_CALIBRATION], m.inkwell);
    for (int axis = 0; axis < 3; ++axis) {
        const int lo = info[KORVO_INFO_USABLE_X_LOW + 2 * axis], hi = info[KORVO_INFO_USABLE_X_HIGH + 2 * axis];
        const int mlo = info[KORVO_INFO_MAX_X_LOW + 2 * axis], mhi = info[KORVO_INFO_MAX_X_HIGH + 2 * axis];
        EXPECT_LT(lo, 0);
        EXPECT_GT(hi, 0);
        EXPECT_LE(mlo, lo);
        EXPECT_GE(mhi, hi);
    }
    EXPECT_GT(info[KORVO_INFO_TABLETOP_OFFSET], -info[KORVO_INFO_MAX_Y_LOW]);
    EXPECT_GE(get_korvo_nominal_max_stiffness(h), 0.9f);
    EXPECT_LE(get_korvo_nominal_max_stiffness(h), 2.5f);
    EXPECT_GE(get_korvo_nominal_max_force(h), 3.0f);
    EXPECT_LE(get_korvo_nominal_max_force(h), 8.0f);
    EXPECT_GE(get_korvo_nominal_max_continuous_force(h), 0.9f);
    EXPECT_LE(get_korvo_nominal_max_continuous_force(h), 2.0f);
    EXPECT_GT(get_korvo_nominal_max_damping(h), 0.0f);
    EXPECT_EQ(get_korvo_nominal_max_torque_force(h) > 0.0f, m.sixDofOutput == 1);
    EXPECT_EQ(get_korvo_nominal_max_torque_continuous_force(h) > 0.0f, m.sixDofOutput == 1);
    EXPECT_STREQ(get_vendor_string(h), "Korvo Haptics");
    EXPECT_STREQ(get_library_version(h), "4.2.0");
    EXPECT_GT(std::strlen(get_hardware_serial_number(h)), 0u);
    EXPECT_GT(get_hardware_rev(h), 0);
    EXPECT_FLOAT_EQ(get_korvo_rate(h), 1000.0f);
}

INSTANTIATE_TEST_SUITE_P(Models, ModelInfoTest,
                         ::testing::Values(ModelFacts{"arm3g", 1, 0, 1, 0}, ModelFacts{"arm6", 1, 1, 0, 1},
                                           ModelFacts{"mini", 0, 0, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Sample programs render a sphere of radius 40 around the origin.
TEST_F(DeviceTest, DefaultUsableWorkspaceHoldsASphereOfRadius40) {
    const auto h = static_cast<unsigned>(open());
    int32_t info[KORVO_INFO_COUNT];
    ASSERT_EQ(get_korvo_info(h, info, KORVO_INFO_SIZE), 0);
    for (int i = KORVO_INFO_USABLE_X_LOW; i <= KORVO_INFO_USABLE_Z_HIGH; ++i) EXPECT_GE(std::abs(info[i]), 40);
}

TEST_F(DeviceTest, InformationRecordNeedsRoomForAllEntries) {
    const auto h = static_cast<unsigned>(open());
    int32_t info[KORVO_INFO_COUNT] = {};
    info[0] = 99;
    EXPECT_EQ(get_korvo_info(h, info, KORVO_INFO_SIZE - 1), KORVO_INVALID_ARGUMENT);
    EXPECT_EQ(info[0], 99);
    EXPECT_EQ(get_korvo_info(h, nullptr, KORVO_INFO_SIZE), KORVO_INVALID_ARGUMENT);
}

// At rest every read describes the same pose: the stylus at the centre, no
// motion, a transform whose translation is the position, joint angles that
// are the encoder counts scaled.
TEST_F(DeviceTest, StylusAtRestReadsConsistently) {
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(update_korvo(h), 0);
    float p[3], v[6], m[16], q[3], g[3];
    int32_t counts[6];
    ASSERT_EQ(get_korvo_pos(h, p), 0);
    ASSERT_EQ(get_korvo_vel_6dof(h, v), 0);
    ASSERT_EQ(get_stylus_matrix(h, m), 0);
    ASSERT_EQ(get_korvo_encoders(h, q), 0);
    ASSERT_EQ(get_gimbal_encoders(h, g), 0);
    ASSERT_EQ(get_encoder_values(h, counts), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(p[i], 0.0, 0.05);
        EXPECT_EQ(m[12 + i], p[i]);
        EXPECT_NEAR(q[i] * 10000.0, counts[i], 0.5);
        EXPECT_EQ(g[i], 0.0f);
        EXPECT_EQ(counts[3 + i], 0);
    }
    for (float x : v) EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(m[15], 1.0f);
    EXPECT_EQ(get_stylus_presence(h), 1);
    EXPECT_EQ(get_inkwell_switch(h), 0);
    for (int b = 0; b < 3; ++b) EXPECT_EQ(get_stylus_switch(h, b), 0);
    EXPECT_EQ(is_korvo_forces_enabled(h), 0);
    EXPECT_EQ(get_pinch_value(h), 0.0);
}

TEST_F(DeviceTest, InputsAreSeenAfterTheNextUpdate) {
    const auto h = static_cast<unsigned>(open("arm6"));
    ASSERT_EQ(korvo_sim_set_buttons(h, 5), 0);
    ASSERT_EQ(korvo_sim_set_switches(h, 1, 0), 0);
    ASSERT_EQ(korvo_sim_set_pinch(h, 0.25), 0);
    EXPECT_EQ(get_stylus_switch(h, 0), 0);
    ASSERT_EQ(update_korvo(h), 0);
    EXPECT_NE(get_stylus_switch(h, 0), 0);
    EXPECT_EQ(get_stylus_switch(h, 1), 0);
    EXPECT_NE(get_stylus_switch(h, 2), 0);
    EXPECT_EQ(get_stylus_switch(h, 3), KORVO_INVALID_INDEX);
    EXPECT_EQ(get_inkwell_switch(h), 1);
    EXPECT_EQ(get_stylus_presence(h), 0);
    EXPECT_DOUBLE_EQ(get_pinch_value(h), 0.25);
}

TEST_F(DeviceTest, ButtonsAModelLacksNeverRead) {
    const auto h = static_cast<unsigned>(open("mini"));
    ASSERT_EQ(korvo_sim_set_buttons(h, 7), 0);
    ASSERT_EQ(korvo_sim_set_switches(h, 1, 1), 0);
    ASSERT_EQ(update_korvo(h), 0);
    EXPECT_NE(get_stylus_switch(h, 0), 0);
    EXPECT_EQ(get_stylus_switch(h, 1), 0);
    EXPECT_EQ(get_stylus_switch(h, 2), 0);
    EXPECT_EQ(get_inkwell_switch(h), 0);
}

// ---------------------------------------------------------------- environment

TEST_F(DeviceTest, EnvironmentChoosesTheDefaultModel) {
    ASSERT_EQ(setenv("KORVO_SIM_MODEL", "mini", 1), 0);
    const int h = open("");
    EXPECT_STREQ(get_korvo_model_type(static_cast<unsigned>(h)), "Korvo Mini");
    EXPECT_EQ(init_korvo("Korvo Mini"), h);
    EXPECT_NE(init_korvo("arm3g"), h);
    ASSERT_EQ(setenv("KORVO_SIM_MODEL", "nonexistent", 1), 0);
    EXPECT_EQ(init_korvo("arm6"), 2);
    EXPECT_EQ(init_korvo(""), KORVO_DEVICE_NOT_FOUND);
    unsetenv("KORVO_SIM_MODEL");
}

TEST_F(DeviceTest, EnvironmentCanRemoveTheDevice) {
    ASSERT_EQ(setenv("KORVO_SIM_NO_DEVICE", "1", 1), 0);
    EXPECT_EQ(init_korvo(""), KORVO_DEVICE_NOT_PRESENT);
    EXPECT_EQ(init_korvo("mini"), KORVO_DEVICE_NOT_PRESENT);
    ASSERT_EQ(setenv("KORVO_SIM_NO_DEVICE", "0", 1), 0);
    EXPECT_GE(init_korvo(""), 0);
    unsetenv("KORVO_SIM_NO_DEVICE");
}

TEST_F(DeviceTest, UnusableEnvironmentFilesFailTheOpen) {
    ASSERT_EQ(setenv("KORVO_SIM_TRAJECTORY", "/nonexistent/dir/path.csv", 1), 0);
    EXPECT_EQ(init_korvo(""), KORVO_CONFIG_READ_ERROR);
    EXPECT_GE(init_korvo("mini"), 0) << "the trajectory only concerns the default device";
    unsetenv("KORVO_SIM_TRAJECTORY");
    ASSERT_EQ(setenv("KORVO_SIM_TRACE", "/nonexistent/dir/trace.csv", 1), 0);
    EXPECT_EQ(init_korvo(""), KORVO_CONFIG_READ_ERROR);
    unsetenv("KORVO_SIM_TRACE");
    EXPECT_GE(init_korvo(""), 0);
}

// Planned faults reach the default device at their times of the device's
// clock (1000 ticks per second here): a one-shot code is met once, a
// persistent one until a later entry clears it.
TEST_F(DeviceTest, EnvironmentSchedulesFaultsOnTheDefaultDevice) {
    ASSERT_EQ(setenv("KORVO_SIM_FAULTS", "0.05:-17,0.1:-4:persistent,0.2:0:persistent", 1), 0);
    const int h = open("");
    const int other = open("mini");
    unsetenv("KORVO_SIM_FAULTS");
    const auto u = static_cast<unsigned>(h);
    start();
    run(49);
    EXPECT_EQ(update_korvo(u), KORVO_OK);
    run(1);
    EXPECT_EQ(update_korvo(u), KORVO_COMM_ERROR);
    EXPECT_EQ(update_korvo(u), KORVO_OK) << "one-shot";
    EXPECT_EQ(update_korvo(static_cast<unsigned>(other)), KORVO_OK) << "only the default device";
    run(50);
    EXPECT_EQ(update_korvo(u), KORVO_DEVICE_FAULT);
    EXPECT_EQ(update_korvo(u), KORVO_DEVICE_FAULT) << "persistent";
    run(100);
    EXPECT_EQ(update_korvo(u), KORVO_OK) << "cleared by the later entry";
}

TEST_F(DeviceTest, MalformedFaultListFailsTheOpen) {
    ASSERT_EQ(setenv("KORVO_SIM_FAULTS", "2.5:-17,soon:-4", 1), 0);
    EXPECT_EQ(init_korvo(""), KORVO_CONFIG_READ_ERROR);
    EXPECT_GE(init_korvo("mini"), 0) << "the fault list only concerns the default device";
    unsetenv("KORVO_SIM_FAULTS");
    EXPECT_GE(init_korvo(""), 0);
}

TEST_F(DeviceTest, OverrunToleranceComesFromTheEnvironment) {
    struct Case {
        const char* value;
        bool opens;
    };
    for (const Case c : {Case{"0", true}, Case{"250", true}, Case{"1000000", true}, Case{"-1", false},
                         Case{"ten", false}, Case{"5ms", false}, Case{"1000001", false}}) {
        SCOPED_TRACE(c.value);
        ASSERT_EQ(setenv("KORVO_SIM_OVERRUN_TOLERANCE", c.value, 1), 0);
        const int h = init_korvo("");
        if (c.opens) {
            ASSERT_GE(h, 0);
            EXPECT_EQ(disable_korvo(static_cast<unsigned>(h)), 0);
        } else {
            EXPECT_EQ(h, KORVO_CONFIG_READ_ERROR);
        }
    }
    unsetenv("KORVO_SIM_OVERRUN_TOLERANCE");
}

TEST_F(DeviceTest, EnvironmentDrivesTheDefaultDeviceAndTracesIt) {
    const std::string trajectory = tempPath(".csv");
    const std::string trace = tempPath(".trace.csv");
    {
        std::ofstream out(trajectory);
        out << "0, 0, 0, 0, 0\n0.05, 10, 0, 0, 1\n";
    }
    ASSERT_EQ(setenv("KORVO_SIM_TRAJECTORY", trajectory.c_str(), 1), 0);
    ASSERT_EQ(setenv("KORVO_SIM_TRACE", trace.c_str(), 1), 0);
    const int h = open("");
    unsetenv("KORVO_SIM_TRAJECTORY");
    unsetenv("KORVO_SIM_TRACE");
    start();
    run(200);
    ASSERT_EQ(korvo_sim_open_trace(nullptr), 0);
    EXPECT_NEAR(truePosition(h)[0], 10.0, 0.5);
    ASSERT_EQ(update_korvo(static_cast<unsigned>(h)), 0);
    EXPECT_NE(get_stylus_switch(static_cast<unsigned>(h), 0), 0);
    std::ifstream in(trace);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) ++lines;
    EXPECT_EQ(lines, 201);
}

}  // namespace
}  // namespace korvo_test
