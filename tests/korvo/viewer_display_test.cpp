// The viewer as a user meets it: a sample program runs on the simulated arm,
// korvo_sim_viewer attaches to it on a virtual display, and the mouse
// (xdotool) drags the hand into the sample's sphere. Every wait is for a
// state (a published record, pixels on the screen), never a fixed time, so
// that a busy machine only makes the test slower.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ViewerLink.h"
#include "platform/Platform.h"
#include "support/child_process.h"

namespace {

using korvo::viewer::Link;
namespace shm = korvo::sim::shm;

constexpr double kGenerous = 120.0;  // seconds for anything to happen on a loaded machine

std::string tempPath(const std::string& suffix) {
    return ::testing::TempDir() + "korvo_viewer_display_" + std::to_string(::getpid()) + suffix;
}

// Polls `done` until it holds or `seconds` pass.
bool waitFor(const std::function<bool()>& done, double seconds = kGenerous) {
    const std::uint64_t start = plat::counter();
    while (!done()) {
        if (plat::counterSeconds(start, plat::counter()) > seconds) return false;
        plat::sleepFor(0.05);
    }
    return true;
}

struct Screen {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    bool load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::string magic;
        int max = 0;
        in >> magic >> width >> height >> max;
        in.get();
        if (magic != "P6" || width <= 0 || height <= 0) return false;
        rgb.resize(static_cast<std::size_t>(width) * height * 3);
        in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
        return static_cast<bool>(in);
    }
    // Pixels the predicate accepts, and their centre.
    long count(bool (*accept)(int r, int g, int b), double* cx = nullptr, double* cy = nullptr) const {
        long n = 0;
        double sx = 0, sy = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
                if (accept(p[0], p[1], p[2])) {
                    ++n;
                    sx += x;
                    sy += y;
                }
            }
        if (n > 0 && cx != nullptr) *cx = sx / n;
        if (n > 0 && cy != nullptr) *cy = sy / n;
        return n;
    }
};

// The viewer's colours: usable workspace green, force arrow red, stylus yellow.
bool green(int r, int g, int b) { return g > 180 && r < 90 && b < 90; }
bool red(int r, int g, int b) { return r > 200 && g < 70 && b < 70; }
bool yellow(int r, int g, int b) { return r > 200 && g > 170 && b < 110; }
// The rendering library's proxy and touch normal, magenta.
bool magenta(int r, int g, int b) { return r > 180 && g < 110 && b > 180; }

class ViewerOnADisplay : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists("/usr/bin/Xvfb")) << "Xvfb is not installed (scripts/install-deps.sh)";
        ASSERT_TRUE(std::filesystem::exists("/usr/bin/xdotool"))
            << "xdotool is not installed (scripts/install-deps.sh)";
        zv_test::ChildProcess::Options options;
        options.arguments = {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"};
        options.separateErrors = true;
        xvfb_ = zv_test::ChildProcess("/usr/bin/Xvfb", options);
        ASSERT_TRUE(xvfb_.waitForOutput("\n", kGenerous)) << xvfb_.errors();
        std::string number = xvfb_.output().substr(0, xvfb_.output().find('\n'));
        std::erase(number, '\r');
        display_ = ":" + number;
    }
    void TearDown() override {
        xvfb_.terminate();
        xvfb_.wait(kGenerous);
    }

    // Runs a helper program on the display and returns its exit status.
    int run(const std::string& program, const std::vector<std::string>& arguments, std::string* output = nullptr) {
        zv_test::ChildProcess::Options options;
        options.arguments = arguments;
        options.environment = {{"DISPLAY", display_}};
        zv_test::ChildProcess child(program, options);
        const std::optional<int> status = child.wait(kGenerous);
        if (output != nullptr) *output = child.output();
        return status.value_or(-1);
    }
    int xdotool(const std::vector<std::string>& arguments) { return run("/usr/bin/xdotool", arguments); }
    // The viewer, attached to the program `pid`, on the virtual display.
    zv_test::ChildProcess startViewer(long pid) {
        zv_test::ChildProcess::Options options;
        options.arguments = {"--pid", std::to_string(pid)};
        options.environment = {{"DISPLAY", display_}};
        options.separateErrors = true;
        return zv_test::ChildProcess(VIEWER_PROGRAM, options);
    }
    bool screenshot(const std::string& path, Screen& screen) {
        return run(COLOUR_PROBE, {path}) == 0 && screen.load(path);
    }

    zv_test::ChildProcess xvfb_;
    std::string display_;
};

TEST_F(ViewerOnADisplay, DragTheHandIntoTheSphere) {
    // The hand waits beside the sphere (radius 40 mm at the origin).
    const std::string trajectory = tempPath(".trajectory.csv"), trace = tempPath(".trace.csv");
    const std::string shot = tempPath(".ppm");
    {
        std::ofstream f(trajectory);
        f << "0, 60, 0, 0, 0\n";
    }
    zv_test::ChildProcess::Options demoOptions;
    demoOptions.terminal = true;
    demoOptions.environment = {
        {"KORVO_SIM_TRAJECTORY", trajectory}, {"KORVO_SIM_TRACE", trace}, {"KORVO_SIM_OVERRUN_TOLERANCE", "1000"}};
    zv_test::ChildProcess demo(SPHERE_PROGRAM, demoOptions);

    // The program's segment, read as the viewer reads it.
    Link link;
    std::string error;
    shm::DeviceState state{};
    auto read = [&] { return link.read(0, state, error); };
    ASSERT_TRUE(waitFor([&] { return link.attach(demo.pid(), error); })) << error << demo.output();
    ASSERT_TRUE(waitFor([&] { return read() && state.forcesOn && state.position[0] > 55.0; }))
        << error << demo.output();

    zv_test::ChildProcess viewer = startViewer(demo.pid());
    ASSERT_TRUE(viewer.waitForErrors("attached to", kGenerous)) << viewer.errors();

    // The stylus, where the viewer draws it.
    Screen screen;
    double sx = 0, sy = 0;
    ASSERT_TRUE(waitFor([&] {
        return screenshot(shot, screen) && screen.count(green) > 500 && screen.count(yellow, &sx, &sy) > 10;
    })) << "the viewer never showed the workspace and the stylus; screen: "
        << shot;

    // Press on the stylus and drag to the left, toward the sphere's centre,
    // a few pixels at a time, each step waiting for the simulator to take
    // the hand there.
    const int x0 = static_cast<int>(std::lround(sx)), y0 = static_cast<int>(std::lround(sy));
    ASSERT_EQ(xdotool({"mousemove", std::to_string(x0), std::to_string(y0), "mousedown", "1"}), 0);
    ASSERT_TRUE(waitFor([&] { return read() && state.held == 1; })) << "the viewer did not take the hand";
    auto handDistance = [&] {
        return std::sqrt(state.handTarget[0] * state.handTarget[0] + state.handTarget[1] * state.handTarget[1] +
                         state.handTarget[2] * state.handTarget[2]);
    };
    int x = x0;
    std::vector<double> handX;
    // The view is turned, so the drag also moves the hand toward the viewer;
    // stopping at x 15 puts it about 22 mm from the centre.
    while (read() && state.handTarget[0] > 15.0 && x > 0) {
        x -= 6;
        const double before = state.handTarget[0];
        ASSERT_EQ(xdotool({"mousemove", std::to_string(x), std::to_string(y0)}), 0);
        ASSERT_TRUE(waitFor([&] { return read() && state.handTarget[0] < before; }))
            << "the hand did not follow the mouse to x=" << x;
        handX.push_back(state.handTarget[0]);
    }
    ASSERT_LE(handDistance(), 30.0) << "the drag did not reach into the sphere";
    ASSERT_GE(handX.size(), 5u) << "the drag moved the hand in steps";

    // Held inside: the sphere pushes the stylus out with (40 - d) 0.25 N.
    ASSERT_TRUE(waitFor([&] {
        if (!read()) return false;
        const double f = std::hypot(state.force[0], state.force[1], state.force[2]);
        const double d = std::hypot(state.position[0], state.position[1], state.position[2]);
        return f > 2.0 && std::fabs(f - (40.0 - d) * 0.25) < 0.1;
    })) << "force "
        << state.force[0] << " at x " << state.position[0];

    // The screen shows the workspace box and the force arrow.
    ASSERT_TRUE(waitFor([&] { return screenshot(shot, screen) && screen.count(red) > 40; }))
        << "no force arrow on the screen: " << shot;
    EXPECT_GT(screen.count(green), 500) << "the usable workspace box; screen: " << shot;

    // Letting go hands the hand back to the trajectory.
    ASSERT_EQ(xdotool({"mouseup", "1"}), 0);
    ASSERT_TRUE(waitFor([&] { return read() && state.held == 0; }));

    // The program ends; the viewer says so and waits for the next one.
    demo.closeInput();
    ASSERT_TRUE(demo.wait(kGenerous).has_value()) << demo.output();
    // (Seen between closing its device and exiting, it "closed its devices".)
    EXPECT_TRUE(viewer.waitForErrors("; waiting for the next program", kGenerous)) << viewer.errors();
    EXPECT_FALSE(viewer.wait(0).has_value()) << "the viewer keeps running";
    viewer.terminate();
    viewer.wait(kGenerous);

    // The simulator's trace: the hand went from beside the sphere into it,
    // and the stylus felt the sphere on the way.
    std::ifstream in(trace);
    std::string line;
    std::getline(in, line);
    double firstHand = NAN, lastHand = NAN, deepest = 1e9, strongest = 0;
    long rows = 0, lawChecked = 0, lawBroken = 0;
    while (std::getline(in, line)) {
        double v[14];
        std::istringstream fields(line);
        std::string field;
        int n = 0;
        while (n < 14 && std::getline(fields, field, ',')) v[n++] = std::stod(field);
        if (n < 14) continue;
        ++rows;
        if (std::isnan(firstHand)) firstHand = v[2];
        lastHand = v[2];
        const double d = std::hypot(v[5], v[6], v[7]);
        const double f = std::hypot(v[11], v[12], v[13]);
        deepest = std::min(deepest, d);
        strongest = std::max(strongest, f);
        // While the viewer has the hand (before it, the stylus leaves the
        // sphere's centre too fast for the device's velocity check).
        if (v[2] < 59.0 && d < 39.0 && d > 18.0) {
            ++lawChecked;
            if (std::fabs(f - (40.0 - d) * 0.25) > 0.05) ++lawBroken;
        }
    }
    EXPECT_GT(rows, 100);
    EXPECT_NEAR(firstHand, 60.0, 1e-9);
    EXPECT_LT(deepest, 30.0) << "the stylus went into the sphere";
    EXPECT_GT(strongest, 2.0);
    EXPECT_GT(lawChecked, 10);
    EXPECT_EQ(lawBroken, 0) << "the trace's force is the sphere's";
    (void)lastHand;
    if (!HasFailure()) {
        std::remove(shot.c_str());
        std::remove(trace.c_str());
        std::remove(trajectory.c_str());
    }
}

// A program on the rendering library: hello_haptics_demo presses the stylus
// into its square, and the viewer shows the proxy held on the square's
// surface with the surface's normal.
TEST_F(ViewerOnADisplay, ShowsTheProxyOfAProgramOnTheRenderingLibrary) {
    const std::string shot = tempPath(".ppm");
    zv_test::ChildProcess::Options demoOptions;
    demoOptions.environment = {
        {"DISPLAY", display_}, {"KORVO_SIM_TRAJECTORY", HELLO_TRAJECTORY}, {"KORVO_SIM_OVERRUN_TOLERANCE", "600000"}};
    zv_test::ChildProcess demo(HELLO_PROGRAM, demoOptions);

    Link link;
    std::string error;
    shm::DeviceState state{};
    ASSERT_TRUE(waitFor([&] { return link.attach(demo.pid(), error); })) << error << demo.output();
    // The square is the plane z = -25 of the device's workspace.
    ASSERT_TRUE(waitFor([&] {
        return link.read(0, state, error) && state.rendererValid && state.touching && state.position[2] < -26.0;
    })) << error
        << demo.output();
    EXPECT_NEAR(state.proxy[2], -25.0, 0.2);
    EXPECT_NEAR(state.proxy[0], state.position[0], 0.5);
    EXPECT_NEAR(state.proxy[1], state.position[1], 0.5);
    EXPECT_NEAR(state.touchNormal[2], 1.0, 1e-6);

    zv_test::ChildProcess viewer = startViewer(demo.pid());
    ASSERT_TRUE(viewer.waitForErrors("attached to", kGenerous)) << viewer.errors();
    Screen screen;
    EXPECT_TRUE(waitFor([&] { return screenshot(shot, screen) && screen.count(magenta) > 20; }))
        << "the viewer never showed the proxy; screen: " << shot;
    viewer.terminate();
    viewer.wait(kGenerous);
    demo.terminate();
    demo.wait(kGenerous);
    if (!HasFailure()) std::remove(shot.c_str());
}

// A viewer asked for a segment it must not trust says why and ends, as
// one asked for a program that has no segment yet waits for it.
TEST_F(ViewerOnADisplay, RefusedSegmentEndsTheViewerWithTheReason) {
    // This process publishes nothing: its pid names a segment that no other
    // process removes as stale.
    const long kPid = static_cast<long>(::getpid());
    const std::string name = "/" + std::string(shm::kNamePrefix) + std::to_string(kPid);
    zv_test::ChildProcess::Options options;
    options.arguments = {"--pid", std::to_string(kPid)};
    options.environment = {{"DISPLAY", display_}};
    options.separateErrors = true;
    {
        zv_test::ChildProcess waiting(VIEWER_PROGRAM, options);
        EXPECT_FALSE(waiting.wait(1.0).has_value()) << waiting.errors();
        waiting.terminate();
        waiting.wait(kGenerous);
    }
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 100), 0);
    ::close(fd);
    zv_test::ChildProcess refused(VIEWER_PROGRAM, options);
    EXPECT_EQ(refused.wait(kGenerous), 1);
    EXPECT_NE(refused.errors().find("has 100 bytes"), std::string::npos) << refused.errors();
    EXPECT_NE(refused.errors().find("refused"), std::string::npos) << refused.errors();
    ::shm_unlink(name.c_str());
}

}  // namespace
