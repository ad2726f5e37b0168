// The collision recorder: recording the device target of every collision
// step into CollisionFile.dat, playing such a file back into the target
// (whole ticks only, whatever state the file is in), and the named events
// through which an outside tool switches it.
//
// Every test runs in a directory of its own (the file lives in the current
// directory) and gives the collision thread's events a suffix of its own, so
// that tests running side by side, and other programs, never meet.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "korvo/korvo_sim.h"
#include "qm/api/ErrorManager.h"
#include "qm/collision/CollisionRecorder.h"
#include "qm/collision/CollisionScheduler.h"
#include "qm/collision/RecorderEvents.h"
#include "qm/servo/MotionTransform.h"
#include "shape_test_support.h"
#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
namespace events = QM::recorder_events;
using QM::RecorderMode;
using zvu::zvuVector3Dd;

constexpr double kLong = 30.0;

const std::string kHeader =
    "<?xml version=\"1.0\"?>\n"
    "<!-- Orvell Technologies collision dump file. -->\n"
    "<FileVersion>1.0</FileVersion>\n"
    "<Build>zvGetString(ZV_VERSION)</Build>\n";

std::string tick(const std::string& pos) { return "<Tick>\n<TargetPos>" + pos + "</TargetPos>\n</Tick>\n"; }

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A directory of its own as the current directory, and event names of its
// own, for the duration of a test.
class Sandbox {
public:
    explicit Sandbox(const std::string& tag) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        suffix_ = "-qmtest-" + std::to_string(::getpid()) + "-" + tag;
        dir_ = fs::temp_directory_path() / ("qm-recorder" + suffix_ + "-" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        previous_ = fs::current_path();
        fs::current_path(dir_);
        QM::collisionScheduler().setRecorderEventSuffix(suffix_);
    }
    ~Sandbox() {
        QM::collisionScheduler().setRecorderEventSuffix("");
        for (const char* name : events::kNames) {
            plat::Event::unlinkNamed(name + suffix_);
        }
        std::error_code ignored;
        fs::current_path(previous_, ignored);
        fs::remove_all(dir_, ignored);
    }
    const std::string& suffix() const { return suffix_; }
    fs::path file() const { return dir_ / QM::CollisionRecorder::kFileName; }

private:
    std::string suffix_;
    fs::path dir_;
    fs::path previous_;
};

// Sets a recorder event as the tool does and waits until it was taken.
bool setAndWaitTaken(const plat::Event& event) {
    event.set();
    for (int i = 0; i < 10000 && event.isSet(); ++i) {
        plat::sleepFor(0.001);
    }
    return !event.isSet();
}

class Recorder : public qmtest::ShapeTest {
protected:
    void SetUp() override {
        sandbox_.emplace("shape");
        ShapeTest::SetUp();
    }
    void TearDown() override {
        ShapeTest::TearDown();
        sandbox_.reset();
    }

    const Sandbox& sandbox() const { return *sandbox_; }

    QM::ICollisionRecorder& recorder() {
        return *dynamic_cast<QM::ICollisionClient&>(*context().sceneRenderer).collisionRecorder();
    }

    // Signals like the outside tool and returns once the collision thread
    // has acted on it (an operation queued for the thread runs after the
    // loop turn that took the signal).
    void signal(events::Signal which) {
        const plat::Event event = plat::Event::openNamed(events::kNames[which] + sandbox().suffix());
        ASSERT_TRUE(event.valid());
        ASSERT_TRUE(setAndWaitTaken(event));
        onCollisionThread([] {});
    }

    // Runs the outside tool with the test's event names.
    int tool(const std::vector<std::string>& arguments) {
        zv_test::ChildProcess::Options options;
        options.arguments = {"--suffix", sandbox().suffix()};
        options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
        zv_test::ChildProcess child(QM_RECORDER_TOOL, options);
        const std::optional<int> status = child.wait(kLong);
        EXPECT_TRUE(status.has_value()) << child.output();
        return status.value_or(-1);
    }

    // The collision side's target after the last step: {position, last}.
    std::pair<zvuVector3Dd, zvuVector3Dd> target() {
        std::pair<zvuVector3Dd, zvuVector3Dd> t;
        onCollisionThread([&] {
            const QM::MotionTransform& m = context().sceneRenderer->getClientTarget().motion();
            t = {m.position(), m.lastPosition()};
        });
        return t;
    }

    void placeStylus(const zvuVector3Dd& p) {
        const double where[3] = {p.x, p.y, p.z};
        ASSERT_EQ(korvo_sim_place_stylus(device, where), 0);
    }

    // Enters playback directly, as a stop or start-play signal does.
    void play() {
        onCollisionThread([&] { recorder().setMode(RecorderMode::Playback); });
    }

private:
    std::optional<Sandbox> sandbox_;
};

// The tool starts a recording and stops it; every step in between writes
// the target the step worked with, formatted as a standard stream formats
// it, and the stop leaves the recorder playing back what was just written.
TEST_F(Recorder, StartRecordThenStopWritesHeaderAndOneTickPerStepAndEndsInPlayback) {
    EXPECT_EQ(recorder().mode(), RecorderMode::Off);
    ASSERT_EQ(tool({"record"}), 0);
    onCollisionThread([] {});
    EXPECT_EQ(recorder().mode(), RecorderMode::Recording);
    EXPECT_EQ(readFile(sandbox().file()), kHeader);

    std::string expected = kHeader;
    const zvuVector3Dd places[] = {{0.0, 0.0, 10.0}, {12.5, -3.25, 20.0}, {-7.0, 4.0, 1.0 / 3.0}};
    for (const zvuVector3Dd& place : places) {
        placeStylus(place);
        ticks(10);
        step();
        const zvuVector3Dd p = target().first;
        std::ostringstream line;
        line.imbue(std::locale::classic());
        line << p.x << ' ' << p.y << ' ' << p.z;
        expected += tick(line.str());
        // Flushed at every step: the file holds the ticks while recording.
        EXPECT_EQ(readFile(sandbox().file()), expected);
    }

    ASSERT_EQ(tool({"stop"}), 0);
    onCollisionThread([] {});
    EXPECT_EQ(recorder().mode(), RecorderMode::Playback);
    EXPECT_EQ(readFile(sandbox().file()), expected);
    EXPECT_TRUE(errors().empty());
}

TEST_F(Recorder, TwoTicksPlayedForFiveStepsGiveFirstSecondFirstSecondFirst) {
    writeFile(sandbox().file(), kHeader + tick("1 10 100") + tick("2 20 200"));
    signal(events::StartPlay);
    ASSERT_EQ(recorder().mode(), RecorderMode::Playback);
    const double xs[] = {1, 2, 1, 2, 1};
    for (int i = 0; i < 5; ++i) {
        ticks(10);
        step();
        const auto [position, last] = target();
        EXPECT_EQ(position, zvuVector3Dd(xs[i], 10 * xs[i], 100 * xs[i])) << "step " << i;
        // The target moves from the position played before it.
        if (i > 0) {
            EXPECT_EQ(last.x, xs[i - 1]) << "step " << i;
        }
    }
    EXPECT_TRUE(errors().empty());
}

// Files that are cut short or malformed: playback sets the target only from
// whole, readable ticks, keeps the one-tick-per-step pace, and reports what
// it could not play when it gets there (once per run of playback).
TEST_F(Recorder, DamagedFilesPlayTheirWholeTicksAndReportTheRest) {
    struct Case {
        const char* what;
        std::optional<std::string> text;  // none: no file at all
        // The x set at each step; none where the step must set nothing.
        std::vector<std::optional<double>> xs;
        int reportedAtStep;  // 1-based; 0 for no report
        QMenum error;
    };
    const std::string two = kHeader + tick("1 1 1") + tick("2 2 2");
    const std::vector<Case> cases = {
        {"cut after a tick's position",
         two + "<Tick>\n<TargetPos>3 3 3</TargetPos>\n",
         {1, 2, 1, 2},
         3,
         QM_INVALID_VALUE},
        {"cut inside a position", two + "<Tick>\n<TargetPos>3 3", {1, 2, 1, 2}, 3, QM_INVALID_VALUE},
        {"cut inside an end tag",
         two + "<Tick>\n<TargetPos>3 3 3</TargetPos>\n</Ti",
         {1, 2, 1, 2},
         3,
         QM_INVALID_VALUE},
        {"cut inside a start tag", two + "<Tic", {1, 2, 1, 2}, 3, QM_INVALID_VALUE},
        {"garbage after whole ticks", two + "<<junk", {1, 2, 1, 2}, 3, QM_INVALID_VALUE},
        {"stray end tag", two + "</Tick>\n", {1, 2, 1, 2}, 3, QM_INVALID_VALUE},
        {"two numbers",
         kHeader + tick("1 1 1") + tick("2 2") + tick("3 3 3"),
         {1, std::nullopt, 3, 1},
         2,
         QM_INVALID_VALUE},
        {"four numbers", kHeader + tick("1 1 1") + tick("2 2 2 2"), {1, std::nullopt, 1}, 2, QM_INVALID_VALUE},
        {"not a number", kHeader + tick("1 1 1") + tick("2 x 2"), {1, std::nullopt, 1}, 2, QM_INVALID_VALUE},
        {"not finite", kHeader + tick("1 1 1") + tick("nan 2 inf"), {1, std::nullopt, 1}, 2, QM_INVALID_VALUE},
        {"tick without a position",
         kHeader + tick("1 1 1") + "<Tick>\n</Tick>\n",
         {1, std::nullopt, 1},
         2,
         QM_INVALID_VALUE},
        {"no file", std::nullopt, {std::nullopt, std::nullopt}, 1, QM_INVALID_OPERATION},
        {"empty file", "", {std::nullopt, std::nullopt}, 0, nullptr},
        {"header only", kHeader, {std::nullopt, std::nullopt}, 0, nullptr},
    };
    const double file[] = {1, 2, 3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(sandbox().file());
        if (c.text) {
            writeFile(sandbox().file(), *c.text);
        }
        play();
        std::vector<QMenum> reported;
        for (std::size_t i = 0; i < c.xs.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i + 1));
            ticks(10);
            step();
            const zvuVector3Dd p = target().first;
            ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
            if (c.xs[i]) {
                EXPECT_EQ(p, zvuVector3Dd(*c.xs[i], *c.xs[i], *c.xs[i]));
            } else {
                for (double x : file) EXPECT_NE(p.x, x);
            }
            const std::vector<QMenum> now = errors();
            if (static_cast<int>(i + 1) == c.reportedAtStep) {
                EXPECT_EQ(now, std::vector<QMenum>{c.error});
            } else {
                EXPECT_TRUE(now.empty());
            }
        }
    }
}

// ---------------------------------------------------------------- recording

// Every context is switched at once, but two recorders appending to one file
// would interleave their ticks: the first one to start owns the file until
// it stops, and another one reports that it cannot record and stays off.
TEST(RecorderFile, OnlyOneRecorderWritesAFileAtATime) {
    Sandbox sandbox("claim");
    QM::ErrorManager firstErrors;
    QM::ErrorManager secondErrors;
    QM::CollisionRecorder first(firstErrors, sandbox.file().string());
    QM::CollisionRecorder second(secondErrors, sandbox.file().string());
    QM::HapticDeviceTarget target;
    target.place({1.0, 2.0, 3.0});

    first.setMode(RecorderMode::Recording);
    second.setMode(RecorderMode::Recording);
    EXPECT_EQ(first.mode(), RecorderMode::Recording);
    EXPECT_EQ(second.mode(), RecorderMode::Off);
    EXPECT_EQ(secondErrors.pop().errorCode, QM_INVALID_OPERATION);
    first.step(target);
    second.step(target);
    EXPECT_EQ(readFile(sandbox.file()), kHeader + tick("1 2 3"));

    // Once the first has stopped, the file is free again.
    first.setMode(RecorderMode::Off);
    second.setMode(RecorderMode::Recording);
    EXPECT_EQ(second.mode(), RecorderMode::Recording);
    EXPECT_EQ(readFile(sandbox.file()), kHeader);
    EXPECT_EQ(firstErrors.size(), 0u);
    EXPECT_EQ(secondErrors.size(), 0u);
}

// A file that cannot be created is reported, and the recorder does not claim
// to be recording.
TEST(RecorderFile, AFileThatCannotBeCreatedLeavesTheRecorderOff) {
    Sandbox sandbox("unwritable");
    QM::ErrorManager errors;
    QM::CollisionRecorder recorder(errors, (sandbox.file().parent_path() / "missing" / "file.dat").string());
    recorder.setMode(RecorderMode::Recording);
    EXPECT_EQ(recorder.mode(), RecorderMode::Off);
    EXPECT_EQ(errors.pop().errorCode, QM_INVALID_OPERATION);
}

// ---------------------------------------------------------------- thread

// A client without a device: each step records or plays a target placed at
// the step's number, so the collision thread's handling of the events can be
// seen without a servo loop.
class CountingClient final : public QM::ICollisionClient {
public:
    explicit CountingClient(const fs::path& file) : recorder_(errors_, file.string()) {}
    void added() noexcept override {}
    void removed() noexcept override {}
    void step() noexcept override {
        const int n = steps_.fetch_add(1) + 1;
        target_.place({static_cast<double>(n), 0.0, 0.0});
        recorder_.step(target_);
        played_.store(target_.position().x);
    }
    QM::ICollisionRecorder* collisionRecorder() noexcept override { return &recorder_; }
    int steps() const { return steps_.load(); }
    double played() const { return played_.load(); }
    QM::ErrorManager& errors() { return errors_; }

private:
    QM::ErrorManager errors_;
    QM::CollisionRecorder recorder_;
    QM::HapticDeviceTarget target_;
    std::atomic<int> steps_{0};
    std::atomic<double> played_{0.0};
};

// Waits (boundedly) until `done` holds.
template <typename F>
bool eventually(F done) {
    for (int i = 0; i < 10000; ++i) {
        if (done()) return true;
        plat::sleepFor(0.001);
    }
    return done();
}

// The stopped mode that follows a stop: the timer no longer steps, each step
// event runs exactly one step (playing the recording tick by tick), and
// start-play hands the pace back to the timer.
TEST(RecorderThread, StopHaltsTheTimerAndEachStepEventRunsOneStep) {
    Sandbox sandbox("thread");
    QM::ICollisionScheduler& scheduler = QM::collisionScheduler();
    scheduler.setStopped(false);
    CountingClient client(sandbox.file());
    ASSERT_TRUE(scheduler.addClient(&client));
    plat::Event signals[events::kSignals];
    for (int i = 0; i < events::kSignals; ++i) {
        signals[i] = plat::Event::openNamed(events::kNames[i] + sandbox.suffix());
        ASSERT_TRUE(signals[i].valid());
    }

    ASSERT_TRUE(setAndWaitTaken(signals[events::StartRecord]));
    ASSERT_TRUE(eventually([&] { return client.collisionRecorder()->mode() == RecorderMode::Recording; }));
    const int first = client.steps();
    ASSERT_TRUE(eventually([&] { return client.steps() >= first + 3; }));  // the timer steps

    ASSERT_TRUE(setAndWaitTaken(signals[events::Stop]));
    ASSERT_TRUE(eventually([&] { return client.collisionRecorder()->mode() == RecorderMode::Playback; }));
    const int stopped = client.steps();
    plat::sleepFor(0.1);  // ten timer periods
    EXPECT_EQ(client.steps(), stopped);

    // The recording began at some step; each step event plays the next tick.
    const std::string text = readFile(sandbox.file());
    const auto firstTick = text.find("<TargetPos>");
    ASSERT_NE(firstTick, std::string::npos);
    const double recordedFirst = std::stod(text.substr(firstTick + 11));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(setAndWaitTaken(signals[events::Step]));
        ASSERT_TRUE(eventually([&] { return client.steps() == stopped + i + 1; }));
        EXPECT_EQ(client.played(), recordedFirst + i);
    }
    plat::sleepFor(0.05);
    EXPECT_EQ(client.steps(), stopped + 3);

    ASSERT_TRUE(setAndWaitTaken(signals[events::StartPlay]));
    EXPECT_TRUE(eventually([&] { return client.steps() >= stopped + 6; }));
    scheduler.removeClient(&client);
    EXPECT_EQ(client.errors().size(), 0u);
}

// ---------------------------------------------------------------- tool

zv_test::ChildProcess runTool(const std::vector<std::string>& arguments) {
    zv_test::ChildProcess::Options options;
    options.arguments = arguments;
    options.separateErrors = true;
    return zv_test::ChildProcess(QM_RECORDER_TOOL, options);
}

TEST(RecorderTool, HelpDescribesTheCommandsAndSucceeds) {
    for (const char* flag : {"--help", "-h"}) {
        zv_test::ChildProcess child = runTool({flag});
        EXPECT_EQ(child.wait(kLong), 0);
        for (const char* text : {"Usage: qm_recorder", "record", "stop", "play", "step [N]", "--suffix"}) {
            EXPECT_NE(child.output().find(text), std::string::npos) << text;
        }
        EXPECT_TRUE(child.errors().empty());
    }
}

TEST(RecorderTool, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {{},
                                                         {"rewind"},
                                                         {"step", "0"},
                                                         {"step", "x"},
                                                         {"record", "3"},
                                                         {"--timeout", "-1", "stop"},
                                                         {"--bogus", "stop"},
                                                         {"--suffix"}};
    for (const auto& arguments : cases) {
        zv_test::ChildProcess child = runTool(arguments);
        EXPECT_EQ(child.wait(kLong), 2);
        EXPECT_NE(child.errors().find("qm_recorder:"), std::string::npos);
    }
}

// Nobody listening: no such events, or events left behind by a program that
// has ended. Either way nothing is signalled and the user is told.
TEST(RecorderTool, ReportsWhenNoProgramIsListening) {
    Sandbox sandbox("tool");
    for (bool leftBehind : {false, true}) {
        SCOPED_TRACE(leftBehind ? "left behind" : "never created");
        if (leftBehind) {
            for (const char* name : events::kNames) {
                plat::Event::createNamed(name + sandbox.suffix(), plat::ResetMode::Auto, false);
            }
        }
        zv_test::ChildProcess child = runTool({"--suffix", sandbox.suffix(), "record"});
        EXPECT_EQ(child.wait(kLong), 1);
        EXPECT_NE(child.errors().find("no program is listening"), std::string::npos) << child.errors();
    }
}

// A listener that holds the events but never takes a signal: the tool gives
// up after its timeout, says so, and withdraws the signal.
TEST(RecorderTool, ReportsASignalNobodyTakesAndWithdrawsIt) {
    Sandbox sandbox("busy");
    plat::Event held[events::kSignals];
    for (int i = 0; i < events::kSignals; ++i) {
        held[i] = plat::Event::createNamed(events::kNames[i] + sandbox.suffix(), plat::ResetMode::Auto, false);
    }
    zv_test::ChildProcess child = runTool({"--suffix", sandbox.suffix(), "--timeout", "0.2", "step", "2"});
    EXPECT_EQ(child.wait(kLong), 1);
    EXPECT_NE(child.errors().find("did not take the 'step' signal"), std::string::npos) << child.errors();
    EXPECT_NE(child.errors().find("0 of 2 taken"), std::string::npos) << child.errors();
    EXPECT_FALSE(held[events::Step].isSet());
}

// With a listener, each signal is sent once and the tool waits until it was
// taken: three steps reach the listener as three separate signals.
TEST(RecorderTool, SignalsTheNamedEventOncePerStep) {
    Sandbox sandbox("listen");
    plat::Event held[events::kSignals];
    for (int i = 0; i < events::kSignals; ++i) {
        held[i] = plat::Event::createNamed(events::kNames[i] + sandbox.suffix(), plat::ResetMode::Auto, false);
    }
    zv_test::ChildProcess child = runTool({"--suffix", sandbox.suffix(), "step", "3"});
    int taken = 0;
    while (taken < 3 && held[events::Step].wait(kLong)) ++taken;
    EXPECT_EQ(taken, 3);
    EXPECT_EQ(child.wait(kLong), 0);
    EXPECT_FALSE(held[events::StartRecord].isSet());
    EXPECT_FALSE(held[events::Stop].isSet());
    EXPECT_FALSE(held[events::StartPlay].isSet());
}

}  // namespace
