// The haptic loop end to end on the simulated device: the collision thread
// finds the features near the proxy, the servo pipeline couples the device
// to the proxy, and the virtual hand feels it. Servo ticks run on the manual
// clock and collision steps one at a time, so results are exact.
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "collision_test_support.h"
#include "korvo/korvo_sim.h"
#include "qm/collision/CollisionScheduler.h"
#include "qm/servo/Pipeline.h"
#include "shape_test_support.h"

namespace {

using qmtest::ShapeTest;
using zvu::zvuVector3Dd;

// A square in the plane z = `z` (workspace millimetres), facing +z.
void squareAt(unsigned id, double h, double z) {
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBegin(QM_QUADS);
    qmVertex3d(-h, -h, z);
    qmVertex3d(h, -h, z);
    qmVertex3d(h, h, z);
    qmVertex3d(-h, h, z);
    qmEnd();
    qmEndShape();
}

class HapticLoop : public ShapeTest {
protected:
    // The device ramps its force up over half a second after forces are
    // switched on; tests that measure forces wait that long first.
    static constexpr int kRampSteps = 60;

    void SetUp() override {
        ShapeTest::SetUp();
        qmDisable(QM_USE_GL_MODELVIEW);
    }
    zvuVector3Dd stylus() const {
        double p[3];
        double v[3];
        double f[3];
        korvo_sim_get_true_state(device, p, v, f);
        return {p[0], p[1], p[2]};
    }
    zvuVector3Dd appliedForce() const {
        double p[3];
        double v[3];
        double f[3];
        korvo_sim_get_true_state(device, p, v, f);
        return {f[0], f[1], f[2]};
    }
    void placeStylus(const zvuVector3Dd& p) {
        const double where[3] = {p.x, p.y, p.z};
        ASSERT_EQ(korvo_sim_place_stylus(device, where), 0);
    }
    void handTo(const zvuVector3Dd& p) {
        const double where[3] = {p.x, p.y, p.z};
        ASSERT_EQ(korvo_sim_set_hand_target(device, where), 0);
    }
    // One frame holding a square of half-size 50 at height z: a primitive
    // shape, or one captured from OpenGL through the feedback buffer (under
    // a projection that covers the workspace).
    void drawFrame(unsigned id, double z, bool feedback = false) {
        qmBeginFrame();
        if (feedback) {
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            glOrtho(-100, 100, -100, 100, -100, 100);
            glMatrixMode(GL_MODELVIEW);
            qmBeginShape(QM_SHAPE_FEEDBACK_BUFFER, id);
            qmtest::drawSquare(50.0, z, false);
            qmEndShape();
        } else {
            squareAt(id, 50.0, z);
        }
        qmEndFrame();
    }
    const QM::ISceneRenderer& renderer() { return *context().sceneRenderer; }
};

TEST_F(HapticLoop, AddingAContextStartsTheServoLoopAndDeletingItStopsIt) {
    EXPECT_EQ(zvIsSchedulerRunning(), 1);
    EXPECT_TRUE(renderer().getPipeline().isRunning());
    qmMakeCurrent(nullptr);
    qmDeleteContext(rc);
    rc = nullptr;
    EXPECT_EQ(zvIsSchedulerRunning(), 0);
}

// The program started the servo loop for its own callbacks: the rendering
// library leaves it running when its last pipeline goes.
TEST_F(HapticLoop, TheApplicationsOwnServoLoopKeepsRunning) {
    qmMakeCurrent(nullptr);
    qmDeleteContext(rc);
    zvStartScheduler();
    rc = qmCreateContext(device);
    qmMakeCurrent(rc);
    EXPECT_TRUE(renderer().getPipeline().isRunning());
    qmMakeCurrent(nullptr);
    qmDeleteContext(rc);
    rc = nullptr;
    EXPECT_EQ(zvIsSchedulerRunning(), 1);
}

// Pressed straight into a plane, the proxy stays on the plane at the
// device's projection and the force is the surface's stiffness times the
// penetration, along the normal. The hand, a soft spring toward a point 30
// below the plane, settles where the two springs balance:
// kh (z + 30) = ks (-z), with ks the device stiffness times the material's.
// The square is a primitive shape, then one captured from OpenGL.
TEST_F(HapticLoop, APlanePushesBackWithStiffnessTimesPenetration) {
    for (const bool feedback : {false, true}) {
        SCOPED_TRACE(feedback ? "feedback-buffer square" : "primitive square");
        const double handStiffness = 0.1;
        ASSERT_EQ(korvo_sim_set_hand_gains(device, handStiffness, 0.005), 0);
        placeStylus({3.0, -2.0, 20.0});
        const unsigned id = qmGenShapes(1);
        drawFrame(id, 0.0, feedback);
        run(10);
        handTo({3.0, -2.0, -30.0});
        run(300);
        double nominal = 0.0;
        zvGetDoublev(ZV_NOMINAL_MAX_STIFFNESS, &nominal);
        const double surface = nominal * 0.8;
        const double expected = -30.0 * handStiffness / (handStiffness + surface);
        const zvuVector3Dd p = stylus();
        EXPECT_NEAR(p.z, expected, std::abs(expected) * 0.01) << "within 1 % of the balance point";
        EXPECT_NEAR(p.x, 3.0, 0.05);
        const QM::IProxy& proxy = renderer().getCollisionProxy();
        const zvuVector3Dd onPlane = proxy.motionTransform(2)->position();
        EXPECT_NEAR(onPlane.z, 0.0, 0.02);
        EXPECT_NEAR(onPlane.x, p.x, 0.05);
        EXPECT_TRUE(proxy.isTouching());
        const zvuVector3Dd force = appliedForce();
        EXPECT_NEAR(force.z, surface * -p.z, 0.02 * surface * -p.z);
        EXPECT_NEAR(force.x, 0.0, 0.05);
        // The client sees the contact.
        qmBeginFrame();
        QMboolean touching = QM_FALSE;
        qmGetBooleanv(QM_PROXY_IS_TOUCHING, &touching);
        EXPECT_EQ(touching, QM_TRUE);
        qmGetShapeBooleanv(id, QM_PROXY_IS_TOUCHING, &touching);
        EXPECT_EQ(touching, QM_TRUE);
        double normal[3] = {};
        qmGetDoublev(QM_PROXY_TOUCH_NORMAL, normal);
        EXPECT_NEAR(normal[2], 1.0, 1e-6);
        qmEndFrame();
        EXPECT_TRUE(errors().empty());
    }
}

// Settling does not ring: once near the balance point the stylus stays
// within a small band instead of oscillating around it.
TEST_F(HapticLoop, TheClosedLoopSettlesWithoutOscillating) {
    ASSERT_EQ(korvo_sim_set_hand_gains(device, 0.1, 0.005), 0);
    for (const bool feedback : {false, true}) {
        SCOPED_TRACE(feedback ? "feedback-buffer square" : "primitive square");
        placeStylus({0.0, 0.0, 10.0});
        const unsigned id = qmGenShapes(1);
        drawFrame(id, 0.0, feedback);
        run(10);
        handTo({0.0, 0.0, -30.0});
        run(200);
        double low = 1e9;
        double high = -1e9;
        for (int i = 0; i < 50; ++i) {
            run(1);
            low = std::min(low, stylus().z);
            high = std::max(high, stylus().z);
        }
        EXPECT_LT(high - low, 0.05) << "the stylus still moves by " << high - low << " mm";
    }
}

// The hand presses the stylus into a surface with static friction 0.5 and
// pulls it sideways. Held by the friction anchor, the stylus only leans over
// by the springs' compliance (kh and ks, the hand's and the surface's
// stiffness) while the pull is under half the pressing force. Over it, the
// stylus slides at least until the pull falls back to that ratio (farther,
// as the dynamic friction is lower), never past the hand.
TEST_F(HapticLoop, TheStylusSticksUntilThePullExceedsTheStaticFriction) {
    const double kh = 0.05;
    const double press = 40.0;  // the hand's target below the surface
    double nominal = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_STIFFNESS, &nominal);
    const double ks = nominal * 0.8;
    struct Case {
        double ratio;  // the hand's pull over its pressing force
        bool slides;
    };
    for (const Case c : {Case{0.3, false}, Case{0.8, true}}) {
        SCOPED_TRACE(c.ratio);
        const double x0 = -20.0;
        ASSERT_EQ(korvo_sim_set_hand_gains(device, kh, 0.005), 0);
        placeStylus({x0, 0.0, 5.0});
        qmMaterialf(QM_FRONT, QM_STATIC_FRICTION, 0.5f);
        qmMaterialf(QM_FRONT, QM_DYNAMIC_FRICTION, 0.2f);
        drawFrame(qmGenShapes(1), 0.0);
        run(10);
        handTo({x0, 0.0, -press});
        run(kRampSteps);
        const double pull = c.ratio * press;
        handTo({x0 + pull, 0.0, -press});
        run(200);
        const double moved = stylus().x - x0;
        if (c.slides) {
            EXPECT_GT(moved, pull - 0.5 * press - 2.0);
            EXPECT_LT(moved, pull);
        } else {
            EXPECT_NEAR(moved, kh * pull / (kh + ks), 0.1) << "held where the springs balance";
        }
        EXPECT_TRUE(renderer().getCollisionProxy().isTouching());
    }
}

// Before the first frame the collision proxy follows the device, so the
// first scene is swept from where the device is, not from where it was
// when the context was made. Here the context was made with the stylus at
// the centre, below a two-sided square drawn later at z = 5; the stylus has
// been lifted above it meanwhile, and stays free.
TEST_F(HapticLoop, TheFirstSceneIsMetFromWhereTheDeviceIsNow) {
    placeStylus({0.0, 0.0, 20.0});
    run(5);
    qmTouchableFace(QM_FRONT_AND_BACK);
    drawFrame(qmGenShapes(1), 5.0);
    run(3);
    const QM::IProxy& proxy = renderer().getCollisionProxy();
    EXPECT_FALSE(proxy.isTouching());
    EXPECT_TRUE(qmtest::near3(proxy.motionTransform(2)->position(), stylus(), 0.05));
    EXPECT_LT(appliedForce().length(), 0.05);
}

// A stroke that crosses a thin shape within one collision period is caught
// by the sweep from the proxy: the proxy stays on the near side.
TEST_F(HapticLoop, AFastStrokeDoesNotTunnel) {
    placeStylus({0.0, 0.0, 15.0});
    const unsigned id = qmGenShapes(1);
    drawFrame(id, 0.0);
    run(kRampSteps);
    placeStylus({0.0, 0.0, -15.0});
    run(3);
    const QM::IProxy& proxy = renderer().getCollisionProxy();
    EXPECT_GT(proxy.motionTransform(2)->position().z, -0.02);
    EXPECT_TRUE(proxy.isTouching());
    EXPECT_GT(appliedForce().z, 1.0) << "pushed back up";
}

// No force above the device's nominal maximum reaches the motors, however
// deep the stylus is.
TEST_F(HapticLoop, TheForceNeverExceedsTheNominalMaximum) {
    double maximum = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_FORCE, &maximum);
    ASSERT_EQ(korvo_sim_set_hand_gains(device, 2.0, 0.01), 0);
    placeStylus({0.0, 0.0, 5.0});
    const unsigned id = qmGenShapes(1);
    drawFrame(id, 0.0);
    run(5);
    handTo({0.0, 0.0, -50.0});
    double largest = 0.0;
    for (int i = 0; i < 100; ++i) {
        run(1);
        largest = std::max(largest, appliedForce().length());
    }
    EXPECT_LE(largest, maximum + 1e-9);
    EXPECT_GT(largest, 0.9 * maximum);
}

// Adds or removes a force shader on the servo side, as the library's own
// synchronous operations do.
void changeForceShader(const QM::Pipeline& pipeline, QM::IForceShader* shader, bool add) {
    struct Change {
        QM::Pipeline* pipeline;
        QM::IForceShader* shader;
        bool add;
    } change{const_cast<QM::Pipeline*>(&pipeline), shader, add};
    zvScheduleSynchronous(
        [](void* data) -> ZVCallbackCode {
            auto* c = static_cast<Change*>(data);
            if (c->add) {
                c->pipeline->addForceShader(c->shader, nullptr);
            } else {
                c->pipeline->removeForceShader(c->shader);
            }
            return ZV_CALLBACK_DONE;
        },
        &change, QM::PipelineScheduler::priorityOf(0));
}

// A force shader (an effect's, which may carry what the application
// computes) that adds a fixed force every tick.
class ConstantForce final : public QM::IForceShader {
public:
    explicit ConstantForce(const zvuVector3Dd& force) : force_(force) {}
    void start(const QM::ITarget&, const QM::MotionTransform&, void*) noexcept override {}
    void stop(const QM::ITarget&, const QM::MotionTransform&, void*) noexcept override {}
    void update(const QM::ITarget&, const QM::MotionTransform&, void*, void*) noexcept override {}
    void computeForce(const QM::ITarget&, const QM::MotionTransform&, void*, const QM::IDeviceLimits&,
                      zvuVector3Dd& force, zvuVector3Dd&) noexcept override {
        force += force_;
    }

private:
    zvuVector3Dd force_;
};

// Whatever the force shaders add, the motors get a finite force within the
// nominal maximum: a non-finite sum is dropped, a finite one scaled down,
// before the device library sees them.
TEST_F(HapticLoop, NoNonFiniteOrExcessiveForceReachesTheDevice) {
    double maximum = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_FORCE, &maximum);
    ASSERT_EQ(korvo_sim_set_hand_gains(device, 50.0, 0.5), 0);  // the hand holds the stylus
    placeStylus({0.0, 0.0, 10.0});
    drawFrame(qmGenShapes(1), 0.0);
    run(kRampSteps);
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        zvuVector3Dd added;
        double least;  // of the force the motors apply
    };
    const Case cases[] = {
        {{std::nan(""), 0.0, 0.0}, 0.0}, {{0.0, inf, 0.0}, 0.0},
        {{-inf, inf, 1.0}, 0.0},         {{0.0, 0.0, 1e9}, 0.99},  // times the maximum
        {{1e300, 1e300, 0.0}, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.added.x << ", " << c.added.y << ", " << c.added.z);
        ConstantForce shader(c.added);
        changeForceShader(renderer().getPipeline(), &shader, true);
        ticks(3);
        const zvuVector3Dd f = appliedForce();
        changeForceShader(renderer().getPipeline(), &shader, false);
        EXPECT_TRUE(std::isfinite(f.x) && std::isfinite(f.y) && std::isfinite(f.z));
        EXPECT_LE(f.length(), maximum + 1e-9);
        EXPECT_GE(f.length(), c.least * maximum);
        ticks(3);
    }
    run(1);
    EXPECT_TRUE(errors().empty()) << "nothing the device would refuse was sent";
}

// Two contexts on one device each couple it to their own proxy; their
// forces add up in the one device frame.
TEST_F(HapticLoop, TwoContextsOnOneDeviceSumTheirForces) {
    // A firm grip holds the stylus where it is put.
    ASSERT_EQ(korvo_sim_set_hand_gains(device, 50.0, 0.5), 0);
    placeStylus({0.0, 0.0, 10.0});
    const unsigned id = qmGenShapes(1);
    drawFrame(id, 0.0);
    run(kRampSteps);
    placeStylus({0.0, 0.0, -1.0});
    // One step finds the plane; the output then glides onto the proxy over
    // the ticks of one collision period.
    run(1);
    ticks(10);
    const double one = appliedForce().z;

    placeStylus({0.0, 0.0, 10.0});
    HQMRC second = qmCreateContext(device);
    qmMakeCurrent(second);
    qmDisable(QM_USE_GL_MODELVIEW);
    drawFrame(qmGenShapes(1), 0.0);
    run(kRampSteps);
    placeStylus({0.0, 0.0, -1.0});
    // One step finds the plane; the output then glides onto the proxy over
    // the ticks of one collision period.
    run(1);
    ticks(10);
    const double two = appliedForce().z;
    qmMakeCurrent(rc);
    qmDeleteContext(second);
    EXPECT_GT(one, 0.5);
    EXPECT_NEAR(two, 2.0 * one, 0.05 * one);
}

// A force shader that counts what the pipeline asks of it: a reset of the
// pipeline restarts every force shader (one stop, one start).
class CountingShader final : public QM::IForceShader {
public:
    void start(const QM::ITarget&, const QM::MotionTransform&, void*) noexcept override { ++starts; }
    void stop(const QM::ITarget&, const QM::MotionTransform&, void*) noexcept override { ++stops; }
    void update(const QM::ITarget&, const QM::MotionTransform&, void*, void*) noexcept override {}
    void computeForce(const QM::ITarget&, const QM::MotionTransform&, void*, const QM::IDeviceLimits&,
                      zvu::zvuVector3Dd&, zvu::zvuVector3Dd&) noexcept override {}
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
};

// A device fault in the pipeline's stages resets the pipeline once (the
// proxies start again at the device) and reaches the context's errors once,
// while another device's errors and the application's stay where they were.
TEST_F(HapticLoop, ADeviceFaultResetsOnceAndLeavesOtherErrorsAlone) {
    const unsigned id = qmGenShapes(1);
    drawFrame(id, 0.0);
    run(3);
    CountingShader counter;
    changeForceShader(renderer().getPipeline(), &counter, true);
    run(3);
    ASSERT_EQ(counter.starts, 1);
    zvMakeCurrentDevice(ZV_INVALID_HANDLE);
    zvGetDoublev(0xDEAD, nullptr);  // the application's own error, on no device
    zvMakeCurrentDevice(device);
    ASSERT_EQ(korvo_sim_inject_fault(device, -17), 0);  // a communication error
    run(3);
    int deviceErrors = 0;
    for (QMenum code : errors()) {
        deviceErrors += code == QM_DEVICE_ERROR ? 1 : 0;
    }
    EXPECT_EQ(deviceErrors, 1);
    EXPECT_EQ(counter.starts, 2) << "one reset for one fault";
    EXPECT_EQ(counter.stops, 1);
    changeForceShader(renderer().getPipeline(), &counter, false);
    const ZVErrorInfo left = zvGetError();
    EXPECT_EQ(left.errorCode, static_cast<ZVerror>(ZV_INVALID_ENUM)) << "the application's error is still there";
    EXPECT_EQ(left.deviceHandle, ZV_INVALID_HANDLE);
}

// Many contexts come and go while the loop runs: nothing leaks (the
// address sanitizer build), nothing hangs, nothing races (the thread
// sanitizer build).
TEST_F(HapticLoop, ContextsComeAndGoAThousandTimes) {
    qmMakeCurrent(nullptr);
    qmDeleteContext(rc);
    rc = nullptr;
    placeStylus({0.0, 0.0, 2.0});
    for (int i = 0; i < 1000; ++i) {
        HQMRC c = qmCreateContext(device);
        ASSERT_NE(c, nullptr);
        qmMakeCurrent(c);
        qmDisable(QM_USE_GL_MODELVIEW);
        const unsigned id = qmGenShapes(1);
        qmBeginFrame();
        squareAt(id, 10.0, 0.0);
        qmEndFrame();
        ticks(2);
        step();
        qmMakeCurrent(nullptr);
        qmDeleteContext(c);
    }
    EXPECT_EQ(zvIsSchedulerRunning(), 0);
    EXPECT_FALSE(QM::collisionScheduler().isRunning());
}

// A calibration update asked for between steps is done by the next step:
// the collision proxy restarts at the device (here below the square, which
// it then no longer touches) and nothing is reported.
TEST_F(HapticLoop, ACalibrationUpdateRestartsTheProxyAtTheDevice) {
    placeStylus({0.0, 0.0, 10.0});
    drawFrame(qmGenShapes(1), 0.0);
    run(5);
    placeStylus({0.0, 0.0, -5.0});
    run(1);
    qmUpdateCalibration();
    EXPECT_TRUE(renderer().calibrationUpdateRequested());
    run(1);
    EXPECT_FALSE(renderer().calibrationUpdateRequested());
    EXPECT_NEAR(renderer().getCollisionProxy().motionTransform(2)->position().z, stylus().z, 0.1);
    EXPECT_TRUE(errors().empty());
}

TEST(CollisionRate, RatesAreClampedAndPeriodsTruncated) {
    EXPECT_DOUBLE_EQ(QM::CollisionScheduler::periodFor(100), 0.010);
    EXPECT_DOUBLE_EQ(QM::CollisionScheduler::periodFor(300), 0.003);
    EXPECT_DOUBLE_EQ(QM::CollisionScheduler::periodFor(1), 0.100);
    EXPECT_DOUBLE_EQ(QM::CollisionScheduler::periodFor(5000), 0.001);
    QM::ICollisionScheduler& scheduler = QM::collisionScheduler();
    scheduler.setRate(5);
    EXPECT_EQ(scheduler.getRate(), 10u);
    scheduler.setRate(2000);
    EXPECT_EQ(scheduler.getRate(), 1000u);
    scheduler.setRate(100);
    EXPECT_EQ(scheduler.getRate(), 100u);
}

// stepAndWait called while a step is under way waits for a step of its own:
// taking the end of the running one left the requested step queued, to run
// later while a caller had already stopped the servo ticks it needs.
TEST(CollisionStepAndWait, AStepUnderWayDoesNotCount) {
    struct Blocking final : QM::ICollisionClient {
        std::atomic<int> steps{0};
        std::atomic<int> finished{0};
        plat::Event entered{plat::ResetMode::Manual, false};
        plat::Event release{plat::ResetMode::Manual, false};
        void added() noexcept override {}
        void removed() noexcept override {}
        void step() noexcept override {
            if (++steps == 1) {
                entered.set();
                release.wait(10.0);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            ++finished;
        }
    } client;
    QM::ICollisionScheduler& scheduler = QM::collisionScheduler();
    scheduler.setStopped(true);
    ASSERT_TRUE(scheduler.addClient(&client));
    scheduler.stepNow();
    ASSERT_TRUE(client.entered.wait(10.0));
    std::atomic<int> stepsAtReturn{-1};
    std::thread waiter([&] {
        EXPECT_TRUE(scheduler.stepAndWait(10.0));
        stepsAtReturn = client.finished.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    client.release.set();
    waiter.join();
    EXPECT_EQ(stepsAtReturn.load(), 2) << "returned at the end of the step that was under way, not its own";
    scheduler.removeClient(&client);
    scheduler.setStopped(false);
    EXPECT_EQ(client.steps.load(), 2) << "no step left queued";
}

// On the real-time clock the collision thread steps at its rate by itself.
TEST(CollisionRealTime, StepsRunAtTheirRateWithoutHelp) {
    HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ASSERT_NE(device, ZV_INVALID_HANDLE);
    HQMRC rc = qmCreateContext(device);
    ASSERT_NE(rc, nullptr);
    const std::uint64_t before = QM::collisionScheduler().stepCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::uint64_t steps = QM::collisionScheduler().stepCount() - before;
    qmDeleteContext(rc);
    zvDisableDevice(device);
    EXPECT_GE(steps, 10u);
    EXPECT_LE(steps, 40u);
    EXPECT_EQ(zvIsSchedulerRunning(), 0);
}

}  // namespace
