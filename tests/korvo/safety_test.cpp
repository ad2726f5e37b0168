// What the device does with commands that real hardware guards against:
// saturation, the force, velocity and kick checks, ramping, warm motors,
// injected faults, calibration and the status light.
#include <cmath>

#include "sim_fixture.h"

namespace korvo_test {
namespace {

using SafetyTest = SimTest;

struct SaturationCase {
    const char* name;
    bool truncate;
    bool forceCheck;
    Vec command;
    int code;
    Vec applied;
};

void PrintTo(const SaturationCase& c, std::ostream* os) { *os << c.name; }

class SaturationTest : public SimTest, public ::testing::WithParamInterface<SaturationCase> {};

// Nominal maximum of the default device: 6 N.
TEST_P(SaturationTest, OverMaximumForceIsTruncatedZeroedOrRefused) {
    const SaturationCase c = GetParam();
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(enable_korvo_forces(h), 0);
    ASSERT_EQ(c.truncate ? truncate_force_saturation(h) : zero_force_saturation(h), 0);
    EXPECT_EQ(is_force_saturation_enabled(h), c.truncate ? 1 : 0);
    ASSERT_EQ(enable_korvo_force_check(h, c.forceCheck ? 1 : 0), 0);
    ASSERT_EQ(sendForce(static_cast<int>(h), 0.5, 0.5, 0.5), 0);
    EXPECT_EQ(sendForce(static_cast<int>(h), c.command[0], c.command[1], c.command[2]), c.code);
    const Vec f = appliedForce(static_cast<int>(h));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(f[i], c.applied[i], 1e-5);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SaturationTest,
    ::testing::Values(
        SaturationCase{"TruncateKeepsDirection", true, false, {0, 6, 8}, 0, {0, 3.6, 4.8}},
        SaturationCase{"ZeroDropsForce", false, false, {0, 6, 8}, 0, {0, 0, 0}},
        SaturationCase{"TruncateLeavesSmallForce", true, false, {3, 0, -4}, 0, {3, 0, -4}},
        SaturationCase{"ZeroLeavesSmallForce", false, false, {3, 0, -4}, 0, {3, 0, -4}},
        SaturationCase{"CheckRefusesWhateverTheMode", true, true, {0, 6, 8}, KORVO_EXCEEDED_MAX_FORCE, {0, 0, 0}},
        SaturationCase{"CheckRefusesInZeroMode", false, true, {7, 0, 0}, KORVO_EXCEEDED_MAX_FORCE, {0, 0, 0}},
        SaturationCase{"CheckAcceptsNominal", false, true, {6, 0, 0}, 0, {6, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SafetyTest, DefaultsAreDocumented) {
    const auto h = static_cast<unsigned>(open());
    EXPECT_EQ(is_force_saturation_enabled(h), 0);
    EXPECT_EQ(is_korvo_force_check_enabled(h), 0);
    EXPECT_EQ(is_korvo_velocity_check_enabled(h), 1);
    EXPECT_EQ(is_korvo_force_kick_safety_enabled(h), 0);
    EXPECT_EQ(is_korvo_ramp_forces_enabled(h), 0);
    EXPECT_FLOAT_EQ(get_korvo_max_velocity(h), 1000.0f);
    EXPECT_FLOAT_EQ(get_korvo_force_kick_safety(h), 3.0f);
    EXPECT_FLOAT_EQ(get_korvo_ramp_forces_rate(h), 2.0f);
}

TEST_F(SafetyTest, NonFiniteOrOutOfRangeCommandsAreRefusedWithZeroForce) {
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(enable_korvo_forces(h), 0);
    const float nanForce[6] = {1, NAN, 0, 0, 0, 0};
    const float infTorque[6] = {1, 0, 0, 0, 0, INFINITY};
    const int32_t tooBig[6] = {0, 40000, 0, 0, 0, 0};
    const int32_t tooSmall[6] = {-32769, 0, 0, 0, 0, 0};
    const int32_t extremes[6] = {-32768, 32767, 0, 0, 0, 0};
    for (int attempt = 0; attempt < 4; ++attempt) {
        ASSERT_EQ(sendForce(static_cast<int>(h), 1, 1, 1), 0);
        int rc = 0;
        switch (attempt) {
        case 0: rc = send_korvo_force_6dof(h, nanForce); break;
        case 1: rc = send_korvo_force_6dof(h, infTorque); break;
        case 2: rc = command_motor_dac_values(h, tooBig); break;
        case 3: rc = command_motor_dac_values(h, tooSmall); break;
        }
        EXPECT_EQ(rc, attempt < 2 ? KORVO_NON_FINITE_VALUE : KORVO_OUT_OF_RANGE) << "attempt " << attempt;
        EXPECT_EQ(appliedForce(static_cast<int>(h)), (Vec{0, 0, 0})) << "attempt " << attempt;
    }
    EXPECT_EQ(command_motor_dac_values(h, extremes), 0);
}

TEST_F(SafetyTest, FastStylusTripsTheVelocityCheck) {
    const int h = open();
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(enable_korvo_forces(u), 0);
    ASSERT_EQ(set_korvo_max_velocity(u, 20.0f), 0);
    setHand(h, {60, 0, 0});
    start();
    run(30);
    ASSERT_EQ(sendForce(h, 0, 1, 0), KORVO_EXCEEDED_MAX_VELOCITY);
    EXPECT_EQ(appliedForce(h), (Vec{0, 0, 0}));
    ASSERT_EQ(enable_korvo_velocity_check(u, 0), 0);
    EXPECT_EQ(sendForce(h, 0, 1, 0), 0);
    EXPECT_DOUBLE_EQ(appliedForce(h)[1], 1.0);
}

TEST_F(SafetyTest, LargeForceStepTripsTheKickCheck) {
    const int h = open();
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(enable_korvo_forces(u), 0);
    ASSERT_EQ(set_korvo_force_kick_safety(u, 1.0f), 0);
    ASSERT_EQ(enable_korvo_force_kick_safety(u, 1), 0);
    EXPECT_EQ(sendForce(h, 0.8, 0, 0), 0);
    EXPECT_EQ(sendForce(h, 1.6, 0, 0), 0);
    EXPECT_EQ(sendForce(h, 1.6, 1.2, 0), KORVO_EXCEEDED_MAX_FORCE_IMPULSE);
    EXPECT_EQ(appliedForce(h), (Vec{0, 0, 0}));
    EXPECT_EQ(sendForce(h, 0, 0, 0.9), 0) << "measured from the zero force held after the refusal";
}

// A command is held for ten periods; without a new one the amplifiers then
// drop it, so an arm whose program stopped commanding does not keep pushing.
TEST_F(SafetyTest, HeldForceIsDroppedWhenCommandsStop) {
    const int h = open();
    ASSERT_EQ(enable_korvo_forces(static_cast<unsigned>(h)), 0);
    start();
    ASSERT_EQ(sendForce(h, 0, 1, 0), 0);
    run(10);
    EXPECT_DOUBLE_EQ(appliedForce(h)[1], 1.0) << "still held ten periods after the command";
    run(1);
    EXPECT_EQ(appliedForce(h), (Vec{0, 0, 0}));
    ASSERT_EQ(sendForce(h, 0, 1, 0), 0);
    EXPECT_DOUBLE_EQ(appliedForce(h)[1], 1.0) << "a new command is applied again";
}

// With ramping the output grows from zero at the ramp rate after forces are
// switched on (2 per second: half after 0.25 s, all after 0.5 s).
TEST_F(SafetyTest, RampingScalesForcesUpAfterSwitchOn) {
    const int h = open();
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(enable_korvo_ramp_forces(u, 1), 0);
    ASSERT_EQ(set_korvo_ramp_forces_rate(u, 2.0f), 0);
    ASSERT_EQ(korvo_sim_set_hand_gains(u, 5.0, 0.05), 0);
    start([&] { sendForce(h, 2, 0, 0); });
    ASSERT_EQ(enable_korvo_forces(u), 0);
    EXPECT_EQ(appliedForce(h)[0], 0.0);
    run(1);
    EXPECT_NEAR(appliedForce(h)[0], 2.0 * 0.002, 1e-9) << "one period of ramp";
    run(249);
    EXPECT_NEAR(appliedForce(h)[0], 1.0, 1e-6);
    run(249);
    EXPECT_NEAR(appliedForce(h)[0], 2.0 * 0.998, 1e-6);
    run(1);
    EXPECT_DOUBLE_EQ(appliedForce(h)[0], 2.0);
    ASSERT_EQ(enable_korvo_ramp_forces(u, 0), 0);
    ASSERT_EQ(disable_korvo_forces(u), 0);
    ASSERT_EQ(enable_korvo_forces(u), 0);
    run(1);
    EXPECT_DOUBLE_EQ(appliedForce(h)[0], 2.0);
}

// ---------------------------------------------------------------- warm motors

double hottest(unsigned h) {
    float t[6];
    EXPECT_EQ(get_korvo_temp_normalized_6dof(h, t), 0);
    double m = 0;
    for (float x : t) m = std::fmax(m, x);
    return m;
}

// The maximum force heats a motor past the limit within seconds; the device
// then refuses output with warm motors and zero force until the motor has
// cooled below the release level, cooling exponentially meanwhile.
TEST_F(SafetyTest, MaximumForceWarmsTheMotorsUntilOutputIsCutAndCoolingRestoresIt) {
    const int h = open();
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(enable_korvo_forces(u), 0);
    ASSERT_EQ(korvo_sim_set_hand_gains(u, 5.0, 0.05), 0);
    int lastCode = 0;
    bool pushing = true;
    start([&] { lastCode = sendForce(h, pushing ? 6.0 : 0.0, 0, 0); });
    int warmAt = -1;
    for (int ms = 0; ms < 20000 && warmAt < 0; ms += 10) {
        run(10);
        if (lastCode == KORVO_WARM_MOTORS) warmAt = ms;
    }
    ASSERT_GT(warmAt, 2000) << "warming takes seconds";
    ASSERT_LT(warmAt, 10000);
    EXPECT_GT(hottest(u), 0.99);
    EXPECT_EQ(appliedForce(h), (Vec{0, 0, 0}));
    double previous = hottest(u);
    int releasedAt = -1;
    for (int ms = 0; ms < 20000 && releasedAt < 0; ++ms) {
        run(1);
        if (lastCode == 0) {
            releasedAt = ms;
            break;
        }
        const double now = hottest(u);
        EXPECT_LT(now, previous);
        previous = now;
    }
    ASSERT_GT(releasedAt, 2000) << "cooling to the release level takes seconds";
    EXPECT_LT(hottest(u), 0.901);
    EXPECT_GT(hottest(u), 0.85);
}

TEST_F(SafetyTest, ContinuousForceHoldsTheMotorAtItsSteadyTemperature) {
    const int h = open();
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(enable_korvo_forces(u), 0);
    ASSERT_EQ(korvo_sim_set_hand_gains(u, 20.0, 0.1), 0);
    const double start04[3] = {0.4, 0.0, 0.0};
    ASSERT_EQ(korvo_sim_set_motor_temperatures(u, start04, 3), 0);
    const double continuous = get_korvo_nominal_max_continuous_force(u);
    start([&] { sendForce(h, continuous, 0, 0); });
    run(20000);
    float t[3];
    ASSERT_EQ(get_korvo_temp_normalized(u, t), 0);
    EXPECT_NEAR(t[0], 0.4, 0.02);
}

TEST_F(SafetyTest, IdleMotorsCoolWithTheThermalTimeConstant) {
    const auto u = static_cast<unsigned>(open());
    const double warm[3] = {0.8, 0.5, 0.2};
    ASSERT_EQ(korvo_sim_set_motor_temperatures(u, warm, 3), 0);
    start();
    run(30000);
    float t[3];
    ASSERT_EQ(get_korvo_temp_normalized(u, t), 0);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(t[i], warm[i] * std::exp(-1.0), 0.005);
}

TEST_F(SafetyTest, WarmMotorStateHasHysteresis) {
    const int h = open();
    const auto u = static_cast<unsigned>(h);
    ASSERT_EQ(enable_korvo_forces(u), 0);
    const struct {
        double temperature;
        int code;
    } steps[] = {{0.95, 0}, {1.0, KORVO_WARM_MOTORS}, {0.95, KORVO_WARM_MOTORS}, {0.89, 0}, {0.99, 0}};
    for (const auto& s : steps) {
        const double t[3] = {0.0, s.temperature, 0.0};
        ASSERT_EQ(korvo_sim_set_motor_temperatures(u, t, 3), 0);
        EXPECT_EQ(sendForce(h, 0.1, 0, 0), s.code) << "at " << s.temperature;
    }
    const double six[6] = {};
    EXPECT_EQ(korvo_sim_set_motor_temperatures(u, six, 6), KORVO_INVALID_ARGUMENT);
}

// ---------------------------------------------------------------- faults

enum Site { kUpdate, kSend, kDac, kCalibrate };

int callAt(unsigned h, Site site) {
    const float f[6] = {};
    const int32_t dac[6] = {};
    switch (site) {
    case kUpdate: return update_korvo(h);
    case kSend: return send_korvo_force_6dof(h, f);
    case kDac: return command_motor_dac_values(h, dac);
    case kCalibrate: return update_calibration(h);
    }
    return 0;
}

struct FaultCase {
    const char* name;
    int code;
    bool meets[4];  // update, send, dac, calibrate
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FaultTest : public SimTest, public ::testing::WithParamInterface<FaultCase> {};

// A one-shot fault is reported once, by the first call that meets it; calls
// that do not meet it neither report nor consume it.
TEST_P(FaultTest, OneShotFaultIsReportedOnceByTheFirstCallMeetingIt) {
    const FaultCase c = GetParam();
    const auto h = static_cast<unsigned>(open());
    for (int site = kUpdate; site <= kCalibrate; ++site) {
        if (!c.meets[site]) continue;
        for (int other = kUpdate; other <= kCalibrate; ++other) {
            if (c.meets[other]) continue;
            ASSERT_EQ(korvo_sim_inject_fault(h, c.code), 0);
            EXPECT_EQ(callAt(h, static_cast<Site>(other)), 0);
            EXPECT_EQ(callAt(h, static_cast<Site>(site)), c.code) << "site " << site;
        }
        ASSERT_EQ(korvo_sim_inject_fault(h, c.code), 0);
        EXPECT_EQ(callAt(h, static_cast<Site>(site)), c.code) << "site " << site;
        EXPECT_EQ(callAt(h, static_cast<Site>(site)), 0) << "site " << site;
    }
}

// A persistent fault is reported by every call meeting it until cleared.
TEST_P(FaultTest, PersistentFaultLastsUntilCleared) {
    const FaultCase c = GetParam();
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(enable_korvo_forces(h), 0);
    ASSERT_EQ(korvo_sim_set_persistent_fault(h, c.code), 0);
    for (int round = 0; round < 3; ++round)
        for (int site = kUpdate; site <= kCalibrate; ++site)
            EXPECT_EQ(callAt(h, static_cast<Site>(site)), c.meets[site] ? c.code : 0) << "site " << site;
    if (c.meets[kSend]) {
        const float f[6] = {1, 0, 0, 0, 0, 0};
        EXPECT_EQ(send_korvo_force_6dof(h, f), c.code);
        EXPECT_EQ(appliedForce(static_cast<int>(h)), (Vec{0, 0, 0}));
    }
    ASSERT_EQ(korvo_sim_set_persistent_fault(h, 0), 0);
    for (int site = kUpdate; site <= kCalibrate; ++site) EXPECT_EQ(callAt(h, static_cast<Site>(site)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FaultTest,
    ::testing::Values(FaultCase{"CommError", KORVO_COMM_ERROR, {true, true, true, false}},
                      FaultCase{"CommLost", KORVO_COMM_LOST, {true, true, true, false}},
                      FaultCase{"DeviceFault", KORVO_DEVICE_FAULT, {true, true, true, false}},
                      FaultCase{"TimerError", KORVO_DEVICE_TIMER_ERROR, {true, true, true, false}},
                      FaultCase{"UnlistedCode", -23, {true, true, true, false}},
                      FaultCase{"WarmMotors", KORVO_WARM_MOTORS, {false, true, true, false}},
                      FaultCase{"MaxForce", KORVO_EXCEEDED_MAX_FORCE, {false, true, true, false}},
                      FaultCase{"MaxVelocity", KORVO_EXCEEDED_MAX_VELOCITY, {false, true, true, false}},
                      FaultCase{"Kick", KORVO_EXCEEDED_MAX_FORCE_IMPULSE, {false, true, true, false}},
                      FaultCase{"CalibrationFailed", KORVO_CALIBRATION_FAILED, {false, false, false, true}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SafetyTest, FailedUpdateKeepsTheLastLatchedData) {
    const int h = open();
    const auto u = static_cast<unsigned>(h);
    const Vec before = readPosition(h);
    const double elsewhere[3] = {30, 0, 0};
    ASSERT_EQ(korvo_sim_set_persistent_fault(u, KORVO_COMM_LOST), 0);
    setHand(h, {30, 0, 0});
    start();
    run(500);
    EXPECT_EQ(update_korvo(u), KORVO_COMM_LOST);
    float p[3];
    ASSERT_EQ(get_korvo_pos(u, p), 0);
    EXPECT_EQ(p[0], static_cast<float>(before[0]));
    ASSERT_EQ(korvo_sim_set_persistent_fault(u, 0), 0);
    EXPECT_NEAR(readPosition(h)[0], elsewhere[0], 0.1);
}

// ---------------------------------------------------------------- calibration and light

struct CalibrationCase {
    const char* model;
    bool calibrationSupported;
    bool resetSupported;
    int initialStatus;
    int updateCode;
    int statusAfterUpdate;
    int resetCode;
    int statusAfterReset;
};

void PrintTo(const CalibrationCase& c, std::ostream* os) { *os << c.model; }

class CalibrationTest : public SimTest, public ::testing::WithParamInterface<CalibrationCase> {};

TEST_P(CalibrationTest, StatusAndUpdatesFollowTheModelsCalibrationStyle) {
    const CalibrationCase c = GetParam();
    const auto h = static_cast<unsigned>(open(c.model));
    EXPECT_EQ(is_calibration_supported(h), c.calibrationSupported ? 1 : 0);
    EXPECT_EQ(is_korvo_reset_supported(h), c.resetSupported ? 1 : 0);
    int status = -1;
    ASSERT_GE(get_calibration_status(h, &status), 0);
    EXPECT_EQ(status, c.initialStatus);
    EXPECT_EQ(get_status_light(h), 2) << "blinks while calibration is needed";
    EXPECT_EQ(update_calibration(h), c.updateCode);
    ASSERT_GE(get_calibration_status(h, &status), 0);
    EXPECT_EQ(status, c.statusAfterUpdate);
    EXPECT_EQ(korvo_reset(h), c.resetCode);
    ASSERT_GE(get_calibration_status(h, &status), 0);
    EXPECT_EQ(status, c.statusAfterReset);
}

INSTANTIATE_TEST_SUITE_P(
    Models, CalibrationTest,
    ::testing::Values(CalibrationCase{"arm3g", true, false, 0x77, 0, 0x07, KORVO_NOT_SUPPORTED, 0x07},
                      CalibrationCase{"arm6", true, true, 0x70, KORVO_CALIBRATION_FAILED, 0x70, 0, 0x00},
                      CalibrationCase{"mini", false, true, 0x70, KORVO_NOT_SUPPORTED, 0x70, 0, 0x00}),
    [](const auto& info) { return std::string(info.param.model); });

// The inkwell model can take its references only with the stylus in the
// inkwell, which the low nibble announces.
TEST_F(SafetyTest, InkwellCalibrationNeedsTheStylusInTheInkwell) {
    const auto h = static_cast<unsigned>(open("arm6"));
    int status = 0;
    ASSERT_EQ(korvo_sim_set_switches(h, 1, 1), 0);
    ASSERT_GE(get_calibration_status(h, &status), 0);
    EXPECT_EQ(status, 0x77);
    EXPECT_EQ(update_calibration(h), 0);
    ASSERT_GE(get_calibration_status(h, &status), 0);
    EXPECT_EQ(status, 0x07);
    EXPECT_EQ(get_status_light(h), 1);
    ASSERT_EQ(korvo_sim_set_calibration_status(h, 0x31), 0);
    ASSERT_GE(get_calibration_status(h, &status), 0);
    EXPECT_EQ(status, 0x31);
    EXPECT_EQ(korvo_sim_set_calibration_status(h, 256), KORVO_OUT_OF_RANGE);
}

TEST_F(SafetyTest, StatusLightCanBeTakenOverAndGivenBack) {
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(update_calibration(h), 0);
    EXPECT_EQ(get_status_light(h), 1);
    EXPECT_EQ(is_status_light_enabled(h), 0);
    ASSERT_EQ(override_status_light(h, 3), 0);
    EXPECT_EQ(get_status_light(h), 3);
    EXPECT_EQ(is_status_light_enabled(h), 1);
    EXPECT_EQ(override_status_light(h, 4), KORVO_OUT_OF_RANGE);
    EXPECT_EQ(get_status_light(h), 3);
    ASSERT_EQ(restore_status_light(h), 0);
    EXPECT_EQ(get_status_light(h), 1);
    EXPECT_EQ(is_status_light_enabled(h), 0);
}

}  // namespace
}  // namespace korvo_test
