// Seeded random-sequence driver for the rendering library's public API.
//
// It drives a rendering context on the simulated device, with a headless
// OpenGL context current, through random sequences of calls to every export:
// valid and invalid symbols (null, reserved names, a string literal that is
// not the symbol, unrelated symbols), identifiers that were never reserved or
// were freed, null arrays, NaN, infinities, huge and negative numbers. After
// each call it checks the documented contract against a model of its own:
//  - the error recorded is the one the header documents for the arguments
//    and the state (and nothing is recorded for a valid call);
//  - a getter that fails writes nothing, and a getter that succeeds writes
//    exactly the documented number of values;
//  - the attribute stack: material, touch, hint, transform and capability
//    attributes, saved by qmPushAttrib group by group and restored by
//    qmPopAttrib;
//  - the three matrix stacks: their depths (overflow, underflow), the mode
//    and the top of every stack after every matrix operation;
//  - the identifier pools: identifiers handed out in increasing order and
//    never twice, freed ranges, exhaustion, the shapes defined under them;
//  - frames and shapes: the frame and open-shape state and which calls they
//    refuse, the shapes qmCallShape may re-submit;
//  - the error store (newest first, an error equal to the newest stored
//    once) and calls without a current context.
// Most of the run uses the simulator's manual clock with the collision
// thread stepped one step at a time, so that it is deterministic; phases in
// which the collision thread runs on its own timer and the servo loop runs
// in real time (or a second thread drives ticks) mix in, with a second client
// thread that shares the context's identifier pools and drives a context of
// its own. Calls are also made from the collision thread, where frame and
// shape calls are refused.
//
// The calls come from a table with one generator per export (see
// generatorTable()); a new export gets a generator by appending an entry.
//
// Usage: qm_fuzz [--seed N] [--calls N] [--quiet] [--exports path/to/qm.map]
// A finding prints the seed, the call number and the last calls, and ends the
// run with status 1; the same seed and count replay it (the single-threaded
// part is deterministic). With --exports, functions listed in the map that
// have no generator are reported.
#include <GL/gl.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fuzz_journal.h"
#include "korvo/korvo_sim.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/collision/CollisionScheduler.h"
#include "qm/qm.h"
#include "support/egl_context.h"
#include "zv/zv.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Texts that look like symbols but are not the library's: the library
// compares symbols by pointer, so these name nothing.
const char kFakeStiffness[] = "QM_STIFFNESS";
const char kFakeOther[] = "QM_NOT_A_SYMBOL";

std::string symbolText(QMenum symbol) {
    if (symbol == nullptr) {
        return "NULL";
    }
    if (symbol == kFakeStiffness || symbol == kFakeOther) {
        return std::string("\"") + symbol + "\"(fake)";
    }
    return symbol;
}

// ---------------------------------------------------------------- matrices

struct Mat {
    double m[16];
};

Mat identity() {
    Mat r{};
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0;
    return r;
}

// Column-major product a x b.
Mat multiply(const Mat& a, const Mat& b) {
    Mat r{};
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                sum += a.m[k * 4 + row] * b.m[c * 4 + k];
            }
            r.m[c * 4 + row] = sum;
        }
    }
    return r;
}

// The bound of each element's rounding error in a x b: the sum of the
// magnitudes of the products that make it.
Mat magnitude(const Mat& a, const Mat& b) {
    Mat r{};
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                sum += std::fabs(a.m[k * 4 + row] * b.m[c * 4 + k]);
            }
            r.m[c * 4 + row] = sum;
        }
    }
    return r;
}

bool tame(const Mat& a, double limit = 1e12) {
    for (double v : a.m) {
        if (!std::isfinite(v) || std::fabs(v) > limit) {
            return false;
        }
    }
    return true;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b) || a == b; }

bool sameMatrix(const Mat& a, const Mat& b) {
    for (int i = 0; i < 16; ++i) {
        if (!sameBits(a.m[i], b.m[i])) {
            return false;
        }
    }
    return true;
}

Mat translation(double x, double y, double z) {
    Mat r = identity();
    r.m[12] = x;
    r.m[13] = y;
    r.m[14] = z;
    return r;
}

Mat scaling(double x, double y, double z) {
    Mat r = identity();
    r.m[0] = x;
    r.m[5] = y;
    r.m[10] = z;
    return r;
}

// A rotation by `degrees` about a non-zero axis, as OpenGL's glRotate.
Mat rotation(double degrees, double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    x /= length;
    y /= length;
    z /= length;
    const double a = degrees * 0.017453292519943295;
    const double c = std::cos(a);
    const double s = std::sin(a);
    const double t = 1.0 - c;
    Mat r = identity();
    r.m[0] = x * x * t + c;
    r.m[1] = y * x * t + z * s;
    r.m[2] = x * z * t - y * s;
    r.m[4] = x * y * t - z * s;
    r.m[5] = y * y * t + c;
    r.m[6] = y * z * t + x * s;
    r.m[8] = x * z * t + y * s;
    r.m[9] = y * z * t - x * s;
    r.m[10] = z * z * t + c;
    return r;
}

double determinant3(const Mat& a) {
    const double* m = a.m;
    return m[0] * (m[5] * m[10] - m[9] * m[6]) - m[4] * (m[1] * m[10] - m[9] * m[2]) +
           m[8] * (m[1] * m[6] - m[5] * m[2]);
}

// Whether a transform is comfortably invertible: finite, moderate, affine,
// with a linear part whose condition number (Frobenius norms of it and of
// its inverse, from the cofactors) is far from the rounding limit.
// Transforms outside this band may or may not be inverted by the library,
// so the checks that depend on it are skipped for them.
bool wellConditioned(const Mat& a) {
    if (!tame(a, 1e6) || a.m[3] != 0.0 || a.m[7] != 0.0 || a.m[11] != 0.0 || a.m[15] != 1.0) {
        return false;
    }
    const double d = determinant3(a);
    if (!(std::fabs(d) > 1e-9)) {
        return false;
    }
    const double* m = a.m;
    // Element (r, c) is m[c * 4 + r]; the inverse's elements are the
    // cofactors over the determinant.
    auto e = [m](int r, int c) { return m[c * 4 + r]; };
    double norm = 0.0;
    double inverseNorm = 0.0;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            norm += e(r, c) * e(r, c);
            const int r1 = (r + 1) % 3;
            const int r2 = (r + 2) % 3;
            const int c1 = (c + 1) % 3;
            const int c2 = (c + 2) % 3;
            const double cofactor = e(r1, c1) * e(r2, c2) - e(r1, c2) * e(r2, c1);
            inverseNorm += (cofactor / d) * (cofactor / d);
        }
    }
    return std::sqrt(norm * inverseNorm) < 1e8;
}

// ---------------------------------------------------------------- the model

enum Face { kFront, kBack };
enum Cap { kProxyResolution, kCameraView, kAdaptiveViewport, kUseGlModelview, kCaps };
enum Stack { kViewTouchStack, kModelviewStack, kTouchWorkspaceStack, kStacks };
constexpr std::size_t kStackDepth[kStacks] = {32, 32, 2};

// The current effect properties, saved with QM_EFFECT_BIT.
struct EffectProperties {
    double gain = 0.0;
    double magnitude = 0.0;
    double duration = 1000.0;
    double frequency = 0.0;
    double position[3] = {0, 0, 0};
    double direction[3] = {0, 1, 0};
};

struct Attributes {
    float material[2][5] = {{0.8f, 0, 0, 0, 0}, {0.8f, 0, 0, 0, 0}};
    QMenum touchable = nullptr;
    QMenum touchModel = nullptr;
    float snap = FLT_MAX;
    QMenum frontFace = nullptr;
    std::int32_t vertices = 65536;
    bool dynamicSurface = false;
    bool persistence = false;
    bool caps[kCaps] = {true, false, false, true};
    int mode = kViewTouchStack;
    double workspace[6] = {0, 0, 0, 0, 0, 0};
    EffectProperties effect;
};

struct Saved {
    QMbitfield mask;
    Attributes values;
};

// Disjoint closed ranges of reserved identifiers.
class IdSet {
public:
    void insert(std::uint64_t low, std::uint64_t high) {
        erase(low, high);
        ranges_[low] = high;
    }
    void erase(std::uint64_t low, std::uint64_t high) {
        std::map<std::uint64_t, std::uint64_t> kept;
        for (const auto& [a, b] : ranges_) {
            if (b < low || a > high) {
                kept[a] = b;
                continue;
            }
            if (a < low) {
                kept[a] = low - 1;
            }
            if (b > high) {
                kept[high + 1] = b;
            }
        }
        ranges_.swap(kept);
    }
    bool contains(std::uint64_t id) const {
        auto at = ranges_.upper_bound(id);
        if (at == ranges_.begin()) {
            return false;
        }
        --at;
        return at->second >= id;
    }
    bool empty() const { return ranges_.empty(); }
    // An identifier of the set, chosen with `r`.
    std::uint64_t pick(std::uint64_t r) const {
        auto at = ranges_.begin();
        std::advance(at, static_cast<long>(r % ranges_.size()));
        const std::uint64_t span = at->second - at->first + 1;
        return at->first + (r / 7) % std::min<std::uint64_t>(span, 64);
    }
    void clear() { ranges_.clear(); }
    std::size_t size() const { return ranges_.size(); }

private:
    std::map<std::uint64_t, std::uint64_t> ranges_;
};

struct Pool {
    IdSet reserved;
    std::uint64_t next = 1;
};

enum class OpenShape { None, Primitive, Feedback };

// An effect the last completed frame holds, as far as the model knows it.
// A triggered effect ends by itself once its duration has passed on the
// collision side's clock, which the driver does not control: after a
// collision step it may be done, and after the next frame end the frame may
// or may not hold it (`uncertain`) until a call tells which.
struct HeldEffect {
    int type = 0;  // index into effectTypes()
    EffectProperties properties;
    bool triggered = false;
    bool done = false;       // stopped or its identifier deleted: gone at the next frame end
    bool mayFinish = false;  // triggered, and a collision step has run since it was submitted
    bool uncertain = false;  // the last frame may have lost it
};

constexpr int kUpdate = -1;  // a FrameEffect made by qmUpdateEffect

// An effect started, triggered or updated in the open frame; the last call
// for an identifier wins.
struct FrameEffect {
    int type = kUpdate;  // index into effectTypes(), or kUpdate
    EffectProperties properties;
    bool triggered = false;
};

// An event subscription: event, shape identifier (or QM_OBJECT_ANY), thread.
using SubscriptionKey = std::tuple<QMenum, QMuint, QMenum>;

// An event callback run, as the driver's callback saw it.
struct Delivery {
    QMenum event;
    QMuint shape;
    QMenum thread;
    std::uintptr_t token;  // the user data: which subscription
    bool onMainThread;
    bool insideCheckEvents;
};

// Runs work on the library's collision thread and waits for it.
class CollisionWork final : public sched::SchedulerOperation {
public:
    CollisionWork(sched::SchedulerThread* owner, std::function<void()> work, plat::Event done)
        : sched::SchedulerOperation(owner), work_(std::move(work)), done_(std::move(done)) {}
    void execute() override {
        work_();
        finished_ = true;
        done_.set();
    }
    bool isDone() const override { return finished_; }
    void markDone() override { finished_ = true; }

private:
    std::function<void()> work_;
    plat::Event done_;
    bool finished_ = false;
};

class Fuzzer;
struct Generator {
    const char* name;  // the export it calls (or the kind of step)
    unsigned weight;   // relative frequency
    bool concurrent;   // also run while the concurrent phases' threads run
    void (Fuzzer::*run)();
};

class Fuzzer {
public:
    Fuzzer(std::uint64_t seed, std::uint64_t calls, bool quiet, std::string exportsMap)
        : seed_(seed), calls_(calls), quiet_(quiet), exportsMap_(std::move(exportsMap)), random_(seed) {}

    int run();

    // ---- generators (one per export; see generatorTable())
    // contexts, errors, strings
    void genCreateContext();
    void genDeleteContext();
    void genMakeCurrent();
    void genGetCurrentContext();
    void genContextDevice();
    void genGetCurrentDevice();
    void genGetError();
    void genGetString();
    // attributes
    void genMaterialf();
    void genGetMaterialfv();
    void genTouchableFace();
    void genTouchModel();
    void genTouchModelf();
    void genFrontFace();
    void genHinti();
    void genHintb();
    void genEnable() { enableDisable(true); }
    void genDisable() { enableDisable(false); }
    void genIsEnabled();
    void genPushAttrib();
    void genPopAttrib();
    void genGetBooleanv();
    void genGetIntegerv();
    void genGetDoublev();
    // transforms
    void genMatrixMode();
    void genPushMatrix();
    void genPopMatrix();
    void genLoadIdentity();
    void genLoadMatrixd() { loadMatrix(true, false); }
    void genLoadMatrixf() { loadMatrix(false, false); }
    void genMultMatrixd() { loadMatrix(true, true); }
    void genMultMatrixf() { loadMatrix(false, true); }
    void genTranslated() { translateScale(true, false); }
    void genTranslatef() { translateScale(false, false); }
    void genRotated() { rotate(true); }
    void genRotatef() { rotate(false); }
    void genScaled() { translateScale(true, true); }
    void genScalef() { translateScale(false, true); }
    void genOrtho();
    void genWorkspace();
    // identifiers
    void genGenShapes() { genIds(true); }
    void genDeleteShapes() { deleteIds(true); }
    void genIsShape() { isId(true); }
    void genGenEffects() { genIds(false); }
    void genDeleteEffects() { deleteIds(false); }
    void genIsEffect() { isId(false); }
    // frames and shapes
    void genBeginFrame();
    void genEndFrame();
    void genUpdateCalibration();
    void genBeginShape();
    void genEndShape();
    void genCallShape();
    void genBegin();
    void genVertex3d() { vertex(0); }
    void genVertex3f() { vertex(1); }
    void genVertex3dv() { vertex(2); }
    void genVertex3fv() { vertex(3); }
    void genEnd();
    void genGetShapeBooleanv();
    // An identifier of a shape submitted in a scene most of the time, any
    // identifier otherwise.
    QMuint submittedOrAnyId();
    // The errors of a per-shape result query, in the order they are checked.
    QMenum expectShapeResultErrors(QMuint id, bool knownName, bool null, const std::string& what);
    void genGetShapeDoublev();
    void genDumpScene();
    // state caches and the proxy
    void genCacheGetBooleanv();
    void genCacheGetDoublev();
    void genProxyf();
    void genProxydv();
    // effects: the model knows which identifiers the last completed frame
    // holds an effect under, of which type and with which properties
    void genStartEffect();
    void genStopEffect();
    void genTriggerEffect();
    void genUpdateEffect();
    void genEffectValue();
    void genEffectArray();
    void genGetEffect();
    // callbacks and local features: no model of their own yet; each call
    // must raise nothing or one of its documented errors, and the rest of
    // the model must stay true
    void genCallback();
    void genLocalFeature();
    void expectLoosely(const char* what);
    // events: the model knows the subscriptions, and every callback run is
    // checked against them
    void genAddEventCallback();
    void genRemoveEventCallback();
    void genCheckEvents();
    void genEventd();
    // The driver's event callback (any thread).
    void delivered(QMenum event, QMuint shape, QMenum thread, void* userData);
    // steps that are not exports
    void stepTicks();
    void stepButtons();
    void stepCollision();
    void stepOnCollisionThread();
    void stepGlDraw();
    void stepGlRenderMode();
    void stepNoContext();
    void stepConcurrentPhase();

private:
    // Randomness.
    std::uint64_t next() { return random_(); }
    bool chance(unsigned percent) { return next() % 100 < percent; }
    template <class T>
    const T& pick(const std::vector<T>& v) {
        return v[next() % v.size()];
    }
    QMenum anySymbol(const std::vector<QMenum>& valid);
    double anyDouble();
    float anyFloat() { return static_cast<float>(anyDouble()); }
    double moderate() { return static_cast<double>(next() % 2001) / 1000.0 - 1.0; }
    QMint anyRange();
    QMuint anyId(bool shapes);
    HZV anyDevice();

    // Bookkeeping.
    void note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    [[noreturn]] void finding(const char* format, ...) __attribute__((format(printf, 2, 3)));
    std::vector<QMenum> drain();
    bool expectErrors(const std::vector<QMenum>& expected, const char* what);
    QMenum expectOneOf(const std::vector<QMenum>& allowed, bool allowNone, const char* what);
    void expectNone(const char* what) { expectErrors({}, what); }
    bool haveContext() const { return current_ != nullptr; }

    // Helpers of the generators.
    void enableDisable(bool enable);
    void loadMatrix(bool doubles, bool multiplyIt);
    void translateScale(bool doubles, bool scale);
    void rotate(bool doubles);
    void applyAndCheck(const Mat& a, bool tameInput, double relative, const char* what, const Mat* slack = nullptr);
    void checkMatrices(const char* what);
    Mat readMatrix(int stack);
    void genIds(bool shapes);
    void deleteIds(bool shapes);
    void isId(bool shapes);
    void vertex(int form);
    void checkAttributes(const char* what);
    void restore(const Saved& saved);
    Mat composed() const;
    bool conversionsReliable() const;
    bool shapeTransformReliable(const Mat& modelview) const;
    Mat captureModelview() const {
        return attributes_.caps[kUseGlModelview] ? identity() : stacks_[kModelviewStack].back();
    }
    void resetModel();
    void makeMainContext();
    void dropMainContext();
    void setRealTime(bool on);
    void checkCoverage();
    // The effect model at frame boundaries, collision steps and deletions.
    void effectsAtBeginFrame();
    void effectsAtEndFrame(bool submitted);
    void effectsStepped();
    void effectsDeleted(std::uint64_t first, std::uint64_t last);
    // Settles whether the last frame holds an effect under `id`, as a call
    // just showed.
    void settleEffect(QMuint id, bool held);
    // Asks qmGetEffectbv whether an effect the model is unsure of is there.
    void probeEffect(QMuint id);
    QMuint effectIdForCall();
    bool effectHeld(QMuint id) const { return held_.count(id) != 0; }
    bool effectUncertain(QMuint id) const {
        const auto at = held_.find(id);
        return at != held_.end() && at->second.uncertain;
    }
    // Checks the callback runs recorded since the last check.
    void checkDeliveries(const char* what);

    std::uint64_t seed_;
    std::uint64_t calls_;
    bool quiet_;
    std::string exportsMap_;
    std::mt19937_64 random_;
    std::uint64_t call_ = 0;
    fuzz::CallJournal journal_{"qm_fuzz", seed_};
    std::atomic<std::uint64_t> progress_{0};
    std::vector<Generator> table_;
    std::map<std::string, std::uint64_t> counts_;
    std::uint64_t errorsSeen_ = 0;
    std::uint64_t deviceErrors_ = 0;
    int lastDrainDeviceErrors_ = 0;  // device errors the last drain left out
    std::uint64_t phases_ = 0;
    std::uint64_t collisionSteps_ = 0;

    // The environment.
    zvtest::EglContext* gl_ = nullptr;
    HZV device_ = ZV_INVALID_HANDLE;
    HQMRC main_ = nullptr;
    HQMRC current_ = nullptr;  // the context current on this thread
    bool concurrent_ = false;  // inside a concurrent phase
    std::string dumpPath_;

    // The model of the main context.
    HZV boundDevice_ = ZV_INVALID_HANDLE;
    Attributes attributes_;
    std::vector<Saved> saved_;
    std::vector<Mat> stacks_[kStacks];
    Mat frameModelview_ = identity();
    Pool shapes_;
    Pool effects_;
    std::set<QMuint> defined_;    // identifiers with a shape for qmCallShape
    std::set<QMuint> submitted_;  // identifiers ever handed to the collision side
    bool inFrame_ = false;
    OpenShape open_ = OpenShape::None;
    QMuint openId_ = 0;
    Mat openModelview_ = identity();  // the modelview the open shape took
    bool primitiveStarted_ = false;
    bool feedbackBroken_ = false;  // OpenGL left feedback mode during a capture
    bool glSelect_ = false;        // OpenGL in GL_SELECT mode, set by the driver
    bool anyShapeOpened_ = false;
    // The second thread's shape-pool calls are refused while a shape is
    // open, and would record errors in the store this thread checks: they
    // are made only under the gate while no shape is open.
    std::mutex shapeGateLock_;
    std::atomic<bool> shapeGate_{false};
    // Effects.
    std::map<QMuint, HeldEffect> held_;           // the last completed frame's
    std::map<QMuint, FrameEffect> frameEffects_;  // the open frame's
    std::vector<QMuint> lastTriggers_;            // triggered in the last completed frame
    std::vector<QMuint> releaseAtBegin_;          // trigger identifiers the next qmBeginFrame frees
    std::uint64_t effectReadsChecked_ = 0;        // getter results compared with the model
    // Events.
    std::map<SubscriptionKey, std::uintptr_t> subscriptions_;  // to the user data given last
    std::uintptr_t nextToken_ = 1;
    std::thread::id mainThread_;
    std::atomic<bool> insideCheckEvents_{false};
    std::mutex deliveriesLock_;
    std::vector<Delivery> deliveries_;
    std::uint64_t deliveriesChecked_ = 0;
};

// ---------------------------------------------------------------- the table

// One generator per export of cmake/exports/qm.map, then the steps that are
// not calls of their own. Weights are relative frequencies.
std::vector<Generator> generatorTable() {
    return {
        // contexts, errors, strings
        {"qmCreateContext", 2, false, &Fuzzer::genCreateContext},
        {"qmDeleteContext", 2, false, &Fuzzer::genDeleteContext},
        {"qmMakeCurrent", 3, false, &Fuzzer::genMakeCurrent},
        {"qmGetCurrentContext", 5, true, &Fuzzer::genGetCurrentContext},
        {"qmContextDevice", 2, false, &Fuzzer::genContextDevice},
        {"qmGetCurrentDevice", 5, true, &Fuzzer::genGetCurrentDevice},
        {"qmGetError", 10, true, &Fuzzer::genGetError},
        {"qmGetString", 5, true, &Fuzzer::genGetString},
        // attributes
        {"qmMaterialf", 30, true, &Fuzzer::genMaterialf},
        {"qmGetMaterialfv", 20, true, &Fuzzer::genGetMaterialfv},
        {"qmTouchableFace", 10, true, &Fuzzer::genTouchableFace},
        {"qmTouchModel", 10, true, &Fuzzer::genTouchModel},
        {"qmTouchModelf", 10, true, &Fuzzer::genTouchModelf},
        {"qmFrontFace", 10, true, &Fuzzer::genFrontFace},
        {"qmHinti", 10, true, &Fuzzer::genHinti},
        {"qmHintb", 10, true, &Fuzzer::genHintb},
        {"qmEnable", 10, true, &Fuzzer::genEnable},
        {"qmDisable", 10, true, &Fuzzer::genDisable},
        {"qmIsEnabled", 15, true, &Fuzzer::genIsEnabled},
        {"qmPushAttrib", 15, true, &Fuzzer::genPushAttrib},
        {"qmPopAttrib", 15, true, &Fuzzer::genPopAttrib},
        {"qmGetBooleanv", 15, true, &Fuzzer::genGetBooleanv},
        {"qmGetIntegerv", 15, true, &Fuzzer::genGetIntegerv},
        {"qmGetDoublev", 30, true, &Fuzzer::genGetDoublev},
        // transforms
        {"qmMatrixMode", 20, true, &Fuzzer::genMatrixMode},
        {"qmPushMatrix", 20, true, &Fuzzer::genPushMatrix},
        {"qmPopMatrix", 20, true, &Fuzzer::genPopMatrix},
        {"qmLoadIdentity", 15, true, &Fuzzer::genLoadIdentity},
        {"qmLoadMatrixd", 5, true, &Fuzzer::genLoadMatrixd},
        {"qmLoadMatrixf", 5, true, &Fuzzer::genLoadMatrixf},
        {"qmMultMatrixd", 5, true, &Fuzzer::genMultMatrixd},
        {"qmMultMatrixf", 5, true, &Fuzzer::genMultMatrixf},
        {"qmTranslated", 8, true, &Fuzzer::genTranslated},
        {"qmTranslatef", 8, true, &Fuzzer::genTranslatef},
        {"qmRotated", 8, true, &Fuzzer::genRotated},
        {"qmRotatef", 8, true, &Fuzzer::genRotatef},
        {"qmScaled", 8, true, &Fuzzer::genScaled},
        {"qmScalef", 8, true, &Fuzzer::genScalef},
        {"qmOrtho", 5, true, &Fuzzer::genOrtho},
        {"qmWorkspace", 10, true, &Fuzzer::genWorkspace},
        // identifiers
        {"qmGenShapes", 20, true, &Fuzzer::genGenShapes},
        {"qmDeleteShapes", 10, true, &Fuzzer::genDeleteShapes},
        {"qmIsShape", 15, true, &Fuzzer::genIsShape},
        {"qmGenEffects", 10, true, &Fuzzer::genGenEffects},
        {"qmDeleteEffects", 8, true, &Fuzzer::genDeleteEffects},
        {"qmIsEffect", 10, true, &Fuzzer::genIsEffect},
        // frames and shapes
        {"qmBeginFrame", 25, true, &Fuzzer::genBeginFrame},
        {"qmEndFrame", 25, true, &Fuzzer::genEndFrame},
        {"qmUpdateCalibration", 2, true, &Fuzzer::genUpdateCalibration},
        {"qmBeginShape", 30, true, &Fuzzer::genBeginShape},
        {"qmEndShape", 25, true, &Fuzzer::genEndShape},
        {"qmCallShape", 15, true, &Fuzzer::genCallShape},
        {"qmBegin", 25, true, &Fuzzer::genBegin},
        {"qmVertex3d", 25, true, &Fuzzer::genVertex3d},
        {"qmVertex3f", 15, true, &Fuzzer::genVertex3f},
        {"qmVertex3dv", 15, true, &Fuzzer::genVertex3dv},
        {"qmVertex3fv", 15, true, &Fuzzer::genVertex3fv},
        {"qmEnd", 20, true, &Fuzzer::genEnd},
        {"qmGetShapeBooleanv", 10, true, &Fuzzer::genGetShapeBooleanv},
        {"qmGetShapeDoublev", 10, true, &Fuzzer::genGetShapeDoublev},
        {"qmDumpScene", 1, false, &Fuzzer::genDumpScene},
        // state caches and the proxy
        {"qmCacheGetBooleanv", 5, true, &Fuzzer::genCacheGetBooleanv},
        {"qmCacheGetDoublev", 5, true, &Fuzzer::genCacheGetDoublev},
        {"qmProxyf", 8, true, &Fuzzer::genProxyf},
        {"qmProxydv", 8, true, &Fuzzer::genProxydv},

        // ---- Generators of exports added later (effects, events, depth-
        // buffer and callback shapes, ...) go here, one entry per export,
        // named exactly as the export so that the coverage report finds
        // them. Each checks the errors its header comment documents and
        // keeps the model above true (a new attribute joins Attributes and
        // the group it belongs to in restore()).
        // Effects and events: exact errors from the effect and subscription
        // models (not concurrent: a trigger takes an identifier from the pool
        // the second thread shares, and the model predicts which).
        {"qmStartEffect", 6, false, &Fuzzer::genStartEffect},
        {"qmStopEffect", 4, false, &Fuzzer::genStopEffect},
        {"qmTriggerEffect", 3, false, &Fuzzer::genTriggerEffect},
        {"qmUpdateEffect", 3, false, &Fuzzer::genUpdateEffect},
        {"qmEffectd", 3, false, &Fuzzer::genEffectValue},
        {"qmEffecti", 2, false, &Fuzzer::genEffectValue},
        {"qmEffectdv", 3, false, &Fuzzer::genEffectArray},
        {"qmEffectiv", 2, false, &Fuzzer::genEffectArray},
        {"qmGetEffectdv", 3, false, &Fuzzer::genGetEffect},
        {"qmGetEffectiv", 2, false, &Fuzzer::genGetEffect},
        {"qmGetEffectbv", 2, false, &Fuzzer::genGetEffect},
        {"qmAddEventCallback", 3, false, &Fuzzer::genAddEventCallback},
        {"qmRemoveEventCallback", 2, false, &Fuzzer::genRemoveEventCallback},
        {"qmCheckEvents", 4, false, &Fuzzer::genCheckEvents},
        {"qmEventd", 2, false, &Fuzzer::genEventd},
        // The entries below check errors only loosely (see expectLoosely).
        {"qmCallback", 3, false, &Fuzzer::genCallback},
        {"qmLocalFeature1fv", 1, false, &Fuzzer::genLocalFeature},
        {"qmLocalFeature1dv", 1, false, &Fuzzer::genLocalFeature},
        {"qmLocalFeature2fv", 1, false, &Fuzzer::genLocalFeature},
        {"qmLocalFeature2dv", 1, false, &Fuzzer::genLocalFeature},

        // ---- steps that are not exports
        {"(servo ticks)", 20, false, &Fuzzer::stepTicks},
        {"(buttons)", 4, false, &Fuzzer::stepButtons},
        {"(collision step)", 20, false, &Fuzzer::stepCollision},
        {"(calls on the collision thread)", 3, false, &Fuzzer::stepOnCollisionThread},
        {"(OpenGL drawing)", 15, true, &Fuzzer::stepGlDraw},
        {"(OpenGL render mode)", 3, false, &Fuzzer::stepGlRenderMode},
        {"(calls without a context)", 2, false, &Fuzzer::stepNoContext},
        {"(concurrent phase)", 1, false, &Fuzzer::stepConcurrentPhase},
    };
}

// ---------------------------------------------------------------- symbols and numbers

const std::vector<QMenum>& allSymbols() {
    static const std::vector<QMenum> symbols = {
        QM_NO_ERROR,
        QM_INVALID_ENUM,
        QM_INVALID_VALUE,
        QM_INVALID_OPERATION,
        QM_STACK_OVERFLOW,
        QM_STACK_UNDERFLOW,
        QM_OUT_OF_MEMORY,
        QM_DEVICE_ERROR,
        QM_STIFFNESS,
        QM_DAMPING,
        QM_STATIC_FRICTION,
        QM_DYNAMIC_FRICTION,
        QM_POPTHROUGH,
        QM_FRONT,
        QM_BACK,
        QM_FRONT_AND_BACK,
        QM_CW,
        QM_CCW,
        QM_TOUCHABLE_FACE,
        QM_TOUCHED_FACE,
        QM_TOUCH_MODEL,
        QM_CONTACT,
        QM_CONSTRAINT,
        QM_SNAP_DISTANCE,
        QM_PROXY_RESOLUTION,
        QM_HAPTIC_CAMERA_VIEW,
        QM_ADAPTIVE_VIEWPORT,
        QM_USE_GL_MODELVIEW,
        QM_SHAPE_FEEDBACK_BUFFER,
        QM_SHAPE_DEPTH_BUFFER,
        QM_SHAPE_CALLBACK,
        QM_SHAPE_PRIMITIVE,
        QM_SHAPE_FEEDBACK_BUFFER_VERTICES,
        QM_SHAPE_DYNAMIC_SURFACE_CHANGE,
        QM_SHAPE_PERSISTENCE,
        QM_SHAPE_INTERSECT_LS,
        QM_SHAPE_CLOSEST_FEATURES,
        QM_LOCAL_FEATURE_POINT,
        QM_LOCAL_FEATURE_LINE,
        QM_LOCAL_FEATURE_PLANE,
        QM_TRIANGLES,
        QM_TRIANGLE_STRIP,
        QM_QUADS,
        QM_QUAD_STRIP,
        QM_POLYGON,
        QM_LINES,
        QM_LINE_STRIP,
        QM_LINE_LOOP,
        QM_POINTS,
        QM_PROXY_IS_TOUCHING,
        QM_PROXY_TOUCH_NORMAL,
        QM_REACTION_FORCE,
        QM_VIEWTOUCH,
        QM_TOUCHWORKSPACE,
        QM_MODELVIEW,
        QM_VIEWTOUCH_MATRIX,
        QM_TOUCHWORKSPACE_MATRIX,
        QM_MODELVIEW_MATRIX,
        QM_WORKSPACE,
        QM_MAX_WORKSPACE_DIMS,
        QM_PROXY_POSITION,
        QM_PROXY_ROTATION,
        QM_PROXY_TRANSFORM,
        QM_DEVICE_POSITION,
        QM_DEVICE_ROTATION,
        QM_DEVICE_TRANSFORM,
        QM_DEVICE_FORCE,
        QM_DEVICE_TORQUE,
        QM_GOLDEN_POSITION,
        QM_GOLDEN_RADIUS,
        QM_BUTTON1_STATE,
        QM_BUTTON2_STATE,
        QM_BUTTON3_STATE,
        QM_SAFETY_STATE,
        QM_INKWELL_STATE,
        QM_EVENT_MOTION,
        QM_EVENT_1BUTTONDOWN,
        QM_EVENT_TOUCH,
        QM_EVENT_UNTOUCH,
        QM_EVENT_CALIBRATION_UPDATE,
        QM_EVENT_MOTION_LINEAR_TOLERANCE,
        QM_EVENT_MOTION_ANGULAR_TOLERANCE,
        QM_CLIENT_THREAD,
        QM_COLLISION_THREAD,
        QM_EFFECT_CALLBACK,
        QM_EFFECT_CONSTANT,
        QM_EFFECT_SPRING,
        QM_EFFECT_VISCOUS,
        QM_EFFECT_FRICTION,
        QM_EFFECT_COMPUTE_FORCE,
        QM_EFFECT_START,
        QM_EFFECT_STOP,
        QM_EFFECT_PROPERTY_TYPE,
        QM_EFFECT_PROPERTY_GAIN,
        QM_EFFECT_PROPERTY_MAGNITUDE,
        QM_EFFECT_PROPERTY_FREQUENCY,
        QM_EFFECT_PROPERTY_DURATION,
        QM_EFFECT_PROPERTY_POSITION,
        QM_EFFECT_PROPERTY_DIRECTION,
        QM_EFFECT_PROPERTY_ACTIVE,
        QM_VERSION,
        QM_VENDOR,
        QM_DYNAMIC_PROXY_POSITION,  // reserved names: NULL
        QM_EFFECT_SINE,
        QM_REACTION_TORQUE,
        QM_TIME,
        nullptr,
        kFakeStiffness,
        kFakeOther,
    };
    return symbols;
}

// Mostly one of the symbols the call accepts, else any symbol, a reserved
// name, NULL or a fake.
QMenum Fuzzer::anySymbol(const std::vector<QMenum>& valid) {
    if (!valid.empty() && chance(70)) {
        return pick(valid);
    }
    return pick(allSymbols());
}

double Fuzzer::anyDouble() {
    switch (next() % 16) {
    case 0: return kNaN;
    case 1: return chance(50) ? kInf : -kInf;
    case 2: return chance(50) ? 1e300 : -1e300;
    case 3: return chance(50) ? DBL_MIN : -DBL_MAX;
    case 4: return -static_cast<double>(next() % 1000);
    case 5: return 0.0;
    case 6: return chance(50) ? 1e20 : -1e-20;
    default: return moderate() * 2.0;
    }
}

QMint Fuzzer::anyRange() {
    switch (next() % 12) {
    case 0: return -static_cast<QMint>(1 + next() % 5);
    case 1: return INT_MIN;
    case 2: return chance(5) ? INT_MAX : static_cast<QMint>(next() % 100000);
    case 3: return 0;
    default: return static_cast<QMint>(1 + next() % 4);
    }
}

QMuint Fuzzer::anyId(bool shapes) {
    const Pool& pool = shapes ? shapes_ : effects_;
    switch (next() % 8) {
    case 0: return 0;
    case 1: return static_cast<QMuint>(next());
    case 2: return static_cast<QMuint>(pool.next + next() % 3);  // not handed out yet
    case 3: return static_cast<QMuint>(next() % std::max<std::uint64_t>(pool.next, 1));
    default:
        if (!pool.reserved.empty()) {
            return static_cast<QMuint>(pool.reserved.pick(next()));
        }
        return static_cast<QMuint>(next() % 8);
    }
}

HZV Fuzzer::anyDevice() {
    switch (next() % 6) {
    case 0: return ZV_INVALID_HANDLE;
    case 1: return static_cast<HZV>(7 + next() % 30);  // not open
    default: return device_;
    }
}

// ---------------------------------------------------------------- bookkeeping

void Fuzzer::note(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = fuzz::formatted(format, args);
    va_end(args);
    progress_ = call_ + 1;
    journal_.note(call_, concurrent_ ? "(concurrent) " + text : text);
}

void Fuzzer::finding(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = fuzz::formatted(format, args);
    va_end(args);
    journal_.finding(call_, text);
}

std::string errorList(const std::vector<QMenum>& errors) {
    std::string text = "{";
    for (QMenum e : errors) {
        text += " " + symbolText(e);
    }
    return text + " }";
}

// Every error recorded since the last drain, oldest first. Device errors are
// the collision side's reports of the device and belong to no call; they
// are counted and left out.
std::vector<QMenum> Fuzzer::drain() {
    std::vector<QMenum> errors;
    lastDrainDeviceErrors_ = 0;
    if (!haveContext()) {
        return errors;
    }
    for (QMerror e = qmGetError(); e.errorCode != QM_NO_ERROR; e = qmGetError()) {
        if (e.errorCode == QM_DEVICE_ERROR) {
            ++deviceErrors_;
            ++lastDrainDeviceErrors_;
            continue;
        }
        if (e.errorInfo.errorCode != 0 || e.errorInfo.internalErrorCode != 0 ||
            e.errorInfo.deviceHandle != ZV_INVALID_HANDLE) {
            finding("error %s carries a device record {0x%x, %d, %u}", symbolText(e.errorCode).c_str(),
                    e.errorInfo.errorCode, e.errorInfo.internalErrorCode, e.errorInfo.deviceHandle);
        }
        errors.push_back(e.errorCode);
        if (errors.size() > 1000) {
            finding("the error store does not empty");
        }
    }
    std::reverse(errors.begin(), errors.end());
    errorsSeen_ += errors.size();
    return errors;
}

bool Fuzzer::expectErrors(const std::vector<QMenum>& expected, const char* what) {
    const std::vector<QMenum>& want = expected;
    const std::vector<QMenum> got = drain();
    if (got != want) {
        finding("%s: expected errors %s, got %s", what, errorList(want).c_str(), errorList(got).c_str());
    }
    return !expected.empty();
}

// Exactly one error of the allowed ones (or none, when allowed); returns it
// (NULL for none).
QMenum Fuzzer::expectOneOf(const std::vector<QMenum>& allowed, bool allowNone, const char* what) {
    const std::vector<QMenum> got = drain();
    if (got.empty() && allowNone) {
        return nullptr;
    }
    if (got.size() == 1 && std::find(allowed.begin(), allowed.end(), got[0]) != allowed.end()) {
        return got[0];
    }
    finding("%s: expected one of %s%s, got %s", what, errorList(allowed).c_str(), allowNone ? " or none" : "",
            errorList(got).c_str());
}

// ---------------------------------------------------------------- the environment

void Fuzzer::resetModel() {
    attributes_ = Attributes{};
    attributes_.touchable = QM_FRONT;
    attributes_.touchModel = QM_CONTACT;
    attributes_.frontFace = QM_CCW;
    saved_.clear();
    for (int s = 0; s < kStacks; ++s) {
        stacks_[s].assign(1, identity());
    }
    frameModelview_ = identity();
    shapes_ = Pool{};
    shapes_.reserved.insert(1, 1);  // the context's own
    shapes_.next = 2;
    effects_ = Pool{};
    defined_.clear();
    submitted_.clear();
    inFrame_ = false;
    open_ = OpenShape::None;
    primitiveStarted_ = false;
    feedbackBroken_ = false;
    held_.clear();
    frameEffects_.clear();
    lastTriggers_.clear();
    releaseAtBegin_.clear();
    subscriptions_.clear();
    std::lock_guard<std::mutex> guard(deliveriesLock_);
    deliveries_.clear();
}

void Fuzzer::makeMainContext() {
    main_ = qmCreateContext(device_);
    if (main_ == nullptr) {
        finding("qmCreateContext on the simulated device failed");
    }
    qmMakeCurrent(main_);
    current_ = main_;
    boundDevice_ = device_;
    resetModel();
    double box[6];
    qmGetDoublev(QM_WORKSPACE, box);
    std::copy(box, box + 6, attributes_.workspace);
    expectNone("reading the workspace box of a new context");
}

void Fuzzer::dropMainContext() {
    if (glSelect_) {
        glRenderMode(GL_RENDER);
        glSelect_ = false;
    }
    if (open_ == OpenShape::Feedback && !feedbackBroken_) {
        glPopAttrib();  // the capture's own
        glRenderMode(GL_RENDER);
    }
    qmDeleteContext(main_);
    main_ = nullptr;
    current_ = nullptr;
    qmMakeCurrent(nullptr);
    open_ = OpenShape::None;
    shapeGate_ = false;
}

// The manual clock (the default) or real time. The loop is the driver's own,
// started before any context, so the library leaves it alone; it keeps its
// operations across the stop and start.
void Fuzzer::setRealTime(bool on) {
    zvStopScheduler();
    if (korvo_sim_set_manual_clock(on ? 0 : 1) != 0) {
        finding("the simulator's clock cannot be switched");
    }
    zvStartScheduler();
    while (zvGetError().errorCode != ZV_SUCCESS) {
    }
}

Mat Fuzzer::composed() const {
    return multiply(multiply(stacks_[kTouchWorkspaceStack].back(), stacks_[kViewTouchStack].back()), frameModelview_);
}

// Whether the composed transform of the model is one the library inverts
// for sure: then conversions to model coordinates record nothing.
bool Fuzzer::conversionsReliable() const { return wellConditioned(composed()); }

// Whether a shape built now, whose geometry was given under `modelview`,
// has a transform to the workspace the library inverts for sure. When it
// has none the shape cannot be touched and its end (or call) is refused.
bool Fuzzer::shapeTransformReliable(const Mat& modelview) const {
    return wellConditioned(stacks_[kTouchWorkspaceStack].back()) && wellConditioned(stacks_[kViewTouchStack].back()) &&
           wellConditioned(frameModelview_) && wellConditioned(modelview) && conversionsReliable();
}

// ---------------------------------------------------------------- contexts, errors, strings

void Fuzzer::genCreateContext() {
    // A context without a device, or on the simulated device; made current
    // briefly to check its defaults, then deleted.
    const HZV device = chance(50) ? ZV_INVALID_HANDLE : device_;
    note("qmCreateContext(%u) (a second context)", device);
    HQMRC rc = qmCreateContext(device);
    if (rc == nullptr) {
        finding("qmCreateContext(%u) failed", device);
    }
    if (qmGetCurrentContext() != current_) {
        finding("qmCreateContext changed the current context");
    }
    qmMakeCurrent(rc);
    QMintptr face = 0;
    qmGetIntegerv(QM_TOUCHABLE_FACE, &face);
    if (face != reinterpret_cast<QMintptr>(QM_FRONT)) {
        finding("a new context's touchable face is not QM_FRONT");
    }
    if (qmGenShapes(1) != 2u) {
        finding("a new context's first shape identifier is not 2");
    }
    if (qmGetCurrentDevice() != device) {
        finding("a new context's device is not the one it was created on");
    }
    for (QMerror e = qmGetError(); e.errorCode != QM_NO_ERROR; e = qmGetError()) {
        if (e.errorCode != QM_DEVICE_ERROR) {
            finding("a new context recorded %s", symbolText(e.errorCode).c_str());
        }
    }
    qmMakeCurrent(current_);
    qmDeleteContext(rc);
    if (qmGetCurrentContext() != current_) {
        finding("deleting another context changed the current context");
    }
}

// Deletes the main context (current or not) and makes a new one; the model
// starts again.
void Fuzzer::genDeleteContext() {
    if (chance(80)) {
        note("qmDeleteContext(NULL)");
        qmDeleteContext(nullptr);
        expectNone("qmDeleteContext(NULL)");
        return;
    }
    const bool wasCurrent = current_ == main_;
    note("qmDeleteContext(main) (current: %d) and a new main context", wasCurrent);
    dropMainContext();
    if (qmGetCurrentContext() != nullptr) {
        finding("the deleted context is still current");
    }
    makeMainContext();
}

// Switches between the main context and none.
void Fuzzer::genMakeCurrent() {
    const bool none = chance(30) && current_ != nullptr;
    note("qmMakeCurrent(%s)", none ? "NULL" : "main");
    qmMakeCurrent(none ? nullptr : main_);
    current_ = none ? nullptr : main_;
    if (qmGetCurrentContext() != current_) {
        finding("qmMakeCurrent did not make the context current");
    }
}

void Fuzzer::genGetCurrentContext() {
    note("qmGetCurrentContext()");
    if (qmGetCurrentContext() != current_) {
        finding("qmGetCurrentContext is not the context made current");
    }
}

void Fuzzer::genContextDevice() {
    const HZV device = anyDevice();
    note("qmContextDevice(%u) in frame %d", device, inFrame_);
    qmContextDevice(device);
    if (!haveContext()) {
        return;
    }
    if (inFrame_) {
        expectErrors({QM_INVALID_OPERATION}, "qmContextDevice inside a frame");
        return;
    }
    expectOneOf({QM_INVALID_OPERATION}, true, "qmContextDevice");
    const HZV now = qmGetCurrentDevice();
    drain();
    if (now != device) {
        finding("qmContextDevice(%u) left the device %u", device, now);
    }
    boundDevice_ = device;
    // Back to the simulated device most of the time: the collision side
    // and the published state need it.
    if (device != device_ && chance(70)) {
        note("qmContextDevice(%u) (back)", device_);
        qmContextDevice(device_);
        expectNone("qmContextDevice back to the device");
        boundDevice_ = device_;
    }
}

void Fuzzer::genGetCurrentDevice() {
    note("qmGetCurrentDevice()");
    const HZV device = qmGetCurrentDevice();
    if (!haveContext()) {
        if (device != ZV_INVALID_HANDLE) {
            finding("qmGetCurrentDevice without a context gave %u", device);
        }
        return;
    }
    expectNone("qmGetCurrentDevice");
    if (device != boundDevice_) {
        finding("qmGetCurrentDevice gave %u, the context is bound to %u", device, boundDevice_);
    }
}

// The store: errors pop newest first, one equal to the newest is stored
// once, and every record of a library error carries an empty device record.
void Fuzzer::genGetError() {
    if (!haveContext()) {
        note("qmGetError() without a context");
        const QMerror e = qmGetError();
        if (e.errorCode != QM_INVALID_OPERATION || e.errorInfo.errorCode != 0 || e.errorInfo.internalErrorCode != -1 ||
            e.errorInfo.deviceHandle != 0) {
            finding("qmGetError without a context gave an unexpected record");
        }
        return;
    }
    drain();
    const int first = static_cast<int>(next() % 3);
    const int second = static_cast<int>(next() % 3);
    auto fail = [](int kind) {
        switch (kind) {
        case 0: qmMatrixMode(nullptr); break;                           // QM_INVALID_ENUM
        case 1: qmHinti(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, -1); break;  // QM_INVALID_VALUE
        default: qmProxyf(nullptr, 1.0f); break;                        // QM_INVALID_OPERATION
        }
    };
    const QMenum codes[] = {QM_INVALID_ENUM, QM_INVALID_VALUE, QM_INVALID_OPERATION};
    note("qmGetError() after two refused calls (%d, %d)", first, second);
    fail(first);
    fail(second);
    std::vector<QMenum> expected = {codes[first]};
    if (second != first) {
        expected.push_back(codes[second]);
    }
    const std::vector<QMenum> got = drain();
    // A device error the collision side recorded between the two calls
    // separates them, and both are then stored.
    if (got != expected && lastDrainDeviceErrors_ == 0) {
        finding("the error store after two refused calls: expected %s, got %s", errorList(expected).c_str(),
                errorList(got).c_str());
    }
    const QMerror empty = qmGetError();
    if (empty.errorCode != QM_NO_ERROR || empty.errorInfo.deviceHandle != ZV_INVALID_HANDLE) {
        finding("an empty store did not give QM_NO_ERROR");
    }
}

void Fuzzer::genGetString() {
    const QMenum name = anySymbol({QM_VERSION, QM_VENDOR});
    note("qmGetString(%s)", symbolText(name).c_str());
    const char* text = qmGetString(name);
    if (name != nullptr && name == QM_VERSION) {
        if (text == nullptr || std::strchr(text, '.') == nullptr) {
            finding("no version text");
        }
    } else if (name != nullptr && name == QM_VENDOR) {
        if (text == nullptr || std::strlen(text) == 0) {
            finding("no vendor text");
        }
    } else if (text != nullptr) {
        finding("qmGetString(%s) gave a text", symbolText(name).c_str());
    }
    expectNone("qmGetString");
}

// ---------------------------------------------------------------- attributes

namespace {

const std::vector<QMenum>& faces() {
    static const std::vector<QMenum> v = {QM_FRONT, QM_BACK, QM_FRONT_AND_BACK};
    return v;
}
const std::vector<QMenum>& materials() {
    static const std::vector<QMenum> v = {QM_STIFFNESS, QM_DAMPING, QM_STATIC_FRICTION, QM_DYNAMIC_FRICTION,
                                          QM_POPTHROUGH};
    return v;
}
const std::vector<QMenum>& capabilities() {
    static const std::vector<QMenum> v = {QM_PROXY_RESOLUTION, QM_HAPTIC_CAMERA_VIEW, QM_ADAPTIVE_VIEWPORT,
                                          QM_USE_GL_MODELVIEW};
    return v;
}
int indexOf(const std::vector<QMenum>& v, QMenum s) {
    if (s == nullptr) {
        return -1;
    }
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == s) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

void Fuzzer::genMaterialf() {
    const QMenum face = anySymbol(faces());
    const QMenum property = anySymbol(materials());
    const float value = chance(60) ? static_cast<float>(next() % 1001) / 1000.0f : anyFloat();
    note("qmMaterialf(%s, %s, %g)", symbolText(face).c_str(), symbolText(property).c_str(), value);
    qmMaterialf(face, property, value);
    if (!haveContext()) {
        return;
    }
    const int f = indexOf(faces(), face);
    const int p = indexOf(materials(), property);
    if (std::isnan(value) || value < 0.0f || value > 1.0f) {
        expectErrors({QM_INVALID_VALUE}, "qmMaterialf with a value outside [0, 1]");
    } else if (f < 0 || p < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmMaterialf with an unknown face or property");
    } else {
        expectNone("qmMaterialf");
        if (f != kBack) {
            attributes_.material[kFront][p] = value;
        }
        if (f != kFront) {
            attributes_.material[kBack][p] = value;
        }
    }
    checkAttributes("qmMaterialf");
}

void Fuzzer::genGetMaterialfv() {
    const QMenum face = anySymbol({QM_FRONT, QM_BACK});
    const QMenum property = anySymbol(materials());
    const bool null = chance(5);
    float out[4] = {-7.0f, -7.0f, -7.0f, -7.0f};
    note("qmGetMaterialfv(%s, %s, %s)", symbolText(face).c_str(), symbolText(property).c_str(), null ? "NULL" : "out");
    qmGetMaterialfv(face, property, null ? nullptr : out);
    if (!haveContext()) {
        return;
    }
    const int f = indexOf({QM_FRONT, QM_BACK}, face);
    const int p = indexOf(materials(), property);
    if (f < 0 || p < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmGetMaterialfv with an unknown face or property");
    } else if (null) {
        expectErrors({QM_INVALID_VALUE}, "qmGetMaterialfv into NULL");
    } else {
        expectNone("qmGetMaterialfv");
        if (out[0] != attributes_.material[f][p]) {
            finding("material %s %s is %g, expected %g", symbolText(face).c_str(), symbolText(property).c_str(), out[0],
                    attributes_.material[f][p]);
        }
        out[0] = -7.0f;
    }
    if (out[0] != -7.0f || out[1] != -7.0f) {
        finding("qmGetMaterialfv wrote where it should not");
    }
}

void Fuzzer::genTouchableFace() {
    const QMenum face = anySymbol(faces());
    note("qmTouchableFace(%s)", symbolText(face).c_str());
    qmTouchableFace(face);
    if (!haveContext()) {
        return;
    }
    if (indexOf(faces(), face) < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmTouchableFace with an unknown face");
    } else {
        expectNone("qmTouchableFace");
        attributes_.touchable = face;
    }
    checkAttributes("qmTouchableFace");
}

void Fuzzer::genTouchModel() {
    const QMenum model = anySymbol({QM_CONTACT, QM_CONSTRAINT});
    note("qmTouchModel(%s)", symbolText(model).c_str());
    qmTouchModel(model);
    if (!haveContext()) {
        return;
    }
    if (indexOf({QM_CONTACT, QM_CONSTRAINT}, model) < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmTouchModel with an unknown model");
    } else {
        expectNone("qmTouchModel");
        attributes_.touchModel = model;
    }
    checkAttributes("qmTouchModel");
}

void Fuzzer::genTouchModelf() {
    const QMenum name = anySymbol({QM_SNAP_DISTANCE});
    const float value = anyFloat();
    note("qmTouchModelf(%s, %g)", symbolText(name).c_str(), value);
    qmTouchModelf(name, value);
    if (!haveContext()) {
        return;
    }
    if (name == nullptr || name != QM_SNAP_DISTANCE) {
        expectErrors({QM_INVALID_ENUM}, "qmTouchModelf with an unknown name");
    } else {
        expectNone("qmTouchModelf (any value is accepted)");
        attributes_.snap = value;
    }
}

void Fuzzer::genFrontFace() {
    const QMenum mode = anySymbol({QM_CW, QM_CCW});
    note("qmFrontFace(%s)", symbolText(mode).c_str());
    qmFrontFace(mode);
    if (!haveContext()) {
        return;
    }
    expectNone("qmFrontFace (stored unchecked)");
    attributes_.frontFace = mode;
}

void Fuzzer::genHinti() {
    const QMenum name = anySymbol({QM_SHAPE_FEEDBACK_BUFFER_VERTICES});
    static const std::vector<QMint> values = {0, 1, 2, 3, 4, 10, 64, 300, 1000, 65536, INT_MAX, -1, INT_MIN, 1 << 30};
    const QMint value = pick(values);
    note("qmHinti(%s, %d)", symbolText(name).c_str(), value);
    qmHinti(name, value);
    if (!haveContext()) {
        return;
    }
    if (name == nullptr || name != QM_SHAPE_FEEDBACK_BUFFER_VERTICES) {
        expectErrors({QM_INVALID_ENUM}, "qmHinti with an unknown name");
    } else if (value < 0) {
        expectErrors({QM_INVALID_VALUE}, "qmHinti with a negative count");
    } else {
        expectNone("qmHinti");
        attributes_.vertices = value;
    }
    checkAttributes("qmHinti");
}

void Fuzzer::genHintb() {
    const QMenum name = anySymbol({QM_SHAPE_DYNAMIC_SURFACE_CHANGE, QM_SHAPE_PERSISTENCE});
    const QMboolean value = static_cast<QMboolean>(chance(30) ? next() % 256 : next() % 2);
    note("qmHintb(%s, %u)", symbolText(name).c_str(), value);
    qmHintb(name, value);
    if (!haveContext()) {
        return;
    }
    if (name != nullptr && name == QM_SHAPE_DYNAMIC_SURFACE_CHANGE) {
        expectNone("qmHintb");
        attributes_.dynamicSurface = value != 0;
    } else if (name != nullptr && name == QM_SHAPE_PERSISTENCE) {
        expectNone("qmHintb");
        attributes_.persistence = value != 0;
    } else {
        expectErrors({QM_INVALID_ENUM}, "qmHintb with an unknown name");
    }
}

void Fuzzer::enableDisable(bool enable) {
    const QMenum cap = anySymbol(capabilities());
    note("%s(%s) shape open %d", enable ? "qmEnable" : "qmDisable", symbolText(cap).c_str(), open_ != OpenShape::None);
    if (enable) {
        qmEnable(cap);
    } else {
        qmDisable(cap);
    }
    if (!haveContext()) {
        return;
    }
    const int c = indexOf(capabilities(), cap);
    if (c < 0) {
        expectErrors({QM_INVALID_OPERATION}, "qmEnable/qmDisable of an unknown capability");
    } else if ((c == kCameraView || c == kAdaptiveViewport) && open_ != OpenShape::None) {
        expectErrors({QM_INVALID_OPERATION}, "a camera-view capability changed while a shape is open");
    } else {
        expectNone("qmEnable/qmDisable");
        attributes_.caps[c] = enable;
    }
    checkAttributes("qmEnable/qmDisable");
}

void Fuzzer::genIsEnabled() {
    const QMenum cap = anySymbol(capabilities());
    note("qmIsEnabled(%s)", symbolText(cap).c_str());
    const QMboolean on = qmIsEnabled(cap);
    if (!haveContext()) {
        if (on != QM_FALSE) {
            finding("qmIsEnabled without a context gave true");
        }
        return;
    }
    const int c = indexOf(capabilities(), cap);
    if (c < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmIsEnabled of an unknown capability");
        if (on != QM_FALSE) {
            finding("a refused qmIsEnabled gave true");
        }
        return;
    }
    expectNone("qmIsEnabled");
    if ((on != QM_FALSE) != attributes_.caps[c]) {
        finding("capability %s is %d, expected %d", symbolText(cap).c_str(), on, attributes_.caps[c]);
    }
}

void Fuzzer::genPushAttrib() {
    static const std::vector<QMbitfield> single = {QM_HINT_BIT,      QM_MATERIAL_BIT, QM_TOUCH_BIT,
                                                   QM_TRANSFORM_BIT, QM_EFFECT_BIT,   QM_EVENTS_BIT};
    QMbitfield mask = 0;
    switch (next() % 5) {
    case 0: mask = static_cast<QMbitfield>(next()); break;
    case 1: mask = 0; break;
    case 2: mask = 0xFFFFFFC0u & static_cast<QMbitfield>(next()); break;  // no known bit
    default: {
        const int bits = 1 + static_cast<int>(next() % 3);
        for (int i = 0; i < bits; ++i) {
            mask |= pick(single);
        }
    }
    }
    note("qmPushAttrib(0x%x) depth %zu", mask, saved_.size());
    qmPushAttrib(mask);
    if (!haveContext()) {
        return;
    }
    if ((mask & 0x3Fu) == 0) {
        expectErrors({QM_INVALID_VALUE}, "qmPushAttrib without a known bit");
        return;
    }
    expectNone("qmPushAttrib");
    saved_.push_back({mask, attributes_});
    // The stack has no depth limit; a runaway depth only costs memory.
    if (saved_.size() > 200) {
        note("qmPopAttrib() (keeping the depth bounded)");
        qmPopAttrib();
        expectNone("qmPopAttrib");
        restore(saved_.back());
        saved_.pop_back();
    }
}

// Puts back the groups the push saved.
void Fuzzer::restore(const Saved& saved) {
    const Attributes& s = saved.values;
    Attributes& a = attributes_;
    if (saved.mask & QM_MATERIAL_BIT) {
        std::memcpy(a.material, s.material, sizeof a.material);
    }
    if (saved.mask & QM_TOUCH_BIT) {
        a.touchable = s.touchable;
        a.touchModel = s.touchModel;
        a.snap = s.snap;
        a.frontFace = s.frontFace;
    }
    if (saved.mask & QM_HINT_BIT) {
        a.vertices = s.vertices;
        a.dynamicSurface = s.dynamicSurface;
        a.persistence = s.persistence;
    }
    if (saved.mask & QM_TRANSFORM_BIT) {
        a.mode = s.mode;
        std::copy(s.workspace, s.workspace + 6, a.workspace);
        a.caps[kCameraView] = s.caps[kCameraView];
        a.caps[kAdaptiveViewport] = s.caps[kAdaptiveViewport];
        a.caps[kUseGlModelview] = s.caps[kUseGlModelview];
    }
    if (saved.mask & QM_EVENTS_BIT) {
        a.caps[kProxyResolution] = s.caps[kProxyResolution];
    }
    if (saved.mask & QM_EFFECT_BIT) {
        a.effect = s.effect;
    }
}

void Fuzzer::genPopAttrib() {
    note("qmPopAttrib() depth %zu", saved_.size());
    qmPopAttrib();
    if (!haveContext()) {
        return;
    }
    expectNone("qmPopAttrib");
    if (!saved_.empty()) {
        restore(saved_.back());
        saved_.pop_back();
    }
    checkAttributes("qmPopAttrib");
    if (chance(30)) {
        checkMatrices("qmPopAttrib (matrix mode)");
    }
}

// Reads back every attribute the API can read and compares with the model.
void Fuzzer::checkAttributes(const char* what) {
    if (!haveContext()) {
        return;
    }
    for (int f = 0; f < 2; ++f) {
        for (int p = 0; p < 5; ++p) {
            float value = -1.0f;
            qmGetMaterialfv(f == 0 ? QM_FRONT : QM_BACK, materials()[static_cast<std::size_t>(p)], &value);
            if (value != attributes_.material[f][p]) {
                finding("after %s: material %d/%d is %g, expected %g", what, f, p, value, attributes_.material[f][p]);
            }
        }
    }
    QMintptr value = 0;
    qmGetIntegerv(QM_TOUCHABLE_FACE, &value);
    if (value != reinterpret_cast<QMintptr>(attributes_.touchable)) {
        finding("after %s: the touchable face is wrong", what);
    }
    qmGetIntegerv(QM_TOUCH_MODEL, &value);
    if (value != reinterpret_cast<QMintptr>(attributes_.touchModel)) {
        finding("after %s: the touch model is wrong", what);
    }
    qmGetIntegerv(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, &value);
    if (value != attributes_.vertices) {
        finding("after %s: the feedback buffer hint is %ld, expected %d", what, static_cast<long>(value),
                attributes_.vertices);
    }
    for (int c = 0; c < kCaps; ++c) {
        if ((qmIsEnabled(capabilities()[static_cast<std::size_t>(c)]) != 0) != attributes_.caps[c]) {
            finding("after %s: capability %s is wrong", what, capabilities()[static_cast<std::size_t>(c)]);
        }
    }
    double box[6];
    qmGetDoublev(QM_WORKSPACE, box);
    for (int i = 0; i < 6; ++i) {
        if (!sameBits(box[i], attributes_.workspace[i])) {
            finding("after %s: workspace[%d] is %g, expected %g", what, i, box[i], attributes_.workspace[i]);
        }
    }
    expectNone("reading back the attributes");
}

void Fuzzer::genGetBooleanv() {
    static const std::vector<QMenum> names = {QM_BUTTON1_STATE, QM_BUTTON2_STATE, QM_BUTTON3_STATE,
                                              QM_SAFETY_STATE,  QM_INKWELL_STATE, QM_PROXY_IS_TOUCHING};
    const QMenum name = anySymbol(names);
    const bool null = chance(5);
    QMboolean out[4] = {0xA5, 0xA5, 0xA5, 0xA5};
    note("qmGetBooleanv(%s, %s)", symbolText(name).c_str(), null ? "NULL" : "out");
    qmGetBooleanv(name, null ? nullptr : out);
    if (!haveContext()) {
        return;
    }
    if (indexOf(names, name) < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmGetBooleanv of an unknown name");
    } else if (null) {
        expectErrors({QM_INVALID_VALUE}, "qmGetBooleanv into NULL");
    } else {
        expectNone("qmGetBooleanv");
        if (out[0] != QM_TRUE && out[0] != QM_FALSE) {
            finding("qmGetBooleanv wrote %u", out[0]);
        }
        out[0] = 0xA5;
    }
    if (out[0] != 0xA5 || out[1] != 0xA5) {
        finding("qmGetBooleanv wrote where it should not");
    }
}

void Fuzzer::genGetIntegerv() {
    static const std::vector<QMenum> names = {QM_SHAPE_FEEDBACK_BUFFER_VERTICES, QM_TOUCHABLE_FACE, QM_TOUCH_MODEL};
    const QMenum name = anySymbol(names);
    const bool null = chance(5);
    QMintptr out[3] = {-77, -77, -77};
    note("qmGetIntegerv(%s, %s)", symbolText(name).c_str(), null ? "NULL" : "out");
    qmGetIntegerv(name, null ? nullptr : out);
    if (!haveContext()) {
        return;
    }
    const int n = indexOf(names, name);
    if (n < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmGetIntegerv of an unknown name");
    } else if (null) {
        expectErrors({QM_INVALID_VALUE}, "qmGetIntegerv into NULL");
    } else {
        expectNone("qmGetIntegerv");
        const QMintptr expected = n == 0   ? attributes_.vertices
                                  : n == 1 ? reinterpret_cast<QMintptr>(attributes_.touchable)
                                           : reinterpret_cast<QMintptr>(attributes_.touchModel);
        if (out[0] != expected) {
            finding("qmGetIntegerv(%s) is %ld", symbolText(name).c_str(), static_cast<long>(out[0]));
        }
        out[0] = -77;
    }
    if (out[0] != -77 || out[1] != -77) {
        finding("qmGetIntegerv wrote where it should not");
    }
}

// The names qmGetDoublev knows and how many values each has. The state
// names are converted to model coordinates.
struct DoubleName {
    QMenum name;
    int count;
    bool converted;
};

const std::vector<DoubleName>& doubleNames() {
    static const std::vector<DoubleName> names = {
        {QM_VIEWTOUCH_MATRIX, 16, false},
        {QM_MODELVIEW_MATRIX, 16, false},
        {QM_TOUCHWORKSPACE_MATRIX, 16, false},
        {QM_WORKSPACE, 6, false},
        {QM_MAX_WORKSPACE_DIMS, 6, false},
        {QM_PROXY_POSITION, 3, true},
        {QM_DEVICE_POSITION, 3, true},
        {QM_GOLDEN_POSITION, 3, true},
        {QM_PROXY_ROTATION, 4, true},
        {QM_DEVICE_ROTATION, 4, true},
        {QM_PROXY_TRANSFORM, 16, true},
        {QM_DEVICE_TRANSFORM, 16, true},
        {QM_DEVICE_FORCE, 3, true},
        {QM_DEVICE_TORQUE, 3, true},
        {QM_PROXY_TOUCH_NORMAL, 3, true},
        {QM_GOLDEN_RADIUS, 1, true},
        {QM_EVENT_MOTION_LINEAR_TOLERANCE, 1, false},
        {QM_EVENT_MOTION_ANGULAR_TOLERANCE, 1, false},
        {QM_REACTION_FORCE, 3, false},
        {QM_EFFECT_PROPERTY_POSITION, 3, false},
        {QM_EFFECT_PROPERTY_DIRECTION, 3, false},
    };
    return names;
}

void Fuzzer::genGetDoublev() {
    std::vector<QMenum> valid;
    for (const DoubleName& d : doubleNames()) {
        valid.push_back(d.name);
    }
    const QMenum name = anySymbol(valid);
    const bool null = chance(5);
    double out[20];
    for (double& v : out) {
        v = -12345.0;
    }
    note("qmGetDoublev(%s, %s)", symbolText(name).c_str(), null ? "NULL" : "out");
    qmGetDoublev(name, null ? nullptr : out);
    if (!haveContext()) {
        return;
    }
    const DoubleName* known = nullptr;
    for (const DoubleName& d : doubleNames()) {
        if (name != nullptr && d.name == name) {
            known = &d;
        }
    }
    int written = 0;
    if (known == nullptr) {
        expectErrors({QM_INVALID_ENUM}, "qmGetDoublev of a name without doubles");
    } else if (null) {
        expectErrors({QM_INVALID_VALUE}, "qmGetDoublev into NULL");
    } else if (known->converted && !conversionsReliable()) {
        // The conversion needs the inverse of a transform that may have
        // none: refused, or done.
        if (expectOneOf({QM_INVALID_OPERATION}, true, "qmGetDoublev through a singular transform") == nullptr) {
            written = known->count;
        }
    } else if (name == QM_REACTION_FORCE || name == QM_EFFECT_PROPERTY_POSITION ||
               name == QM_EFFECT_PROPERTY_DIRECTION) {
        // Other arrays of doubles: read when the context holds them.
        if (expectOneOf({QM_INVALID_ENUM}, true, "qmGetDoublev of an array the context may hold") == nullptr) {
            written = known->count;
        }
    } else {
        expectNone("qmGetDoublev");
        written = known->count;
        if (name == QM_WORKSPACE) {
            for (int i = 0; i < 6; ++i) {
                if (!sameBits(out[i], attributes_.workspace[i])) {
                    finding("the workspace box differs from the model at %d", i);
                }
            }
        }
    }
    for (int i = written; i < 20; ++i) {
        if (out[i] != -12345.0) {
            finding("qmGetDoublev(%s) wrote element %d (%d expected written)", symbolText(name).c_str(), i, written);
        }
    }
}

// ---------------------------------------------------------------- transforms

Mat Fuzzer::readMatrix(int stack) {
    static const QMenum* names[kStacks] = {&QM_VIEWTOUCH_MATRIX, &QM_MODELVIEW_MATRIX, &QM_TOUCHWORKSPACE_MATRIX};
    Mat m;
    qmGetDoublev(*names[stack], m.m);
    return m;
}

// The tops of the three stacks are the model's.
void Fuzzer::checkMatrices(const char* what) {
    if (!haveContext()) {
        return;
    }
    for (int s = 0; s < kStacks; ++s) {
        const Mat m = readMatrix(s);
        if (!sameMatrix(m, stacks_[s].back())) {
            finding("after %s: the top of stack %d differs from the model (element 0: %g vs %g, 12: %g vs %g)", what, s,
                    m.m[0], stacks_[s].back().m[0], m.m[12], stacks_[s].back().m[12]);
        }
    }
    expectNone("reading the matrices");
}

void Fuzzer::genMatrixMode() {
    static const std::vector<QMenum> modes = {QM_VIEWTOUCH, QM_MODELVIEW, QM_TOUCHWORKSPACE};
    const QMenum mode = anySymbol(modes);
    note("qmMatrixMode(%s)", symbolText(mode).c_str());
    qmMatrixMode(mode);
    if (!haveContext()) {
        return;
    }
    const int m = indexOf(modes, mode);
    if (m < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmMatrixMode of an unknown mode");
    } else {
        expectNone("qmMatrixMode");
        attributes_.mode = m;
    }
}

void Fuzzer::genPushMatrix() {
    note("qmPushMatrix() stack %d depth %zu", attributes_.mode, stacks_[attributes_.mode].size());
    qmPushMatrix();
    if (!haveContext()) {
        return;
    }
    std::vector<Mat>& stack = stacks_[attributes_.mode];
    if (stack.size() == kStackDepth[attributes_.mode]) {
        expectErrors({QM_STACK_OVERFLOW}, "qmPushMatrix on a full stack");
    } else {
        expectNone("qmPushMatrix");
        stack.push_back(stack.back());
    }
    checkMatrices("qmPushMatrix");
}

void Fuzzer::genPopMatrix() {
    note("qmPopMatrix() stack %d depth %zu", attributes_.mode, stacks_[attributes_.mode].size());
    qmPopMatrix();
    if (!haveContext()) {
        return;
    }
    std::vector<Mat>& stack = stacks_[attributes_.mode];
    if (stack.size() == 1) {
        expectErrors({QM_STACK_UNDERFLOW}, "qmPopMatrix of the last matrix");
    } else {
        expectNone("qmPopMatrix");
        stack.pop_back();
    }
    checkMatrices("qmPopMatrix");
}

void Fuzzer::genLoadIdentity() {
    note("qmLoadIdentity() stack %d", attributes_.mode);
    qmLoadIdentity();
    if (!haveContext()) {
        return;
    }
    expectNone("qmLoadIdentity");
    stacks_[attributes_.mode].back() = identity();
    checkMatrices("qmLoadIdentity");
}

// M = A then M. Where the operands are tame the library's result must agree
// with the model's product within rounding; either way the model adopts it
// (rounding may differ), after checking the other stacks did not move.
void Fuzzer::applyAndCheck(const Mat& a, bool tameInput, double relative, const char* what, const Mat* slack) {
    Mat& top = stacks_[attributes_.mode].back();
    const Mat expected = multiply(top, a);
    Mat bound = magnitude(top, a);
    if (slack != nullptr) {
        // Absolute uncertainties of A's elements, carried through M.
        const Mat extra = magnitude(top, *slack);
        for (int i = 0; i < 16; ++i) {
            bound.m[i] += extra.m[i] / relative;
        }
    }
    const Mat got = readMatrix(attributes_.mode);
    expectNone("reading the matrix");
    if (tameInput && tame(top) && tame(a)) {
        for (int i = 0; i < 16; ++i) {
            if (std::fabs(got.m[i] - expected.m[i]) > relative * (bound.m[i] + 1e-300) + 1e-300) {
                finding("%s: element %d is %.17g, expected %.17g", what, i, got.m[i], expected.m[i]);
            }
        }
    }
    top = got;
    checkMatrices(what);
}

void Fuzzer::loadMatrix(bool doubles, bool multiplyIt) {
    const bool null = chance(5);
    Mat a;
    switch (next() % 4) {
    case 0:
        for (double& v : a.m) {
            v = anyDouble();
        }
        break;
    case 1: a = rotation(moderate() * 360.0, 0.2, moderate(), 1.0); break;
    case 2: a = scaling(1.0 + moderate() / 2, 1.0 + moderate() / 2, 1.0 + moderate() / 2); break;
    default: a = translation(moderate(), moderate(), moderate()); break;
    }
    float f[16];
    for (int i = 0; i < 16; ++i) {
        f[i] = static_cast<float>(a.m[i]);
        if (!doubles) {
            a.m[i] = f[i];
        }
    }
    const char* name =
        multiplyIt ? (doubles ? "qmMultMatrixd" : "qmMultMatrixf") : (doubles ? "qmLoadMatrixd" : "qmLoadMatrixf");
    note("%s(%s) stack %d, m[0] %g m[12] %g", name, null ? "NULL" : "m", attributes_.mode, a.m[0], a.m[12]);
    if (multiplyIt) {
        doubles ? qmMultMatrixd(null ? nullptr : a.m) : qmMultMatrixf(null ? nullptr : f);
    } else {
        doubles ? qmLoadMatrixd(null ? nullptr : a.m) : qmLoadMatrixf(null ? nullptr : f);
    }
    if (!haveContext()) {
        return;
    }
    if (null) {
        expectErrors({QM_INVALID_VALUE}, "a NULL matrix");
        checkMatrices(name);
        return;
    }
    expectNone(name);
    if (multiplyIt) {
        applyAndCheck(a, true, 1e-12, name);
    } else {
        stacks_[attributes_.mode].back() = a;
        checkMatrices(name);
    }
}

void Fuzzer::translateScale(bool doubles, bool scale) {
    double x = chance(70) ? (scale ? 1.0 + moderate() / 2 : moderate()) : anyDouble();
    double y = chance(70) ? (scale ? 1.0 + moderate() / 2 : moderate()) : anyDouble();
    double z = chance(70) ? (scale ? 1.0 + moderate() / 2 : moderate()) : anyDouble();
    if (!doubles) {
        x = static_cast<float>(x);
        y = static_cast<float>(y);
        z = static_cast<float>(z);
    }
    const char* name = scale ? (doubles ? "qmScaled" : "qmScalef") : (doubles ? "qmTranslated" : "qmTranslatef");
    note("%s(%g, %g, %g) stack %d", name, x, y, z, attributes_.mode);
    if (scale) {
        doubles ? qmScaled(x, y, z) : qmScalef(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
    } else {
        doubles ? qmTranslated(x, y, z)
                : qmTranslatef(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
    }
    if (!haveContext()) {
        return;
    }
    expectNone(name);
    applyAndCheck(scale ? scaling(x, y, z) : translation(x, y, z), true, 1e-12, name);
}

void Fuzzer::rotate(bool doubles) {
    double angle = chance(80) ? moderate() * 720.0 : anyDouble();
    double x = chance(80) ? moderate() : anyDouble();
    double y = chance(80) ? moderate() : anyDouble();
    double z = chance(80) ? moderate() : anyDouble();
    if (chance(5)) {
        x = y = z = 0.0;
    }
    if (!doubles) {
        angle = static_cast<float>(angle);
        x = static_cast<float>(x);
        y = static_cast<float>(y);
        z = static_cast<float>(z);
    }
    const char* name = doubles ? "qmRotated" : "qmRotatef";
    note("%s(%g, %g, %g, %g) stack %d", name, angle, x, y, z, attributes_.mode);
    doubles ? qmRotated(angle, x, y, z)
            : qmRotatef(static_cast<float>(angle), static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
    if (!haveContext()) {
        return;
    }
    expectNone(name);
    const double length = std::sqrt(x * x + y * y + z * z);
    const bool checkable = std::isfinite(angle) && std::fabs(angle) < 1e6 && length > 1e-3 && length < 1e6;
    applyAndCheck(checkable ? rotation(angle, x, y, z) : identity(), checkable, 1e-9, name);
}

void Fuzzer::genOrtho() {
    double v[6];
    for (double& d : v) {
        d = chance(85) ? moderate() * 10.0 : anyDouble();
    }
    if (chance(5)) {
        v[1] = v[0];  // equal bounds: infinite elements
    }
    note("qmOrtho(%g, %g, %g, %g, %g, %g) stack %d", v[0], v[1], v[2], v[3], v[4], v[5], attributes_.mode);
    qmOrtho(v[0], v[1], v[2], v[3], v[4], v[5]);
    if (!haveContext()) {
        return;
    }
    expectNone("qmOrtho (nothing is checked)");
    const double* w = attributes_.workspace;
    const double c[3] = {(w[0] + w[3]) / 2, (w[1] + w[4]) / 2, (w[2] + w[5]) / 2};
    const double b[3] = {(v[0] + v[1]) / 2, (v[2] + v[3]) / 2, -(v[4] + v[5]) / 2};
    const double s[3] = {(w[3] - w[0]) / (v[1] - v[0]), (w[4] - w[1]) / (v[3] - v[2]), (w[5] - w[2]) / (v[5] - v[4])};
    // O p = (p - b) s + c.
    Mat o = scaling(s[0], s[1], s[2]);
    for (int i = 0; i < 3; ++i) {
        o.m[12 + i] = c[i] - b[i] * s[i];
    }
    bool checkable = true;
    for (int i = 0; i < 3; ++i) {
        checkable = checkable && std::isfinite(s[i]) && std::fabs(s[i]) < 1e6 && std::fabs(s[i]) > 1e-6;
    }
    // The offset of the centres may be rounded to single precision.
    Mat slack{};
    for (int i = 0; i < 3; ++i) {
        slack.m[12 + i] = 1.2e-7 * std::fabs((c[i] - b[i]) * s[i]);
    }
    applyAndCheck(o, checkable, 1e-9, "qmOrtho", &slack);
}

void Fuzzer::genWorkspace() {
    double v[6];
    double maximum[6];
    qmGetDoublev(QM_MAX_WORKSPACE_DIMS, maximum);
    drain();
    for (int i = 0; i < 3; ++i) {
        if (chance(80) && haveContext()) {
            // Inside or around the device's box.
            const double span = maximum[i + 3] - maximum[i];
            v[i] = maximum[i] + span * (moderate() * 0.7);
            v[i + 3] = maximum[i + 3] - span * (moderate() * 0.7);
        } else {
            v[i] = anyDouble();
            v[i + 3] = anyDouble();
        }
    }
    note("qmWorkspace(%g, %g, %g, %g, %g, %g)", v[0], v[1], v[2], v[3], v[4], v[5]);
    qmWorkspace(v[0], v[1], v[2], v[3], v[4], v[5]);
    if (!haveContext()) {
        return;
    }
    bool valid = true;
    double box[6];
    for (int i = 0; i < 3; ++i) {
        valid = valid && !std::isnan(v[i]) && !std::isnan(v[i + 3]) && v[i] <= v[i + 3];
    }
    for (int i = 0; i < 3 && valid; ++i) {
        box[i] = std::fmax(v[i], maximum[i]);
        box[i + 3] = std::fmin(v[i + 3], maximum[i + 3]);
        valid = box[i] <= box[i + 3];
    }
    if (!valid) {
        expectErrors({QM_INVALID_VALUE}, "qmWorkspace with a box that is not a number, inverted or outside");
    } else {
        expectNone("qmWorkspace");
        std::copy(box, box + 6, attributes_.workspace);
    }
    checkAttributes("qmWorkspace");
}

// ---------------------------------------------------------------- identifiers

void Fuzzer::genIds(bool shapes) {
    Pool& pool = shapes ? shapes_ : effects_;
    QMint range = anyRange();
    if (concurrent_ && range > 1000) {
        range = 1000;  // the second thread shares the pool; keep it far from exhaustion
    }
    const char* name = shapes ? "qmGenShapes" : "qmGenEffects";
    note("%s(%d) next %" PRIu64, name, range, pool.next);
    const QMuint first = shapes ? qmGenShapes(range) : qmGenEffects(range);
    if (!haveContext()) {
        if (first != 0) {
            finding("%s without a context gave %u", name, first);
        }
        return;
    }
    if (range < 0) {
        expectErrors({QM_INVALID_VALUE}, "a negative count");
    } else if (shapes && open_ != OpenShape::None) {
        expectErrors({QM_INVALID_OPERATION}, "qmGenShapes while a shape is open");
    } else if (range == 0) {
        expectNone("a count of 0");
    } else if (concurrent_) {
        // The second thread takes identifiers too: this call's come later
        // than any before it and are reserved.
        expectNone(name);
        if (first < pool.next) {
            finding("%s gave %u, below the next free %" PRIu64, name, first, pool.next);
        }
        pool.reserved.insert(first, std::uint64_t{first} + static_cast<std::uint64_t>(range) - 1);
        pool.next = std::uint64_t{first} + static_cast<std::uint64_t>(range);
        return;
    } else if (pool.next + static_cast<std::uint64_t>(range) - 1 > 0xFFFFFFFFull) {
        expectErrors({QM_OUT_OF_MEMORY}, "exhausted identifiers");
    } else {
        expectNone(name);
        if (first != pool.next) {
            finding("%s(%d) gave %u, expected %" PRIu64, name, range, first, pool.next);
        }
        pool.reserved.insert(first, pool.next + static_cast<std::uint64_t>(range) - 1);
        pool.next += static_cast<std::uint64_t>(range);
        if (chance(20)) {
            const QMuint last = static_cast<QMuint>(pool.next - 1);
            if ((shapes ? qmIsShape(last) : qmIsEffect(last)) != QM_TRUE) {
                finding("the last identifier handed out (%u) is not reserved", last);
            }
            expectNone("checking the last identifier");
        }
        return;
    }
    if (first != 0) {
        finding("a refused %s gave %u", name, first);
    }
}

void Fuzzer::deleteIds(bool shapes) {
    Pool& pool = shapes ? shapes_ : effects_;
    const QMuint first = anyId(shapes);
    QMint range = anyRange();
    if (concurrent_ && range > 0) {
        // Only this thread's own ranges while the second thread uses the
        // pool: never the second thread's identifiers.
        if (pool.reserved.empty()) {
            return;
        }
        const std::uint64_t id = pool.reserved.pick(next());
        range = 1;
        note("%s(%" PRIu64 ", 1)", shapes ? "qmDeleteShapes" : "qmDeleteEffects", id);
        shapes ? qmDeleteShapes(static_cast<QMuint>(id), 1) : qmDeleteEffects(static_cast<QMuint>(id), 1);
        if (shapes && open_ != OpenShape::None) {
            expectErrors({QM_INVALID_OPERATION}, "qmDeleteShapes while a shape is open");
            return;
        }
        expectNone("deleting an own identifier");
        pool.reserved.erase(id, id);
        if (shapes) {
            defined_.erase(static_cast<QMuint>(id));
        } else {
            effectsDeleted(id, id);
        }
        return;
    }
    const char* name = shapes ? "qmDeleteShapes" : "qmDeleteEffects";
    note("%s(%u, %d)", name, first, range);
    shapes ? qmDeleteShapes(first, range) : qmDeleteEffects(first, range);
    if (!haveContext()) {
        return;
    }
    if (range < 0) {
        expectErrors({QM_INVALID_VALUE}, "a negative count");
        return;
    }
    if (shapes && open_ != OpenShape::None) {
        expectErrors({QM_INVALID_OPERATION}, "qmDeleteShapes while a shape is open");
        return;
    }
    expectNone(name);
    if (range == 0) {
        return;
    }
    const std::uint64_t last = std::min<std::uint64_t>(0xFFFFFFFFull, std::uint64_t{first} + range - 1);
    pool.reserved.erase(first, last);
    if (shapes) {
        for (auto at = defined_.lower_bound(first); at != defined_.end() && *at <= last;) {
            at = defined_.erase(at);
        }
    } else {
        effectsDeleted(first, last);
    }
    // Freed identifiers are not reserved any more, and are never handed
    // out again.
    if (std::uint64_t{first} < pool.next && (shapes ? qmIsShape(first) : qmIsEffect(first)) != QM_FALSE) {
        finding("identifier %u is still reserved after its deletion", first);
    }
    expectNone("checking a deleted identifier");
}

void Fuzzer::isId(bool shapes) {
    const Pool& pool = shapes ? shapes_ : effects_;
    const QMuint id = anyId(shapes);
    const char* name = shapes ? "qmIsShape" : "qmIsEffect";
    note("%s(%u)", name, id);
    const QMboolean is = shapes ? qmIsShape(id) : qmIsEffect(id);
    if (!haveContext()) {
        if (is != QM_FALSE) {
            finding("%s without a context gave true", name);
        }
        return;
    }
    if (shapes && open_ != OpenShape::None) {
        expectErrors({QM_INVALID_OPERATION}, "qmIsShape while a shape is open");
        if (is != QM_FALSE) {
            finding("a refused qmIsShape gave true");
        }
        return;
    }
    expectNone(name);
    if (concurrent_ && !pool.reserved.contains(id)) {
        return;  // the second thread may have taken it
    }
    if ((is == QM_TRUE) != pool.reserved.contains(id)) {
        finding("%s(%u) is %u, the model says %d", name, id, is, pool.reserved.contains(id));
    }
}

// ---------------------------------------------------------------- frames and shapes

void Fuzzer::genBeginFrame() {
    note("qmBeginFrame() in frame %d", inFrame_);
    qmBeginFrame();
    if (!haveContext()) {
        return;
    }
    if (inFrame_) {
        expectErrors({QM_INVALID_OPERATION}, "qmBeginFrame inside a frame");
        return;
    }
    // The published state is converted with the new frame's transform.
    const Mat modelview = attributes_.caps[kUseGlModelview] ? identity() : stacks_[kModelviewStack].back();
    frameModelview_ = modelview;
    expectNone("qmBeginFrame");
    inFrame_ = true;
    effectsAtBeginFrame();
}

void Fuzzer::genEndFrame() {
    note("qmEndFrame() in frame %d, shape open %d", inFrame_, open_ != OpenShape::None);
    qmEndFrame();
    if (!haveContext()) {
        return;
    }
    const bool was = inFrame_;
    inFrame_ = false;
    if (!was || open_ != OpenShape::None) {
        expectErrors({QM_INVALID_OPERATION}, "qmEndFrame outside a frame or with a shape open");
        if (was) {
            effectsAtEndFrame(false);
        }
        return;
    }
    expectNone("qmEndFrame");
    effectsAtEndFrame(true);
    // What the frame held is on the collision side now (or was handed over
    // and may keep results).
    for (QMuint id : defined_) {
        submitted_.insert(id);
    }
}

void Fuzzer::genUpdateCalibration() {
    note("qmUpdateCalibration()");
    qmUpdateCalibration();
    if (haveContext()) {
        expectNone("qmUpdateCalibration");
    }
}

void Fuzzer::genBeginShape() {
    // The model knows primitive and feedback-buffer shapes; depth-buffer and
    // callback shapes (their captures and the application's functions) are
    // not modelled yet and are not begun here. A symbol that names no shape
    // type checks the refusal.
    QMenum type = anySymbol({QM_SHAPE_PRIMITIVE, QM_SHAPE_PRIMITIVE, QM_SHAPE_FEEDBACK_BUFFER, QM_FLAT});
    // Captures through the haptic camera view or the adaptive viewport place
    // their camera with the workspace transform and may record that it does
    // not invert while the shape opens all the same; the model does not
    // follow that yet either.
    const bool cameraView = attributes_.caps[1] || attributes_.caps[2];
    if (type == QM_SHAPE_DEPTH_BUFFER || type == QM_SHAPE_CALLBACK ||
        (type == QM_SHAPE_FEEDBACK_BUFFER && cameraView)) {
        type = QM_SHAPE_PRIMITIVE;
    }
    QMuint id = anyId(true);
    if (!defined_.empty() && chance(30)) {
        auto at = defined_.begin();
        std::advance(at, static_cast<long>(next() % defined_.size()));
        id = *at;
    }
    note("qmBeginShape(%s, %u) open %d gl select %d", symbolText(type).c_str(), id, open_ != OpenShape::None,
         glSelect_);
    {
        std::lock_guard<std::mutex> gate(shapeGateLock_);
        shapeGate_ = true;
        qmBeginShape(type, id);
    }
    struct Reopen {
        Fuzzer& f;
        ~Reopen() { f.shapeGate_ = f.open_ != OpenShape::None; }
    } reopen{*this};
    if (!haveContext()) {
        return;
    }
    const bool primitive = type != nullptr && type == QM_SHAPE_PRIMITIVE;
    const bool feedback = type != nullptr && type == QM_SHAPE_FEEDBACK_BUFFER;
    const bool reserved = shapes_.reserved.contains(id);
    if (open_ != OpenShape::None) {
        expectErrors({QM_INVALID_OPERATION}, "qmBeginShape while a shape is open");
        return;
    }
    if (concurrent_ && !reserved) {
        // Reserved by the second thread or not at all.
        const QMenum e = expectOneOf({QM_INVALID_VALUE, QM_INVALID_ENUM, QM_INVALID_OPERATION, QM_OUT_OF_MEMORY}, true,
                                     "qmBeginShape of an identifier the second thread may hold");
        if (e == nullptr) {
            open_ = primitive ? OpenShape::Primitive : OpenShape::Feedback;
            openId_ = id;
            openModelview_ = captureModelview();
            primitiveStarted_ = false;
            feedbackBroken_ = false;
        }
        return;
    }
    if (!reserved) {
        expectErrors({QM_INVALID_VALUE}, "qmBeginShape of an identifier that is not reserved");
        return;
    }
    if (!primitive && !feedback) {
        expectErrors({QM_INVALID_ENUM}, "qmBeginShape of a type without a builder");
        return;
    }
    if (feedback && glSelect_) {
        expectErrors({QM_INVALID_OPERATION}, "a feedback shape while OpenGL is not in GL_RENDER mode");
        return;
    }
    if (feedback && attributes_.vertices > INT_MAX / 30) {
        // A capture buffer that large (30 floats a vertex) cannot be made.
        expectErrors({QM_OUT_OF_MEMORY}, "a huge capture buffer");
        return;
    } else {
        expectNone("qmBeginShape");
    }
    open_ = primitive ? OpenShape::Primitive : OpenShape::Feedback;
    openId_ = id;
    openModelview_ = captureModelview();
    primitiveStarted_ = false;
    feedbackBroken_ = false;
    anyShapeOpened_ = true;
}

void Fuzzer::genEndShape() {
    note("qmEndShape() open %d id %u", static_cast<int>(open_), openId_);
    qmEndShape();
    struct Reopen {
        Fuzzer& f;
        ~Reopen() { f.shapeGate_ = f.open_ != OpenShape::None; }
    } reopen{*this};
    if (!haveContext()) {
        return;
    }
    if (open_ == OpenShape::None) {
        expectErrors({QM_INVALID_OPERATION}, "qmEndShape without an open shape");
        return;
    }
    const OpenShape kind = open_;
    open_ = OpenShape::None;
    primitiveStarted_ = false;
    QMenum e = nullptr;
    const bool reliable = shapeTransformReliable(openModelview_);
    if (kind == OpenShape::Primitive) {
        if (reliable) {
            expectNone("qmEndShape of a primitive shape");
        } else {
            e = expectOneOf({QM_INVALID_OPERATION}, true, "qmEndShape of a shape whose transform may have no inverse");
        }
    } else if (feedbackBroken_) {
        expectErrors({QM_INVALID_OPERATION}, "qmEndShape after OpenGL left feedback mode");
        e = QM_INVALID_OPERATION;
    } else {
        // The buffer may overflow (QM_OUT_OF_MEMORY), and a capture through
        // a singular transform cannot be mapped back.
        std::vector<QMenum> allowed = {QM_OUT_OF_MEMORY};
        if (!reliable) {
            allowed.push_back(QM_INVALID_OPERATION);
        }
        e = expectOneOf(allowed, true, "qmEndShape of a feedback shape");
    }
    if (e == nullptr) {
        defined_.insert(openId_);
    }
}

void Fuzzer::genCallShape() {
    QMuint id = anyId(true);
    if (!defined_.empty() && chance(60)) {
        auto at = defined_.begin();
        std::advance(at, static_cast<long>(next() % defined_.size()));
        id = *at;
    }
    note("qmCallShape(%u) in frame %d", id, inFrame_);
    qmCallShape(id);
    if (!haveContext()) {
        return;
    }
    if (!inFrame_) {
        expectErrors({QM_INVALID_OPERATION}, "qmCallShape outside a frame");
    } else if (defined_.count(id) == 0) {
        if (concurrent_) {
            // The second thread may reserve it and so make it count (no shape).
            expectOneOf({QM_INVALID_VALUE}, false, "qmCallShape of an identifier without a shape");
        } else {
            expectErrors({QM_INVALID_VALUE}, "qmCallShape of an identifier without a shape");
        }
    } else if (shapeTransformReliable(captureModelview())) {
        expectNone("qmCallShape");
    } else {
        expectOneOf({QM_INVALID_OPERATION}, true, "qmCallShape with a transform that may have no inverse");
    }
}

void Fuzzer::genBegin() {
    static const std::vector<QMenum> modes = {QM_POINTS,         QM_LINES, QM_LINE_STRIP, QM_LINE_LOOP, QM_TRIANGLES,
                                              QM_TRIANGLE_STRIP, QM_QUADS, QM_QUAD_STRIP, QM_POLYGON};
    const QMenum mode = anySymbol(modes);
    note("qmBegin(%s) open %d started %d", symbolText(mode).c_str(), static_cast<int>(open_), primitiveStarted_);
    qmBegin(mode);
    if (!haveContext()) {
        return;
    }
    if (open_ != OpenShape::Primitive || primitiveStarted_) {
        expectErrors({QM_INVALID_OPERATION}, "qmBegin without a primitive shape or inside a primitive");
        return;
    }
    // Another mode produces nothing, but the primitive is started.
    expectNone("qmBegin");
    primitiveStarted_ = true;
}

void Fuzzer::vertex(int form) {
    static const char* names[] = {"qmVertex3d", "qmVertex3f", "qmVertex3dv", "qmVertex3fv"};
    double v[3];
    for (double& d : v) {
        d = chance(90) ? moderate() : anyDouble();
    }
    float f[3] = {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
    const bool null = form >= 2 && chance(5);
    note("%s(%g, %g, %g)%s started %d", names[form], v[0], v[1], v[2], null ? " NULL" : "", primitiveStarted_);
    switch (form) {
    case 0: qmVertex3d(v[0], v[1], v[2]); break;
    case 1: qmVertex3f(f[0], f[1], f[2]); break;
    case 2: qmVertex3dv(null ? nullptr : v); break;
    default: qmVertex3fv(null ? nullptr : f); break;
    }
    if (!haveContext()) {
        return;
    }
    if (null && open_ == OpenShape::Primitive) {
        // Either check may come first when no primitive is started.
        if (primitiveStarted_) {
            expectErrors({QM_INVALID_VALUE}, "a NULL vertex");
        } else {
            expectOneOf({QM_INVALID_VALUE, QM_INVALID_OPERATION}, false, "a NULL vertex without a primitive");
        }
    } else if (open_ != OpenShape::Primitive || !primitiveStarted_) {
        expectErrors({QM_INVALID_OPERATION}, "a vertex without a started primitive");
    } else if (null) {
        expectErrors({QM_INVALID_VALUE}, "a NULL vertex");
    } else {
        expectNone(names[form]);
    }
}

void Fuzzer::genEnd() {
    note("qmEnd() started %d", primitiveStarted_);
    qmEnd();
    if (!haveContext()) {
        return;
    }
    if (open_ != OpenShape::Primitive || !primitiveStarted_) {
        expectErrors({QM_INVALID_OPERATION}, "qmEnd without a started primitive");
        return;
    }
    expectNone("qmEnd");
    primitiveStarted_ = false;
}

QMuint Fuzzer::submittedOrAnyId() {
    if (!submitted_.empty() && chance(60)) {
        auto at = submitted_.begin();
        std::advance(at, static_cast<long>(next() % submitted_.size()));
        return *at;
    }
    return anyId(true);
}

QMenum Fuzzer::expectShapeResultErrors(QMuint id, bool knownName, bool null, const std::string& what) {
    // Identifier 1 is the context's own and may hold results of its own.
    const bool maybeInScene = submitted_.count(id) != 0 || id == 1;
    if (!maybeInScene) {
        return expectOneOf({QM_INVALID_VALUE}, false, (what + " of a shape never in a scene").c_str());
    }
    if (!knownName) {
        return expectOneOf({QM_INVALID_ENUM, QM_INVALID_VALUE}, false, (what + " of an unknown name").c_str());
    }
    if (null) {
        return expectOneOf({QM_INVALID_VALUE}, false, (what + " into NULL").c_str());
    }
    return expectOneOf({QM_INVALID_VALUE}, true, what.c_str());
}

void Fuzzer::genGetShapeBooleanv() {
    const QMuint id = submittedOrAnyId();
    const QMenum name = anySymbol({QM_PROXY_IS_TOUCHING});
    const bool null = chance(5);
    QMboolean out[2] = {0xA5, 0xA5};
    note("qmGetShapeBooleanv(%u, %s, %s)", id, symbolText(name).c_str(), null ? "NULL" : "out");
    qmGetShapeBooleanv(id, name, null ? nullptr : out);
    if (!haveContext()) {
        return;
    }
    const QMenum e = expectShapeResultErrors(id, name == QM_PROXY_IS_TOUCHING, null, "qmGetShapeBooleanv");
    if (e == nullptr) {
        if (out[0] != QM_TRUE && out[0] != QM_FALSE) {
            finding("qmGetShapeBooleanv wrote %u", out[0]);
        }
        out[0] = 0xA5;
    }
    if (out[0] != 0xA5 || out[1] != 0xA5) {
        finding("qmGetShapeBooleanv wrote where it should not");
    }
}

void Fuzzer::genGetShapeDoublev() {
    const QMuint id = submittedOrAnyId();
    const QMenum name = anySymbol({QM_REACTION_FORCE});
    const bool null = chance(5);
    double out[5] = {-9, -9, -9, -9, -9};
    note("qmGetShapeDoublev(%u, %s, %s)", id, symbolText(name).c_str(), null ? "NULL" : "out");
    qmGetShapeDoublev(id, name, null ? nullptr : out);
    if (!haveContext()) {
        return;
    }
    const QMenum e = expectShapeResultErrors(id, name == QM_REACTION_FORCE, null, "qmGetShapeDoublev");
    const int written = e == nullptr ? 3 : 0;
    for (int i = written; i < 5; ++i) {
        if (out[i] != -9) {
            finding("qmGetShapeDoublev wrote element %d (%d expected written)", i, written);
        }
    }
}

void Fuzzer::genDumpScene() {
    const int which = static_cast<int>(next() % 4);
    const char* path = which == 0 ? nullptr : which == 1 ? "/nonexistent-directory/scene.xml" : dumpPath_.c_str();
    note("qmDumpScene(%s)", path == nullptr ? "NULL" : path);
    qmDumpScene(path);
    if (!haveContext()) {
        return;
    }
    if (which < 2) {
        expectErrors({QM_INVALID_OPERATION}, "qmDumpScene to a file that cannot be written");
        return;
    }
    expectNone("qmDumpScene");
    std::ifstream in(dumpPath_);
    std::string first;
    if (!std::getline(in, first) || first.find('<') == std::string::npos) {
        finding("qmDumpScene wrote no XML");
    }
}

// ---------------------------------------------------------------- state caches and the proxy

// No callback hands out a cache yet: only the refusals of a NULL cache.
void Fuzzer::genCacheGetBooleanv() {
    static const std::vector<QMenum> names = {QM_BUTTON1_STATE, QM_BUTTON2_STATE, QM_BUTTON3_STATE,
                                              QM_SAFETY_STATE,  QM_INKWELL_STATE, QM_PROXY_IS_TOUCHING};
    const QMenum name = anySymbol(names);
    QMboolean out = 0xA5;
    const bool nullOut = chance(30);
    note("qmCacheGetBooleanv(NULL, %s, %s)", symbolText(name).c_str(), nullOut ? "NULL" : "out");
    qmCacheGetBooleanv(nullptr, name, nullOut ? nullptr : &out);
    if (out != 0xA5) {
        finding("qmCacheGetBooleanv of a NULL cache wrote its output");
    }
    if (!haveContext()) {
        return;
    }
    if (indexOf(names, name) < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmCacheGetBooleanv of an unknown name");
    } else {
        expectErrors({QM_INVALID_VALUE}, "qmCacheGetBooleanv of a NULL cache");
    }
}

void Fuzzer::genCacheGetDoublev() {
    const QMenum name = anySymbol({QM_PROXY_POSITION, QM_DEVICE_FORCE, QM_PROXY_TRANSFORM});
    double out[16];
    std::fill(out, out + 16, -3.0);
    note("qmCacheGetDoublev(NULL, %s, out)", symbolText(name).c_str());
    qmCacheGetDoublev(nullptr, name, out);
    for (double v : out) {
        if (v != -3.0) {
            finding("qmCacheGetDoublev of a NULL cache wrote its output");
        }
    }
    if (haveContext()) {
        expectErrors({QM_INVALID_VALUE}, "qmCacheGetDoublev of a NULL cache");
    }
}

// ---------------------------------------------------------------- effects, events, callbacks

namespace {

const std::vector<QMenum>& effectTypes() {
    static const std::vector<QMenum> v = {QM_EFFECT_CALLBACK, QM_EFFECT_CONSTANT, QM_EFFECT_SPRING, QM_EFFECT_VISCOUS,
                                          QM_EFFECT_FRICTION};
    return v;
}
const std::vector<QMenum>& effectProperties() {
    static const std::vector<QMenum> v = {QM_EFFECT_PROPERTY_TYPE,      QM_EFFECT_PROPERTY_GAIN,
                                          QM_EFFECT_PROPERTY_MAGNITUDE, QM_EFFECT_PROPERTY_FREQUENCY,
                                          QM_EFFECT_PROPERTY_DURATION,  QM_EFFECT_PROPERTY_POSITION,
                                          QM_EFFECT_PROPERTY_DIRECTION, QM_EFFECT_PROPERTY_ACTIVE};
    return v;
}
const std::vector<QMenum>& eventNames() {
    static const std::vector<QMenum> v = {
        QM_EVENT_MOTION,    QM_EVENT_1BUTTONDOWN,        QM_EVENT_1BUTTONUP,        QM_EVENT_2BUTTONDOWN,
        QM_EVENT_2BUTTONUP, QM_EVENT_3BUTTONDOWN,        QM_EVENT_3BUTTONUP,        QM_EVENT_SAFETYDOWN,
        QM_EVENT_SAFETYUP,  QM_EVENT_INKWELLDOWN,        QM_EVENT_INKWELLUP,        QM_EVENT_TOUCH,
        QM_EVENT_UNTOUCH,   QM_EVENT_CALIBRATION_UPDATE, QM_EVENT_CALIBRATION_INPUT};
    return v;
}

// Application functions that touch nothing, for the callbacks the driver
// registers: they run on the servo and collision threads and inside
// qmCheckEvents.
void quietForce(QMdouble*, QMcache, void*) {}
void quietStartStop(QMcache, void*) {}
QMboolean quietIntersect(const QMdouble*, const QMdouble*, QMdouble*, QMdouble*, QMenum*, void*) { return QM_FALSE; }
QMboolean quietClosest(const QMdouble*, const QMdouble*, QMgeometry, QMdouble*, void*) { return QM_FALSE; }

}  // namespace

// A call of this family raises nothing, or one of the three argument and
// state errors every one of them documents (the exact one is not modelled
// yet); the device errors the collision side may record meanwhile are
// allowed as everywhere else.
void Fuzzer::expectLoosely(const char* what) {
    if (haveContext()) {
        expectOneOf({QM_INVALID_OPERATION, QM_INVALID_VALUE, QM_INVALID_ENUM}, true, what);
    }
}

void Fuzzer::genCallback() {
    const QMenum type = anySymbol(
        {QM_SHAPE_INTERSECT_LS, QM_SHAPE_CLOSEST_FEATURES, QM_EFFECT_COMPUTE_FORCE, QM_EFFECT_START, QM_EFFECT_STOP});
    QMcallback function = nullptr;
    if (chance(80)) {
        if (type == QM_SHAPE_INTERSECT_LS) {
            function = reinterpret_cast<QMcallback>(&quietIntersect);
        } else if (type == QM_SHAPE_CLOSEST_FEATURES) {
            function = reinterpret_cast<QMcallback>(&quietClosest);
        } else if (type == QM_EFFECT_COMPUTE_FORCE) {
            function = reinterpret_cast<QMcallback>(&quietForce);
        } else if (type == QM_EFFECT_START || type == QM_EFFECT_STOP) {
            function = reinterpret_cast<QMcallback>(&quietStartStop);
        }
    }
    note("qmCallback(%s, %s) in frame %d", symbolText(type).c_str(), function == nullptr ? "NULL" : "f", inFrame_);
    qmCallback(type, function, nullptr);
    expectLoosely("qmCallback");
    checkAttributes("qmCallback");
}

// Outside a closest-features function every geometry handle is refused,
// null and made-up ones alike, and nothing is followed.
void Fuzzer::genLocalFeature() {
    const QMenum type = anySymbol({QM_LOCAL_FEATURE_POINT, QM_LOCAL_FEATURE_LINE, QM_LOCAL_FEATURE_PLANE});
    QMgeometry geometry = chance(50) ? nullptr : reinterpret_cast<QMgeometry>(static_cast<std::uintptr_t>(next() | 1));
    const double a[3] = {moderate(), moderate(), anyDouble()};
    const double b[3] = {moderate(), anyDouble(), moderate()};
    const float af[3] = {static_cast<float>(a[0]), static_cast<float>(a[1]), static_cast<float>(a[2])};
    const float bf[3] = {static_cast<float>(b[0]), static_cast<float>(b[1]), static_cast<float>(b[2])};
    note("qmLocalFeature*(%p, %s, ...)", static_cast<void*>(geometry), symbolText(type).c_str());
    switch (next() % 4) {
    case 0: qmLocalFeature1fv(geometry, type, af); break;
    case 1: qmLocalFeature1dv(geometry, type, a); break;
    case 2: qmLocalFeature2fv(geometry, type, af, bf); break;
    default: qmLocalFeature2dv(geometry, type, a, b); break;
    }
    expectLoosely("qmLocalFeature*");
}

namespace {

int effectTypeIndex(QMenum type) { return indexOf(effectTypes(), type); }

// Constant, spring and friction effects have a position and a direction;
// no type has a frequency.
bool hasGeometry(int type) {
    const QMenum t = effectTypes()[static_cast<std::size_t>(type)];
    return t == QM_EFFECT_CONSTANT || t == QM_EFFECT_SPRING || t == QM_EFFECT_FRICTION;
}

bool isScalarEffectProperty(QMenum name) {
    return name == QM_EFFECT_PROPERTY_TYPE || name == QM_EFFECT_PROPERTY_GAIN || name == QM_EFFECT_PROPERTY_MAGNITUDE ||
           name == QM_EFFECT_PROPERTY_FREQUENCY || name == QM_EFFECT_PROPERTY_DURATION;
}

bool isVectorEffectProperty(QMenum name) {
    return name == QM_EFFECT_PROPERTY_POSITION || name == QM_EFFECT_PROPERTY_DIRECTION;
}

// A running effect takes from a later start or update of its identifier the
// properties both types have (an update has them all); its type stays.
void takeProperties(HeldEffect& effect, const FrameEffect& from) {
    const EffectProperties& p = from.properties;
    effect.properties.gain = p.gain;
    effect.properties.magnitude = p.magnitude;
    effect.properties.duration = p.duration;
    if (hasGeometry(effect.type) && (from.type == kUpdate || hasGeometry(from.type))) {
        std::copy(p.position, p.position + 3, effect.properties.position);
        std::copy(p.direction, p.direction + 3, effect.properties.direction);
    }
}

Fuzzer* theFuzzer = nullptr;  // for the event callback

void recordEvent(QMenum event, QMuint shape, QMenum thread, QMcache, void* userData) {
    theFuzzer->delivered(event, shape, thread, userData);
}

}  // namespace

// ---- the effect model

// The identifiers of the one-shot effects triggered two completed frames
// ago are free again.
void Fuzzer::effectsAtBeginFrame() {
    for (QMuint id : releaseAtBegin_) {
        effects_.reserved.erase(id, id);
    }
    releaseAtBegin_.clear();
    frameEffects_.clear();
}

// A completed frame holds the running effects that were not stopped, each
// with what the frame gave it, and the frame's new effects. A frame whose
// end fails is dropped; its triggered identifiers are freed at the next
// qmBeginFrame, as no frame will hold their effects.
void Fuzzer::effectsAtEndFrame(bool submitted) {
    std::vector<QMuint> triggered;
    for (const auto& [id, effect] : frameEffects_) {
        if (effect.triggered) {
            triggered.push_back(id);
        }
    }
    if (!submitted) {
        releaseAtBegin_ = triggered;
        frameEffects_.clear();
        return;
    }
    std::map<QMuint, HeldEffect> next;
    for (const auto& [id, running] : held_) {
        if (running.done) {
            continue;
        }
        HeldEffect kept = running;
        kept.uncertain = kept.uncertain || kept.mayFinish;
        const auto given = frameEffects_.find(id);
        if (given != frameEffects_.end()) {
            takeProperties(kept, given->second);
        }
        next[id] = kept;
    }
    for (const auto& [id, effect] : frameEffects_) {
        if (held_.count(id) != 0) {
            continue;
        }
        if (effect.type == kUpdate) {
            finding("the model updated effect %u, which the last frame did not hold", id);
        }
        HeldEffect started;
        started.type = effect.type;
        started.properties = effect.properties;
        started.triggered = effect.triggered;
        next[id] = started;
    }
    held_.swap(next);
    frameEffects_.clear();
    releaseAtBegin_ = lastTriggers_;
    lastTriggers_ = triggered;
    if (concurrent_) {
        effectsStepped();  // the collision thread steps on its own meanwhile
    }
}

// A collision step advances the effects' clocks: a triggered effect of the
// last frame may be done from then on.
void Fuzzer::effectsStepped() {
    for (auto& [id, effect] : held_) {
        if (effect.triggered) {
            effect.mayFinish = true;
        }
    }
}

// Deleting identifiers deletes the effects started under them: the last
// frame's stop at the next frame end, the open frame's are dropped.
void Fuzzer::effectsDeleted(std::uint64_t first, std::uint64_t last) {
    for (auto at = held_.lower_bound(static_cast<QMuint>(first)); at != held_.end() && at->first <= last; ++at) {
        at->second.done = true;
    }
    for (auto at = frameEffects_.lower_bound(static_cast<QMuint>(first));
         at != frameEffects_.end() && at->first <= last;) {
        at = frameEffects_.erase(at);
    }
}

void Fuzzer::settleEffect(QMuint id, bool held) {
    const auto at = held_.find(id);
    if (at == held_.end() || !at->second.uncertain) {
        return;
    }
    if (held) {
        at->second.uncertain = false;
    } else {
        held_.erase(at);
    }
}

void Fuzzer::probeEffect(QMuint id) {
    if (!effectUncertain(id)) {
        return;
    }
    QMboolean active = 0x7F;
    note("qmGetEffectbv(%u, QM_EFFECT_PROPERTY_ACTIVE, out) (is the triggered effect still there?)", id);
    qmGetEffectbv(id, QM_EFFECT_PROPERTY_ACTIVE, &active);
    expectNone("qmGetEffectbv of a triggered effect");
    if (active != QM_TRUE && active != QM_FALSE) {
        finding("qmGetEffectbv wrote %d", active);
    }
    settleEffect(id, active == QM_TRUE);
}

// Mostly an identifier the last frame holds an effect under, else any.
QMuint Fuzzer::effectIdForCall() {
    if (!held_.empty() && chance(50)) {
        auto at = held_.begin();
        std::advance(at, static_cast<long>(next() % held_.size()));
        return at->first;
    }
    return anyId(false);
}

void Fuzzer::genStartEffect() {
    const QMenum type = anySymbol(effectTypes());
    const QMuint id = effectIdForCall();
    if (haveContext() && inFrame_ && effects_.reserved.contains(id)) {
        probeEffect(id);
    }
    note("qmStartEffect(%s, %u) in frame %d", symbolText(type).c_str(), id, inFrame_);
    qmStartEffect(type, id);
    if (!haveContext()) {
        return;
    }
    if (!inFrame_) {
        expectErrors({QM_INVALID_OPERATION}, "qmStartEffect outside a frame");
    } else if (!effects_.reserved.contains(id)) {
        expectErrors({QM_INVALID_VALUE}, "qmStartEffect under an identifier that is not reserved");
    } else if (effectTypeIndex(type) < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmStartEffect of a type without an implementation");
    } else {
        expectNone("qmStartEffect");
        frameEffects_[id] = FrameEffect{effectTypeIndex(type), attributes_.effect, false};
    }
}

void Fuzzer::genStopEffect() {
    const QMuint id = effectIdForCall();
    note("qmStopEffect(%u) in frame %d", id, inFrame_);
    qmStopEffect(id);
    if (!haveContext()) {
        return;
    }
    if (!inFrame_) {
        expectErrors({QM_INVALID_OPERATION}, "qmStopEffect outside a frame");
    } else if (!effects_.reserved.contains(id)) {
        expectErrors({QM_INVALID_VALUE}, "qmStopEffect under an identifier that is not reserved");
    } else if (effectUncertain(id)) {
        const bool refused = expectOneOf({QM_INVALID_OPERATION}, true, "qmStopEffect of a triggered effect") != nullptr;
        settleEffect(id, !refused);
        if (!refused) {
            held_[id].done = true;
        }
    } else if (!effectHeld(id)) {
        expectErrors({QM_INVALID_OPERATION}, "qmStopEffect when the last frame has no effect under it");
    } else {
        expectNone("qmStopEffect");
        held_[id].done = true;
    }
}

void Fuzzer::genTriggerEffect() {
    const QMenum type = anySymbol(effectTypes());
    note("qmTriggerEffect(%s) in frame %d, next identifier %" PRIu64, symbolText(type).c_str(), inFrame_,
         effects_.next);
    qmTriggerEffect(type);
    if (!haveContext()) {
        return;
    }
    if (!inFrame_) {
        expectErrors({QM_INVALID_OPERATION}, "qmTriggerEffect outside a frame");
    } else if (effectTypeIndex(type) < 0) {
        expectErrors({QM_INVALID_ENUM}, "qmTriggerEffect of a type without an implementation");
    } else if (effects_.next > 0xFFFFFFFFull) {
        expectErrors({QM_OUT_OF_MEMORY}, "qmTriggerEffect with the identifiers exhausted");
    } else {
        expectNone("qmTriggerEffect");
        // The effect takes the next identifier of the pool.
        const QMuint id = static_cast<QMuint>(effects_.next++);
        effects_.reserved.insert(id, id);
        frameEffects_[id] = FrameEffect{effectTypeIndex(type), attributes_.effect, true};
        if (chance(20)) {
            note("qmIsEffect(%u) (the trigger's identifier)", id);
            if (qmIsEffect(id) != QM_TRUE ||
                (id > 1 && effects_.reserved.contains(id - 1) && qmIsEffect(id - 1) != QM_TRUE)) {
                finding("the identifier of a triggered effect (%u) is not the pool's next", id);
            }
            expectNone("qmIsEffect");
        }
    }
}

void Fuzzer::genUpdateEffect() {
    const QMuint id = effectIdForCall();
    note("qmUpdateEffect(%u) in frame %d", id, inFrame_);
    qmUpdateEffect(id);
    if (!haveContext()) {
        return;
    }
    bool updated = false;
    if (!inFrame_) {
        expectErrors({QM_INVALID_OPERATION}, "qmUpdateEffect outside a frame");
    } else if (effectUncertain(id)) {
        updated = expectOneOf({QM_INVALID_VALUE}, true, "qmUpdateEffect of a triggered effect") == nullptr;
        settleEffect(id, updated);
    } else if (!effectHeld(id)) {
        expectErrors({QM_INVALID_VALUE}, "qmUpdateEffect when the last frame has no effect under it");
    } else {
        expectNone("qmUpdateEffect");
        updated = true;
    }
    if (updated) {
        frameEffects_[id] = FrameEffect{kUpdate, attributes_.effect, false};
    }
}

void Fuzzer::genEffectValue() {
    const QMenum name = anySymbol(effectProperties());
    double value = 0.0;
    if (chance(50)) {
        value = chance(60) ? moderate() + 1.0 : anyDouble();
        if (chance(10)) {
            value = chance(50) ? 3e9 : -3e9;  // beyond an integer read
        }
        note("qmEffectd(%s, %g)", symbolText(name).c_str(), value);
        qmEffectd(name, value);
    } else {
        const QMint i = chance(60) ? static_cast<QMint>(next() % 5) : static_cast<QMint>(next());
        value = static_cast<double>(i);
        note("qmEffecti(%s, %d)", symbolText(name).c_str(), i);
        qmEffecti(name, i);
    }
    if (!haveContext()) {
        return;
    }
    if (!isScalarEffectProperty(name)) {
        expectErrors({QM_INVALID_ENUM}, "qmEffectd/qmEffecti of another name");
    } else if (!std::isfinite(value)) {
        expectErrors({QM_INVALID_VALUE}, "qmEffectd of a value that is not finite");
    } else {
        expectNone("qmEffectd/qmEffecti");
        EffectProperties& e = attributes_.effect;
        if (name == QM_EFFECT_PROPERTY_GAIN) {
            e.gain = value;
        } else if (name == QM_EFFECT_PROPERTY_MAGNITUDE) {
            e.magnitude = value;
        } else if (name == QM_EFFECT_PROPERTY_DURATION) {
            e.duration = value;
        } else if (name == QM_EFFECT_PROPERTY_FREQUENCY) {
            e.frequency = value;
        }
    }
    if (chance(10)) {
        checkAttributes("qmEffectd/qmEffecti");
    }
}

void Fuzzer::genEffectArray() {
    const QMenum name = anySymbol(effectProperties());
    const bool null = chance(10);
    double values[3] = {0, 0, 0};
    if (chance(50)) {
        double v[4];
        for (double& d : v) {
            d = chance(70) ? moderate() : anyDouble();
        }
        std::copy(v, v + 3, values);
        note("qmEffectdv(%s, %s {%g, %g, %g})", symbolText(name).c_str(), null ? "NULL" : "v", v[0], v[1], v[2]);
        qmEffectdv(name, null ? nullptr : v);
    } else {
        QMint v[4];
        for (QMint& i : v) {
            i = chance(90) ? static_cast<QMint>(next() % 7) - 3 : static_cast<QMint>(next());
        }
        for (int k = 0; k < 3; ++k) {
            values[k] = static_cast<double>(v[k]);
        }
        note("qmEffectiv(%s, %s {%d, %d, %d})", symbolText(name).c_str(), null ? "NULL" : "v", v[0], v[1], v[2]);
        qmEffectiv(name, null ? nullptr : v);
    }
    if (!haveContext()) {
        return;
    }
    if (!isVectorEffectProperty(name)) {
        expectErrors({QM_INVALID_ENUM}, "qmEffectdv/qmEffectiv of another name");
    } else if (null || !std::isfinite(values[0]) || !std::isfinite(values[1]) || !std::isfinite(values[2])) {
        expectErrors({QM_INVALID_VALUE}, "qmEffectdv/qmEffectiv of NULL or values that are not finite");
    } else {
        expectNone("qmEffectdv/qmEffectiv");
        double* target =
            name == QM_EFFECT_PROPERTY_POSITION ? attributes_.effect.position : attributes_.effect.direction;
        std::copy(values, values + 3, target);
    }
    if (chance(10)) {
        checkAttributes("qmEffectdv/qmEffectiv");
    }
}

// The getters read the last completed frame's effect: its property values
// (each one as it was at the effect's start or last update; a friction
// effect's position is its moving anchor, not compared), its type's low 32
// bits, and whether it is there. A refused read writes nothing, a read
// writes exactly its values.
void Fuzzer::genGetEffect() {
    const QMuint id = effectIdForCall();
    const int form = static_cast<int>(next() % 3);
    // Mostly a name the form reads.
    static const std::vector<QMenum> readable = {QM_EFFECT_PROPERTY_TYPE,      QM_EFFECT_PROPERTY_GAIN,
                                                 QM_EFFECT_PROPERTY_MAGNITUDE, QM_EFFECT_PROPERTY_FREQUENCY,
                                                 QM_EFFECT_PROPERTY_DURATION,  QM_EFFECT_PROPERTY_POSITION,
                                                 QM_EFFECT_PROPERTY_DIRECTION};
    const QMenum name = chance(85) ? pick(form == 2 ? std::vector<QMenum>{QM_EFFECT_PROPERTY_ACTIVE} : readable)
                                   : anySymbol(effectProperties());
    const bool null = chance(10);
    const char* forms[] = {"qmGetEffectdv", "qmGetEffectiv", "qmGetEffectbv"};
    constexpr double kUnwrittenD = -12345.25;
    constexpr QMint kUnwrittenI = 0x5A5A5A5A;
    constexpr QMboolean kUnwrittenB = 0x7F;
    double outD[16];
    QMint outI[16];
    QMboolean outB[16];
    std::fill(outD, outD + 16, kUnwrittenD);
    std::fill(outI, outI + 16, kUnwrittenI);
    std::fill(outB, outB + 16, kUnwrittenB);
    note("%s(%u, %s, %s)", forms[form], id, symbolText(name).c_str(), null ? "NULL" : "out");
    switch (form) {
    case 0: qmGetEffectdv(id, name, null ? nullptr : outD); break;
    case 1: qmGetEffectiv(id, name, null ? nullptr : outI); break;
    default: qmGetEffectbv(id, name, null ? nullptr : outB); break;
    }
    if (!haveContext()) {
        return;
    }
    const auto at = held_.find(id);
    const HeldEffect* effect = at != held_.end() ? &at->second : nullptr;
    const bool unsure = effect != nullptr && effect->uncertain;

    // What the call must do, were the effect there (or not).
    std::vector<double> values;  // the values written on success
    QMenum refusal = nullptr;    // the error when the effect is there
    bool identity = false;       // the read needs no effect: only bv
    if (form == 2) {
        identity = true;
        if (name != QM_EFFECT_PROPERTY_ACTIVE) {
            refusal = QM_INVALID_ENUM;
        } else if (null) {
            refusal = QM_INVALID_VALUE;
        }
    } else if (!isScalarEffectProperty(name) && !isVectorEffectProperty(name)) {
        refusal = QM_INVALID_ENUM;
    } else if (effect != nullptr) {
        const EffectProperties& p = effect->properties;
        if (name == QM_EFFECT_PROPERTY_TYPE) {
            if (form == 1) {
                const QMenum type = effectTypes()[static_cast<std::size_t>(effect->type)];
                values.push_back(static_cast<double>(
                    static_cast<QMint>(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(type)))));
            }
        } else if (name == QM_EFFECT_PROPERTY_GAIN) {
            values.push_back(p.gain);
        } else if (name == QM_EFFECT_PROPERTY_MAGNITUDE) {
            values.push_back(p.magnitude);
        } else if (name == QM_EFFECT_PROPERTY_DURATION) {
            values.push_back(p.duration);
        } else if (name == QM_EFFECT_PROPERTY_FREQUENCY) {
            refusal = QM_INVALID_VALUE;  // no type has one
        } else if (!hasGeometry(effect->type)) {
            refusal = QM_INVALID_VALUE;
        } else {
            const double* v = name == QM_EFFECT_PROPERTY_POSITION ? p.position : p.direction;
            values.assign(v, v + 3);
        }
        if (refusal == nullptr && null) {
            refusal = QM_INVALID_VALUE;
        }
        if (refusal == nullptr && form == 1 && name != QM_EFFECT_PROPERTY_TYPE) {
            for (double& v : values) {
                v = std::floor(v + 0.5);
                if (!(v >= INT32_MIN && v <= INT32_MAX)) {
                    refusal = QM_INVALID_VALUE;
                }
            }
        }
    }
    const bool absentRefused = !identity && refusal != QM_INVALID_ENUM;  // no effect: QM_INVALID_VALUE

    // A friction effect's anchor moves on the servo side: whether its
    // position fits an integer is not known.
    const bool friction = effect != nullptr &&
                          effectTypes()[static_cast<std::size_t>(effect->type)] == QM_EFFECT_FRICTION &&
                          name == QM_EFFECT_PROPERTY_POSITION;
    const bool anchorRange = friction && form == 1 && !null;

    const std::vector<QMenum> got = drain();
    QMenum error = got.empty() ? nullptr : got[0];
    if (anchorRange && (error == nullptr || error == QM_INVALID_VALUE) && !unsure) {
        refusal = error;
    }
    if (got.size() > 1) {
        finding("%s: expected one error at most, got %s", forms[form], errorList(got).c_str());
    }
    bool there = effect != nullptr;
    if (unsure) {
        // Either outcome settles whether the effect is there, when the two
        // differ.
        const QMenum whenThere = refusal;
        const QMenum whenGone = absentRefused ? QM_INVALID_VALUE : refusal;
        if (error != whenThere && error != whenGone) {
            finding("%s of a triggered effect: expected %s or %s, got %s", forms[form], symbolText(whenThere).c_str(),
                    symbolText(whenGone).c_str(), errorList(got).c_str());
        }
        if (identity && error == nullptr) {
            there = outB[0] == QM_TRUE;
            settleEffect(id, there);
        } else if (whenThere != whenGone) {
            there = error == whenThere;
            settleEffect(id, there);
        } else {
            there = false;  // nothing to compare either way
        }
    } else {
        const QMenum expected = there || !absentRefused ? refusal : QM_INVALID_VALUE;
        if (error != expected) {
            finding("%s(%u, %s, %s) (effect %s): expected %s, got %s", forms[form], id, symbolText(name).c_str(),
                    null ? "NULL" : "out", there ? "there" : "not there", symbolText(expected).c_str(),
                    errorList(got).c_str());
        }
    }

    // The outputs: nothing on error; else exactly the values.
    std::size_t count = 0;
    if (error == nullptr && !null) {
        count = identity ? 1 : values.size();
    }
    for (std::size_t k = 0; k < 16; ++k) {
        const bool written = k < count;
        bool ok = true;
        if (form == 0) {
            ok = written ? (friction ? std::isfinite(outD[k]) : sameBits(outD[k], values[k])) : outD[k] == kUnwrittenD;
        } else if (form == 1) {
            ok = written ? (friction || outI[k] == static_cast<QMint>(values[k])) : outI[k] == kUnwrittenI;
        } else {
            ok = written ? outB[k] == (there ? QM_TRUE : QM_FALSE) : outB[k] == kUnwrittenB;
        }
        if (!ok) {
            finding("%s(%u, %s): value %zu is %s (%zu written expected)", forms[form], id, symbolText(name).c_str(), k,
                    written ? "wrong" : "written", count);
        }
    }
    if (count > 0) {
        ++effectReadsChecked_;
    }
}

// ---- events

// Every callback run of the driver's subscriptions: it must belong to a
// subscription that exists (with the user data given last), for its event,
// thread and shape (or QM_OBJECT_ANY); a client-thread callback runs on the
// application's thread inside qmCheckEvents, a collision-thread one on
// another thread.
void Fuzzer::delivered(QMenum event, QMuint shape, QMenum thread, void* userData) {
    const bool main = std::this_thread::get_id() == mainThread_;
    std::lock_guard<std::mutex> guard(deliveriesLock_);
    deliveries_.push_back(
        {event, shape, thread, reinterpret_cast<std::uintptr_t>(userData), main, main && insideCheckEvents_.load()});
}

void Fuzzer::checkDeliveries(const char* what) {
    std::vector<Delivery> runs;
    {
        std::lock_guard<std::mutex> guard(deliveriesLock_);
        runs.swap(deliveries_);
    }
    for (const Delivery& d : runs) {
        const SubscriptionKey* key = nullptr;
        for (const auto& [k, token] : subscriptions_) {
            if (token == d.token) {
                key = &k;
                break;
            }
        }
        if (key == nullptr) {
            finding("during %s: %s ran for shape %u on %s with user data %" PRIuPTR
                    ", of no subscription (removed or replaced)",
                    what, symbolText(d.event).c_str(), d.shape, symbolText(d.thread).c_str(), d.token);
        }
        const auto& [event, object, thread] = *key;
        if (d.event != event || d.thread != thread || (object != QM_OBJECT_ANY && d.shape != object)) {
            finding("during %s: %s for shape %u on %s ran the subscription to %s for %u on %s", what,
                    symbolText(d.event).c_str(), d.shape, symbolText(d.thread).c_str(), symbolText(event).c_str(),
                    object, symbolText(thread).c_str());
        }
        if (thread == QM_CLIENT_THREAD ? !d.insideCheckEvents : d.onMainThread) {
            finding("during %s: a %s callback of %s ran %s", what, symbolText(thread).c_str(),
                    symbolText(event).c_str(),
                    d.onMainThread ? "on the application's thread" : "outside qmCheckEvents");
        }
        ++deliveriesChecked_;
    }
}

void Fuzzer::genAddEventCallback() {
    const QMenum event = anySymbol(eventNames());
    const QMenum thread = anySymbol({QM_CLIENT_THREAD, QM_COLLISION_THREAD});
    const QMuint shape = chance(70) ? QM_OBJECT_ANY : anyId(true);
    const bool null = chance(10);
    const std::uintptr_t token = nextToken_++;
    note("qmAddEventCallback(%s, %u, %s, %s, %" PRIuPTR ")", symbolText(event).c_str(), shape,
         symbolText(thread).c_str(), null ? "NULL" : "f", token);
    qmAddEventCallback(event, shape, thread, null ? nullptr : &recordEvent, reinterpret_cast<void*>(token));
    if (!haveContext()) {
        return;
    }
    if (indexOf(eventNames(), event) < 0 || (thread != QM_CLIENT_THREAD && thread != QM_COLLISION_THREAD)) {
        expectErrors({QM_INVALID_ENUM}, "qmAddEventCallback of another event or thread");
    } else if (null) {
        expectErrors({QM_INVALID_VALUE}, "qmAddEventCallback of NULL");
    } else {
        expectNone("qmAddEventCallback");
        subscriptions_[{event, shape, thread}] = token;
    }
}

void Fuzzer::genRemoveEventCallback() {
    QMenum event = anySymbol(eventNames());
    QMenum thread = anySymbol({QM_CLIENT_THREAD, QM_COLLISION_THREAD});
    QMuint shape = chance(50) ? QM_OBJECT_ANY : anyId(true);
    if (!subscriptions_.empty() && chance(30)) {
        auto at = subscriptions_.begin();
        std::advance(at, static_cast<long>(next() % subscriptions_.size()));
        std::tie(event, shape, thread) = at->first;
    }
    note("qmRemoveEventCallback(%s, %u, %s)", symbolText(event).c_str(), shape, symbolText(thread).c_str());
    qmRemoveEventCallback(event, shape, thread, &recordEvent);
    if (!haveContext()) {
        return;
    }
    if (indexOf(eventNames(), event) < 0 || (thread != QM_CLIENT_THREAD && thread != QM_COLLISION_THREAD)) {
        expectErrors({QM_INVALID_ENUM}, "qmRemoveEventCallback of another event or thread");
    } else {
        expectNone("qmRemoveEventCallback");
        subscriptions_.erase({event, shape, thread});
    }
}

void Fuzzer::genCheckEvents() {
    note("qmCheckEvents() (%zu subscriptions)", subscriptions_.size());
    insideCheckEvents_ = true;
    qmCheckEvents();
    insideCheckEvents_ = false;
    if (!haveContext()) {
        return;
    }
    expectNone("qmCheckEvents");
    checkDeliveries("qmCheckEvents");
}

void Fuzzer::genEventd() {
    const QMenum name = anySymbol({QM_EVENT_MOTION_LINEAR_TOLERANCE, QM_EVENT_MOTION_ANGULAR_TOLERANCE});
    const double value = chance(60) ? moderate() + 1.0 : anyDouble();
    note("qmEventd(%s, %g)", symbolText(name).c_str(), value);
    qmEventd(name, value);
    if (!haveContext()) {
        return;
    }
    if (name != QM_EVENT_MOTION_LINEAR_TOLERANCE && name != QM_EVENT_MOTION_ANGULAR_TOLERANCE) {
        expectErrors({QM_INVALID_ENUM}, "qmEventd of another name");
    } else if (!std::isfinite(value) || value < 0.0) {
        expectErrors({QM_INVALID_VALUE}, "qmEventd of a negative or non-finite value");
    } else {
        expectNone("qmEventd");
    }
}

void Fuzzer::genProxyf() {
    const QMenum name = anySymbol({QM_STIFFNESS, QM_DAMPING});
    const float value = chance(60) ? static_cast<float>(moderate() + 1.0) : anyFloat();
    note("qmProxyf(%s, %g)", symbolText(name).c_str(), value);
    qmProxyf(name, value);
    if (!haveContext()) {
        return;
    }
    if (indexOf({QM_STIFFNESS, QM_DAMPING}, name) < 0) {
        expectErrors({QM_INVALID_OPERATION}, "qmProxyf of another name");
    } else if (!std::isfinite(value)) {
        expectErrors({QM_INVALID_VALUE}, "qmProxyf with a value that is not finite");
    } else {
        expectNone("qmProxyf");
    }
}

void Fuzzer::genProxydv() {
    const QMenum name = anySymbol({QM_PROXY_POSITION, QM_PROXY_ROTATION});
    const bool position = name != nullptr && name == QM_PROXY_POSITION;
    const bool rotationName = name != nullptr && name == QM_PROXY_ROTATION;
    double v[5];
    for (double& d : v) {
        d = chance(90) ? moderate() * 0.5 : anyDouble();
    }
    if (rotationName && chance(70)) {
        const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3]);
        for (int i = 0; i < 4 && n > 0 && std::isfinite(n); ++i) {
            v[i] /= n;
        }
    }
    const bool null = chance(5);
    note("qmProxydv(%s, %s{%g, %g, %g, %g})", symbolText(name).c_str(), null ? "NULL " : "", v[0], v[1], v[2], v[3]);
    qmProxydv(name, null ? nullptr : v);
    if (!haveContext()) {
        return;
    }
    bool finite = true;
    for (int i = 0; i < (position ? 3 : 4); ++i) {
        finite = finite && std::isfinite(v[i]);
    }
    if (!position && !rotationName) {
        expectErrors({QM_INVALID_OPERATION}, "qmProxydv of another name");
        return;
    }
    if (null || !finite) {
        expectErrors({QM_INVALID_VALUE}, "qmProxydv with NULL or a value that is not finite");
        return;
    }
    expectNone("qmProxydv");
    // Read back until the next frame begins, in model coordinates.
    const double size = std::max({std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])});
    if (position && conversionsReliable() && size < 1e6) {
        double back[4] = {0, 0, 0, -5};
        qmGetDoublev(QM_PROXY_POSITION, back);
        expectNone("reading back the proxy position");
        const Mat m = composed();
        double scale = 1.0;
        for (double e : m.m) {
            scale = std::max(scale, std::fabs(e));
        }
        for (int i = 0; i < 3; ++i) {
            if (std::fabs(back[i] - v[i]) > 1e-6 * scale * (1.0 + size)) {
                finding("the proxy position set is %g, read back %g (element %d)", v[i], back[i], i);
            }
        }
        if (back[3] != -5) {
            finding("reading the proxy position wrote a fourth value");
        }
    }
}

// ---------------------------------------------------------------- other steps

void Fuzzer::stepTicks() {
    const unsigned count = static_cast<unsigned>(1 + next() % 20);
    note("korvo_sim_run_ticks(%u)", count);
    if (const int rc = korvo_sim_run_ticks(count)) {
        finding("korvo_sim_run_ticks failed with %d", rc);
    }
}

// The hand presses and releases the stylus buttons: button events for the
// subscriptions to check.
void Fuzzer::stepButtons() {
    const int bits = static_cast<int>(next() % 8);
    note("korvo_sim_set_buttons(%d)", bits);
    if (const int rc = korvo_sim_set_buttons(device_, bits)) {
        finding("korvo_sim_set_buttons failed with %d", rc);
    }
}

void Fuzzer::stepCollision() {
    note("a collision step");
    korvo_sim_run_ticks(static_cast<unsigned>(1 + next() % 10));
    if (!QM::collisionScheduler().isRunning()) {
        return;  // no context has a device
    }
    effectsStepped();
    if (!QM::collisionScheduler().stepAndWait(30.0)) {
        finding("a collision step did not finish");
    }
    ++collisionSteps_;
    checkDeliveries("a collision step");
}

// Calls made from a callback's place, the collision thread: frame and shape
// calls are refused there, getters and setters work.
void Fuzzer::stepOnCollisionThread() {
    QM::OperationScheduler* scheduler = QM::operationScheduler(QM_COLLISION_THREAD);
    if (scheduler == nullptr || !scheduler->isBound() || !haveContext()) {
        return;
    }
    drain();
    // Calls 0 to 10 are refused there; the last one is the getters'.
    constexpr int kRefused = 11;
    const int which = static_cast<int>(next() % (kRefused + 1));
    const QMuint effect = effects_.reserved.empty() ? 1u : static_cast<QMuint>(effects_.reserved.pick(next()));
    note("on the collision thread: call %d (effect %u)", which, effect);
    std::vector<QMenum> errors;
    bool bound = false;
    HQMRC rc = main_;
    HZV device = ZV_INVALID_HANDLE;
    plat::Event done(plat::ResetMode::Manual, false);
    const bool queued = scheduler->schedule(new CollisionWork(
        scheduler,
        [&, which] {
            qmMakeCurrent(rc);
            switch (which) {
            case 0: qmBeginFrame(); break;
            case 1: qmEndFrame(); break;
            case 2: qmBeginShape(QM_SHAPE_PRIMITIVE, 1); break;
            case 3: qmEndShape(); break;
            case 4: qmCallShape(1); break;
            case 5: qmContextDevice(ZV_INVALID_HANDLE); break;
            case 6: qmDeleteContext(rc); break;
            case 7: qmStartEffect(QM_EFFECT_CONSTANT, effect); break;
            case 8: qmTriggerEffect(QM_EFFECT_VISCOUS); break;
            case 9: {
                QMboolean active = 0x7F;
                qmGetEffectbv(effect, QM_EFFECT_PROPERTY_ACTIVE, &active);
                if (active != 0x7F) {
                    errors.push_back(QM_NO_ERROR);  // a refused read wrote
                }
                break;
            }
            case 10: qmCheckEvents(); break;
            default: {
                double v[16];
                qmGetDoublev(QM_MODELVIEW_MATRIX, v);
                qmUpdateCalibration();
                device = qmGetCurrentDevice();
                break;
            }
            }
            for (QMerror e = qmGetError(); e.errorCode != QM_NO_ERROR; e = qmGetError()) {
                if (e.errorCode != QM_DEVICE_ERROR) {
                    errors.push_back(e.errorCode);
                }
            }
            bound = qmGetCurrentContext() == rc;
            qmMakeCurrent(nullptr);
        },
        done));
    if (!queued || !done.wait(30.0)) {
        finding("work on the collision thread did not run");
    }
    if (!bound) {
        finding("the context was lost on the collision thread (call %d)", which);
    }
    if (which < kRefused) {
        if (errors != std::vector<QMenum>{QM_INVALID_OPERATION}) {
            finding("call %d on the collision thread recorded %s, expected { QM_INVALID_OPERATION }", which,
                    errorList(errors).c_str());
        }
    } else if (!errors.empty() &&
               !(errors.size() == 1 && errors[0] == QM_INVALID_OPERATION && !conversionsReliable())) {
        finding("getters on the collision thread recorded %s", errorList(errors).c_str());
    } else if (device != boundDevice_) {
        finding("qmGetCurrentDevice on the collision thread gave %u", device);
    }
    expectNone("after the calls on the collision thread");
}

// Draws with OpenGL: captured inside a feedback shape, ignored elsewhere.
void Fuzzer::stepGlDraw() {
    if (glSelect_) {
        return;
    }
    const int count = static_cast<int>(1 + next() % 6);
    const GLenum modes[] = {GL_TRIANGLES, GL_QUADS, GL_LINES, GL_POINTS, GL_TRIANGLE_STRIP, GL_POLYGON};
    const GLenum mode = modes[next() % std::size(modes)];
    note("OpenGL: %d vertices in mode 0x%x (feedback shape open %d)", count * 3, mode, open_ == OpenShape::Feedback);
    glBegin(mode);
    for (int i = 0; i < count * 3; ++i) {
        glVertex3d(chance(95) ? moderate() * 0.8 : anyDouble(), moderate() * 0.8, moderate() * 0.8);
    }
    glEnd();
}

// The application leaves the render mode: during a capture (the capture is
// broken and qmEndShape refuses it), or at rest in GL_SELECT (feedback
// shapes are refused until it comes back).
void Fuzzer::stepGlRenderMode() {
    static GLuint selectBuffer[64];
    if (open_ == OpenShape::Feedback && !feedbackBroken_) {
        note("OpenGL: glRenderMode(GL_RENDER) during a capture");
        glPopAttrib();
        glRenderMode(GL_RENDER);
        feedbackBroken_ = true;
        return;
    }
    if (open_ == OpenShape::Feedback) {
        return;
    }
    if (glSelect_) {
        note("OpenGL: back to GL_RENDER");
        glRenderMode(GL_RENDER);
        glSelect_ = false;
    } else {
        note("OpenGL: GL_SELECT");
        glSelectBuffer(64, selectBuffer);
        glRenderMode(GL_SELECT);
        glSelect_ = true;
    }
}

// A stretch of calls without a current context: nothing may be recorded,
// getters write nothing, and the context is found as it was left.
void Fuzzer::stepNoContext() {
    if (!haveContext()) {
        return;
    }
    note("calls without a current context");
    qmMakeCurrent(nullptr);
    current_ = nullptr;
    for (int k = 0; k < 20; ++k) {
        ++counts_["(calls without a context)"];
        const Generator& g = table_[next() % table_.size()];
        const std::string name = g.name;
        if (name[0] == '(' || name == "qmMakeCurrent" || name == "qmDeleteContext" || name == "qmCreateContext" ||
            name == "qmGetError") {
            continue;
        }
        (this->*g.run)();
    }
    const QMerror e = qmGetError();
    if (e.errorCode != QM_INVALID_OPERATION || e.errorInfo.internalErrorCode != -1) {
        finding("qmGetError without a context did not give the fixed record");
    }
    qmMakeCurrent(main_);
    current_ = main_;
    expectNone("calls without a context recorded errors in a context");
    checkAttributes("calls without a context");
    checkMatrices("calls without a context");
}

// The collision thread steps on its own timer and the servo loop runs in
// real time (or a thread drives the manual clock's ticks), while this thread
// keeps calling and a second client thread shares the identifier pools and
// drives a context of its own.
void Fuzzer::stepConcurrentPhase() {
    if (!haveContext() || shapes_.next > 0x7FFFFFFFull || effects_.next > 0x7FFFFFFFull) {
        return;
    }
    const bool realTime = chance(40);
    note("concurrent phase (%s)", realTime ? "real time" : "a thread drives the ticks");
    ++phases_;
    HQMRC own = qmCreateContext(ZV_INVALID_HANDLE);
    if (own == nullptr) {
        finding("a context for the second thread could not be made");
    }
    if (realTime) {
        setRealTime(true);
    }
    QM::collisionScheduler().setStopped(false);
    effectsStepped();
    std::atomic<bool> stop{false};
    std::atomic<bool> stopTicks{false};
    std::thread ticker;
    if (!realTime) {
        ticker = std::thread([&stopTicks] {
            while (!stopTicks.load()) {
                korvo_sim_run_ticks(2);
                std::this_thread::yield();
            }
        });
    }
    struct Taken {
        bool shapes;
        QMuint first;
        QMint range;
        bool deleted;
    };
    std::vector<Taken> taken;
    std::string secondFinding;
    HQMRC shared = main_;
    std::thread second([&, seed = next()] {
        std::mt19937_64 random(seed);
        std::uint64_t lastShape = 0;
        std::uint64_t lastEffect = 0;
        while (!stop.load() && secondFinding.empty()) {
            const unsigned roll = static_cast<unsigned>(random() % 10);
            if (roll < 4) {
                // The shared context's pools: identifiers increase and are
                // reserved.
                qmMakeCurrent(shared);
                const bool shapes = roll < 2;
                const QMint range = static_cast<QMint>(1 + random() % 3);
                std::unique_lock<std::mutex> gate(shapeGateLock_);
                if (shapes && shapeGate_) {
                    gate.unlock();
                    qmMakeCurrent(nullptr);
                    std::this_thread::yield();
                    continue;
                }
                const QMuint first = shapes ? qmGenShapes(range) : qmGenEffects(range);
                if (first != 0) {
                    std::uint64_t& last = shapes ? lastShape : lastEffect;
                    if (first <= last) {
                        secondFinding = "identifiers did not increase on the second thread";
                    }
                    last = first + static_cast<std::uint64_t>(range) - 1;
                    // (qmIsShape is refused while the first thread has a
                    // shape open, so only effects are read back.)
                    if (!shapes && qmIsEffect(first) == QM_FALSE) {
                        secondFinding = "an identifier just handed out is not reserved";
                    }
                    const bool drop = random() % 3 == 0;
                    if (drop) {
                        shapes ? qmDeleteShapes(first, range) : qmDeleteEffects(first, range);
                    }
                    taken.push_back({shapes, first, range, drop});
                }
                gate.unlock();
                qmMakeCurrent(nullptr);
            } else {
                // A context of its own: its attribute and matrix calls and
                // their errors.
                qmMakeCurrent(own);
                switch (roll) {
                case 4: qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.5f); break;
                case 5: qmPushAttrib(QM_MATERIAL_BIT | QM_TRANSFORM_BIT); break;
                case 6: qmPopAttrib(); break;
                case 7: qmRotated(30.0, 0.0, 0.0, 1.0); break;
                case 8: qmMatrixMode(nullptr); break;
                default: {
                    double m[16];
                    qmGetDoublev(QM_VIEWTOUCH_MATRIX, m);
                    break;
                }
                }
                const QMerror e = qmGetError();
                if (e.errorCode != QM_NO_ERROR && !(roll == 8 && e.errorCode == QM_INVALID_ENUM)) {
                    secondFinding = std::string("the second thread's own context recorded ") + e.errorCode;
                }
                qmMakeCurrent(nullptr);
            }
        }
    });
    concurrent_ = true;
    const int calls = 100 + static_cast<int>(next() % 300);
    for (int k = 0; k < calls && call_ < calls_; ++k, ++call_) {
        const Generator* g = nullptr;
        while (g == nullptr || !g->concurrent) {
            g = &table_[next() % table_.size()];
        }
        ++counts_[g->name];
        (this->*g->run)();
        if (realTime && k % 50 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    stop = true;
    second.join();
    // A step the timer started waits for servo ticks: the ticks go on until
    // the collision thread has come to rest.
    // stepAndWait may return at the end of a step already in progress and
    // leave its own step queued, so the thread is watched until no step has
    // run for a while.
    QM::collisionScheduler().setStopped(true);
    if (!QM::collisionScheduler().stepAndWait(60.0) && QM::collisionScheduler().isRunning()) {
        finding("the collision thread did not finish a step after the phase (%s, %" PRIu64 " steps)",
                realTime ? "real time" : "ticks", QM::collisionScheduler().stepCount());
    }
    for (std::uint64_t steps = ~std::uint64_t{0}; steps != QM::collisionScheduler().stepCount();) {
        steps = QM::collisionScheduler().stepCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(realTime ? 200 : 100));
    }
    stopTicks = true;
    if (ticker.joinable()) {
        ticker.join();
    }
    if (realTime) {
        setRealTime(false);
    }
    concurrent_ = false;
    if (!secondFinding.empty()) {
        finding("second thread: %s", secondFinding.c_str());
    }
    qmDeleteContext(own);
    // The second thread's identifiers join the model.
    for (const Taken& t : taken) {
        Pool& pool = t.shapes ? shapes_ : effects_;
        const std::uint64_t last = std::uint64_t{t.first} + static_cast<std::uint64_t>(t.range) - 1;
        if (!t.deleted) {
            pool.reserved.insert(t.first, last);
        }
        pool.next = std::max(pool.next, last + 1);
        for (std::uint64_t id = t.first; id <= last; ++id) {
            const QMboolean is = t.shapes ? qmIsShape(static_cast<QMuint>(id)) : qmIsEffect(static_cast<QMuint>(id));
            if (t.shapes && open_ != OpenShape::None) {
                break;
            }
            if ((is == QM_TRUE) == t.deleted) {
                finding("identifier %" PRIu64 " of the second thread is %s", id, t.deleted ? "reserved" : "free");
            }
        }
    }
    drain();
    checkDeliveries("a concurrent phase");
    note("concurrent phase over: %zu identifier ranges taken by the second thread", taken.size());
}

// ---------------------------------------------------------------- driver

void Fuzzer::checkCoverage() {
    std::set<std::string> covered;
    for (const Generator& g : table_) {
        covered.insert(g.name);
    }
    if (!exportsMap_.empty()) {
        std::ifstream map(exportsMap_);
        if (!map) {
            std::fprintf(stderr, "qm_fuzz: cannot read %s\n", exportsMap_.c_str());
            std::exit(2);
        }
        std::string line;
        std::vector<std::string> missing;
        while (std::getline(map, line)) {
            const auto start = line.find_first_not_of(" \t");
            if (start == std::string::npos || line.compare(start, 2, "qm") != 0) {
                continue;
            }
            const std::string name = line.substr(start, line.find(';') - start);
            if (covered.count(name) == 0) {
                missing.push_back(name);
            }
        }
        for (const std::string& name : missing) {
            std::printf("qm_fuzz: export %s has no generator yet\n", name.c_str());
        }
    }
}

int Fuzzer::run() {
    theFuzzer = this;
    mainThread_ = std::this_thread::get_id();
    table_ = generatorTable();
    checkCoverage();
    unsigned total = 0;
    for (const Generator& g : table_) {
        total += g.weight;
    }
    char dir[] = "/tmp/qm_fuzz.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::fprintf(stderr, "qm_fuzz: no temporary directory\n");
        return 2;
    }
    dumpPath_ = std::string(dir) + "/scene.xml";

    zvtest::EglContext gl;
    if (!gl.valid() || !gl.makeCurrent()) {
        std::fprintf(stderr, "qm_fuzz: no headless OpenGL context: %s\n", gl.error().c_str());
        return 2;
    }
    gl_ = &gl;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (korvo_sim_set_manual_clock(1) != 0) {
        std::fprintf(stderr, "qm_fuzz: the manual clock is not available\n");
        return 2;
    }
    QM::collisionScheduler().setStopped(true);
    device_ = zvInitDevice(ZV_DEFAULT_DEVICE);
    if (device_ == ZV_INVALID_HANDLE) {
        std::fprintf(stderr, "qm_fuzz: the simulated device did not open\n");
        return 2;
    }
    zvStartScheduler();
    makeMainContext();

    // A hang is a finding too: with no call finished for two minutes the
    // last calls are printed and the run ends.
    std::atomic<bool> finished{false};
    std::thread watchdog([this, &finished] {
        std::uint64_t last = ~std::uint64_t{0};
        int still = 0;
        while (!finished.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const std::uint64_t now = progress_.load();
            still = now == last ? still + 1 : 0;
            last = now;
            if (still == 240) {
                journal_.hang(now, "no call finished for two minutes (a hang)");
            }
        }
    });
    const auto started = std::chrono::steady_clock::now();
    for (call_ = 0; call_ < calls_; ++call_) {
        progress_ = call_;
        std::uint64_t roll = next() % total;
        for (const Generator& g : table_) {
            if (roll < g.weight) {
                ++counts_[g.name];
                (this->*g.run)();
                break;
            }
            roll -= g.weight;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    finished = true;
    watchdog.join();

    if (current_ == nullptr) {
        qmMakeCurrent(main_);
        current_ = main_;
    }
    drain();
    dropMainContext();
    QM::collisionScheduler().setStopped(false);
    zvStopScheduler();
    zvDisableDevice(device_);
    while (zvGetError().errorCode != ZV_SUCCESS) {
    }
    korvo_sim_set_manual_clock(0);
    std::remove(dumpPath_.c_str());
    rmdir(dir);
    gl.release();

    std::vector<std::string> never;
    for (const Generator& g : table_) {
        if (counts_[g.name] == 0) {
            never.push_back(g.name);
        }
    }
    if (!quiet_) {
        std::printf("qm_fuzz: seed %" PRIu64 ": %" PRIu64 " calls in %.1f s, %" PRIu64
                    " errors raised and checked, %" PRIu64 " device errors, %" PRIu64 " collision steps, %" PRIu64
                    " concurrent phases, %" PRIu64 " effect reads and %" PRIu64
                    " event callback runs checked, 0 findings\n",
                    seed_, calls_, seconds, errorsSeen_, deviceErrors_, collisionSteps_, phases_, effectReadsChecked_,
                    deliveriesChecked_);
        for (const std::string& name : never) {
            std::printf("qm_fuzz: %s was never called in this run\n", name.c_str());
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 1;
    std::uint64_t calls = 100000;
    bool quiet = false;
    std::string exports;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--seed" && k + 1 < argc) {
            seed = std::strtoull(argv[++k], nullptr, 10);
        } else if (arg == "--calls" && k + 1 < argc) {
            calls = std::strtoull(argv[++k], nullptr, 10);
        } else if (arg == "--exports" && k + 1 < argc) {
            exports = argv[++k];
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            std::fprintf(stderr, "usage: qm_fuzz [--seed N] [--calls N] [--quiet] [--exports qm.map]\n");
            return 2;
        }
    }
    return Fuzzer(seed, calls, quiet, exports).run();
}
