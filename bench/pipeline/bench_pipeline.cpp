// Costs of the haptic loop: the servo pipeline's seven stages per tick, the
// collision step against a large captured shape, and the servo rate the
// simulated loop can sustain with both running.
//
// Everything runs through the library as a program uses it: a rendering
// context on the simulated device (the default model), shapes drawn with
// qmBegin/qmVertex/qmEnd (primitive shapes: the same touch geometry and
// hierarchy as captured OpenGL shapes), the collision thread and the servo
// loop of the device library.
//
// 1. Servo cost per tick. On the simulator's manual clock, two extra servo
//    callbacks bracket the library's stages: one at the highest priority
//    (before stage 0) and one at the lowest (after stage 6, whose priority
//    is 100). The time between them, per tick, is the cost of stages 0 to 6
//    including the device frame they open and close (the simulated device's
//    reads and force command) and the device library's dispatch between the
//    seven callbacks. The stylus is held by the virtual hand in free space
//    (0 planes), pressed into a floor (1), into the edge of the floor and a
//    wall (2) and into the corner of the floor and two walls (3); the
//    collision thread is stepped once every 10 ticks, as at 1 kHz / 100 Hz.
//    The contact planes the servo side holds are checked before timing. For
//    reference: an empty window (the two callbacks alone), the device by
//    itself (an application callback opening and closing a frame with the
//    same reads and force command, without a context), and each stage's
//    median (with a probe between stages, in a separate run).
// 2. Collision step at 100k triangles. A tessellated sphere of 100k
//    triangles; the hand presses the stylus into it and moves it around
//    its top, so the proxy slides across triangles. Each step is timed on
//    the collision thread by two more clients of the thread, one stepped
//    just before the context's renderer and one just after it, and from the
//    client thread around stepAndWait (which adds waking the collision
//    thread and waiting for it); the same for a 2-triangle square, which
//    shows the part that does not depend on the shape. The detection alone
//    (the detector's sweeps and feature build on the same shape, on the
//    calling thread) is timed too.
// 3. Servo rate. Two ways:
//    a. derived: on the manual clock with the sphere touched, the servo
//       thread runs ticks back to back; the interval between two tick
//       starts is the full cost of a tick (the simulator's physics and I/O,
//       the device library and the library's stages). 1 / that cost is the
//       highest rate one core can give the servo thread;
//    b. measured: the real-time loop at increasing rates with the collision
//       thread running on its own at 100 steps a second and the sphere
//       touched, for 2 s each: ticks delivered against the rate, and how
//       late ticks start (p99, max). The simulated device's I/O library
//       accepts rates up to 4000 per second only, so the real-time check
//       stops there and the 10 kHz figure comes from (a).
//
// Times are wall clock on the machine the benchmark runs on; on a shared
// machine other processes inflate the high percentiles.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <thread>
#include <vector>

#include "korvo/korvo.h"
#include "korvo/korvo_sim.h"
#include "qm/api/Context.h"
#include "qm/collision/CollisionScheduler.h"
#include "qm/collision/LocalFeatureDetector.h"
#include "qm/collision/SceneRenderer.h"
#include "qm/qm.h"
#include "qm/servo/Pipeline.h"
#include "qm/shapes/Scene.h"
#include "zv/zv.h"

namespace {

using Clock = std::chrono::steady_clock;
using zvu::zvuVector3Dd;

constexpr double kTickTarget = 10.0;     // us per tick with 3 planes
constexpr double kStepTarget = 1000.0;   // us per collision step at 100k triangles
constexpr double kRateTarget = 10000.0;  // ticks per second sustained

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct Stats {
    double median = 0, p90 = 0, p99 = 0, max = 0;
    std::size_t count = 0;
    double over = 0;  // fraction of samples above the threshold given
};

Stats stats(std::vector<double> v, double threshold = 0) {
    Stats s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {
        return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
    };
    s.count = v.size();
    s.median = at(0.5);
    s.p90 = at(0.9);
    s.p99 = at(0.99);
    s.max = v.back();
    if (threshold > 0) {
        s.over = static_cast<double>(v.end() - std::upper_bound(v.begin(), v.end(), threshold)) /
                 static_cast<double>(v.size());
    }
    return s;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "bench_pipeline: %s\n", what);
    std::exit(1);
}

// ------------------------------------------------------------ servo probes

// Filled on the servo thread; read by the main thread only between runs of
// ticks (manual clock) or after the loop stopped.
struct Probe {
    std::atomic<bool> recording{false};
    bool withLateness = false;  // real time only: the read is not free
    std::int64_t tickStart = 0;
    std::int64_t lastTickStart = 0;
    std::vector<double> window;    // ns from the first to the last callback
    std::vector<double> interval;  // ns between two tick starts
    std::vector<double> lateness;  // us the tick started after its deadline
    std::size_t windows = 0, intervals = 0, latenesses = 0;
    // With the stage probes scheduled: when each of stages 0 to 5 ended,
    // and every stage's duration per tick (ns).
    bool breakdown = false;
    std::array<std::int64_t, QM::Pipeline::kStageCount - 1> stageEnd{};
    std::array<std::vector<double>, QM::Pipeline::kStageCount> stage;
    std::size_t stages = 0;

    void reset(std::size_t capacity) {
        window.assign(capacity, 0.0);
        interval.assign(capacity, 0.0);
        lateness.assign(capacity, 0.0);
        for (auto& s : stage) s.assign(capacity, 0.0);
        windows = intervals = latenesses = stages = 0;
        lastTickStart = 0;
    }
    std::vector<double> windowSamples() const {
        return {window.begin(), window.begin() + static_cast<std::ptrdiff_t>(windows)};
    }
    std::vector<double> intervalSamples() const {
        return {interval.begin(), interval.begin() + static_cast<std::ptrdiff_t>(intervals)};
    }
    std::vector<double> latenessSamples() const {
        return {lateness.begin(), lateness.begin() + static_cast<std::ptrdiff_t>(latenesses)};
    }
};

Probe probe;

ZVCallbackCode tickBegins(void*) {
    if (!probe.recording.load(std::memory_order_acquire)) {
        probe.lastTickStart = 0;
        return ZV_CALLBACK_CONTINUE;
    }
    const std::int64_t now = nowNs();
    probe.tickStart = now;
    if (probe.lastTickStart != 0 && probe.intervals < probe.interval.size()) {
        probe.interval[probe.intervals++] = static_cast<double>(now - probe.lastTickStart);
    }
    probe.lastTickStart = now;
    double late = 0.0;
    if (probe.withLateness && korvo_sim_get_tick_lateness(&late) == 0 && probe.latenesses < probe.lateness.size()) {
        probe.lateness[probe.latenesses++] = late * 1e6;
    }
    return ZV_CALLBACK_CONTINUE;
}

// Scheduled just below stage i's priority: stage i has ended.
ZVCallbackCode stageEnds(void* data) {
    const auto i = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(data));
    probe.stageEnd[i] = nowNs();
    return ZV_CALLBACK_CONTINUE;
}

ZVCallbackCode tickEnds(void*) {
    const std::int64_t now = nowNs();
    if (probe.recording.load(std::memory_order_acquire) && probe.tickStart != 0 &&
        probe.windows < probe.window.size()) {
        probe.window[probe.windows++] = static_cast<double>(now - probe.tickStart);
        if (probe.breakdown) {
            std::int64_t from = probe.tickStart;
            for (std::size_t i = 0; i < probe.stageEnd.size(); ++i) {
                probe.stage[i][probe.stages] = static_cast<double>(probe.stageEnd[i] - from);
                from = probe.stageEnd[i];
            }
            probe.stage.back()[probe.stages] = static_cast<double>(now - from);
            ++probe.stages;
        }
    }
    probe.tickStart = 0;
    return ZV_CALLBACK_CONTINUE;
}

// A device frame with the reads and the force command of the library's
// stages, as an application callback would make it.
ZVCallbackCode deviceFrameOnly(void*) {
    double v[16];
    zvBeginFrame(zvGetCurrentDevice());
    for (ZVenum p : {ZV_CURRENT_POSITION, ZV_CURRENT_TRANSFORM, ZV_LAST_POSITION, ZV_LAST_TRANSFORM,
                     ZV_CURRENT_VELOCITY, ZV_CURRENT_ANGULAR_VELOCITY, ZV_CURRENT_FORCE, ZV_CURRENT_TORQUE}) {
        zvGetDoublev(p, v);
    }
    const double zero[3] = {0, 0, 0};
    zvSetDoublev(ZV_CURRENT_FORCE, zero);
    zvSetDoublev(ZV_CURRENT_TORQUE, zero);
    zvEndFrame(zvGetCurrentDevice());
    return ZV_CALLBACK_CONTINUE;
}

// Schedules (or removes) the probes between the stages for one run.
void stageProbes(bool on) {
    static std::array<ZVSchedulerHandle, QM::Pipeline::kStageCount - 1> handles{};
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (on) {
            handles[i] = zvScheduleAsynchronous(stageEnds, reinterpret_cast<void*>(i),
                                                QM::PipelineScheduler::kStagePriority[i] - 1);
        } else if (handles[i] != ZV_INVALID_HANDLE) {
            zvUnschedule(handles[i]);
            handles[i] = ZV_INVALID_HANDLE;
        }
    }
    probe.breakdown = on;
}

// ------------------------------------------------------------ the program

HZV device = ZV_INVALID_HANDLE;

void ticks(unsigned n) {
    if (korvo_sim_run_ticks(n) != 0) fail("korvo_sim_run_ticks failed");
}
void step() {
    if (!QM::collisionScheduler().stepAndWait(10.0)) fail("a collision step did not finish");
}
void run(int steps) {
    for (int i = 0; i < steps; ++i) {
        ticks(10);
        step();
    }
}
void placeStylus(const zvuVector3Dd& p) {
    const double v[3] = {p.x, p.y, p.z};
    if (korvo_sim_place_stylus(device, v) != 0) fail("korvo_sim_place_stylus failed");
}
void handTo(const zvuVector3Dd& p) {
    const double v[3] = {p.x, p.y, p.z};
    if (korvo_sim_set_hand_target(device, v) != 0) fail("korvo_sim_set_hand_target failed");
}

HQMRC newContext() {
    HQMRC rc = qmCreateContext(device);
    if (rc == nullptr) fail("qmCreateContext failed");
    qmMakeCurrent(rc);
    qmDisable(QM_USE_GL_MODELVIEW);
    return rc;
}
void deleteContext(HQMRC rc) {
    qmMakeCurrent(nullptr);
    qmDeleteContext(rc);
}
const QM::ISceneRenderer& renderer(HQMRC rc) { return *QM::Context::fromHandle(rc)->sceneRenderer; }

void quad(const zvuVector3Dd& a, const zvuVector3Dd& b, const zvuVector3Dd& c, const zvuVector3Dd& d) {
    for (const zvuVector3Dd* v : {&a, &b, &c, &d}) qmVertex3d(v->x, v->y, v->z);
}

// The floor z = 0 and the walls x = 0 and y = 0, facing into the octant of
// positive coordinates (millimetres), as one shape.
void drawCorner(unsigned id) {
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBegin(QM_QUADS);
    quad({-10, -10, 0}, {40, -10, 0}, {40, 40, 0}, {-10, 40, 0});
    quad({0, -10, -10}, {0, 40, -10}, {0, 40, 40}, {0, -10, 40});
    quad({-10, 0, -10}, {-10, 0, 40}, {40, 0, 40}, {40, 0, -10});
    qmEnd();
    qmEndShape();
}

// A sphere of radius `r` at the origin, `rings` bands of `segments`
// triangles pairs (fans at the poles), counter-clockwise seen from outside.
std::size_t drawSphere(unsigned id, double r, int rings, int segments) {
    auto at = [&](int i, int j) {
        const double theta = std::numbers::pi * i / rings;
        const double phi = 2.0 * std::numbers::pi * j / segments;
        return zvuVector3Dd(r * std::sin(theta) * std::cos(phi), r * std::sin(theta) * std::sin(phi),
                            r * std::cos(theta));
    };
    std::size_t count = 0;
    auto triangle = [&](const zvuVector3Dd& a, const zvuVector3Dd& b, const zvuVector3Dd& c) {
        for (const zvuVector3Dd* v : {&a, &b, &c}) qmVertex3d(v->x, v->y, v->z);
        ++count;
    };
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBegin(QM_TRIANGLES);
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            const zvuVector3Dd a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
            if (i != rings - 1) triangle(a, b, c);
            if (i != 0) triangle(a, c, d);
        }
    }
    qmEnd();
    qmEndShape();
    return count;
}

void frameWith(void (*draw)(unsigned), unsigned id) {
    qmBeginFrame();
    draw(id);
    qmEndFrame();
}

// ------------------------------------------------------------ 1. servo cost

// The median duration of each stage over 1000 ticks, in the state the
// scene is in.
std::array<double, QM::Pipeline::kStageCount> stageBreakdown() {
    probe.reset(1000);
    stageProbes(true);
    for (int i = 0; i < 100; ++i) {
        probe.recording = true;
        ticks(10);
        probe.recording = false;
        step();
    }
    stageProbes(false);
    std::array<double, QM::Pipeline::kStageCount> medians{};
    for (std::size_t i = 0; i < medians.size(); ++i) {
        medians[i] =
            stats({probe.stage[i].begin(), probe.stage[i].begin() + static_cast<std::ptrdiff_t>(probe.stages)}).median;
    }
    return medians;
}

struct Scenario {
    const char* name;
    int planes;
    zvuVector3Dd start, hand;
};

double servoCost() {
    std::printf("1. Servo cost per tick of stages 0 to 6 (manual clock; 1 collision step per 10 ticks)\n");
    constexpr int kSteps = 3000;
    probe.reset(kSteps * 10);
    // The window alone: both probes, no context.
    probe.recording = true;
    ticks(kSteps * 10);
    probe.recording = false;
    const Stats empty = stats(probe.windowSamples());
    std::printf("   %-20s median %6.0f ns  p90 %6.0f ns  p99 %6.0f ns\n", "empty window", empty.median, empty.p90,
                empty.p99);
    // What the device costs by itself: one frame opened and closed, with the
    // reads of stage 1, by an application callback, without a context.
    const ZVSchedulerHandle frame = zvScheduleAsynchronous(deviceFrameOnly, nullptr, ZV_DEFAULT_SCHEDULER_PRIORITY);
    probe.reset(kSteps * 10);
    probe.recording = true;
    ticks(kSteps * 10);
    probe.recording = false;
    zvUnschedule(frame);
    const Stats alone = stats(probe.windowSamples());
    std::printf("   %-20s median %6.0f ns  p90 %6.0f ns  p99 %6.0f ns   (device frame and reads, no context)\n",
                "device alone", alone.median, alone.p90, alone.p99);

    HQMRC rc = newContext();
    const unsigned id = qmGenShapes(1);
    const Scenario scenarios[] = {
        {"0 planes (free)", 0, {20, 20, 20}, {20, 20, 20}},
        {"1 plane (floor)", 1, {20, 20, 5}, {20, 20, -3}},
        {"2 planes (edge)", 2, {5, 20, 5}, {-3, 20, -3}},
        {"3 planes (corner)", 3, {5, 5, 5}, {-3, -3, -3}},
    };
    double threePlanes = 0;
    std::vector<std::array<double, QM::Pipeline::kStageCount>> breakdowns;
    for (const Scenario& s : scenarios) {
        placeStylus(s.start);
        frameWith(drawCorner, id);
        run(20);
        handTo(s.hand);
        run(100);
        const QM::IProxy* current = renderer(rc).getPipeline().getCurrentProxy();
        const std::size_t planes = current->contactSet().size();
        const std::size_t collisions = current->collisionSet().count();
        if (static_cast<int>(planes) != s.planes || static_cast<int>(collisions) != s.planes)
            std::printf("   (warning: %zu planes, %zu collisions held instead of %d)\n", planes, collisions, s.planes);
        probe.reset(kSteps * 10);
        for (int i = 0; i < kSteps; ++i) {
            probe.recording = true;
            ticks(10);
            probe.recording = false;
            step();
        }
        const Stats t = stats(probe.windowSamples(), kTickTarget * 1e3);
        std::printf(
            "   %-20s median %6.0f ns  p90 %6.0f ns  p99 %6.0f ns  max %9.0f ns  over 10 us: %5.2f %%  "
            "(%zu ticks, %zu collisions)\n",
            s.name, t.median, t.p90, t.p99, t.max, 100.0 * t.over, t.count, collisions);
        breakdowns.push_back(stageBreakdown());
        if (s.planes == 3) threePlanes = t.median;
        if (s.planes == 3) {
            std::printf(
                "   target <= %.0f us per tick with 3 planes: median %.2f us = %.3f x target (%s), p99 %.2f us = "
                "%.3f x target (%s)\n",
                kTickTarget, t.median / 1e3, t.median / 1e3 / kTickTarget,
                t.median / 1e3 <= kTickTarget ? "met" : "MISSED", t.p99 / 1e3, t.p99 / 1e3 / kTickTarget,
                t.p99 / 1e3 <= kTickTarget ? "met" : "MISSED");
        }
    }
    std::printf(
        "   by stage (median ns per tick, with a probe between stages; 0 error check, 1 begin, 2 proxy,\n"
        "   3 proxy shading, 4 impedance, 5 force shaders, 6 output):\n");
    for (std::size_t k = 0; k < breakdowns.size(); ++k) {
        std::printf("   %-20s", scenarios[k].name);
        for (double ns : breakdowns[k]) std::printf(" %6.0f", ns);
        std::printf("\n");
    }
    deleteContext(rc);
    return threePlanes;
}

// ------------------------------------------------------------ 2. collision step

constexpr double kSphereRadius = 30.0;
constexpr int kRings = 200;
constexpr int kSegments = 252;
std::size_t sphereTriangles = 0;

void drawBigSphere(unsigned id) { sphereTriangles = drawSphere(id, kSphereRadius, kRings, kSegments); }
void drawSquare(unsigned id) {
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBegin(QM_QUADS);
    quad({-40, -40, kSphereRadius}, {40, -40, kSphereRadius}, {40, 40, kSphereRadius}, {-40, 40, kSphereRadius});
    qmEnd();
    qmEndShape();
}

// The hand's target, 4 mm inside the surface, circling the top at 30
// degrees from the pole; one turn in `perTurn` steps.
zvuVector3Dd handOnCircle(int k, int perTurn, bool flat) {
    const double phi = 2.0 * std::numbers::pi * k / perTurn;
    if (flat) return {10.0 * std::cos(phi), 10.0 * std::sin(phi), kSphereRadius - 4.0};
    const double theta = std::numbers::pi / 6;
    const double r = kSphereRadius - 4.0;
    return {r * std::sin(theta) * std::cos(phi), r * std::sin(theta) * std::sin(phi), r * std::cos(theta)};
}

// Two clients of the collision thread around a context's renderer: the
// thread steps its clients in the order they were added, so one added
// before the context and one after it bracket the renderer's step.
class StepStamp final : public QM::ICollisionClient {
public:
    explicit StepStamp(StepStamp* opening = nullptr) : opening_(opening) {}
    void added() noexcept override {}
    void removed() noexcept override {}
    void step() noexcept override {
        const std::int64_t now = nowNs();
        if (opening_ == nullptr) {
            at_ = now;
        } else if (opening_->at_ != 0 && count_ < samples_.size()) {
            samples_[count_++] = static_cast<double>(now - opening_->at_) / 1e3;
        }
    }
    // Read between steps only.
    std::vector<double> samples() const {
        return {samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(count_)};
    }
    void reset(std::size_t capacity) {
        samples_.assign(capacity, 0.0);
        count_ = 0;
    }

private:
    StepStamp* opening_;
    std::int64_t at_ = 0;
    std::vector<double> samples_;
    std::size_t count_ = 0;
};

struct StepFigures {
    Stats onThread;  // the renderer's step, on the collision thread (us)
    Stats caller;    // stepAndWait on the client thread (us)
    double touching = 0;
    unsigned id = 0;
};

// A new context with the shape drawn, stepped `steps` times while the hand
// circles; the context is left for the caller to delete.
StepFigures timeSteps(HQMRC& rc, void (*draw)(unsigned), bool flat, int steps) {
    StepStamp opening;
    StepStamp closing(&opening);
    closing.reset(static_cast<std::size_t>(steps));
    QM::ICollisionScheduler& scheduler = QM::collisionScheduler();
    if (!scheduler.addClient(&opening)) fail("could not add a collision client");
    rc = newContext();
    if (!scheduler.addClient(&closing)) fail("could not add a collision client");
    const unsigned id = qmGenShapes(1);
    placeStylus({0, 0, kSphereRadius + 8});
    frameWith(draw, id);
    run(20);
    handTo(handOnCircle(0, 1000, flat));
    run(100);
    closing.reset(static_cast<std::size_t>(steps));
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(steps));
    int touching = 0;
    for (int k = 0; k < steps; ++k) {
        handTo(handOnCircle(k, 1000, flat));
        ticks(10);
        const std::int64_t t0 = nowNs();
        step();
        us.push_back(static_cast<double>(nowNs() - t0) / 1e3);
        touching += renderer(rc).getCollisionProxy().isTouching() ? 1 : 0;
    }
    scheduler.removeClient(&closing);
    scheduler.removeClient(&opening);
    return {stats(closing.samples()), stats(us), static_cast<double>(touching) / steps, id};
}

// The detector alone on the sphere shape, as a step runs it: the proxy
// follows the device around the same circle.
Stats timeDetection(HQMRC rc, unsigned id, int steps) {
    QM::Scene scene;
    scene.addShape(QM::Context::fromHandle(rc)->persistentScene->getShapes().find(id));
    QM::LocalFeatureDetector detector;
    QM::PointProxy proxy;
    QM::HapticDeviceTarget target;
    target.place({0, 0, kSphereRadius + 8});
    proxy.initialise(target);
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(steps));
    std::size_t touching = 0;
    for (int k = 0; k < steps; ++k) {
        target.place(handOnCircle(k, 1000, false));
        const std::int64_t t0 = nowNs();
        detector.detect(scene.getShapes(), target, proxy);
        us.push_back(static_cast<double>(nowNs() - t0) / 1e3);
        touching += proxy.isTouching() ? 1 : 0;
    }
    if (touching != static_cast<std::size_t>(steps)) {
        std::printf("   (warning: the detection touched the sphere in %zu of %d steps)\n", touching, steps);
    }
    return stats(us);
}

void printSteps(const char* name, const StepFigures& f) {
    std::printf("   %-28s on the collision thread: median %6.1f us  p90 %6.1f us  p99 %6.1f us  max %8.1f us\n", name,
                f.onThread.median, f.onThread.p90, f.onThread.p99, f.onThread.max);
    std::printf("   %-28s as stepAndWait sees it:  median %6.1f us  p90 %6.1f us  p99 %6.1f us  max %8.1f us\n", "",
                f.caller.median, f.caller.p90, f.caller.p99, f.caller.max);
    std::printf("   %-28s touching in %.1f %% of the steps\n", "", 100.0 * f.touching);
}

double collisionCost() {
    std::printf(
        "\n2. Collision step with a large shape (manual clock; the hand presses the stylus into the shape "
        "and circles)\n");
    constexpr int kSteps = 2000;
    HQMRC rc = nullptr;
    const StepFigures square = timeSteps(rc, drawSquare, true, kSteps);
    deleteContext(rc);
    const StepFigures sphere = timeSteps(rc, drawBigSphere, false, kSteps);
    printSteps("2-triangle square", square);
    char name[64];
    std::snprintf(name, sizeof name, "sphere, %zu triangles", sphereTriangles);
    printSteps(name, sphere);
    const Stats detection = timeDetection(rc, sphere.id, kSteps);
    std::printf("   %-28s detection alone:        median %6.1f us  p90 %6.1f us  p99 %6.1f us  max %8.1f us\n", "",
                detection.median, detection.p90, detection.p99, detection.max);
    const Stats& t = sphere.onThread;
    std::printf(
        "   target <= %.0f us per step at 100k triangles: step on the collision thread median %.1f us = %.4f x "
        "target (%s), p99 %.1f us = %.4f x target (%s)\n",
        kStepTarget, t.median, t.median / kStepTarget, t.median <= kStepTarget ? "met" : "MISSED", t.p99,
        t.p99 / kStepTarget, t.p99 <= kStepTarget ? "met" : "MISSED");
    deleteContext(rc);
    return t.median;
}

// ------------------------------------------------------------ 3. servo rate

double derivedRate() {
    std::printf("\n3a. Full tick cost on the manual clock, sphere touched (ticks back to back on the servo thread)\n");
    HQMRC rc = newContext();
    const unsigned id = qmGenShapes(1);
    placeStylus({0, 0, kSphereRadius + 8});
    frameWith(drawBigSphere, id);
    run(20);
    handTo(handOnCircle(0, 1000, false));
    run(100);
    constexpr int kRounds = 200;
    probe.reset(kRounds * 100);
    for (int i = 0; i < kRounds; ++i) {
        probe.lastTickStart = 0;  // no interval across a collision step
        probe.recording = true;
        ticks(100);
        probe.recording = false;
        step();
    }
    const Stats interval = stats(probe.intervalSamples());
    const Stats window = stats(probe.windowSamples());
    const bool touching = renderer(rc).getCollisionProxy().isTouching();
    deleteContext(rc);
    std::printf("   %-34s median %7.0f ns   p99 %7.0f ns   (touching: %s)\n", "tick start to tick start",
                interval.median, interval.p99, touching ? "yes" : "NO");
    std::printf("   %-34s median %7.0f ns   p99 %7.0f ns\n", "of which stages 0 to 6", window.median, window.p99);
    const double rateMedian = 1e9 / interval.median;
    const double rateP99 = 1e9 / interval.p99;
    std::printf(
        "   highest rate one core sustains: %.0f ticks/s at the median tick cost, %.0f ticks/s at the p99 "
        "(%.2f x and %.2f x the %.0f target: %s)\n",
        rateMedian, rateP99, rateMedian / kRateTarget, rateP99 / kRateTarget, kRateTarget,
        rateP99 >= kRateTarget ? "met, by this derivation" : "MISSED");
    return rateP99;
}

struct RealTime {
    bool accepted = false;
    double delivered = 0;  // fraction of the ticks the rate asks for
    double touching = 0;   // fraction of the checks that found the proxy touching
    Stats lateness;
};

// With `scene`, a context touching the sphere; without, the bare loop with
// the probes only (what the machine gives any servo loop).
RealTime realTimeAt(unsigned rate, bool scene) {
    RealTime result;
    // The device library reports a refused rate only once per tick without
    // scheduler errors, so the simulated I/O library's limit is checked here.
    if (rate > KORVO_MAX_SERVO_RATE) {
        return result;
    }
    zvSetSchedulerRate(rate);
    result.accepted = true;
    HQMRC rc = nullptr;
    if (scene) {
        rc = newContext();
        const unsigned id = qmGenShapes(1);
        placeStylus({0, 0, kSphereRadius + 8});
        frameWith(drawBigSphere, id);
        handTo(handOnCircle(0, 1000, false));
    } else {
        zvStartScheduler();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    constexpr double kSeconds = 2.0;
    probe.reset(static_cast<std::size_t>(kSeconds * rate * 1.5));
    const std::int64_t t0 = nowNs();
    probe.recording = true;
    int touching = 0;
    for (int k = 0; k < 200; ++k) {
        handTo(handOnCircle(k, 200, false));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        touching += scene && renderer(rc).getCollisionProxy().isTouching() ? 1 : 0;
    }
    probe.recording = false;
    const double elapsed = static_cast<double>(nowNs() - t0) / 1e9;
    if (scene) {
        deleteContext(rc);
        result.touching = touching / 200.0;
    } else {
        zvStopScheduler();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    result.delivered = static_cast<double>(probe.latenesses) / (elapsed * rate);
    result.lateness = stats(probe.latenessSamples());
    while (zvGetError().errorCode != ZV_SUCCESS) {
    }
    return result;
}

void measuredRate() {
    std::printf("\n3b. Real-time loop, collision thread at 100 steps/s, sphere touched, 2 s per rate\n");
    // The loop ends after the tick in progress.
    for (int i = 0; korvo_sim_set_manual_clock(0) != 0; ++i) {
        if (i == 1000) fail("could not leave the manual clock");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QM::collisionScheduler().setStopped(false);
    probe.withLateness = true;
    zvMakeCurrentDevice(device);
    for (unsigned rate : {1000u, 2000u, 4000u, 10000u}) {
        for (bool scene : {false, true}) {
            const RealTime r = realTimeAt(rate, scene);
            if (!r.accepted) {
                std::printf("   %5u ticks/s: above the simulated device's I/O library's highest rate (%d): not run\n",
                            rate, KORVO_MAX_SERVO_RATE);
                break;
            }
            const double period = 1e6 / rate;
            std::printf(
                "   %5u ticks/s %-12s %6.2f %% of the ticks delivered; lateness median %5.1f us, p99 %7.1f "
                "us, max %8.1f us (period %.0f us): %s\n",
                rate, scene ? "library:" : "bare loop:", 100.0 * r.delivered, r.lateness.median, r.lateness.p99,
                r.lateness.max, period,
                r.delivered >= 0.999 && r.lateness.p99 < period ? "sustained" : "NOT sustained");
            if (scene) std::printf("   %22s proxy touching in %.0f %% of 200 checks\n", "", 100.0 * r.touching);
        }
    }
    zvSetSchedulerRate(1000);
}

}  // namespace

// Arguments select parts: servo, collision, rate (manual clock) and
// realtime; none runs them all.
int main(int argc, char** argv) {
    auto wanted = [&](const char* part) {
        if (argc < 2) return true;
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], part) == 0) return true;
        return false;
    };
    if (korvo_sim_set_manual_clock(1) != 0) fail("could not select the manual clock");
    QM::collisionScheduler().setStopped(true);
    device = zvInitDevice(ZV_DEFAULT_DEVICE);
    if (device == ZV_INVALID_HANDLE) fail("the simulated device did not open");
    // The program's own servo loop, so that the library neither starts nor
    // stops it between the parts; the probes stay scheduled throughout.
    zvStartScheduler();
    const ZVSchedulerHandle first = zvScheduleAsynchronous(tickBegins, nullptr, ZV_MAX_SCHEDULER_PRIORITY);
    const ZVSchedulerHandle last = zvScheduleAsynchronous(tickEnds, nullptr, ZV_MIN_SCHEDULER_PRIORITY);
    if (first == ZV_INVALID_HANDLE || last == ZV_INVALID_HANDLE) fail("could not schedule the probes");

    if (wanted("servo")) servoCost();
    if (wanted("collision")) collisionCost();
    if (wanted("rate")) derivedRate();

    zvStopScheduler();
    if (wanted("realtime")) measuredRate();
    // measuredRate's contexts restarted the loop for their pipelines only.
    zvUnschedule(first);
    zvUnschedule(last);
    QM::collisionScheduler().setStopped(false);
    zvDisableDevice(device);
    while (zvGetError().errorCode != ZV_SUCCESS) {
    }
    return 0;
}
