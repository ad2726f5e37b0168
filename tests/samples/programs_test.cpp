// The sample programs as real processes on the simulated device: the console
// programs on a pseudo-terminal that types their keys (or with standard
// input at /dev/null), the graphical one on a virtual X display. The
// simulator is driven through its environment variables: the shipped hand
// motion, a trace of every servo tick, scheduled faults.
//
// Waits are bounded generously; a bound that runs out is a failure, never a
// measurement. Where a test lets a program run for a while to let the hand
// motion play, it sleeps for that long (the simulated time follows the real
// one).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/Platform.h"
#include "support/child_process.h"
#include "trace_reader.h"

namespace sample_test {
namespace {

constexpr double kGenerous = 90.0;

using Env = std::vector<std::pair<std::string, std::string>>;

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// A file name unique to the running test.
std::string tempPath(const std::string& suffix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("zv_samples_") + info->test_suite_name() + "_" + info->name() + suffix;
    std::replace(name.begin(), name.end(), '/', '_');
    return (std::filesystem::temp_directory_path() / name).string();
}

std::string trajectoryOf(const std::string& sample) {
    return std::string(SAMPLES_DIR) + "/" + sample + "/trajectory.csv";
}

// The programs run on the real-time servo loop. A machine busy with parallel
// builds and tests can stall the servo thread for longer than the simulator
// tolerates by default, and the device library would then rightly report a
// timer error that ends the sample's callback; such a run would say nothing
// about the sample, so the children tolerate stalls of up to ten minutes.
zv_test::ChildProcess start(const std::string& program, Env environment, bool terminal) {
    zv_test::ChildProcess::Options options;
    options.environment = std::move(environment);
    options.environment.emplace_back("KORVO_SIM_OVERRUN_TOLERANCE", "600000");
    options.terminal = terminal;
    options.separateErrors = !terminal;
    return zv_test::ChildProcess(program, options);
}

// Environment that plays a sample's shipped motion and traces it.
Env driven(const std::string& sample, const std::string& trace) {
    return {{"KORVO_SIM_TRAJECTORY", trajectoryOf(sample)}, {"KORVO_SIM_TRACE", trace}};
}

const char kSphereIntro[] =
    "Sphere example.\nMove the device around to feel a frictionless sphere\n\nPress any key to quit.\n\n";
const char kPlaneIntro[] =
    "Plane example.\nMove the device up and down to feel a plane along Y=0.\n"
    "Push hard against the plane to popthrough to the other side.\nPress any key to quit.\n\n";
const char kWarmIntro[] = "Handling Warm Motors Example\nPress any key to quit.\n\n";
const char kDacHelp[] =
    "\nCommandMotorDAC Help\n---\nM: Motor Selection\nV: Set DAC value\nP: Prints device state\n"
    "C: Continuously prints device state\nH: Prints help menu\nQ: Quits the program\n---\n";

// ---------------------------------------------------------------- start and end

struct ConsoleProgram {
    const char* name;
    const char* path;
    std::string intro;  // standard output of a run that ends at once
};

void PrintTo(const ConsoleProgram& program, std::ostream* out) { *out << program.name; }

class ConsolePrograms : public ::testing::TestWithParam<ConsoleProgram> {};

// End of input counts as the key that ends the program, so an unattended run
// with nothing to read finishes cleanly.
TEST_P(ConsolePrograms, ExitCleanlyWithInputAtDevNull) {
    zv_test::ChildProcess::Options options;
    options.inputPath = "/dev/null";
    options.separateErrors = true;
    zv_test::ChildProcess child(GetParam().path, options);
    EXPECT_EQ(child.wait(kGenerous), 0);
    EXPECT_EQ(child.output(), GetParam().intro);
    EXPECT_EQ(child.errors(), "");
}

INSTANTIATE_TEST_SUITE_P(Samples, ConsolePrograms,
                         ::testing::Values(ConsoleProgram{"frictionless_sphere_demo", SPHERE_PROGRAM, kSphereIntro},
                                           ConsoleProgram{"plane_demo", PLANE_PROGRAM, kPlaneIntro},
                                           ConsoleProgram{"warm_motors_demo", WARM_MOTORS_PROGRAM, kWarmIntro},
                                           ConsoleProgram{"motor_dac_console", DAC_PROGRAM,
                                                          std::string("Initialized: Korvo Arm 3G\n") + kDacHelp}),
                         [](const auto& info) { return std::string(info.param.name); });

struct MissingDeviceCase {
    const char* name;
    const char* path;
    std::string output;   // standard output up to the exit
    bool promptOnErrors;  // "Press any key to quit." goes to standard error
};

void PrintTo(const MissingDeviceCase& c, std::ostream* out) { *out << c.name; }

class WithoutADevice : public ::testing::TestWithParam<MissingDeviceCase> {};

// The report names the failure, and the program waits for a key before it
// ends with status -1.
TEST_P(WithoutADevice, ReportsTheFailureAndWaitsForAKey) {
    const MissingDeviceCase& c = GetParam();
    zv_test::ChildProcess child = start(c.path, {{"KORVO_SIM_NO_DEVICE", "1"}}, false);
    const std::string prompt = "\nPress any key to quit.\n";
    ASSERT_TRUE(c.promptOnErrors ? child.waitForErrors(prompt, kGenerous) : child.waitForOutput(prompt, kGenerous))
        << child.output() << child.errors();
    EXPECT_FALSE(child.wait(0.3).has_value()) << "waits for the key";
    ASSERT_TRUE(child.write("k"));
    EXPECT_EQ(child.wait(kGenerous), 255);
    const std::string report =
        "ZV Error: ZV_DEVICE_FAULT\n"
        "Device fault.  Check that the device is connected properly and activated.\n"
        "HZV: FFFFFFFF\n"
        "Error Code: 300\n"
        "Internal Error Code: -16\n"
        "Message: Failed to initialize haptic device\n";
    EXPECT_EQ(child.errors(), c.promptOnErrors ? report + prompt : report);
    EXPECT_EQ(child.output(), c.promptOnErrors ? c.output : c.output + prompt);
}

INSTANTIATE_TEST_SUITE_P(Samples, WithoutADevice,
                         ::testing::Values(MissingDeviceCase{"frictionless_sphere_demo", SPHERE_PROGRAM, "", false},
                                           MissingDeviceCase{"plane_demo", PLANE_PROGRAM, "", false},
                                           MissingDeviceCase{"warm_motors_demo", WARM_MOTORS_PROGRAM, "", false},
                                           MissingDeviceCase{"motor_dac_console", DAC_PROGRAM, "", false},
                                           MissingDeviceCase{"sphere_contact_demo", SPHERE_CONTACT_PROGRAM,
                                                             "Starting application\n", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Collects the rows of a trace that break a law, keeping the first few for
// the failure message.
class Violations {
public:
    template <typename... Parts>
    void add(const TraceRow& r, const Parts&... parts) {
        if (++count_ > 5) return;
        std::ostringstream line;
        line << "t=" << r.time << " position (" << r.position[0] << ", " << r.position[1] << ", " << r.position[2]
             << ") force (" << r.force[0] << ", " << r.force[1] << ", " << r.force[2] << "): ";
        (line << ... << parts);
        text_ += line.str() + "\n";
    }
    int count() const { return count_; }
    const std::string& text() const { return text_; }

private:
    int count_ = 0;
    std::string text_;
};

// ---------------------------------------------------------------- runs on the real-time servo loop

// One run of a program, as far as it got.
struct ProgramRun {
    std::string output;  // on a terminal: everything, without carriage returns
    std::string errors;
    std::optional<int> status;
    std::vector<TraceRow> rows;
    std::string failedStep;  // the first step that did not happen; empty when all did
};

// Ends a run however the scenario left it: stops the program if it is still
// running and collects its output, exit status and trace.
class Finisher {
public:
    Finisher(zv_test::ChildProcess& child, ProgramRun& run, std::string trace)
        : child_(child), run_(run), trace_(std::move(trace)) {}
    Finisher(const Finisher&) = delete;
    Finisher& operator=(const Finisher&) = delete;
    ~Finisher() {
        run_.status = child_.wait(run_.failedStep.empty() ? kGenerous : 0.0);
        if (!run_.status) {
            child_.kill();
            child_.wait(kGenerous);
        }
        run_.output = withoutCarriageReturns(child_.output());
        run_.errors = child_.errors();
        if (!trace_.empty()) {
            run_.rows = readTrace(trace_);
            std::remove(trace_.c_str());
        }
    }

private:
    zv_test::ChildProcess& child_;
    ProgramRun& run_;
    std::string trace_;
};

// A step of a scenario that must happen; otherwise the run ends there.
#define STEP(condition)                  \
    do {                                 \
        if (!(condition)) {              \
            run.failedStep = #condition; \
            return;                      \
        }                                \
    } while (0)

// Runs one scenario of a program to its end.
template <typename Scenario>
ProgramRun runProgram(Scenario scenario) {
    ProgramRun run;
    scenario(run);
    return run;
}

#define EXPECT_RUN_COMPLETED(run)                                                                         \
    do {                                                                                                  \
        ASSERT_TRUE((run).failedStep.empty()) << "step failed: " << (run).failedStep << "\n--- output:\n" \
                                              << (run).output << "\n--- errors:\n"                        \
                                              << (run).errors;                                            \
    } while (0)

// ---------------------------------------------------------------- frictionless sphere

// Checks the sphere's law on every traced tick: (40 - d) x 0.25 outward
// inside, nothing outside (the trace has the true position; the program saw
// the encoder reading, hundredths of a millimetre away). A force over the
// device's 6 N maximum is dropped by the device. Returns the largest force.
double checkSphereLaw(const std::vector<TraceRow>& rows, double from = 0.0) {
    double largest = 0;
    Violations violations;
    for (const TraceRow& r : rows) {
        if (r.time < from) continue;
        const double d = length(r.position);
        Vec3 expected{};
        if (d < 40 && d > 0)
            for (int i = 0; i < 3; ++i) expected[i] = r.position[i] / d * (40 - d) * 0.25;
        if (length(expected) > 6.0) continue;
        Vec3 difference{};
        for (int i = 0; i < 3; ++i) difference[i] = r.force[i] - expected[i];
        if (length(difference) > 0.01)
            violations.add(r, "expected (", expected[0], ", ", expected[1], ", ", expected[2], ")");
        largest = std::max(largest, length(r.force));
    }
    EXPECT_EQ(violations.count(), 0) << violations.text();
    return largest;
}

TEST(FrictionlessSphere, PushingIntoTheSphereOnATerminal) {
    const ProgramRun run = runProgram([](ProgramRun& run) {
        const std::string trace = tempPath(".trace.csv");
        zv_test::ChildProcess child = start(SPHERE_PROGRAM, driven("frictionless_sphere_demo", trace), true);
        Finisher finish(child, run, trace);
        STEP(child.waitForOutput("Press any key to quit.\r\n\r\n", kGenerous));
        plat::sleepFor(6.0);  // the hand presses into the sphere from 3.5 s on
        STEP(child.write("x"));
    });
    EXPECT_RUN_COMPLETED(run);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output.rfind(kSphereIntro, 0), 0u) << run.output;
    ASSERT_GT(run.rows.size(), 4000u);  // about 6 s of ticks, some skipped by a busy host
    EXPECT_GT(checkSphereLaw(run.rows), 3.0) << "pressed well into the sphere";
    const bool outsideSeen = std::any_of(run.rows.begin(), run.rows.end(), [](const TraceRow& r) {
        return length(r.position) > 45 && length(r.force) == 0.0;
    });
    EXPECT_TRUE(outsideSeen) << "and was outside, feeling nothing";
}

// Unplugging the device: the callback reports the communication error and
// stops, and the main loop says so and waits for a key.
TEST(FrictionlessSphere, CommunicationErrorEndsTheCallback) {
    const std::string expected =
        "ZV Error: ZV_COMM_ERROR\n"
        "Communication Error: Check the device connection and configuration.\n"
        "HZV: 0\n"
        "Error Code: 302\n"
        "Internal Error Code: -17\n"
        "Message: Error during main scheduler callback\n\n"
        "\nThe main scheduler callback has exited\n"
        "\nPress any key to quit.\n";
    bool waitedForKey = false;
    const ProgramRun run = runProgram([&](ProgramRun& run) {
        Env env = driven("frictionless_sphere_demo", tempPath(".trace.csv"));
        env.push_back({"KORVO_SIM_FAULTS", "0.5:-17"});
        zv_test::ChildProcess child = start(SPHERE_PROGRAM, env, false);
        Finisher finish(child, run, env[1].second);
        STEP(child.waitForErrors("\nPress any key to quit.\n", kGenerous));
        waitedForKey = !child.wait(0.3).has_value();
        child.closeInput();
    });
    EXPECT_RUN_COMPLETED(run);
    EXPECT_TRUE(waitedForKey);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, expected);
    EXPECT_EQ(run.output, kSphereIntro);
}

// A device fault is reported, and the sphere is still rendered afterwards.
TEST(FrictionlessSphere, DeviceFaultIsReportedWhileTheCallbackKeepsRunning) {
    const ProgramRun run = runProgram([](ProgramRun& run) {
        const std::string trace = tempPath(".trace.csv");
        Env env = driven("frictionless_sphere_demo", trace);
        env.push_back({"KORVO_SIM_FAULTS", "0.5:-4"});
        zv_test::ChildProcess child = start(SPHERE_PROGRAM, env, false);
        Finisher finish(child, run, trace);
        STEP(child.waitForErrors("Message: Error during main scheduler callback\n\n", kGenerous));
        plat::sleepFor(5.0);
        child.closeInput();
    });
    EXPECT_RUN_COMPLETED(run);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors,
              "ZV Error: ZV_DEVICE_FAULT\n"
              "Device fault.  Check that the device is connected properly and activated.\n"
              "HZV: 0\n"
              "Error Code: 300\n"
              "Internal Error Code: -4\n"
              "Message: Error during main scheduler callback\n\n");
    EXPECT_EQ(run.output, kSphereIntro);
    EXPECT_GT(checkSphereLaw(run.rows, 1.0), 3.0) << "still pushing the device out well after the fault";
}

// ---------------------------------------------------------------- plane

TEST(Plane, PressingThroughUntilItPopsOnATerminal) {
    const ProgramRun run = runProgram([](ProgramRun& run) {
        const std::string trace = tempPath(".trace.csv");
        zv_test::ChildProcess child = start(PLANE_PROGRAM, driven("plane_demo", trace), true);
        Finisher finish(child, run, trace);
        STEP(child.waitForOutput("Press any key to quit.\r\n\r\n", kGenerous));
        plat::sleepFor(13.0);  // pops down at about 5.7 s and back up at about 11.8 s
        STEP(child.write(" "));
    });
    EXPECT_RUN_COMPLETED(run);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output.rfind(kPlaneIntro, 0), 0u) << run.output;

    const std::vector<TraceRow>& rows = run.rows;
    // 13 s of a 1 kHz loop. On a shared virtual machine the host takes the
    // CPU away now and then and the real-time loop skips the ticks it
    // missed, so only most of them are traced; the force laws below are
    // checked on the ticks that were.
    ASSERT_GT(rows.size(), 9000u);
    // Forces: along y only, a spring of 0.25 towards the side the device
    // came from, never over 5 N, zero on the plane itself.
    int pushingUp = 0, pushingDown = 0;
    Violations violations;
    for (const TraceRow& r : rows) {
        const double y = r.position[1];
        const double f = r.force[1];
        if (r.force[0] != 0.0 || r.force[2] != 0.0) violations.add(r, "not along y");
        if (std::fabs(f) > 5.0 + 0.01) violations.add(r, "over 5 N");
        if (std::fabs(y) < 0.01 && std::fabs(f) > 0.01) violations.add(r, "on the plane");
        if (f != 0.0 && std::fabs(std::fabs(f) - 0.25 * std::fabs(y)) > 0.01) violations.add(r, "not 0.25 |y|");
        if (f * y > 0.0001) violations.add(r, "pushes away from the side it came from");
        pushingUp += f > 1.0;
        pushingDown += f < -1.0;
    }
    EXPECT_EQ(violations.count(), 0) << violations.text() << run.output;
    EXPECT_GT(pushingUp, 100);
    EXPECT_GT(pushingDown, 100);
    // The first pop-through: once the device is more than 20 below the plane
    // it is free below it until it comes back above.
    const auto popped = std::find_if(rows.begin(), rows.end(), [](const TraceRow& r) { return r.position[1] < -21; });
    ASSERT_NE(popped, rows.end()) << "pressed through";
    const auto back = std::find_if(popped, rows.end(), [](const TraceRow& r) { return r.position[1] > 0.01; });
    ASSERT_NE(back, rows.end()) << "came back up";
    for (auto r = popped; r != back; ++r) {
        EXPECT_EQ(r->force[1], 0.0) << "free below after the pop, t=" << r->time;
    }
    EXPECT_LT(
        std::min_element(back, rows.end(), [](const TraceRow& a, const TraceRow& b) { return a.force[1] < b.force[1]; })
            ->force[1],
        -1.0)
        << "the plane now resists from below";
}

// ---------------------------------------------------------------- warm motors

TEST(WarmMotors, HoldingTheFloorUntilTheMotorsWarmOnATerminal) {
    std::string output;  // what was printed before the key was typed (the terminal echoes the key)
    const ProgramRun run = runProgram([&](ProgramRun& run) {
        const std::string trace = tempPath(".trace.csv");
        zv_test::ChildProcess child = start(WARM_MOTORS_PROGRAM, driven("warm_motors_demo", trace), true);
        Finisher finish(child, run, trace);
        STEP(child.waitForOutput(" Ramping Down Forces\r\n", kGenerous));
        // The ramp takes 1.4 s of ticks; the wait leaves room for ticks the
        // host skips on a shared machine.
        plat::sleepFor(6.0);  // the limit settles at the continuous force
        child.readOutput(0);
        output = withoutCarriageReturns(child.output());
        output.erase(output.rfind('\n') + 1);
        STEP(child.write("q"));
    });
    EXPECT_RUN_COMPLETED(run);
    EXPECT_EQ(run.status, 0);

    ASSERT_EQ(output.rfind(kWarmIntro, 0), 0u) << output;
    std::istringstream lines(output.substr(sizeof kWarmIntro - 1));
    const std::regex format(R"(Motor Temperature:( \d+\.\d{6}){3}( Ramping Down Forces| Ramping Up Forces)?)");
    std::string line;
    int plain = 0, down = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, format)) << '"' << line << '"';
        if (line.find("Ramping") == std::string::npos) {
            EXPECT_EQ(down, 0) << "no unlimited line between ramping-down lines";
            ++plain;
        }
        down += line.find(" Ramping Down Forces") != std::string::npos;
    }
    EXPECT_GT(plain, 0);
    EXPECT_GT(down, 0);

    const std::vector<TraceRow>& rows = run.rows;
    ASSERT_FALSE(rows.empty());
    const double largest = std::max_element(rows.begin(), rows.end(), [](const TraceRow& a, const TraceRow& b) {
                               return length(a.force) < length(b.force);
                           })->force[1];
    EXPECT_NEAR(largest, 6.0, 0.01) << "the floor held at the clamped maximum force";
    // The force comes down to the continuous force and is held there (the
    // hand later leaves the floor, so the last rows need not show it).
    const auto settled = std::count_if(rows.begin(), rows.end(),
                                       [](const TraceRow& r) { return std::abs(length(r.force) - 1.5) < 0.01; });
    EXPECT_GT(settled, 100) << "ramped down to the continuous force and held it";
}

// ---------------------------------------------------------------- motor DAC console

TEST(MotorDacConsole, CommandingDacValuesOnATerminal) {
    const std::string indexPrompt = "\nEnter the motor index [0 - 2]: ";
    const std::string valuePrompt = "Enter value and press return: ";
    const std::string errorReport =
        "ZV Error: ZV_EXCEEDED_MAX_FORCE\n"
        "Device warning: Device exceeded the maximum force limit.\n"
        "HZV: 0\n"
        "Error Code: 201\n"
        "Internal Error Code: -2\n"
        "Message: Error while commanding DAC values\n";
    const ProgramRun run = runProgram([&](ProgramRun& run) {
        const std::string trace = tempPath(".trace.csv");
        Env env = driven("motor_dac_console", trace);
        env.push_back({"KORVO_SIM_FAULTS", "15:-2"});  // a maximum-force report from the output
        zv_test::ChildProcess child = start(DAC_PROGRAM, env, true);
        Finisher finish(child, run, trace);
        auto seen = [&] { return withoutCarriageReturns(child.output()); };
        auto waitFor = [&](const std::string& text, std::size_t times = 1) {
            for (int i = 0; i < 1200 && count(seen(), text) < times; ++i) child.readOutput(0.05);
            return count(seen(), text) >= times;
        };
        // The state shows what the last servo tick sent: a new value goes out
        // at the tick after its V command, so the state is asked for until it
        // shows `text`.
        auto printStateUntil = [&](const std::string& text) {
            for (int attempt = 0; attempt < 100 && count(seen(), text) == 0; ++attempt) {
                const std::size_t before = count(seen(), "\nPosition:");
                if (!child.write(attempt % 2 == 0 ? "p" : "P")) return false;
                waitFor("\nPosition:", before + 1);
            }
            return count(seen(), text) > 0;
        };
        STEP(waitFor(std::string("Initialized: Korvo Arm 3G\n") + kDacHelp));

        STEP(child.write("m"));
        STEP(waitFor(indexPrompt));
        STEP(child.write("9"));  // not a motor of a three-motor device
        STEP(waitFor(indexPrompt, 2));
        STEP(child.write("2"));
        STEP(waitFor("\nMotor index selected: 2\n"));

        STEP(child.write("V"));
        STEP(waitFor("\nSet the DAC value as a number between -32768 and 32767\n" + valuePrompt));
        STEP(child.write("40000\r"));
        STEP(waitFor(valuePrompt, 2));
        STEP(child.write("-40000\r"));
        STEP(waitFor(valuePrompt, 3));
        STEP(child.write("-32768\r"));
        STEP(waitFor("Motor DAC Values: 0 0 -32768\n\n"));
        STEP(child.write("v"));
        STEP(waitFor(valuePrompt, 4));
        STEP(child.write("32767\r"));
        STEP(waitFor("Motor DAC Values: 0 0 32767\n\n"));
        STEP(child.write("v"));
        STEP(waitFor(valuePrompt, 5));
        STEP(child.write("1500\r"));
        STEP(waitFor("Motor DAC Values: 0 0 1500\n\n"));
        STEP(printStateUntil("\nMotor DAC Values: 0 0 1500\nEncoder Values:"));

        const std::size_t printed = count(seen(), "\nEncoder Values:");
        STEP(child.write("c"));
        STEP(waitFor("\nEncoder Values:", printed + 3));
        STEP(child.write("x"));  // stops the printing and is not a command
        STEP(child.write("h"));
        STEP(waitFor(kDacHelp, 2));

        // The output error (at 15 s) zeroes the commanded values.
        STEP(waitFor(errorReport));
        STEP(printStateUntil("\nMotor DAC Values: 0 0 0\nEncoder Values:"));
        STEP(child.write("q"));
    });
    EXPECT_RUN_COMPLETED(run);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(count(run.output, indexPrompt), 2u) << "9 refused once";
    EXPECT_EQ(count(run.output, valuePrompt), 5u) << "40000 and -40000 refused, three values accepted";
    const std::regex state(
        R"(\nMotor DAC Values: 0 0 1500\nEncoder Values:( -?\d+){6}\nPosition:( -?\d+\.\d{6}){3}\n)");
    EXPECT_TRUE(std::regex_search(run.output, state)) << run.output;
    EXPECT_EQ(count(run.output, kDacHelp), 2u) << "the x only stopped the printing";
    EXPECT_EQ(count(run.output, "Message: Error while commanding DAC values\n"), 1u) << run.output;
    EXPECT_NE(run.output.find(errorReport), std::string::npos);

    const std::vector<TraceRow>& rows = run.rows;
    ASSERT_FALSE(rows.empty());
    const double strongest =
        length(std::max_element(rows.begin(), rows.end(), [](const TraceRow& a, const TraceRow& b) {
                   return length(a.force) < length(b.force);
               })->force);
    EXPECT_GT(strongest, 0.1) << "the motor pushed";
    EXPECT_EQ(length(rows.back().force), 0.0) << "nothing after the error";
}

// ---------------------------------------------------------------- sphere-sphere contact

// A virtual X display for the graphical sample; Xvfb picks a free display
// number itself and tells it on its output.
class VirtualDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists("/usr/bin/Xvfb")) << "Xvfb is not installed (scripts/install-deps.sh)";
        zv_test::ChildProcess::Options options;
        options.arguments = {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"};
        options.separateErrors = true;
        xvfb_ = zv_test::ChildProcess("/usr/bin/Xvfb", options);
        ASSERT_TRUE(xvfb_.waitForOutput("\n", kGenerous)) << xvfb_.errors();
        display_ = ":" + withoutCarriageReturns(xvfb_.output().substr(0, xvfb_.output().find('\n')));
    }
    void TearDown() override {
        xvfb_.terminate();
        xvfb_.wait(kGenerous);
    }

    // "red <n> cyan <m>" of what the display shows.
    std::pair<long, long> colours() {
        zv_test::ChildProcess::Options options;
        options.environment = {{"DISPLAY", display_}};
        zv_test::ChildProcess probe(COLOUR_PROBE, options);
        long red = -1, cyan = -1;
        if (probe.wait(kGenerous) == 0) std::sscanf(probe.output().c_str(), "red %ld cyan %ld", &red, &cyan);
        return {red, cyan};
    }

    zv_test::ChildProcess xvfb_;
    std::string display_;
};

TEST_F(VirtualDisplay, SphereContactShowsBothSpheres) {
    Env env = {{"DISPLAY", display_}, {"KORVO_SIM_TRAJECTORY", trajectoryOf("sphere_contact_demo")}};
    zv_test::ChildProcess child = start(SPHERE_CONTACT_PROGRAM, env, false);
    ASSERT_TRUE(child.waitForOutput("Starting application\nFound device Korvo Arm 3G\n", kGenerous))
        << child.output() << child.errors();
    // The device sphere (0.9, 0.1, 0.1) and the fixed sphere (0.2, 0.8, 0.8),
    // both shaded by the lights.
    std::pair<long, long> seen{0, 0};
    for (int attempt = 0; attempt < 120; ++attempt) {
        seen = colours();
        if (seen.first > 200 && seen.second > 2000) break;
        plat::sleepFor(0.5);
    }
    // For a look at what was seen when this fails.
    const std::string screenshot = tempPath(".ppm");
    zv_test::ChildProcess::Options options;
    options.arguments = {screenshot};
    options.environment = {{"DISPLAY", display_}};
    zv_test::ChildProcess(COLOUR_PROBE, options).wait(kGenerous);
    EXPECT_GT(seen.first, 200) << "reddish pixels of the device sphere; screen: " << screenshot;
    EXPECT_GT(seen.second, 2000) << "cyan pixels of the fixed sphere; screen: " << screenshot;
    if (!HasFailure()) std::remove(screenshot.c_str());
    EXPECT_FALSE(child.wait(0).has_value()) << child.output() << child.errors();
    child.terminate();
    child.wait(kGenerous);
}

// The force of every traced tick is the spring towards where the small
// sphere rests on the large one; unplugging the device ends the callback,
// which the program reports before it ends with status -1.
TEST_F(VirtualDisplay, SphereContactForcesAndUnplugging) {
    const ProgramRun run = runProgram([&](ProgramRun& run) {
        const std::string trace = tempPath(".trace.csv");
        Env env = driven("sphere_contact_demo", trace);
        env.push_back({"DISPLAY", display_});
        env.push_back({"KORVO_SIM_FAULTS", "9:-19:persistent"});
        zv_test::ChildProcess child = start(SPHERE_CONTACT_PROGRAM, env, false);
        Finisher finish(child, run, trace);
        STEP(child.waitForOutput("The main scheduler callback has exited\nPress any key to quit.\n", kGenerous));
        child.closeInput();
    });
    EXPECT_RUN_COMPLETED(run);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output,
              "Starting application\nFound device Korvo Arm 3G\n"
              "The main scheduler callback has exited\nPress any key to quit.\n");
    EXPECT_EQ(run.errors,
              "ZV Error: ZV_COMM_ERROR\n"
              "Communication Error: Check the device connection and configuration.\n"
              "HZV: 0\n"
              "Error Code: 302\n"
              "Internal Error Code: -19\n"
              "Message: Error during scheduler callback\n");

    const std::vector<TraceRow>& rows = run.rows;
    // About 9 s of ticks; some are skipped when the host takes the CPU
    // away (see the plane test).
    ASSERT_GT(rows.size(), 5000u);
    int apart = 0, touching = 0;
    Violations violations;
    // The callback starts once the window is up, some ticks after the servo
    // loop (and the trace); it pushes the stylus out of the fixed sphere at
    // once.
    const auto started =
        std::find_if(rows.begin(), rows.end(), [](const TraceRow& r) { return length(r.force) > 0.0; });
    ASSERT_NE(started, rows.end());
    for (auto row = started; row != rows.end(); ++row) {
        const TraceRow& r = *row;
        if (r.time > 8.9) break;
        const double d = length(r.position);                // the fixed sphere sits at the workspace centre, the origin
        if (std::fabs(d - 80) < 0.05 || d < 0.1) continue;  // the encoder reading may fall either side
        Vec3 expected{};
        if (d < 80)
            for (int i = 0; i < 3; ++i) expected[i] = (r.position[i] * 80 / d - r.position[i]) * 0.1;
        const double magnitude = length(expected);
        if (magnitude > 6.0)  // clamped to the device's maximum along its direction
            for (double& e : expected) e *= 6.0 / magnitude;
        Vec3 difference{};
        for (int i = 0; i < 3; ++i) difference[i] = r.force[i] - expected[i];
        // The sample computes its force from the encoder reading, which is
        // quantised to one count (up to 0.04 mm at the tip), while the trace
        // holds the true position: the force's direction may differ by up to
        // a count over the distance from the centre, which matters near the
        // centre where the force is clamped.
        const double tolerance = 0.01 + length(expected) * 0.04 / d;
        if (length(difference) > tolerance)
            violations.add(r, "expected (", expected[0], ", ", expected[1], ", ", expected[2], ")");
        apart += d > 80;
        touching += d < 78 && length(r.force) > 0.2;
    }
    EXPECT_EQ(violations.count(), 0) << violations.text();
    EXPECT_GT(apart, 500);
    EXPECT_GT(touching, 500);
}

// ---------------------------------------------------------------- hello haptics

// A binary PPM screenshot of the display, as the colour probe saves it.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    bool white(int x, int y) const {
        const unsigned char* p = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
        return p[0] > 200 && p[1] > 200 && p[2] > 200;
    }
    bool black(int x, int y) const {
        const unsigned char* p = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
        return p[0] < 30 && p[1] < 30 && p[2] < 30;
    }
};

Screenshot readPpm(const std::string& path) {
    Screenshot shot;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> shot.width >> shot.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255 || shot.width <= 0 || shot.height <= 0) return {};
    shot.rgb.resize(3 * static_cast<std::size_t>(shot.width) * shot.height);
    in.read(reinterpret_cast<char*>(shot.rgb.data()), static_cast<std::streamsize>(shot.rgb.size()));
    return in ? shot : Screenshot{};
}

// The program's own trace: per frame, the device and proxy positions in
// workspace millimetres.
struct FrameRow {
    double time;
    Vec3 device;
    Vec3 proxy;
};

std::vector<FrameRow> readFrames(const std::string& path) {
    std::vector<FrameRow> rows;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        FrameRow r{};
        if (std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%lf", &r.time, &r.device[0], &r.device[1], &r.device[2],
                        &r.proxy[0], &r.proxy[1], &r.proxy[2]) == 7)
            rows.push_back(r);
    }
    return rows;
}

class HelloHaptics : public VirtualDisplay {
protected:
    zv_test::ChildProcess startHello(Env env, const std::string& frames = "") {
        env.push_back({"DISPLAY", display_});
        zv_test::ChildProcess::Options options;
        options.environment = std::move(env);
        options.environment.emplace_back("KORVO_SIM_OVERRUN_TOLERANCE", "600000");
        options.separateErrors = true;
        if (!frames.empty()) options.arguments = {"--trace", frames};
        return zv_test::ChildProcess(HELLO_PROGRAM, options);
    }
    Screenshot screenshot() {
        const std::string path = tempPath(".ppm");
        zv_test::ChildProcess::Options options;
        options.arguments = {path};
        options.environment = {{"DISPLAY", display_}};
        zv_test::ChildProcess(COLOUR_PROBE, options).wait(kGenerous);
        Screenshot shot = readPpm(path);
        std::remove(path.c_str());
        return shot;
    }
};

// The window shows a white square, half the window's 250 pixels wide and
// high, on black.
TEST_F(HelloHaptics, ShowsAWhiteSquareOnBlack) {
    zv_test::ChildProcess child = startHello({});
    Screenshot shot;
    long whites = 0;
    for (int attempt = 0; attempt < 120 && whites < 15000; ++attempt) {
        plat::sleepFor(0.5);
        shot = screenshot();
        whites = std::count_if(shot.rgb.begin(), shot.rgb.end(), [](unsigned char c) { return c > 200; }) / 3;
    }
    ASSERT_GT(shot.width, 0) << "no screenshot";
    int left = shot.width, right = -1, top = shot.height, bottom = -1;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            if (shot.white(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(right, left) << "nothing white on the display\n" << child.errors();
    EXPECT_NEAR(right - left + 1, 125, 2);
    EXPECT_NEAR(bottom - top + 1, 125, 2);
    long notWhite = 0, notBlack = 0;
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) notWhite += !shot.white(x, y);
    // The rest of the window: a band of 50 pixels around the square.
    for (int y = top - 50; y <= bottom + 50; ++y)
        for (int x = left - 50; x <= right + 50; ++x)
            if (x >= 0 && y >= 0 && x < shot.width && y < shot.height &&
                (x < left || x > right || y < top || y > bottom))
                notBlack += !shot.black(x, y);
    EXPECT_EQ(notWhite, 0);
    EXPECT_EQ(notBlack, 0);
    EXPECT_FALSE(child.wait(0).has_value()) << child.errors();
    child.terminate();
    child.wait(kGenerous);
}

// The hand lowers the stylus onto the square (the plane z = -25 of the
// workspace that qmWorkspace(-80, -80, -70, 80, 80, 20) and qmOrtho(0, 1,
// 0, 1, -1, 1) give the graphics box) and keeps pulling 10 mm below it. The
// proxy stays on the surface, and the stylus settles where the hand's spring
// (0.5 N/mm) and the surface's (0.8 of the Arm 3G's nominal 1.2 N/mm)
// balance: 10 x 0.5 / (0.5 + 0.96) = 3.42 mm deep. The program's own trace
// gives the device and the proxy as the library published them at each
// frame. (The program never ends by itself but from its menu, so the test
// stops it, and the simulator's buffered trace would be cut short.)
TEST_F(HelloHaptics, TheStylusStopsAtTheSquaresSurface) {
    const std::string frames = tempPath(".frames.csv");
    zv_test::ChildProcess child = startHello({{"KORVO_SIM_TRAJECTORY", trajectoryOf("hello_haptics_demo")}}, frames);
    plat::sleepFor(7.5);
    const bool running = !child.wait(0).has_value();
    child.terminate();
    child.wait(kGenerous);
    const std::vector<FrameRow> seen = readFrames(frames);
    std::remove(frames.c_str());
    EXPECT_TRUE(running) << child.errors();
    if (child.errors().find("Rendering library error: QM_INVALID_ENUM") != std::string::npos)
        GTEST_SKIP() << "this build of the rendering library has no depth-buffer shapes:\n" << child.errors();
    EXPECT_EQ(child.errors(), "");
    ASSERT_FALSE(seen.empty());

    const double surface = -25.0;
    const double depth = 10.0 * 0.5 / (0.5 + 0.8 * 1.2);
    // Before the press: the stylus waits above the square, the proxy with it.
    EXPECT_NEAR(seen.front().device[2], 0.0, 1.0);
    // The stylus goes into the surface about 2.7 s after the device opens;
    // the hand holds still from 3 s to 6 s.
    const auto entered =
        std::find_if(seen.begin(), seen.end(), [&](const FrameRow& f) { return f.device[2] < surface - 1.0; });
    ASSERT_NE(entered, seen.end()) << "the stylus never pressed into the square";
    // On a busy machine the whole program is sometimes descheduled for a
    // tenth of a second: the frames stop, the servo loop misses its
    // deadlines, and the stylus drops toward the hand until the loop catches
    // up. A frame that follows such a stall (a gap of more than 60 ms between
    // frames within the last 0.3 s) is not held to the balance.
    const auto afterStall = [&](std::size_t i) {
        for (std::size_t j = i; j > 0 && seen[i].time - seen[j].time < 0.3; --j)
            if (seen[j].time - seen[j - 1].time > 0.06) return true;
        return false;
    };
    // A stylus that goes through the square stays down near the hand for
    // as long as the hand holds still. A stall of the servo thread alone
    // (which the frame times do not show) longer than the device's 10-period
    // command watchdog makes the amplifiers let go, as they would on
    // hardware: the stylus sinks for a moment and comes back within a few
    // frames. So deep frames are gathered into runs of consecutive frames,
    // and only a run longer than 0.15 s, or more than two runs, count as
    // going through.
    struct DeepRuns {
        std::vector<std::pair<double, double>> runs;  // first and last time
        double deepest = 0.0;
        std::size_t lastFrame = 0;
        void note(std::size_t frame, double time, double deep) {
            deepest = std::max(deepest, deep);
            if (!runs.empty() && lastFrame + 1 == frame) {
                runs.back().second = time;
            } else {
                runs.push_back({time, time});
            }
            lastFrame = frame;
        }
    } deepRuns;
    std::vector<double> settledZ, settledX, settledY;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const FrameRow& f = seen[i];
        if (f.device[2] < surface - 0.5) {
            EXPECT_NEAR(f.proxy[2], surface, 0.1) << "the proxy rests on the square, t = " << f.time;
            EXPECT_NEAR(f.proxy[0], f.device[0], 0.2) << "t = " << f.time;
            EXPECT_NEAR(f.proxy[1], f.device[1], 0.2) << "t = " << f.time;
        }
        // Frames where the surface is captured again may let the stylus
        // sink a little further for a moment; only a stall lets it near the
        // hand's 10 mm.
        if (surface - f.device[2] > depth + 2.5 && !afterStall(i)) deepRuns.note(i, f.time, surface - f.device[2]);
        if (f.time < entered->time + 1.5 || f.time > entered->time + 3.0 || afterStall(i)) continue;
        settledZ.push_back(f.device[2]);
        settledX.push_back(f.device[0]);
        settledY.push_back(f.device[1]);
        if (HasFailure()) break;
    }
    ASSERT_GT(settledZ.size(), 10u) << "frames while the hand held still";
    const auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    EXPECT_NEAR(median(settledZ), surface - depth, 0.15);
    EXPECT_NEAR(median(settledX), 5.0, 0.2);
    EXPECT_NEAR(median(settledY), -5.0, 0.2);
    std::ostringstream runs;
    double longest = 0.0;
    for (const auto& [first, last] : deepRuns.runs) {
        runs << " [" << first << ", " << last << "]";
        longest = std::max(longest, last - first);
    }
    EXPECT_LE(deepRuns.runs.size(), 2u) << "the stylus went through the square at" << runs.str() << " (down to "
                                        << deepRuns.deepest << " mm)";
    EXPECT_LT(longest, 0.15) << "the stylus went through the square at" << runs.str() << " (down to "
                             << deepRuns.deepest << " mm)";
}

TEST_F(HelloHaptics, WithoutADeviceReportsTheFailureAndWaitsForAKey) {
    zv_test::ChildProcess child = startHello({{"KORVO_SIM_NO_DEVICE", "1"}});
    ASSERT_TRUE(child.waitForErrors("Press any key to exit\n", kGenerous)) << child.output() << child.errors();
    EXPECT_FALSE(child.wait(0.3).has_value()) << "waits for the key";
    ASSERT_TRUE(child.write("k"));
    EXPECT_EQ(child.wait(kGenerous), 255);
    EXPECT_NE(child.errors().find("Message: Failed to initialize haptic device\n"), std::string::npos)
        << child.errors();
}

}  // namespace
}  // namespace sample_test
