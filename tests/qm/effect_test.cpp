// Effects end to end on the simulated device: the exports, the frame-end
// compare, the clocks of the collision step and the shaders in the servo
// pipeline. Servo ticks run on the manual clock, collision steps one at a
// time, and the effects' clock is driven by hand.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>

#include "korvo/korvo_sim.h"
#include "qm/api/Symbols.h"
#include "qm/collision/CollisionScheduler.h"
#include "qm/effects/EffectManager.h"
#include "shape_test_support.h"

namespace {

using qmtest::ShapeTest;
using zvu::zvuVector3Dd;

class EffectTest : public ShapeTest {
protected:
    // Forces ramp up over half a second after they are switched on.
    static constexpr int kRampSteps = 60;

    void SetUp() override {
        ShapeTest::SetUp();
        // A firm hand keeps the stylus near where it is, so that the
        // coupling to the proxy adds next to nothing.
        ASSERT_EQ(korvo_sim_set_hand_gains(device, 1.0, 0.02), 0);
        sched::LockGuard guard(renderer().getRendererLock());
        manager().setClock([](void*) { return clock_.load(); }, nullptr);
    }
    void TearDown() override {
        {
            sched::LockGuard guard(renderer().getRendererLock());
            manager().setClock(nullptr, nullptr);
        }
        ShapeTest::TearDown();
    }
    QM::ISceneRenderer& renderer() { return *context().sceneRenderer; }
    QM::EffectManager& manager() { return static_cast<QM::EffectManager&>(renderer().getEffectManager()); }
    // The running set and the pipeline's shaders change in the proxy
    // exchange, while the collision thread holds the renderer lock.
    std::size_t running() {
        sched::LockGuard guard(renderer().getRendererLock());
        return manager().runningCount();
    }
    std::size_t shadersInPipeline() {
        sched::LockGuard guard(renderer().getRendererLock());
        return renderer().getPipeline().forceShaderCount();
    }
    zvuVector3Dd appliedForce() const {
        double p[3];
        double v[3];
        double f[3];
        korvo_sim_get_true_state(device, p, v, f);
        return {f[0], f[1], f[2]};
    }
    // The effects' clock in seconds; steps see it when they run.
    static void advanceClock(double seconds) { clock_.store(clock_.load() + seconds); }

    static inline std::atomic<double> clock_{0.0};
};

void startConstant(unsigned id, double magnitude, const double direction[3]) {
    qmEffectd(QM_EFFECT_PROPERTY_MAGNITUDE, magnitude);
    qmEffectdv(QM_EFFECT_PROPERTY_DIRECTION, direction);
    qmStartEffect(QM_EFFECT_CONSTANT, id);
}

struct PushCase {
    const char* what;
    double magnitude;
    double direction[3];
    zvuVector3Dd expected;
};

// The simulated arm's nominal maximum force is 6: magnitude 1 is 3, and a
// direction of length 2 doubles it, up to the device's maximum.
TEST_F(EffectTest, AConstantEffectPushesTheStylusWithMinOf3AndTheMaximumTimesMagnitude) {
    double nominal = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_FORCE, &nominal);
    ASSERT_GE(nominal, 6.0);
    const PushCase cases[] = {
        {"magnitude 1", 1.0, {0.0, 1.0, 0.0}, {0.0, 3.0, 0.0}},
        {"a direction of length 2", 1.0, {0.0, 0.0, -2.0}, {0.0, 0.0, -6.0}},
        {"half the magnitude", 0.5, {1.0, 0.0, 0.0}, {1.5, 0.0, 0.0}},
    };
    const unsigned id = qmGenEffects(1);
    for (const PushCase& c : cases) {
        SCOPED_TRACE(c.what);
        qmBeginFrame();
        startConstant(id, c.magnitude, c.direction);
        qmEndFrame();
        run(kRampSteps);
        const zvuVector3Dd f = appliedForce();
        EXPECT_NEAR(f.x, c.expected.x, 0.02);
        EXPECT_NEAR(f.y, c.expected.y, 0.02);
        EXPECT_NEAR(f.z, c.expected.z, 0.02);
        EXPECT_EQ(running(), 1u) << "the same identifier keeps one running effect";
    }
    EXPECT_TRUE(errors().empty());
}

TEST_F(EffectTest, ASpringFarFromItsPositionPullsWithExactlyTheCap) {
    qmBeginFrame();
    const unsigned id = qmGenEffects(1);
    qmEffectd(QM_EFFECT_PROPERTY_GAIN, 1.0);
    qmEffectd(QM_EFFECT_PROPERTY_MAGNITUDE, 0.5);
    const double far[3] = {80.0, 0.0, 0.0};
    qmEffectdv(QM_EFFECT_PROPERTY_POSITION, far);
    qmStartEffect(QM_EFFECT_SPRING, id);
    qmEndFrame();
    run(kRampSteps);
    const zvuVector3Dd f = appliedForce();
    EXPECT_NEAR(f.length(), 1.5, 0.01);
    EXPECT_GT(f.x, 1.49);
    EXPECT_TRUE(errors().empty());
}

// Marked done at the first step after 0.2 s, queued to stop at the next
// frame end, stopped at the exchange after that.
TEST_F(EffectTest, ATriggeredEffectEndsByItselfAfterItsDuration) {
    const unsigned before = qmGenEffects(1);
    qmBeginFrame();
    qmEffectd(QM_EFFECT_PROPERTY_DURATION, 200.0);
    qmEffectd(QM_EFFECT_PROPERTY_MAGNITUDE, 1.0);
    qmTriggerEffect(QM_EFFECT_CONSTANT);
    qmEndFrame();
    const unsigned id = before + 1;
    ASSERT_EQ(qmIsEffect(id), QM_TRUE);
    QM::IEffect* effect = context().lastScene->getEffects().find(id);
    ASSERT_NE(effect, nullptr);
    effect->addReference();
    const auto done = [&] {
        sched::LockGuard guard(renderer().getRendererLock());
        bool value = false;
        effect->getProperties().get<bool>(QM::QM_INT_EFFECT_IS_DONE, value);
        return value;
    };
    run(1);
    EXPECT_EQ(running(), 1u);
    advanceClock(0.15);
    run(1);
    EXPECT_FALSE(done());
    advanceClock(0.06);
    run(1);
    EXPECT_TRUE(done()) << "0.21 s have passed";
    EXPECT_EQ(running(), 1u) << "done, not yet stopped";
    run(3);
    EXPECT_EQ(running(), 1u) << "nothing stops it before the next frame end";
    qmBeginFrame();
    qmEndFrame();
    EXPECT_EQ(running(), 1u) << "queued to stop";
    QMboolean active = QM_TRUE;
    qmGetEffectbv(id, QM_EFFECT_PROPERTY_ACTIVE, &active);
    EXPECT_EQ(active, QM_FALSE);
    run(1);
    EXPECT_EQ(running(), 0u);
    EXPECT_EQ(shadersInPipeline(), 0u);
    qmBeginFrame();
    EXPECT_EQ(effect->referenceCount(), 1) << "once its frame is cleared, only the test holds it";
    qmEndFrame();
    effect->releaseReference();
    EXPECT_TRUE(errors().empty());
}

// An untriggered effect ignores its duration.
TEST_F(EffectTest, AStartedEffectRunsUntilItIsStopped) {
    const unsigned id = qmGenEffects(1);
    qmBeginFrame();
    qmEffectd(QM_EFFECT_PROPERTY_DURATION, 10.0);
    qmStartEffect(QM_EFFECT_VISCOUS, id);
    qmEndFrame();
    run(1);
    advanceClock(5.0);
    run(2);
    qmBeginFrame();
    qmEndFrame();
    run(1);
    EXPECT_EQ(running(), 1u);
    qmBeginFrame();
    qmStopEffect(id);
    qmEndFrame();
    run(1);
    EXPECT_EQ(running(), 0u);
    qmBeginFrame();
    QMboolean active = QM_TRUE;
    qmGetEffectbv(id, QM_EFFECT_PROPERTY_ACTIVE, &active);
    EXPECT_EQ(active, QM_FALSE);
    qmStopEffect(id);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION}) << "no longer in the last frame";
    qmEndFrame();
}

// Starting an identifier again, or updating it, changes the one running
// effect; its force follows.
TEST_F(EffectTest, TheSameIdentifierInTwoFramesUpdatesOneRunningEffect) {
    const unsigned id = qmGenEffects(1);
    const double up[3] = {0.0, 1.0, 0.0};
    qmBeginFrame();
    startConstant(id, 0.2, up);
    qmEndFrame();
    run(kRampSteps);
    EXPECT_NEAR(appliedForce().y, 0.6, 0.02);
    QM::IEffect* first = context().lastScene->getEffects().find(id);

    qmBeginFrame();
    startConstant(id, 0.6, up);
    qmEndFrame();
    run(20);
    EXPECT_EQ(running(), 1u);
    EXPECT_EQ(shadersInPipeline(), 1u);
    EXPECT_EQ(context().lastScene->getEffects().find(id), first) << "the running effect keeps its identity";
    EXPECT_NEAR(appliedForce().y, 1.8, 0.02);
    double magnitude = 0.0;
    qmGetEffectdv(id, QM_EFFECT_PROPERTY_MAGNITUDE, &magnitude);
    EXPECT_EQ(magnitude, 0.6);

    qmBeginFrame();
    qmEffectd(QM_EFFECT_PROPERTY_MAGNITUDE, 0.4);
    qmUpdateEffect(id);
    qmEndFrame();
    run(20);
    EXPECT_EQ(running(), 1u);
    EXPECT_NEAR(appliedForce().y, 1.2, 0.02);
    QMint type = 0;
    qmGetEffectiv(id, QM_EFFECT_PROPERTY_TYPE, &type);
    EXPECT_EQ(static_cast<std::uint32_t>(type),
              static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(QM_EFFECT_CONSTANT)))
        << "an update keeps the type";
    EXPECT_TRUE(errors().empty());
}

// What the callbacks of a callback effect saw.
struct Seen {
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<int> forces{0};
    std::atomic<bool> otherThread{false};
    std::atomic<bool> proxyRead{false};
    std::thread::id servo;
};

void onStart(QMcache, void* user) { ++static_cast<Seen*>(user)->starts; }
void onStop(QMcache, void* user) { ++static_cast<Seen*>(user)->stops; }
void pushUp(QMdouble* force, QMcache cache, void* user) {
    auto* seen = static_cast<Seen*>(user);
    if (std::this_thread::get_id() != seen->servo) {
        seen->otherThread = true;
    }
    double proxy[3] = {};
    qmCacheGetDoublev(cache, QM_PROXY_POSITION, proxy);
    seen->proxyRead = std::isfinite(proxy[0]);
    force[1] += 1.0;
    ++seen->forces;
}

// Runs once, at the next tick.
ZVCallbackCode recordServoThread(void* user) {
    static_cast<Seen*>(user)->servo = std::this_thread::get_id();
    return ZV_CALLBACK_DONE;
}

TEST_F(EffectTest, ACallbackEffectsForcesAreAddedOnTheServoThread) {
    Seen seen;
    zvScheduleAsynchronous(recordServoThread, &seen, ZV_DEFAULT_SCHEDULER_PRIORITY);
    ticks(1);
    ASSERT_NE(seen.servo, std::thread::id());
    ASSERT_NE(seen.servo, std::this_thread::get_id());
    const unsigned id = qmGenEffects(1);
    qmBeginFrame();
    qmCallback(QM_EFFECT_COMPUTE_FORCE, reinterpret_cast<QMcallback>(&pushUp), &seen);
    qmCallback(QM_EFFECT_START, reinterpret_cast<QMcallback>(&onStart), &seen);
    qmCallback(QM_EFFECT_STOP, reinterpret_cast<QMcallback>(&onStop), &seen);
    qmStartEffect(QM_EFFECT_CALLBACK, id);
    qmEndFrame();
    run(kRampSteps);
    EXPECT_EQ(seen.starts.load(), 1);
    EXPECT_GE(seen.forces.load(), kRampSteps * 10 - 10);
    EXPECT_FALSE(seen.otherThread.load()) << "every call on the servo thread";
    EXPECT_TRUE(seen.proxyRead.load());
    EXPECT_NEAR(appliedForce().y, 1.0, 0.02);

    qmBeginFrame();
    qmStopEffect(id);
    qmEndFrame();
    run(1);
    EXPECT_EQ(seen.stops.load(), 1);
    const int calls = seen.forces.load();
    run(5);
    EXPECT_EQ(seen.forces.load(), calls) << "stopped";
    EXPECT_TRUE(errors().empty());
}

void writeNotANumber(QMdouble* force, QMcache, void*) { force[0] = std::nan(""); }
void writeHuge(QMdouble* force, QMcache, void*) { force[2] = 1e300; }

// Parameters and callbacks that are out of range or not numbers never
// reach the device: it reports no error and its force stays finite and
// within its maximum.
TEST_F(EffectTest, NoEffectSendsTheDeviceANonFiniteOrExcessiveForce) {
    double nominal = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_FORCE, &nominal);
    const unsigned first = qmGenEffects(4);
    qmBeginFrame();
    qmEffectd(QM_EFFECT_PROPERTY_MAGNITUDE, 1e12);
    qmEffectd(QM_EFFECT_PROPERTY_GAIN, -5.0);
    const double huge[3] = {1e300, 1e300, 0.0};
    qmEffectdv(QM_EFFECT_PROPERTY_DIRECTION, huge);
    qmStartEffect(QM_EFFECT_CONSTANT, first);
    qmCallback(QM_EFFECT_COMPUTE_FORCE, reinterpret_cast<QMcallback>(&writeNotANumber), nullptr);
    qmStartEffect(QM_EFFECT_CALLBACK, first + 1);
    qmCallback(QM_EFFECT_COMPUTE_FORCE, reinterpret_cast<QMcallback>(&writeHuge), nullptr);
    qmStartEffect(QM_EFFECT_CALLBACK, first + 2);
    qmEffectd(QM_EFFECT_PROPERTY_GAIN, std::nan(""));
    qmEffectd(QM_EFFECT_PROPERTY_DURATION, INFINITY);
    const double notANumber[3] = {std::nan(""), 0.0, 0.0};
    qmEffectdv(QM_EFFECT_PROPERTY_POSITION, notANumber);
    EXPECT_EQ(errors(), (std::vector<QMenum>{QM_INVALID_VALUE})) << "stored once: the same error three times";
    qmStartEffect(QM_EFFECT_SPRING, first + 3);
    qmEndFrame();
    for (int i = 0; i < kRampSteps; ++i) {
        run(1);
        const zvuVector3Dd f = appliedForce();
        ASSERT_TRUE(std::isfinite(f.x) && std::isfinite(f.y) && std::isfinite(f.z)) << "step " << i;
        ASSERT_LE(f.length(), nominal + 1e-6) << "step " << i;
    }
    EXPECT_EQ(running(), 4u);
    EXPECT_TRUE(errors().empty()) << "the device refused nothing";
}

// Every error of the effect exports, and that a failed call changes
// nothing.
TEST_F(EffectTest, TheEffectExportsCheckTheirArguments) {
    const unsigned id = qmGenEffects(1);
    const double v[3] = {1.0, 2.0, 3.0};
    double d[3] = {};
    QMint n[3] = {};
    QMboolean b = QM_FALSE;
    qmStartEffect(QM_EFFECT_CONSTANT, id);
    qmStopEffect(id);
    qmTriggerEffect(QM_EFFECT_CONSTANT);
    qmUpdateEffect(id);
    EXPECT_EQ(errors(), (std::vector<QMenum>{QM_INVALID_OPERATION})) << "outside a frame (stored once)";

    struct Case {
        const char* what;
        void (*call)(unsigned id, const double* v, double* d, QMint* n, QMboolean* b);
        QMenum* expected;
    };
    const Case cases[] = {
        {"an identifier that was never generated",
         [](unsigned i, const double*, double*, QMint*, QMboolean*) { qmStartEffect(QM_EFFECT_CONSTANT, i + 7); },
         &QM_INVALID_VALUE},
        {"a type without a builder",
         [](unsigned i, const double*, double*, QMint*, QMboolean*) { qmStartEffect(QM_EFFECT_SINE, i); },
         &QM_INVALID_ENUM},
        {"a null type", [](unsigned i, const double*, double*, QMint*, QMboolean*) { qmStartEffect(nullptr, i); },
         &QM_INVALID_ENUM},
        {"the internal placeholder type",
         [](unsigned i, const double*, double*, QMint*, QMboolean*) { qmStartEffect(QM::QM_INT_EFFECT_BASE, i); },
         &QM_INVALID_ENUM},
        {"triggering a type without a builder",
         [](unsigned, const double*, double*, QMint*, QMboolean*) { qmTriggerEffect(QM_EFFECT_RAMP); },
         &QM_INVALID_ENUM},
        {"updating an effect the last frame lacks",
         [](unsigned i, const double*, double*, QMint*, QMboolean*) { qmUpdateEffect(i); }, &QM_INVALID_VALUE},
        {"stopping an identifier never generated",
         [](unsigned i, const double*, double*, QMint*, QMboolean*) { qmStopEffect(i + 7); }, &QM_INVALID_VALUE},
        {"stopping an effect the last frame lacks",
         [](unsigned i, const double*, double*, QMint*, QMboolean*) { qmStopEffect(i); }, &QM_INVALID_OPERATION},
        {"a scalar property of another name",
         [](unsigned, const double*, double*, QMint*, QMboolean*) { qmEffectd(QM_STIFFNESS, 1.0); }, &QM_INVALID_ENUM},
        {"a vector name for a scalar",
         [](unsigned, const double*, double*, QMint*, QMboolean*) { qmEffecti(QM_EFFECT_PROPERTY_POSITION, 1); },
         &QM_INVALID_ENUM},
        {"a scalar name for a vector",
         [](unsigned, const double* v, double*, QMint*, QMboolean*) { qmEffectdv(QM_EFFECT_PROPERTY_GAIN, v); },
         &QM_INVALID_ENUM},
        {"a null vector",
         [](unsigned, const double*, double*, QMint*, QMboolean*) {
             qmEffectiv(QM_EFFECT_PROPERTY_DIRECTION, nullptr);
         },
         &QM_INVALID_VALUE},
        {"a value that is not finite",
         [](unsigned, const double*, double*, QMint*, QMboolean*) {
             qmEffectd(QM_EFFECT_PROPERTY_MAGNITUDE, -INFINITY);
         },
         &QM_INVALID_VALUE},
        {"reading an effect the last frame lacks",
         [](unsigned i, const double*, double* d, QMint*, QMboolean*) { qmGetEffectdv(i, QM_EFFECT_PROPERTY_GAIN, d); },
         &QM_INVALID_VALUE},
        {"reading a name that is not an effect property",
         [](unsigned i, const double*, double*, QMint* n, QMboolean*) { qmGetEffectiv(i, QM_DAMPING, n); },
         &QM_INVALID_ENUM},
        {"asking whether active with another name",
         [](unsigned i, const double*, double*, QMint*, QMboolean* b) { qmGetEffectbv(i, QM_EFFECT_PROPERTY_GAIN, b); },
         &QM_INVALID_ENUM},
    };
    qmBeginFrame();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.call(id, v, d, n, &b);
        EXPECT_EQ(errors(), std::vector<QMenum>{*c.expected});
    }
    EXPECT_EQ(context().frameScene->getEffects().size(), 0u) << "no failed call added an effect";
    EXPECT_EQ(qmGenEffects(1), id + 1) << "a refused trigger took no identifier";
    qmEffectd(QM_EFFECT_PROPERTY_TYPE, 3.0);
    EXPECT_TRUE(errors().empty()) << "the type passes the check and changes nothing";
    qmEndFrame();
}

// An effect stopped, or whose identifier is deleted, before the collision
// side has run it never exerts a force, and the frame end forgets it; one
// that runs stops at the next frame end, also when only its identifier is
// deleted; one deleted in the frame that started it never starts.
TEST_F(EffectTest, AStoppedOrDeletedEffectLeavesAtTheNextFrameEndWhetherOrNotItRan) {
    struct Case {
        const char* what;
        bool ranFirst;   // collision steps between its start and its end
        bool deleteId;   // its identifier is deleted instead of stopped
        bool sameFrame;  // deleted in the frame that starts it
    };
    const Case cases[] = {
        {"stopped before it ran", false, false, false},
        {"deleted before it ran", false, true, false},
        {"stopped while it runs", true, false, false},
        {"deleted while it runs", true, true, false},
        {"deleted in the frame that starts it", false, true, true},
    };
    const double up[3] = {0.0, 1.0, 0.0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const unsigned id = qmGenEffects(1);
        qmBeginFrame();
        startConstant(id, 0.5, up);
        if (!c.sameFrame) {
            qmEndFrame();
            if (c.ranFirst) {
                run(kRampSteps);
                EXPECT_NEAR(appliedForce().y, 1.5, 0.05);
            }
            qmBeginFrame();
        }
        if (c.deleteId) {
            qmDeleteEffects(id, 1);
        } else {
            qmStopEffect(id);
        }
        qmEndFrame();
        QMboolean active = QM_TRUE;
        qmGetEffectbv(id, QM_EFFECT_PROPERTY_ACTIVE, &active);
        EXPECT_EQ(active, QM_FALSE) << "the frame end forgot it";
        run(kRampSteps);
        EXPECT_EQ(running(), 0u);
        EXPECT_EQ(shadersInPipeline(), 0u);
        EXPECT_NEAR(appliedForce().y, 0.0, 0.05) << "no force of it reaches the device";
        qmBeginFrame();
        qmEndFrame();
        EXPECT_EQ(context().lastScene->getEffects().size(), 0u);
        EXPECT_TRUE(errors().empty());
    }
}

// The getters read the effect of the last frame; integers are rounded, the
// type is a symbol.
TEST_F(EffectTest, TheGettersReadTheLastFramesEffect) {
    const unsigned id = qmGenEffects(1);
    qmBeginFrame();
    qmEffecti(QM_EFFECT_PROPERTY_DURATION, 250);
    qmEffectd(QM_EFFECT_PROPERTY_MAGNITUDE, 0.5);
    const QMint direction[3] = {1, -2, 3};
    qmEffectiv(QM_EFFECT_PROPERTY_DIRECTION, direction);
    qmStartEffect(QM_EFFECT_CONSTANT, id);
    QMboolean active = QM_TRUE;
    qmGetEffectbv(id, QM_EFFECT_PROPERTY_ACTIVE, &active);
    EXPECT_EQ(active, QM_FALSE) << "not before the frame ends";
    qmEndFrame();
    qmGetEffectbv(id, QM_EFFECT_PROPERTY_ACTIVE, &active);
    EXPECT_EQ(active, QM_TRUE);
    double d[3] = {};
    qmGetEffectdv(id, QM_EFFECT_PROPERTY_DIRECTION, d);
    EXPECT_EQ(d[1], -2.0);
    qmGetEffectdv(id, QM_EFFECT_PROPERTY_DURATION, d);
    EXPECT_EQ(d[0], 250.0);
    QMint n[3] = {};
    qmGetEffectiv(id, QM_EFFECT_PROPERTY_MAGNITUDE, n);
    EXPECT_EQ(n[0], 1) << "0.5 rounds up";
    d[0] = 42.0;
    qmGetEffectdv(id, QM_EFFECT_PROPERTY_TYPE, d);
    EXPECT_EQ(d[0], 42.0) << "a symbol has no double value";
    qmGetEffectdv(id, QM_EFFECT_PROPERTY_GAIN, d);
    EXPECT_EQ(d[0], 0.0);
    qmGetEffectdv(id, QM_EFFECT_PROPERTY_FREQUENCY, d);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_VALUE}) << "a constant effect has no frequency";
}

}  // namespace

namespace {

// A collision-thread callback may set effect properties, but the client's
// scenes are not its to change or read.
TEST_F(EffectTest, TheCollisionThreadMayNotStartStopOrReadEffects) {
    const unsigned id = qmGenEffects(1);
    qmBeginFrame();
    qmStartEffect(QM_EFFECT_CONSTANT, id);
    qmEndFrame();
    qmBeginFrame();
    std::vector<QMenum> seen;
    onCollisionThread([&] {
        qmMakeCurrent(rc);
        QMboolean active = QM_FALSE;
        double gain = 0.0;
        qmStartEffect(QM_EFFECT_SPRING, id);
        qmTriggerEffect(QM_EFFECT_CONSTANT);
        qmUpdateEffect(id);
        qmStopEffect(id);
        qmGetEffectdv(id, QM_EFFECT_PROPERTY_GAIN, &gain);
        qmGetEffectbv(id, QM_EFFECT_PROPERTY_ACTIVE, &active);
        qmEffectd(QM_EFFECT_PROPERTY_GAIN, 0.25);
        seen = errors();
        qmMakeCurrent(nullptr);
    });
    EXPECT_EQ(seen, std::vector<QMenum>{QM_INVALID_OPERATION}) << "six refusals, stored once";
    EXPECT_EQ(context().frameScene->getEffects().size(), 0u);
    double gain = 0.0;
    context().state->getAttributes().get<double>(QM_EFFECT_PROPERTY_GAIN, gain);
    EXPECT_EQ(gain, 0.25);
    qmEndFrame();
    QMboolean active = QM_FALSE;
    qmGetEffectbv(id, QM_EFFECT_PROPERTY_ACTIVE, &active);
    EXPECT_EQ(active, QM_TRUE) << "not stopped";
    EXPECT_TRUE(errors().empty());
}

}  // namespace

namespace {

void countCall(QMcache, void* user) { static_cast<std::atomic<int>*>(user)->fetch_add(1); }
void pushDown(QMdouble* force, QMcache cache, void*) {
    double p[3];
    qmCacheGetDoublev(cache, QM_PROXY_POSITION, p);
    force[2] -= 0.1;
}

// Three threads share the effects: the client starts, updates, triggers,
// stops and reads them every frame, the collision thread steps on its own
// timer and the servo loop ticks. The thread sanitizer build checks that
// every shared value is guarded; at the end every effect has stopped and
// every callback effect's start was matched by a stop.
TEST_F(EffectTest, ClientCollisionAndServoThreadsShareEffectsSafely) {
    const unsigned ids = qmGenEffects(4);
    // An effect still running when the test body ends is stopped when
    // TearDown deletes the context, and its stop callback still counts: the
    // counters must outlive the body.
    static std::atomic<int> starts;
    static std::atomic<int> stops;
    starts = 0;
    stops = 0;
    std::atomic<bool> stop{false};
    std::thread servo([&] {
        while (!stop.load()) {
            korvo_sim_run_ticks(5);
        }
    });
    QM::collisionScheduler().setRate(1000);
    QM::collisionScheduler().setStopped(false);
    QMenum types[] = {QM_EFFECT_CONSTANT, QM_EFFECT_FRICTION, QM_EFFECT_SPRING, QM_EFFECT_CALLBACK};
    // One callback effect reaches the servo side before the frames race the
    // steps (an effect stopped before any step started it never starts, so
    // the race alone may start none).
    qmBeginFrame();
    qmCallback(QM_EFFECT_COMPUTE_FORCE, reinterpret_cast<QMcallback>(&pushDown), nullptr);
    qmCallback(QM_EFFECT_START, reinterpret_cast<QMcallback>(&countCall), &starts);
    qmCallback(QM_EFFECT_STOP, reinterpret_cast<QMcallback>(&countCall), &stops);
    qmStartEffect(QM_EFFECT_CALLBACK, ids + 3);
    qmEndFrame();
    for (int i = 0; i < 2000 && starts.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GT(starts.load(), 0) << "the first callback effect never started";
    for (int frame = 0; frame < 200; ++frame) {
        advanceClock(0.01);
        qmBeginFrame();
        qmEffectd(QM_EFFECT_PROPERTY_MAGNITUDE, 0.1 * (frame % 5));
        qmEffectd(QM_EFFECT_PROPERTY_GAIN, 0.2);
        qmEffectd(QM_EFFECT_PROPERTY_DURATION, 30.0);
        qmCallback(QM_EFFECT_COMPUTE_FORCE, reinterpret_cast<QMcallback>(&pushDown), nullptr);
        qmCallback(QM_EFFECT_START, reinterpret_cast<QMcallback>(&countCall), &starts);
        qmCallback(QM_EFFECT_STOP, reinterpret_cast<QMcallback>(&countCall), &stops);
        const unsigned id = ids + static_cast<unsigned>(frame % 4);
        QMboolean active = QM_FALSE;
        qmGetEffectbv(id, QM_EFFECT_PROPERTY_ACTIVE, &active);
        if (frame % 7 == 0 && active) {
            qmStopEffect(id);
        } else if (frame % 3 == 0 && active) {
            qmUpdateEffect(id);
        } else {
            qmStartEffect(types[frame % 4], id);
        }
        if (frame % 10 == 0) {
            qmTriggerEffect(types[(frame / 10) % 4]);
        }
        if (active) {
            double position[3];
            qmGetEffectdv(id, QM_EFFECT_PROPERTY_POSITION, position);
        }
        qmEndFrame();
    }
    qmBeginFrame();
    for (unsigned i = 0; i < 4; ++i) {
        QMboolean active = QM_FALSE;
        qmGetEffectbv(ids + i, QM_EFFECT_PROPERTY_ACTIVE, &active);
        if (active) {
            qmStopEffect(ids + i);
        }
    }
    qmEndFrame();
    advanceClock(1.0);
    for (int i = 0; i < 200 && running() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        qmBeginFrame();
        qmEndFrame();
    }
    QM::collisionScheduler().setStopped(true);
    QM::collisionScheduler().setRate(QM::CollisionScheduler::kDefaultRate);
    stop.store(true);
    servo.join();
    errors();
    EXPECT_EQ(running(), 0u);
    EXPECT_EQ(starts.load(), stops.load());
}

}  // namespace

namespace {

// The type is part of the effect group: what a pushed group holds is gone
// again after the pop.
TEST_F(EffectTest, TheEffectTypeIsSavedAndRestoredWithTheEffectGroup) {
    QM::IStackedAttributeMap& attributes = context().state->getAttributes();
    QMenum type = QM_EFFECT_SINE;
    ASSERT_TRUE(attributes.get<QMenum>(QM_EFFECT_PROPERTY_TYPE, type));
    EXPECT_EQ(type, nullptr) << "the state's own type is none";
    qmPushAttrib(QM_EFFECT_BIT);
    ASSERT_TRUE(attributes.set<QMenum>(QM_EFFECT_PROPERTY_TYPE, QM_EFFECT_SPRING));
    qmPopAttrib();
    ASSERT_TRUE(attributes.get<QMenum>(QM_EFFECT_PROPERTY_TYPE, type));
    EXPECT_EQ(type, nullptr);
    EXPECT_TRUE(errors().empty());
}

}  // namespace
