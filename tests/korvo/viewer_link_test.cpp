// The shared segment between a program's simulated devices and the viewer:
// the sequence lock, the segment's lifetime, the viewer's commands, the
// checks a viewer makes before it trusts a segment, and recording a drag
// that replays tick for tick.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ViewerLink.h"
#include "sim_fixture.h"
#include "support/child_process.h"

namespace {

using korvo::viewer::HandDriver;
using korvo::viewer::Link;
using korvo::viewer::Recorder;
namespace shm = korvo::sim::shm;
using korvo_test::SimTest;

constexpr double kGenerous = 60.0;

std::string segmentFile(long pid) { return "/dev/shm/" + std::string(shm::kNamePrefix) + std::to_string(pid); }
bool segmentExists(long pid) { return std::filesystem::exists(segmentFile(pid)); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---------------------------------------------------------------- the sequence lock

// A writer that never pauses against readers that check every word of what
// they copy: a torn copy would mix two records' words.
TEST(SequenceLock, ReaderNeverSeesATornRecordUnderAFastWriter) {
    struct Words {
        std::uint64_t w[40];
    };
    shm::SeqRecord<Words> record;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        Words v{};
        for (std::uint64_t n = 1; !stop.load(std::memory_order_relaxed); ++n) {
            for (auto& w : v.w) w = n;
            record.write(v);
        }
    });
    long copies = 0, refused = 0, torn = 0;
    std::uint64_t last = 0;
    bool backwards = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < end) {
        Words v;
        if (!record.tryRead(v)) {
            ++refused;
            continue;
        }
        ++copies;
        for (auto w : v.w)
            if (w != v.w[0]) ++torn;
        backwards = backwards || v.w[0] < last;
        last = v.w[0];
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_FALSE(backwards) << "a later copy showed an older record";
    EXPECT_GT(copies, 100);
}

// A writer that died mid-write leaves the record odd: nothing reads as
// whole until the next writer writes, and then its record does.
TEST(SequenceLock, RecordRecoversFromAWriterKilledMidWrite) {
    shm::SeqRecord<shm::HandCommand> record;
    shm::HandCommand c{};
    c.serial = 1;
    record.write(c);
    // The sequence is the record's first member.
    auto* sequence = reinterpret_cast<std::atomic<std::uint32_t>*>(&record);
    sequence->store(sequence->load() + 1);
    shm::HandCommand out{};
    EXPECT_FALSE(record.read(out, 10));
    c.serial = 2;
    record.write(c);
    ASSERT_TRUE(record.tryRead(out));
    EXPECT_EQ(out.serial, 2u);
}

// The real writer: the servo thread in real time at 1 kHz, read through the
// viewer's link. A record's clock is its tick count times the period,
// computed the same way, so a copy mixing two ticks shows it.
class PublishedRecords : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(korvo_sim_reset(), 0);
        ASSERT_EQ(initOSExtender(), KORVO_SERVO_OK);
    }
    void TearDown() override {
        stopServoLoop();
        EXPECT_EQ(korvo_sim_reset(), 0);
    }
    static int push(void* context) {
        // A force that changes every tick, so the force fields change too.
        auto* n = static_cast<std::atomic<int>*>(context);
        const int k = n->fetch_add(1, std::memory_order_relaxed);
        const float f[6] = {0.5f * static_cast<float>(k % 3), 0.2f, 0.0f, 0, 0, 0};
        send_korvo_force_6dof(0, f);
        return 0;
    }
};

TEST_F(PublishedRecords, ViewerReadsWholeTicksWhileTheServoThreadWrites) {
    ASSERT_EQ(init_korvo(""), 0);
    ASSERT_EQ(enable_korvo_forces(0), 0);
    std::atomic<int> n{0};
    ASSERT_EQ(startServoLoop(&PublishedRecords::push, &n), KORVO_SERVO_OK);
    Link link;
    std::string error;
    ASSERT_TRUE(link.attach(static_cast<long>(::getpid()), error)) << error;
    long copies = 0, inconsistent = 0;
    std::uint64_t lastTicks = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (std::chrono::steady_clock::now() < end) {
        shm::DeviceState s;
        if (!link.read(0, s, error)) continue;
        ++copies;
        if (s.ticks > 0 && s.time != static_cast<double>(s.ticks) * s.period) ++inconsistent;
        if (s.ticks < lastTicks) ++inconsistent;
        lastTicks = s.ticks;
    }
    stopServoLoop();
    EXPECT_EQ(inconsistent, 0);
    EXPECT_GT(copies, 10);
    EXPECT_GT(lastTicks, 50u) << "the servo thread published about one record per tick";
}

// ---------------------------------------------------------------- lifetime

TEST_F(PublishedRecords, SegmentLivesFromTheFirstOpenToTheLastClose) {
    const long self = static_cast<long>(::getpid());
    EXPECT_FALSE(segmentExists(self));
    const int arm = init_korvo("arm3g");
    ASSERT_GE(arm, 0);
    ASSERT_TRUE(segmentExists(self));
    struct stat info {};
    ASSERT_EQ(::stat(segmentFile(self).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_uid, ::geteuid());
    const int mini = init_korvo("mini");
    ASSERT_GE(mini, 0);
    Link link;
    std::string error;
    ASSERT_TRUE(link.attach(self, error)) << error;
    EXPECT_EQ(link.openMask(), (1u << arm) | (1u << mini));
    shm::DeviceState s;
    ASSERT_TRUE(link.read(static_cast<unsigned>(mini), s, error)) << error;
    EXPECT_STREQ(s.model, "Korvo Mini");
    EXPECT_EQ(s.buttonCount, 1);
    ASSERT_EQ(disable_korvo(static_cast<unsigned>(mini)), 0);
    EXPECT_TRUE(segmentExists(self));
    EXPECT_FALSE(link.read(static_cast<unsigned>(mini), s, error));
    EXPECT_NE(error.find("not open"), std::string::npos) << error;
    ASSERT_EQ(disable_korvo(static_cast<unsigned>(arm)), 0);
    EXPECT_FALSE(segmentExists(self));
    EXPECT_FALSE(link.alive());
}

// A program that exits with its device still open removes its segment.
TEST_F(PublishedRecords, ExitRemovesTheSegment) {
    zv_test::ChildProcess::Options options;
    options.arguments = {"exit"};
    zv_test::ChildProcess child(SEGMENT_HOLDER, options);
    ASSERT_EQ(child.wait(kGenerous), 0) << child.output();
    EXPECT_NE(child.output().find("ready"), std::string::npos);
    EXPECT_FALSE(segmentExists(child.pid()));
}

// A process killed with its device open leaves its segment; the next
// process to open a device removes it, and leaves a live process's alone.
TEST_F(PublishedRecords, NextStartRemovesTheSegmentOfAKilledProcess) {
    zv_test::ChildProcess::Options options;
    zv_test::ChildProcess killed(SEGMENT_HOLDER, options);
    zv_test::ChildProcess living(SEGMENT_HOLDER, options);
    ASSERT_TRUE(killed.waitForOutput("ready", kGenerous)) << killed.output();
    ASSERT_TRUE(living.waitForOutput("ready", kGenerous)) << living.output();
    ASSERT_TRUE(segmentExists(killed.pid()));
    killed.kill();
    ASSERT_TRUE(killed.wait(kGenerous).has_value());
    // (Another process of this user that opens a simulated device now may
    // already have removed it.)
    const std::vector<korvo::viewer::ProgramEntry> listed = korvo::viewer::listPrograms();
    for (const auto& p : listed) EXPECT_NE(p.pid, killed.pid()) << "--list shows only live programs";

    ASSERT_EQ(init_korvo(""), 0);
    EXPECT_FALSE(segmentExists(killed.pid()));
    EXPECT_TRUE(segmentExists(living.pid()));
    EXPECT_TRUE(segmentExists(static_cast<long>(::getpid())));
    living.terminate();
    living.wait(kGenerous);
}

// ---------------------------------------------------------------- commands

class ViewerCommands : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        handle_ = open();
        start();
        std::string error;
        ASSERT_TRUE(link_.attach(static_cast<long>(::getpid()), error)) << error;
        driver_.reset(state());
    }

    shm::DeviceState state() {
        shm::DeviceState s{};
        std::string error;
        EXPECT_TRUE(link_.read(static_cast<unsigned>(handle_), s, error)) << error;
        return s;
    }
    // One pump of the driver and `ticks` ticks.
    shm::DeviceState step(unsigned ticks = 1) {
        driver_.pump(link_, static_cast<unsigned>(handle_), state(), &recorder_);
        run(ticks);
        return state();
    }

    int handle_ = -1;
    Link link_;
    HandDriver driver_;
    Recorder recorder_;
};

TEST_F(ViewerCommands, TakenAtTheNextTickAsTheControlInterfaceWould) {
    const double target[3] = {10.0, -20.0, 30.0};
    driver_.setTarget(target);
    driver_.setButtons(2);
    driver_.pump(link_, 0, state(), nullptr);
    EXPECT_NE(state().handTarget[0], 10.0) << "nothing moves between ticks";
    shm::DeviceState s = step(1);
    EXPECT_EQ(s.handTarget[0], 10.0);
    EXPECT_EQ(s.handTarget[1], -20.0);
    EXPECT_EQ(s.handTarget[2], 30.0);
    EXPECT_EQ(s.buttons, 2);
    EXPECT_EQ(update_korvo(0), 0);
    EXPECT_EQ(get_stylus_switch(0, 0), 0);
    EXPECT_EQ(get_stylus_switch(0, 1), 1);
    // The hand pulls the stylus there.
    run(1500);
    EXPECT_NEAR(korvo_test::truePosition(handle_)[2], 30.0, 0.5);
}

// A device opened in the slot of a closed one does not take the command
// the viewer left there for the old one.
TEST_F(ViewerCommands, NewDeviceIgnoresTheCommandLeftForAClosedOne) {
    const int mini = open("mini");
    const unsigned slot = static_cast<unsigned>(mini);
    shm::HandCommand c{};
    c.serial = 41;
    c.hold = 1;
    c.target[0] = 33.0;
    c.gripStiffness = 0.5;
    link_.send(slot, c);
    run(1);
    shm::DeviceState s;
    std::string error;
    ASSERT_TRUE(link_.read(slot, s, error)) << error;
    EXPECT_EQ(s.handTarget[0], 33.0);
    stopServoLoop();
    ASSERT_EQ(disable_korvo(slot), 0);
    ASSERT_EQ(open("arm6"), mini) << "the lowest free handle again";
    start();
    run(2);
    ASSERT_TRUE(link_.read(slot, s, error)) << error;
    EXPECT_STREQ(s.model, "Korvo Arm 6");
    EXPECT_NE(s.handTarget[0], 33.0);
    EXPECT_EQ(s.held, 0);
}

// A target beyond the end stops is clamped to the maximum workspace; the
// grip to its range; buttons to the model's.
TEST_F(ViewerCommands, OutOfRangeCommandsAreBroughtIntoRange) {
    const double far[3] = {1e6, -1e6, 95.0};
    driver_.setTarget(far);
    driver_.setGrip(500.0, -3.0);
    driver_.setButtons(0xff);
    step(1);
    const shm::DeviceState s = step(1);
    EXPECT_EQ(s.handTarget[0], s.maximum[1]);
    EXPECT_EQ(s.handTarget[1], s.maximum[2]);
    EXPECT_EQ(s.handTarget[2], s.maximum[5]);
    EXPECT_EQ(s.gripStiffness, 100.0);
    EXPECT_EQ(s.gripDamping, 0.0);
    EXPECT_EQ(s.buttons, 3) << "the Arm 3G has two buttons";
}

// A command with a non-finite number is dropped whole, and the device's
// record stays finite.
TEST_F(ViewerCommands, NonFiniteCommandIsDropped) {
    const shm::DeviceState before = state();
    shm::HandCommand bad{};
    bad.serial = before.commandSerial + 7;
    bad.target[0] = std::nan("");
    bad.target[1] = 5.0;
    bad.gripStiffness = 0.5;
    link_.send(0, bad);
    run(2);
    shm::DeviceState s = state();
    EXPECT_EQ(s.commandSerial, bad.serial) << "seen, so not looked at again";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.handTarget[i], before.handTarget[i]);
    bad.serial += 1;
    bad.target[0] = 1.0;
    bad.gripDamping = INFINITY;
    link_.send(0, bad);
    run(2);
    s = state();
    EXPECT_EQ(s.handTarget[0], before.handTarget[0]);
    EXPECT_EQ(s.gripDamping, before.gripDamping);
}

// While the viewer holds the hand a playing trajectory pauses; let go, it
// continues from where it was, not from where its clock would be.
TEST_F(ViewerCommands, HoldingTheHandPausesTheTrajectory) {
    const std::string path = tempPath(".csv");
    {
        std::ofstream f(path);
        f << "0, 0, 0, 0, 0\n1, 100, 0, 0, 0\n";
    }
    ASSERT_EQ(korvo_sim_load_trajectory(0, path.c_str()), 0);
    run(100);
    EXPECT_NEAR(state().handTarget[0], 10.0, 1e-9);
    driver_.reset(state());
    driver_.setHold(true);
    const double held[3] = {-30.0, 5.0, 0.0};
    driver_.setTarget(held);
    step(1);
    shm::DeviceState s = step(300);
    EXPECT_EQ(s.held, 1);
    EXPECT_EQ(s.playing, 1);
    EXPECT_EQ(s.handTarget[0], -30.0) << "the playback does not move a held hand";
    driver_.setHold(false);
    step(1);
    s = step(1);
    EXPECT_EQ(s.held, 0);
    EXPECT_NEAR(s.handTarget[0], 10.2, 1e-9) << "playback resumed at 0.102 s of its own clock";
    std::remove(path.c_str());
}

// A viewer that disappears leaves the hand where it put it, and the next
// viewer takes over from there.
TEST_F(ViewerCommands, HandStaysWhereAGoneViewerLeftIt) {
    const double target[3] = {20.0, 20.0, 0.0};
    driver_.setTarget(target);
    driver_.setHold(true);
    step(1);
    step(1);
    link_.detach();
    run(200);
    shm::DeviceState s;
    Link next;
    std::string error;
    ASSERT_TRUE(next.attach(static_cast<long>(::getpid()), error)) << error;
    ASSERT_TRUE(next.read(0, s, error)) << error;
    EXPECT_EQ(s.handTarget[0], 20.0);
    EXPECT_EQ(s.handTarget[1], 20.0);
    HandDriver driver;
    driver.reset(s);
    const double moved[3] = {0.0, 0.0, 0.0};
    driver.setTarget(moved);
    driver.pump(next, 0, s, nullptr);
    run(1);
    ASSERT_TRUE(next.read(0, s, error)) << error;
    EXPECT_EQ(s.handTarget[0], 0.0) << "a new viewer's serials continue the old one's";
}

// A drag recorded by the viewer and replayed as a trajectory gives the same
// trace, tick for tick, on the manual clock (a wall makes forces).
TEST_F(ViewerCommands, RecordedDragReplaysTheSameTrace) {
    stopServoLoop();
    auto wall = [] {
        float p[3];
        update_korvo(0);
        get_korvo_pos(0, p);
        const float f[6] = {0, p[1] < 0 ? -0.4f * p[1] : 0.0f, 0, 0, 0, 0};
        send_korvo_force_6dof(0, f);
    };
    auto session = [&](const std::string& trace, const std::string& trajectory) {
        EXPECT_EQ(korvo_sim_reset(), 0);
        EXPECT_EQ(initOSExtender(), KORVO_SERVO_OK);
        EXPECT_EQ(korvo_sim_set_manual_clock(1), 0);
        EXPECT_EQ(korvo_sim_open_trace(trace.c_str()), 0);
        EXPECT_EQ(init_korvo(""), 0);
        EXPECT_EQ(enable_korvo_forces(0), 0);
        if (!trajectory.empty()) {
            EXPECT_EQ(korvo_sim_load_trajectory(0, trajectory.c_str()), 0);
        }
        start(wall);
    };
    const std::string live = tempPath(".live.csv"), replay = tempPath(".replay.csv");
    const std::string recording = tempPath(".recording.csv");
    session(live, "");
    std::string error;
    ASSERT_TRUE(link_.attach(static_cast<long>(::getpid()), error)) << error;
    shm::DeviceState s = state();
    driver_.reset(s);
    recorder_.start(s.time, s.period, s.handTarget, s.buttons);
    // A drag down into the wall in uneven steps, a button held on the way,
    // a pause, and a release.
    driver_.setHold(true);
    unsigned total = 0;
    for (int i = 1; i <= 40; ++i) {
        const double target[3] = {0.3 * i, -1.5 * i, 0.1 * (i % 7)};
        driver_.setTarget(target);
        driver_.setButtons(i >= 10 && i < 25 ? 1 : 0);
        const unsigned ticks = 3 + static_cast<unsigned>(i % 5) * 4;
        step(ticks);
        total += ticks;
    }
    driver_.setHold(false);
    step(50);
    step(150);
    total += 200;
    ASSERT_TRUE(recorder_.stop(state().time, recording));
    stopServoLoop();
    ASSERT_EQ(korvo_sim_open_trace(nullptr), 0);

    session(replay, recording);
    run(total);
    stopServoLoop();
    ASSERT_EQ(korvo_sim_open_trace(nullptr), 0);

    const std::string a = readFile(live), b = readFile(replay);
    ASSERT_GT(a.size(), 1000u);
    EXPECT_EQ(std::count(a.begin(), a.end(), '\n'), static_cast<long>(total) + 1);
    if (a != b) {
        std::istringstream la(a), lb(b);
        std::string x, y;
        int line = 0;
        while (std::getline(la, x) && std::getline(lb, y) && x == y) ++line;
        ADD_FAILURE() << "traces differ first at line " << line + 1 << ":\n  live   " << x << "\n  replay " << y
                      << "\n(recording " << recording << ")";
    } else {
        std::remove(live.c_str());
        std::remove(replay.c_str());
        std::remove(recording.c_str());
    }
}

// ---------------------------------------------------------------- a renderer's view

// What a rendering library publishes about the device reaches viewers at the
// next tick, and goes with the renderer or with the device.
TEST_F(ViewerCommands, RenderingViewIsShownFromTheNextTickUntilWithdrawn) {
    const unsigned h = static_cast<unsigned>(handle_);
    EXPECT_EQ(step().rendererValid, 0);
    const double proxy[3] = {1.5, -2.0, 30.25};
    const double up[3] = {0.0, 0.0, 1.0};
    ASSERT_EQ(korvo_sim_publish_proxy(h, proxy, 1, up), 0);
    EXPECT_EQ(state().rendererValid, 0) << "nothing moves between ticks";
    shm::DeviceState s = step();
    EXPECT_EQ(s.rendererValid, 1);
    EXPECT_EQ(s.touching, 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(s.proxy[i], proxy[i]);
        EXPECT_EQ(s.touchNormal[i], up[i]);
    }
    // Not touching: the proxy without a normal.
    ASSERT_EQ(korvo_sim_publish_proxy(h, proxy, 0, nullptr), 0);
    s = step();
    EXPECT_EQ(s.rendererValid, 1);
    EXPECT_EQ(s.touching, 0);
    EXPECT_EQ(s.touchNormal[2], 0.0);
    ASSERT_EQ(korvo_sim_publish_proxy(h, nullptr, 0, nullptr), 0);
    EXPECT_EQ(step().rendererValid, 0);

    // A device opened in the slot of a closed one starts without a view.
    ASSERT_EQ(korvo_sim_publish_proxy(h, proxy, 1, up), 0);
    stopServoLoop();
    ASSERT_EQ(disable_korvo(h), 0);
    ASSERT_EQ(open(), handle_);
    start();
    // The last close removed the segment; the open made a new one.
    std::string error;
    ASSERT_TRUE(link_.attach(static_cast<long>(::getpid()), error)) << error;
    EXPECT_EQ(step().rendererValid, 0);
}

// A refused view leaves the one shown before.
TEST_F(ViewerCommands, RenderingViewRefusesWhatAViewerCouldNotDraw) {
    const unsigned h = static_cast<unsigned>(handle_);
    const double proxy[3] = {1.0, 2.0, 3.0};
    const double up[3] = {0.0, 0.0, 1.0};
    ASSERT_EQ(korvo_sim_publish_proxy(h, proxy, 1, up), 0);
    const double nan = std::nan("");
    const struct {
        const char* what;
        unsigned handle;
        double proxy[3];
        int touching;
        bool withNormal;
        double normal[3];
        int expected;
    } cases[] = {
        {"a closed handle", 9, {0, 0, 0}, 0, false, {}, KORVO_INVALID_HANDLE},
        {"a non-finite proxy", h, {0, nan, 0}, 0, false, {}, KORVO_NON_FINITE_VALUE},
        {"a proxy beyond any workspace", h, {0, 0, 2e4}, 0, false, {}, KORVO_OUT_OF_RANGE},
        {"touching without a normal", h, {0, 0, 0}, 1, false, {}, KORVO_INVALID_ARGUMENT},
        {"a normal of length 2", h, {0, 0, 0}, 1, true, {0, 0, 2}, KORVO_OUT_OF_RANGE},
        {"a zero normal", h, {0, 0, 0}, 1, true, {0, 0, 0}, KORVO_OUT_OF_RANGE},
        {"a non-finite normal", h, {0, 0, 0}, 0, true, {INFINITY, 0, 0}, KORVO_NON_FINITE_VALUE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(korvo_sim_publish_proxy(c.handle, c.proxy, c.touching, c.withNormal ? c.normal : nullptr), c.expected)
            << c.what;
        const shm::DeviceState s = step();
        EXPECT_EQ(s.rendererValid, 1) << c.what;
        EXPECT_EQ(s.touching, 1) << c.what;
        EXPECT_EQ(s.proxy[2], 3.0) << c.what;
    }
}

// ---------------------------------------------------------------- what a viewer refuses

// Segments made by hand under an unused name, each wrong in one way.
class ForgedSegment : public ::testing::Test {
protected:
    // This process's own pid, which it does not publish under in these
    // tests: a segment named after a pid that no process has would be
    // removed as stale by any other process that opens a simulated device.
    static inline const long kPid = static_cast<long>(::getpid());
    void TearDown() override { ::shm_unlink(name().c_str()); }
    static std::string name() { return "/" + std::string(shm::kNamePrefix) + std::to_string(kPid); }

    // A segment as a simulator writes it, with one open Arm 3G-like device.
    static shm::Segment* make(std::size_t size, int fd) {
        if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return nullptr;
        if (size < sizeof(shm::Segment)) return nullptr;
        void* memory = ::mmap(nullptr, sizeof(shm::Segment), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory == MAP_FAILED) return nullptr;
        auto* segment = new (memory) shm::Segment{};
        auto& h = segment->header;
        h.magic = shm::kMagic;
        h.version = shm::kVersion;
        h.size = sizeof(shm::Segment);
        h.headerSize = sizeof(shm::SegmentHeader);
        h.slotSize = sizeof(shm::DeviceSlot);
        h.slotCount = shm::kSlotCount;
        h.pid = static_cast<std::int32_t>(kPid);
        h.uid = static_cast<std::uint32_t>(::geteuid());
        h.openMask.store(1);
        shm::DeviceState s{};
        const double box[6] = {-120, 120, -90, 100, -90, 90};
        for (int i = 0; i < 6; ++i) s.usable[i] = s.maximum[i] = box[i];
        s.maxForce = 6.0;
        s.open = 1;
        s.buttonCount = 2;
        segment->slots[0].state.write(s);
        return segment;
    }
};

TEST_F(ForgedSegment, ViewerRefusesWhatItCannotTrust) {
    struct Case {
        const char* what;
        std::size_t size;
        void (*spoil)(shm::Segment&, int fd);
        const char* message;  // part of the error expected; null: accepted
        bool atRead;          // refused when the device's record is read, not at attach
    };
    const Case cases[] = {
        {"as written", sizeof(shm::Segment), [](shm::Segment&, int) {}, nullptr, false},
        {"too small", 4096, nullptr, "bytes", false},
        {"too large", sizeof(shm::Segment) + 8, nullptr, "bytes", false},
        {"another version", sizeof(shm::Segment), [](shm::Segment& s, int) { s.header.version = 99; }, "version 99",
         false},
        {"not a simulator's", sizeof(shm::Segment), [](shm::Segment& s, int) { s.header.magic = 1; }, "not a simulator",
         false},
        {"another layout", sizeof(shm::Segment), [](shm::Segment& s, int) { s.header.slotSize += 8; }, "layout", false},
        {"open to others", sizeof(shm::Segment), [](shm::Segment&, int fd) { ASSERT_EQ(::fchmod(fd, 0666), 0); },
         "mode 0666", false},
        {"non-finite position", sizeof(shm::Segment),
         [](shm::Segment& s, int) {
             shm::DeviceState d;
             ASSERT_TRUE(s.slots[0].state.tryRead(d));
             d.position[1] = std::nan("");
             s.slots[0].state.write(d);
         },
         "non-finite position", true},
        {"infinite force", sizeof(shm::Segment),
         [](shm::Segment& s, int) {
             shm::DeviceState d;
             ASSERT_TRUE(s.slots[0].state.tryRead(d));
             d.force[2] = -INFINITY;
             s.slots[0].state.write(d);
         },
         "non-finite force", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::shm_unlink(name().c_str());
        const int fd = ::shm_open(name().c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        shm::Segment* segment = make(c.size, fd);
        if (segment != nullptr && c.spoil != nullptr) {
            c.spoil(*segment, fd);
        }
        if (segment != nullptr) ::munmap(segment, sizeof(shm::Segment));
        ::close(fd);
        Link link;
        std::string error;
        const bool attached = link.attach(kPid, error);
        shm::DeviceState s;
        const bool read = attached && link.read(0, s, error);
        if (c.message == nullptr) {
            EXPECT_TRUE(read) << error;
            continue;
        }
        EXPECT_EQ(attached, c.atRead) << error;
        EXPECT_FALSE(read);
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

// Only a privileged test process can hand a segment to another user.
TEST_F(ForgedSegment, ViewerRefusesAnotherUsersSegment) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs to give a file to another user";
    const int fd = ::shm_open(name().c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    shm::Segment* segment = make(sizeof(shm::Segment), fd);
    ASSERT_NE(segment, nullptr);
    ::munmap(segment, sizeof(shm::Segment));
    ASSERT_EQ(::fchown(fd, 12345, 12345), 0);
    ::close(fd);
    Link link;
    std::string error;
    EXPECT_FALSE(link.attach(kPid, error));
    EXPECT_NE(error.find("belongs to user 12345"), std::string::npos) << error;
}

}  // namespace
