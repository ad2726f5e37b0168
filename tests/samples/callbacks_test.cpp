// The samples' servo callbacks running in this process on a simulated device
// (manual clock): the forces the device received, the errors they report and
// when they stop.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "contact_model.h"
#include "dac_console.h"
#include "plane_field.h"
#include "sample_test_support.h"
#include "sphere_field.h"
#include "warm_motors.h"

namespace sample_test {
namespace {

// The encoders resolve hundredths of a millimetre; the force is sent as
// single-precision floats.
constexpr double kForceTolerance = 1e-4;

void expectForce(const Vec3& actual, const Vec3& expected, const char* what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[i], expected[i], kForceTolerance) << what << " component " << i;
}

// ---------------------------------------------------------------- frictionless sphere

class SphereCallback : public SimulatedDevice {
protected:
    void SetUp() override {
        SimulatedDevice::SetUp();
        zvEnable(ZV_FORCE_OUTPUT);
        schedule(frictionless_sphere::sphereCallback, nullptr);
    }
};

TEST_F(SphereCallback, DeviceReceivesTheOutwardSpringInsideAndNothingOutside) {
    const Vec3 points[] = {{0, 0, 25}, {10, -20, 5}, {-30, 0, -20}, {0, 39.5, 0}, {0, 0, 45}, {50, 20, 10}};
    for (const Vec3& p : points) {
        place(p);
        ticks(1);
        const Vec3 seen = seenPosition();
        const double d = length(seen);
        Vec3 expected{};
        if (d < 40)
            for (int i = 0; i < 3; ++i) expected[i] = seen[i] / d * (40 - d) * 0.25;
        expectForce(appliedForce(), expected, "sphere");
    }
    EXPECT_TRUE(callbackRunning());
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(SphereCallback, CommunicationErrorIsReportedAndEndsTheCallback) {
    place({0, 0, 30});
    ticks(1);
    ASSERT_EQ(korvo_sim_inject_fault(device, KORVO_COMM_ERROR), 0);
    testing::internal::CaptureStderr();
    ticks(1);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(report,
              "ZV Error: ZV_COMM_ERROR\n"
              "Communication Error: Check the device connection and configuration.\n"
              "HZV: 0\n"
              "Error Code: 302\n"
              "Internal Error Code: -17\n"
              "Message: Error during main scheduler callback\n\n");
    EXPECT_FALSE(callbackRunning());
}

TEST_F(SphereCallback, DeviceFaultIsReportedAndRenderingGoesOn) {
    ASSERT_EQ(korvo_sim_inject_fault(device, KORVO_DEVICE_FAULT), 0);
    testing::internal::CaptureStderr();
    ticks(1);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(report.rfind("ZV Error: ZV_DEVICE_FAULT\n", 0), 0u) << report;
    EXPECT_NE(report.find("Internal Error Code: -4\n"), std::string::npos) << report;
    EXPECT_TRUE(callbackRunning());
    place({0, 20, 0});
    ticks(1);
    EXPECT_GT(appliedForce()[1], 4.9) << "still rendering";
}

// ---------------------------------------------------------------- plane

class PlaneCallback : public SimulatedDevice {
protected:
    void SetUp() override {
        SimulatedDevice::SetUp();
        zvEnable(ZV_FORCE_OUTPUT);
        schedule(plane::planeCallback, nullptr);
    }
    // Places the stylus at height y and returns the force of one tick, with
    // the height the callback saw.
    Vec3 forceAt(double y, double& seenY) {
        place({0, y, 0});
        ticks(1);
        seenY = seenPosition()[1];
        return appliedForce();
    }
};

TEST_F(PlaneCallback, HoldsFromAbovePopsThroughAndThenHoldsFromBelow) {
    double y = 0;
    expectForce(forceAt(10, y), {0, 0, 0}, "above, free");
    Vec3 f = forceAt(-8, y);
    expectForce(f, {0, -y * 0.25, 0}, "pressing from above");
    f = forceAt(-19, y);
    expectForce(f, {0, -y * 0.25, 0}, "hard, still holding");
    expectForce(forceAt(-21, y), {0, 0, 0}, "popped through: nothing this tick");
    expectForce(forceAt(-21, y), {0, 0, 0}, "below now: free");
    expectForce(forceAt(-2, y), {0, 0, 0}, "below: free up to the plane");
    f = forceAt(6, y);
    expectForce(f, {0, -y * 0.25, 0}, "across from below: pushed back down");
    EXPECT_LT(f[1], 0);
    expectForce(forceAt(25, y), {0, 0, 0}, "popped back up");
    expectForce(forceAt(10, y), {0, 0, 0}, "above again: free");
    EXPECT_TRUE(drainErrors().empty());
}

// A user's hand pressing down on the plane instead of following a target
// (no spring in its grip, only its damping): with less than the pop-through
// force the stylus comes to rest where the plane's spring balances the push
// (depth = push / stiffness); with more, the plane gives way and the stylus
// falls through, after which the plane leaves it alone; pushing as hard
// upwards brings it back through (and leaves the plane as it was).
TEST_F(PlaneCallback, PressingHandRestsOnThePlaneAndPushesThroughIt) {
    place({0, 0, 0});
    ASSERT_EQ(korvo_sim_set_hand_gains(device, 0.0, 0.01), 0);
    const double gentle[3] = {0.0, -0.8 * plane::kPopThroughForce, 0.0};
    ASSERT_EQ(korvo_sim_set_hand_force(device, gentle), 0);
    ticks(3000);
    const double depth = 0.8 * plane::kPopThroughForce / plane::kStiffness;
    EXPECT_NEAR(seenPosition()[1], -depth, 0.1) << "resting on the plane";
    EXPECT_NEAR(appliedForce()[1], 0.8 * plane::kPopThroughForce, 0.05);
    const double hard[3] = {0.0, -1.2 * plane::kPopThroughForce, 0.0};
    ASSERT_EQ(korvo_sim_set_hand_force(device, hard), 0);
    ticks(1000);
    EXPECT_LT(seenPosition()[1], -2.0 * depth) << "fell through";
    expectForce(appliedForce(), {0, 0, 0}, "below the plane: free");
    const double up[3] = {0.0, 1.2 * plane::kPopThroughForce, 0.0};
    ASSERT_EQ(korvo_sim_set_hand_force(device, up), 0);
    ticks(2000);
    EXPECT_GT(seenPosition()[1], 2.0 * depth) << "back through, above";
    expectForce(appliedForce(), {0, 0, 0}, "above the plane again: free");
    EXPECT_TRUE(drainErrors().empty());
}

// ---------------------------------------------------------------- warm motors

class WarmMotorsCallback : public SimulatedDevice {
protected:
    void SetUp() override {
        SimulatedDevice::SetUp();
        zvEnable(ZV_FORCE_OUTPUT);
        zvEnable(ZV_FORCE_RAMPING);
        zvEnable(ZV_MAX_FORCE_CLAMPING);
        int motors = 0;
        zvGetIntegerv(ZV_OUTPUT_DOF, &motors);
        demo = std::make_unique<warm_motors::WarmMotorsDemo>(motors);
        schedule(warm_motors::floorCallback, demo.get(), ZV_MAX_SCHEDULER_PRIORITY);
    }
    std::string printedLine() {
        zvScheduleSynchronous(warm_motors::readTemperaturesCallback, demo.get(), ZV_DEFAULT_SCHEDULER_PRIORITY);
        return warm_motors::temperatureLine(*demo);
    }
    void setTemperatures(double t) {
        const double all[3] = {t, t, t};
        ASSERT_EQ(korvo_sim_set_motor_temperatures(device, all, 3), 0);
    }
    static bool endsWith(const std::string& s, const std::string& tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    }
    std::unique_ptr<warm_motors::WarmMotorsDemo> demo;
};

// Temperatures set on the simulator: the floor is unlimited while the motors
// are cool, ramps down to the continuous force once one is hot, and ramps
// back up once they have cooled.
TEST_F(WarmMotorsCallback, RampsDownWhenHotAndUpWhenCooled) {
    // A firm grip holds the stylus about 3 mm into the floor, which pushes
    // back with about 3 x 1.2 N.
    ASSERT_EQ(korvo_sim_set_hand_gains(device, 20, 0.05), 0);
    place({0, -3, 0});
    ticks(600);  // past the device's own switch-on ramp
    EXPECT_NEAR(appliedForce()[1], -seenPosition()[1] * 1.2, kForceTolerance) << "cool: unlimited";
    EXPECT_GT(appliedForce()[1], 3.0);
    EXPECT_EQ(printedLine().find("Ramping"), std::string::npos);

    setTemperatures(0.75);
    ticks(1);
    EXPECT_NEAR(appliedForce()[1], -seenPosition()[1] * 1.2 * 0.999, kForceTolerance)
        << "ramping down from the force of that tick";
    EXPECT_TRUE(endsWith(printedLine(), " Ramping Down Forces\n")) << printedLine();
    ticks(3000);
    EXPECT_NEAR(appliedForce()[1], 1.5, kForceTolerance) << "settled at the continuous force";

    setTemperatures(0.45);
    ticks(1);
    EXPECT_TRUE(endsWith(printedLine(), " Ramping Up Forces\n")) << printedLine();
    EXPECT_NEAR(appliedForce()[1], 1.5 * 1.001, 1e-4);
    ticks(100);
    EXPECT_NEAR(appliedForce()[1], 1.5 * std::pow(1.001, 101), 1e-3);
    ticks(2000);
    EXPECT_NEAR(appliedForce()[1], -seenPosition()[1] * 1.2, kForceTolerance) << "unlimited again";
    const std::string line = printedLine();
    EXPECT_TRUE(endsWith(line, "0\n")) << "no ramp named: " << line;
    EXPECT_TRUE(callbackRunning());
}

// The same with the simulator's thermal model and the sample's own hand
// motion: held hard against the floor the motors heat until the demo ramps
// down, and after the hand has let them cool and presses again, it ramps up.
// The temperature line is sampled every 500 ticks as the program prints it.
TEST_F(WarmMotorsCallback, ShippedMotionHeatsTheMotorsAndLetsThemCool) {
    ASSERT_EQ(korvo_sim_load_trajectory(device, SAMPLES_DIR "/warm_motors_demo/trajectory.csv"), 0);
    std::string sequence;  // D for a ramping-down line, U for ramping up, - for none, once per change
    double hottestSeen = 0;
    for (int half = 0; half < 2 * 45; ++half) {
        ticks(500);
        const std::string line = printedLine();
        const char state = endsWith(line, " Ramping Down Forces\n") ? 'D'
                           : endsWith(line, " Ramping Up Forces\n") ? 'U'
                                                                    : '-';
        if (sequence.empty() || sequence.back() != state) sequence.push_back(state);
        hottestSeen =
            std::max(hottestSeen, *std::max_element(demo->printTemperatures.begin(), demo->printTemperatures.end()));
    }
    EXPECT_EQ(sequence.substr(0, 4), "-DUD") << sequence;
    EXPECT_LT(hottestSeen, 1.0) << "never as hot as the device's own cut-off";
    EXPECT_TRUE(drainErrors().empty());
}

// ---------------------------------------------------------------- motor DAC console

class DacCallback : public SimulatedDevice {
protected:
    void SetUp() override {
        SimulatedDevice::SetUp();
        zvGetIntegerv(ZV_OUTPUT_DOF, &console.motorCount);
        zvGetIntegerv(ZV_INPUT_DOF, &console.encoderCount);
        schedule(motor_dac::dacCallback, &console, ZV_MAX_SCHEDULER_PRIORITY);
        zvEnable(ZV_FORCE_OUTPUT);
    }
    void command(int motor, ZVlong value) {
        console.edited[motor] = value;
        zvScheduleSynchronous(motor_dac::copyEditedCallback, &console, ZV_DEFAULT_SCHEDULER_PRIORITY);
    }
    motor_dac::DeviceStateReport readState() {
        motor_dac::DeviceStateReport report;
        zvScheduleSynchronous(motor_dac::readDeviceStateCallback, &report, ZV_DEFAULT_SCHEDULER_PRIORITY);
        return report;
    }
    motor_dac::DacConsole console;
};

TEST_F(DacCallback, CommandedValuesReachTheMotorsAndAreZeroedAfterAnOutputError) {
    EXPECT_EQ(console.motorCount, 3);
    command(1, 8000);
    ticks(1);
    EXPECT_GT(length(appliedForce()), 0.5) << "the motor pushes";
    motor_dac::DeviceStateReport state = readState();
    EXPECT_EQ(state.dacValues[0], 0);
    EXPECT_EQ(state.dacValues[1], 8000);
    EXPECT_EQ(state.dacValues[2], 0);

    ASSERT_EQ(korvo_sim_inject_fault(device, KORVO_EXCEEDED_MAX_FORCE), 0);
    testing::internal::CaptureStderr();
    ticks(1);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(report.rfind("ZV Error: ZV_EXCEEDED_MAX_FORCE\n", 0), 0u) << report;
    EXPECT_NE(report.find("Message: Error while commanding DAC values\n"), std::string::npos) << report;
    EXPECT_TRUE(
        std::all_of(std::begin(console.commanded), std::end(console.commanded), [](ZVlong v) { return v == 0; }));
    ticks(5);
    state = readState();
    EXPECT_EQ(state.dacValues[1], 0) << "zero until the next V command";
    expectForce(appliedForce(), {0, 0, 0}, "after the error");
    EXPECT_EQ(console.edited[1], 8000) << "the edited values are kept";
    EXPECT_TRUE(callbackRunning());

    command(2, -32768);
    ticks(1);
    EXPECT_EQ(readState().dacValues[2], -32768);
    EXPECT_EQ(readState().dacValues[1], 8000) << "the next V command sends every edited value";
}

TEST_F(DacCallback, OutOfRangeValueIsRefusedByTheDeviceAndZeroed) {
    command(0, 40000);  // only reachable by bypassing the console's check
    testing::internal::CaptureStderr();
    ticks(1);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("Message: Error while commanding DAC values\n"), std::string::npos) << report;
    EXPECT_EQ(console.commanded[0], 0);
    EXPECT_TRUE(callbackRunning());
}

// ---------------------------------------------------------------- sphere-sphere contact

TEST_F(SimulatedDevice, ContactCallbackSendsTheSpringTowardsTheRestingPoint) {
    zvEnable(ZV_FORCE_OUTPUT);
    zvEnable(ZV_MAX_FORCE_CLAMPING);
    sphere_contact::ContactModel model({0, 0, 0}, 60, 20);
    schedule(sphere_contact::contactCallback, &model);
    const Vec3 points[] = {{0, 0, 50}, {30, 40, 0}, {-50, 0, -30}, {70, 60, 0}, {0, 85, 0}};
    for (const Vec3& p : points) {
        place(p);
        ticks(1);
        const Vec3 seen = seenPosition();
        const double d = length(seen);
        Vec3 expected{};
        if (d <= 80)
            for (int i = 0; i < 3; ++i) expected[i] = (seen[i] * 80 / d - seen[i]) * 0.1;
        expectForce(appliedForce(), expected, "contact");

        sphere_contact::DisplayCopy copy;
        copy.model = &model;
        zvScheduleSynchronous(sphere_contact::copyForDisplayCallback, &copy, ZV_DEFAULT_SCHEDULER_PRIORITY);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(copy.displayedPosition[i], d <= 80 ? seen[i] * 80 / d : seen[i], 1e-9);
    }
    EXPECT_TRUE(drainErrors().empty());
}

// ---------------------------------------------------------------- reruns

struct Rerun {
    const char* sample;
    ZVSchedulerCallback callback;
};

void PrintTo(const Rerun& r, std::ostream* os) { *os << r.sample; }

class RerunTest : public ::testing::TestWithParam<Rerun> {
protected:
    // One run of the sample's callback over its trajectory on the manual
    // clock, from a freshly opened device, traced to `path`; returns the
    // trace's bytes and leaves the final true state (unrounded) in `final`.
    static std::string traceOneRun(const Rerun& r, const std::string& path, unsigned ticks,
                                   std::array<double, 9>& final) {
        EXPECT_EQ(korvo_sim_set_manual_clock(1), 0);
        const HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
        EXPECT_NE(device, ZV_INVALID_HANDLE);
        zvEnable(ZV_FORCE_OUTPUT);
        const std::string trajectory = std::string(SAMPLES_DIR) + "/" + r.sample + "/trajectory.csv";
        EXPECT_EQ(korvo_sim_load_trajectory(device, trajectory.c_str()), 0);
        EXPECT_EQ(korvo_sim_open_trace(path.c_str()), 0);
        zvStartScheduler();
        const ZVSchedulerHandle callback = zvScheduleAsynchronous(r.callback, nullptr, ZV_DEFAULT_SCHEDULER_PRIORITY);
        EXPECT_EQ(korvo_sim_run_ticks(ticks), 0);
        zvStopScheduler();
        EXPECT_EQ(korvo_sim_get_true_state(device, final.data(), final.data() + 3, final.data() + 6), 0);
        EXPECT_EQ(korvo_sim_open_trace(nullptr), 0);
        zvUnschedule(callback);
        zvDisableDevice(device);
        EXPECT_TRUE(drainErrors().empty());
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

// The same inputs on the manual clock give the same trace, byte for byte,
// and the same final state to the last bit: the sample's whole trajectory
// (pressing in, popping through, letting go) played twice.
TEST_P(RerunTest, ManualClockRunsOfASampleTrajectoryTraceIdentically) {
    const Rerun r = GetParam();
    const std::string base = ::testing::TempDir() + "zv_samples_rerun_" + r.sample;
    const unsigned ticks = 15000;
    std::array<double, 9> firstState{}, secondState{};
    const std::string first = traceOneRun(r, base + "_1.csv", ticks, firstState);
    const std::string second = traceOneRun(r, base + "_2.csv", ticks, secondState);
    EXPECT_GT(std::count(first.begin(), first.end(), '\n'), static_cast<long>(ticks)) << "a line per tick";
    EXPECT_TRUE(first == second) << "the traces differ";
    EXPECT_EQ(firstState, secondState) << "final position, velocity and force, to the last bit";
    std::remove((base + "_1.csv").c_str());
    std::remove((base + "_2.csv").c_str());
}

INSTANTIATE_TEST_SUITE_P(Samples, RerunTest,
                         ::testing::Values(Rerun{"frictionless_sphere_demo", frictionless_sphere::sphereCallback},
                                           Rerun{"plane_demo", plane::planeCallback}),
                         [](const auto& info) { return std::string(info.param.sample); });

}  // namespace
}  // namespace sample_test
