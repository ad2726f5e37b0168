// Events end to end on the simulated device: what raises them, which
// subscriptions they reach, and on which thread their callbacks run.
// Collision steps run one at a time (the fixture's step()), so every test
// knows exactly which step raised what.
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ViewerLink.h"
#include "korvo/korvo_sim.h"
#include "qm/api/Symbols.h"
#include "qm/collision/CollisionScheduler.h"
#include "qm/events/EventManager.h"
#include "shape_test_support.h"

namespace {

using qmtest::ShapeTest;

bool onCollisionThreadNow() { return QM::collisionScheduler().isCollisionThread(); }

// What one callback saw.
struct Call {
    QMenum event;
    unsigned shape;
    QMenum thread;
    bool onCollisionThread;
    std::thread::id osThread;
};

// Collects the calls of the subscriptions it is the user data of. Callbacks
// run on the collision thread too, hence the lock.
class Recorder {
public:
    static void callback(QMenum event, QMuint shape, QMenum thread, QMcache, void* self) {
        static_cast<Recorder*>(self)->record(
            {event, shape, thread, onCollisionThreadNow(), std::this_thread::get_id()});
    }
    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return calls_;
    }
    std::size_t size() const { return calls().size(); }
    std::vector<Call> take() {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<Call> taken;
        taken.swap(calls_);
        return taken;
    }

private:
    void record(const Call& call) {
        std::lock_guard<std::mutex> guard(mutex_);
        calls_.push_back(call);
    }
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

void square(unsigned id, double h, double z) {
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBegin(QM_QUADS);
    qmVertex3d(-h, -h, z);
    qmVertex3d(h, -h, z);
    qmVertex3d(h, h, z);
    qmVertex3d(-h, h, z);
    qmEnd();
    qmEndShape();
}

class EventTest : public ShapeTest {
protected:
    void SetUp() override {
        ShapeTest::SetUp();
        qmDisable(QM_USE_GL_MODELVIEW);
        // The default model needs a calibration update at open, which would
        // raise calibration events in every test; the tests that want them
        // set the status themselves.
        ASSERT_EQ(korvo_sim_set_calibration_status(device, 0x07), 0);
    }
    void placeStylus(double x, double y, double z) {
        const double where[3] = {x, y, z};
        ASSERT_EQ(korvo_sim_place_stylus(device, where), 0);
    }
    void buttons(int bits) { ASSERT_EQ(korvo_sim_set_buttons(device, bits), 0); }
    void emptyFrame() {
        qmBeginFrame();
        qmEndFrame();
    }
    // A square at z = 0 under the stylus, and the stylus pressed just
    // below it, so that the proxy rests on it.
    unsigned touchSquare() {
        const unsigned id = qmGenShapes(1);
        placeStylus(0, 0, 10);
        qmBeginFrame();
        square(id, 50, 0);
        qmEndFrame();
        run(3);
        placeStylus(0, 0, -2);
        run(4);
        EXPECT_TRUE(touching());
        return id;
    }
    // Whether the last step left the proxy touching something.
    bool touching() {
        qmCheckEvents();
        QMboolean value = QM_FALSE;
        qmGetBooleanv(QM_PROXY_IS_TOUCHING, &value);
        return value == QM_TRUE;
    }
    QM::IEventManager& events() { return context().sceneRenderer->getEventManager(); }
};

// The subscription for the touched shape and the one for any object both
// fire on a press; away from the shape only the one for any object does.
TEST_F(EventTest, AButtonPressReachesTheTouchedShapeAndAnyObject) {
    const unsigned id = touchSquare();
    Recorder shape;
    Recorder any;
    qmAddEventCallback(QM_EVENT_1BUTTONDOWN, id, QM_COLLISION_THREAD, Recorder::callback, &shape);
    qmAddEventCallback(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &any);
    buttons(1);
    run(1);
    ASSERT_EQ(shape.size(), 1u);
    EXPECT_EQ(shape.calls()[0].shape, id);
    EXPECT_EQ(shape.calls()[0].event, QM_EVENT_1BUTTONDOWN);
    EXPECT_TRUE(shape.calls()[0].onCollisionThread);
    ASSERT_EQ(any.size(), 1u);
    EXPECT_EQ(any.calls()[0].shape, QM_OBJECT_ANY);

    buttons(0);
    placeStylus(0, 0, 20);
    run(3);
    ASSERT_FALSE(touching());
    buttons(1);
    run(1);
    EXPECT_EQ(shape.size(), 1u) << "no press while the shape is not touched";
    EXPECT_EQ(any.size(), 2u);
    EXPECT_TRUE(errors().empty());
}

// Each switch raises its down event when it goes on and its up event when
// it goes off, at the step that first reads the change; a change undone
// before the next step is never seen.
TEST_F(EventTest, SwitchesRaiseDownAndUpAtTheStepThatSeesTheChange) {
    struct Case {
        const char* name;
        QMenum down;
        QMenum up;
        int buttonBits;  // -1: the safety switch instead
    };
    const Case cases[] = {
        {"button 1", QM_EVENT_1BUTTONDOWN, QM_EVENT_1BUTTONUP, 1},
        {"button 2", QM_EVENT_2BUTTONDOWN, QM_EVENT_2BUTTONUP, 2},
        {"safety", QM_EVENT_SAFETYDOWN, QM_EVENT_SAFETYUP, -1},
    };
    emptyFrame();
    run(2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder down;
        Recorder up;
        qmAddEventCallback(c.down, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &down);
        qmAddEventCallback(c.up, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &up);
        // The safety switch is on at open: off first, then on.
        auto set = [&](bool on) {
            if (c.buttonBits < 0) {
                ASSERT_EQ(korvo_sim_set_switches(device, 0, on ? 1 : 0), 0);
            } else {
                buttons(on ? c.buttonBits : 0);
            }
        };
        if (c.buttonBits < 0) {
            set(false);
            run(1);
            EXPECT_EQ(up.size(), 1u);
            up.take();
        }
        set(true);
        ticks(5);
        set(false);
        run(1);
        EXPECT_EQ(down.size() + up.size(), 0u) << "pressed and released between two steps";
        set(true);
        run(1);
        EXPECT_EQ(down.size(), 1u);
        run(2);
        EXPECT_EQ(down.size(), 1u) << "held: no more events";
        set(false);
        run(1);
        EXPECT_EQ(up.size(), 1u);
        qmRemoveEventCallback(c.down, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback);
        qmRemoveEventCallback(c.up, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback);
    }
    EXPECT_TRUE(errors().empty());
}

// What a viewer of the simulated device sees of the renderer: the proxy on
// the square and the square's normal while touching. With two contexts on
// the device, the first one's view stays until it goes; the other's then
// takes over.
TEST_F(EventTest, ViewersSeeTheProxyOfOneContext) {
    korvo::viewer::Link link;
    std::string error;
    ASSERT_TRUE(link.attach(static_cast<long>(::getpid()), error)) << error;
    const auto shown = [&] {
        korvo::sim::shm::DeviceState s{};
        EXPECT_TRUE(link.read(static_cast<unsigned>(device), s, error)) << error;
        return s;
    };
    touchSquare();
    ticks(1);
    korvo::sim::shm::DeviceState s = shown();
    ASSERT_EQ(s.rendererValid, 1);
    EXPECT_EQ(s.touching, 1);
    EXPECT_NEAR(s.proxy[0], 0.0, 0.05);
    EXPECT_NEAR(s.proxy[1], 0.0, 0.05);
    EXPECT_NEAR(s.proxy[2], 0.0, 0.05) << "on the square, above the stylus at -2";
    EXPECT_NEAR(s.touchNormal[2], 1.0, 1e-9);

    HQMRC second = qmCreateContext(device);
    ASSERT_NE(second, nullptr);
    run(3);
    ticks(1);
    s = shown();
    EXPECT_EQ(s.touching, 1) << "the second context, which has no shapes, does not take the view";
    EXPECT_NEAR(s.proxy[2], 0.0, 0.05);

    qmMakeCurrent(nullptr);
    qmDeleteContext(rc);
    rc = second;
    qmMakeCurrent(rc);
    ticks(1);
    EXPECT_EQ(shown().rendererValid, 0) << "the first context withdrew its view";
    run(2);
    ticks(1);
    s = shown();
    EXPECT_EQ(s.rendererValid, 1);
    EXPECT_EQ(s.touching, 0);
    EXPECT_LT(s.proxy[2], -1.0) << "the second context's proxy is not held by the square";
    EXPECT_NEAR(s.proxy[2], s.position[2], 0.1) << "it follows the stylus";
}

// The touch state the context publishes is the one of the step that raised
// the touch or untouch event, not the state of an earlier step.
TEST_F(EventTest, PublishedTouchAgreesWithTheTouchEventsAtEveryStep) {
    const unsigned id = qmGenShapes(1);
    placeStylus(0, 0, 10);
    qmBeginFrame();
    square(id, 50, 0);
    qmEndFrame();
    run(3);
    Recorder touch;
    Recorder untouch;
    qmAddEventCallback(QM_EVENT_TOUCH, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &touch);
    qmAddEventCallback(QM_EVENT_UNTOUCH, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &untouch);
    bool touchSeen = false;
    bool untouchSeen = false;
    placeStylus(0, 0, -2);
    for (int i = 0; i < 8; ++i) {
        run(1);
        if (touch.size() != 0 && !touchSeen) {
            touchSeen = true;
            EXPECT_TRUE(touching()) << "at the step that raised the touch event";
        }
    }
    placeStylus(0, 0, 20);
    for (int i = 0; i < 8; ++i) {
        run(1);
        if (untouch.size() != 0 && !untouchSeen) {
            untouchSeen = true;
            EXPECT_FALSE(touching()) << "at the step that raised the untouch event";
        }
    }
    EXPECT_TRUE(touchSeen);
    EXPECT_TRUE(untouchSeen);
    EXPECT_TRUE(errors().empty());
}

TEST_F(EventTest, ReAddingACallbackKeepsOneSubscriptionWithTheNewUserData) {
    emptyFrame();
    run(1);
    Recorder first;
    Recorder second;
    qmAddEventCallback(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_CLIENT_THREAD, Recorder::callback, &first);
    qmAddEventCallback(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_CLIENT_THREAD, Recorder::callback, &second);
    EXPECT_EQ(events().count(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY), 1u);
    buttons(1);
    run(1);
    qmCheckEvents();
    EXPECT_EQ(first.size(), 0u);
    EXPECT_EQ(second.size(), 1u);
    // The same callback on the other thread is another subscription.
    qmAddEventCallback(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &first);
    EXPECT_EQ(events().count(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY), 2u);
    // Removed: an event already raised is not delivered either.
    buttons(0);
    run(1);
    buttons(1);
    run(1);
    EXPECT_EQ(first.size(), 1u);
    qmRemoveEventCallback(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_CLIENT_THREAD, Recorder::callback);
    qmCheckEvents();
    EXPECT_EQ(second.size(), 1u);
    EXPECT_EQ(events().count(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY), 1u);
    EXPECT_TRUE(errors().empty());
}

// With a linear tolerance of 5 the subscription fires once the proxy has
// moved 5 from where it was when subscribed, then measures from there.
TEST_F(EventTest, MotionFiresOnceTheProxyHasMovedByTheTolerance) {
    placeStylus(0, 0, 0);
    emptyFrame();
    run(2);
    qmCheckEvents();  // the context now holds the proxy's position
    qmEventd(QM_EVENT_MOTION_LINEAR_TOLERANCE, 5.0);
    qmEventd(QM_EVENT_MOTION_ANGULAR_TOLERANCE, 10.0);
    Recorder collision;
    Recorder client;
    qmAddEventCallback(QM_EVENT_MOTION, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &collision);
    qmAddEventCallback(QM_EVENT_MOTION, QM_OBJECT_ANY, QM_CLIENT_THREAD, Recorder::callback, &client);
    placeStylus(3, 0, 0);
    run(3);
    qmCheckEvents();
    EXPECT_EQ(collision.size(), 0u) << "moved 3 of 5";
    EXPECT_EQ(client.size(), 0u);
    placeStylus(5.5, 0, 0);
    run(3);
    EXPECT_EQ(collision.size(), 1u);
    EXPECT_TRUE(collision.calls()[0].onCollisionThread);
    EXPECT_EQ(client.size(), 0u) << "client-thread motion is checked by qmCheckEvents only";
    qmCheckEvents();
    qmCheckEvents();
    ASSERT_EQ(client.size(), 1u);
    EXPECT_EQ(client.calls()[0].osThread, std::this_thread::get_id());
    // Measured from where it fired: 4 more is not enough, 6 is.
    placeStylus(9.5, 0, 0);
    run(2);
    EXPECT_EQ(collision.size(), 1u);
    placeStylus(11.5, 0, 0);
    run(2);
    EXPECT_EQ(collision.size(), 2u);
    EXPECT_TRUE(errors().empty());
}

// Turning is measured on its own: with an angular tolerance of 0.5 rad a
// turn of 0.3 fires nothing and one of 0.6 fires once.
TEST_F(EventTest, MotionFiresOnceTheProxyHasTurnedByTheTolerance) {
    placeStylus(0, 0, 0);
    emptyFrame();
    run(2);
    qmCheckEvents();
    qmEventd(QM_EVENT_MOTION_LINEAR_TOLERANCE, 1000.0);
    qmEventd(QM_EVENT_MOTION_ANGULAR_TOLERANCE, 0.5);
    Recorder turns;
    qmAddEventCallback(QM_EVENT_MOTION, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &turns);
    const double small[3] = {0.3, 0.0, 0.0};
    ASSERT_EQ(korvo_sim_set_gimbal_angles(device, small), 0);
    run(3);
    EXPECT_EQ(turns.size(), 0u);
    const double large[3] = {0.6, 0.0, 0.0};
    ASSERT_EQ(korvo_sim_set_gimbal_angles(device, large), 0);
    run(3);
    EXPECT_EQ(turns.size(), 1u);
    EXPECT_TRUE(errors().empty());
}

TEST(MotionCondition, RotationAngleIsTheShorterWayRound) {
    const double identity[4] = {1, 0, 0, 0};
    const double flipped[4] = {-1, 0, 0, 0};
    const double half = std::sqrt(0.5);
    const double quarterTurn[4] = {half, 0, 0, half};
    const double negatedQuarterTurn[4] = {-half, 0, 0, -half};
    EXPECT_NEAR(QM::MotionEventCondition::rotationAngle(identity, flipped), 0.0, 1e-12);
    EXPECT_NEAR(QM::MotionEventCondition::rotationAngle(identity, quarterTurn), M_PI / 2, 1e-12);
    EXPECT_NEAR(QM::MotionEventCondition::rotationAngle(identity, negatedQuarterTurn), M_PI / 2, 1e-12);
    EXPECT_NEAR(QM::MotionEventCondition::rotationAngle(quarterTurn, negatedQuarterTurn), 0.0, 1e-12);
}

// The status read at the last step raises its event at every qmCheckEvents
// until it changes; a calibration update ends it.
TEST_F(EventTest, CalibrationEventsRepeatWhileTheStatusHolds) {
    Recorder update;
    Recorder input;
    Recorder onCollision;
    qmAddEventCallback(QM_EVENT_CALIBRATION_UPDATE, QM_OBJECT_ANY, QM_CLIENT_THREAD, Recorder::callback, &update);
    qmAddEventCallback(QM_EVENT_CALIBRATION_INPUT, QM_OBJECT_ANY, QM_CLIENT_THREAD, Recorder::callback, &input);
    qmAddEventCallback(QM_EVENT_CALIBRATION_UPDATE, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback,
                       &onCollision);
    run(1);
    qmCheckEvents();
    EXPECT_EQ(update.size() + input.size(), 0u) << "calibrated";

    ASSERT_EQ(korvo_sim_set_calibration_status(device, 0x77), 0);
    qmCheckEvents();
    EXPECT_EQ(update.size(), 0u) << "not read before the next step";
    run(1);
    for (int i = 0; i < 3; ++i) {
        qmCheckEvents();
    }
    EXPECT_EQ(update.size(), 3u);
    EXPECT_EQ(input.size(), 0u);
    EXPECT_EQ(onCollision.size(), 0u) << "collision-thread calls wait for the next step";
    run(1);
    ASSERT_EQ(onCollision.size(), 3u);
    EXPECT_TRUE(onCollision.calls()[0].onCollisionThread);

    ASSERT_EQ(korvo_sim_set_calibration_status(device, 0x70), 0);
    run(1);
    qmCheckEvents();
    qmCheckEvents();
    EXPECT_EQ(input.size(), 2u);
    EXPECT_EQ(update.size(), 3u);

    ASSERT_EQ(korvo_sim_set_calibration_status(device, 0x77), 0);
    run(1);
    qmUpdateCalibration();
    run(1);
    qmCheckEvents();
    EXPECT_EQ(update.size(), 3u) << "the update ended the status";
    EXPECT_TRUE(errors().empty());
}

// Touch changes run collision-thread callbacks inside the step and
// client-thread callbacks inside qmCheckEvents, never inside a frame call.
TEST_F(EventTest, TouchAndUntouchRunOnTheSubscribedThread) {
    Recorder shapeCollision;
    Recorder anyCollision;
    Recorder anyClient;
    std::atomic<bool> inFrameCall{false};
    std::atomic<int> callsInFrameCalls{0};
    struct Watch {
        std::atomic<bool>* inFrameCall;
        std::atomic<int>* calls;
    } watch{&inFrameCall, &callsInFrameCalls};
    auto watcher = [](QMenum, QMuint, QMenum, QMcache, void* user) {
        Watch* w = static_cast<Watch*>(user);
        if (w->inFrameCall->load()) {
            ++*w->calls;
        }
    };
    const unsigned id = qmGenShapes(1);
    for (QMenum event : {QM_EVENT_TOUCH, QM_EVENT_UNTOUCH}) {
        qmAddEventCallback(event, id, QM_COLLISION_THREAD, Recorder::callback, &shapeCollision);
        qmAddEventCallback(event, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &anyCollision);
        qmAddEventCallback(event, QM_OBJECT_ANY, QM_CLIENT_THREAD, Recorder::callback, &anyClient);
        qmAddEventCallback(event, QM_OBJECT_ANY, QM_CLIENT_THREAD, watcher, &watch);
        qmAddEventCallback(event, QM_OBJECT_ANY, QM_COLLISION_THREAD, watcher, &watch);
    }
    // The square moves a little every frame under the resting proxy, so
    // that frame ends carry the contact along.
    placeStylus(0, 0, 10);
    qmBeginFrame();
    square(id, 50, 0);
    qmEndFrame();
    run(3);
    placeStylus(0, 0, -2);
    for (int frame = 0; frame < 6; ++frame) {
        inFrameCall = true;
        qmBeginFrame();
        square(id, 50, 0.2 * frame);
        qmEndFrame();
        inFrameCall = false;
        run(1);
    }
    EXPECT_EQ(callsInFrameCalls.load(), 0);
    placeStylus(0, 0, 30);
    run(2);
    EXPECT_EQ(anyClient.size(), 0u) << "waiting for qmCheckEvents";
    qmCheckEvents();
    // Touches and untouches alternate, starting with a touch and ending
    // with an untouch; every subscription sees the same sequence.
    const std::vector<Call> shape = shapeCollision.calls();
    ASSERT_GE(shape.size(), 2u);
    for (std::size_t i = 0; i < shape.size(); ++i) {
        EXPECT_EQ(shape[i].event, i % 2 == 0 ? QM_EVENT_TOUCH : QM_EVENT_UNTOUCH) << i;
        EXPECT_EQ(shape[i].shape, id);
        EXPECT_EQ(shape[i].thread, QM_COLLISION_THREAD);
        EXPECT_TRUE(shape[i].onCollisionThread);
    }
    EXPECT_EQ(shape.size() % 2, 0u);
    const std::vector<Call> any = anyCollision.calls();
    const std::vector<Call> client = anyClient.calls();
    ASSERT_EQ(any.size(), shape.size());
    ASSERT_EQ(client.size(), shape.size());
    for (std::size_t i = 0; i < shape.size(); ++i) {
        EXPECT_EQ(any[i].event, shape[i].event);
        EXPECT_EQ(any[i].shape, id) << "QM_OBJECT_ANY subscriptions learn the shape";
        EXPECT_EQ(client[i].event, shape[i].event);
        EXPECT_EQ(client[i].thread, QM_CLIENT_THREAD);
        EXPECT_FALSE(client[i].onCollisionThread);
        EXPECT_EQ(client[i].osThread, std::this_thread::get_id());
    }
    EXPECT_TRUE(errors().empty());
}

// Touch changes found by a frame end wait for the next step.
TEST_F(EventTest, TouchChangesOfAFrameEndAreRaisedByTheNextStep) {
    const unsigned id = touchSquare();
    Recorder touches;
    qmAddEventCallback(QM_EVENT_UNTOUCH, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &touches);
    qmAddEventCallback(QM_EVENT_TOUCH, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &touches);
    // Dropped from the scene: the step after the frame end reports it.
    emptyFrame();
    EXPECT_EQ(touches.size(), 0u);
    run(1);
    ASSERT_EQ(touches.size(), 1u);
    EXPECT_EQ(touches.calls()[0].event, QM_EVENT_UNTOUCH);
    EXPECT_EQ(touches.calls()[0].shape, id);
    EXPECT_TRUE(touches.calls()[0].onCollisionThread);
}

void recordErrorCallback(QMenum, QMuint, QMenum, QMcache, void* user) {
    // Refused inside a collision step.
    qmCheckEvents();
    *static_cast<QMenum*>(user) = qmGetError().errorCode;
}

void deleteOwnContext(QMenum, QMuint, QMenum, QMcache, void* user) { qmDeleteContext(static_cast<HQMRC>(user)); }

TEST_F(EventTest, ArgumentErrors) {
    struct Case {
        const char* name;
        void (*call)();
        QMenum expected;
    };
    static const auto noop = [](QMenum, QMuint, QMenum, QMcache, void*) {};
    const Case cases[] = {
        {"add: a parameter for an event",
         [] { qmAddEventCallback(QM_STIFFNESS, QM_OBJECT_ANY, QM_CLIENT_THREAD, noop, nullptr); }, QM_INVALID_ENUM},
        {"add: the collision tick",
         [] { qmAddEventCallback(QM::QM_INT_EVENT_COLLISION_TICK, QM_OBJECT_ANY, QM_COLLISION_THREAD, noop, nullptr); },
         QM_INVALID_ENUM},
        {"add: the text of an event",
         [] { qmAddEventCallback("QM_EVENT_TOUCH", QM_OBJECT_ANY, QM_CLIENT_THREAD, noop, nullptr); }, QM_INVALID_ENUM},
        {"add: no thread", [] { qmAddEventCallback(QM_EVENT_TOUCH, QM_OBJECT_ANY, nullptr, noop, nullptr); },
         QM_INVALID_ENUM},
        {"add: no callback",
         [] { qmAddEventCallback(QM_EVENT_TOUCH, QM_OBJECT_ANY, QM_CLIENT_THREAD, nullptr, nullptr); },
         QM_INVALID_VALUE},
        {"remove: not an event", [] { qmRemoveEventCallback(QM_DAMPING, QM_OBJECT_ANY, QM_CLIENT_THREAD, noop); },
         QM_INVALID_ENUM},
        {"remove: not a thread", [] { qmRemoveEventCallback(QM_EVENT_TOUCH, QM_OBJECT_ANY, QM_TOUCH_MODEL, noop); },
         QM_INVALID_ENUM},
        {"remove: absent", [] { qmRemoveEventCallback(QM_EVENT_TOUCH, 7, QM_CLIENT_THREAD, noop); }, QM_NO_ERROR},
        {"eventd: not a tolerance", [] { qmEventd(QM_STIFFNESS, 1.0); }, QM_INVALID_ENUM},
        {"eventd: NaN", [] { qmEventd(QM_EVENT_MOTION_LINEAR_TOLERANCE, std::nan("")); }, QM_INVALID_VALUE},
        {"eventd: infinite", [] { qmEventd(QM_EVENT_MOTION_ANGULAR_TOLERANCE, INFINITY); }, QM_INVALID_VALUE},
        {"eventd: negative", [] { qmEventd(QM_EVENT_MOTION_LINEAR_TOLERANCE, -1.0); }, QM_INVALID_VALUE},
        {"eventd: zero", [] { qmEventd(QM_EVENT_MOTION_LINEAR_TOLERANCE, 0.0); }, QM_NO_ERROR},
        {"check events", [] { qmCheckEvents(); }, QM_NO_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.call();
        const std::vector<QMenum> recorded = errors();
        if (c.expected == QM_NO_ERROR) {
            EXPECT_TRUE(recorded.empty());
        } else {
            EXPECT_EQ(recorded, std::vector<QMenum>{c.expected});
        }
    }
    EXPECT_EQ(events().count(QM_EVENT_TOUCH, QM_OBJECT_ANY), 0u) << "no failed add subscribed";
    double tolerance = -1;
    qmGetDoublev(QM_EVENT_MOTION_LINEAR_TOLERANCE, &tolerance);
    EXPECT_EQ(tolerance, 0.0);

    // Without a context every call fails quietly.
    qmMakeCurrent(nullptr);
    for (const Case& c : cases) {
        c.call();
    }
    qmMakeCurrent(rc);
    EXPECT_TRUE(errors().empty());

    // qmCheckEvents is refused on the collision thread, and a client
    // callback may not delete the context it runs for.
    QMenum insideStep = QM_NO_ERROR;
    qmAddEventCallback(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, recordErrorCallback, &insideStep);
    qmAddEventCallback(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_CLIENT_THREAD, deleteOwnContext, rc);
    emptyFrame();
    run(1);
    buttons(1);
    run(1);
    EXPECT_EQ(insideStep, QM_INVALID_OPERATION);
    qmCheckEvents();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
    EXPECT_EQ(qmGetCurrentContext(), rc) << "the context survived";
}

// A callback that throws does not stop the others or the step.
TEST_F(EventTest, AThrowingCallbackIsContained) {
    Recorder after;
    qmAddEventCallback(
        QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD,
        [](QMenum, QMuint, QMenum, QMcache, void*) { throw 42; }, nullptr);
    qmAddEventCallback(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, Recorder::callback, &after);
    emptyFrame();
    run(1);
    buttons(1);
    run(1);
    EXPECT_EQ(after.size(), 1u);
    EXPECT_TRUE(errors().empty());
}

// Collision-thread callbacks that call back into the library while the
// client thread subscribes, checks events and draws frames, and the servo
// thread ticks: run under ThreadSanitizer, this finds unguarded sharing;
// anywhere, a lock-order fault shows as a hang.
TEST_F(EventTest, ThreeThreadsShareTheEventMachinery) {
    std::atomic<bool> stop{false};
    std::thread servo([&] {
        while (!stop.load()) {
            korvo_sim_run_ticks(1);
        }
    });
    // The subscriptions outlive the test body (the context is deleted in
    // TearDown, after steps that may still call them), so their user data
    // must too.
    struct Shared {
        std::atomic<int> collisionCalls{0};
        std::atomic<int> clientCalls{0};
    };
    static Shared shared;
    shared.collisionCalls = 0;
    shared.clientCalls = 0;
    auto onCollision = [](QMenum, QMuint, QMenum, QMcache cache, void* user) {
        auto* s = static_cast<Shared*>(user);
        double p[3];
        qmGetDoublev(QM_PROXY_POSITION, p);
        qmCacheGetDoublev(cache, QM_DEVICE_POSITION, p);
        qmProxyf(QM_STIFFNESS, 0.7f);
        ++s->collisionCalls;
    };
    auto onClient = [](QMenum, QMuint, QMenum, QMcache cache, void* user) {
        QMboolean b = QM_FALSE;
        qmCacheGetBooleanv(cache, QM_BUTTON1_STATE, &b);
        ++static_cast<Shared*>(user)->clientCalls;
    };
    const unsigned id = qmGenShapes(1);
    QM::collisionScheduler().setStopped(false);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    int round = 0;
    while (std::chrono::steady_clock::now() < until) {
        for (QMenum event : {QM_EVENT_1BUTTONDOWN, QM_EVENT_1BUTTONUP, QM_EVENT_MOTION, QM_EVENT_TOUCH}) {
            qmAddEventCallback(event, QM_OBJECT_ANY, QM_COLLISION_THREAD, onCollision, &shared);
            qmAddEventCallback(event, QM_OBJECT_ANY, QM_CLIENT_THREAD, onClient, &shared);
        }
        qmEventd(QM_EVENT_MOTION_LINEAR_TOLERANCE, 0.0);
        korvo_sim_set_buttons(device, round % 2);
        const double where[3] = {0.0, 0.0, (round % 3) - 1.0};
        korvo_sim_place_stylus(device, where);
        qmBeginFrame();
        square(id, 50, 0);
        qmEndFrame();
        qmCheckEvents();
        if (round % 5 == 4) {
            qmRemoveEventCallback(QM_EVENT_MOTION, QM_OBJECT_ANY, QM_COLLISION_THREAD, onCollision);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++round;
    }
    QM::collisionScheduler().setStopped(true);
    // The step in progress, if any, ends before the servo thread does.
    step();
    stop = true;
    servo.join();
    EXPECT_GT(shared.collisionCalls.load(), 0);
    EXPECT_GT(shared.clientCalls.load(), 0);
    for (QMenum e : errors()) {
        EXPECT_EQ(e, QM_NO_ERROR) << e;
    }
}

}  // namespace
