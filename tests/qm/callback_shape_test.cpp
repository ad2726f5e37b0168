// Callback shapes: the application answers both collision queries itself,
// in the coordinates of its drawing; the library maps the answers with the
// shape's transform and refuses answers that would poison the proxy.
#include <cmath>
#include <limits>
#include <vector>

#include "korvo/korvo_sim.h"
#include "qm/shapes/CallbackShape.h"
#include "shape_test_support.h"

namespace {

using qmtest::ShapeTest;
using zvu::zvuLineSegmentd;
using zvu::zvuVector3Dd;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

zvuVector3Dd vec(const QMdouble* v) { return {v[0], v[1], v[2]}; }

// The error of each call in turn (the error store keeps a repeat of its
// newest error once, so the codes are taken one call at a time).
std::vector<QMenum> g_codes;
void taken() { g_codes.push_back(qmGetError().errorCode); }

// What the application's functions answer, and what they were asked.
struct Script {
    // Intersection.
    bool hit = true;
    double point[3] = {0, 0, 0};
    double normal[3] = {0, 0, 1};
    QMenum face = nullptr;  // null: QM_FRONT
    zvuVector3Dd start{};
    zvuVector3Dd end{};
    int intersectCalls = 0;
    // Closest features: `describe` runs inside the call with the handle.
    bool described = true;
    double closest[3] = {0, 0, 0};
    void (*describe)(Script& script, QMgeometry geometry) = nullptr;
    zvuVector3Dd query{};
    zvuVector3Dd target{};
    QMgeometry lastGeometry = nullptr;
};

QMboolean scriptedIntersect(const QMdouble* start, const QMdouble* end, QMdouble* point, QMdouble* normal, QMenum* face,
                            void* userData) {
    Script& s = *static_cast<Script*>(userData);
    ++s.intersectCalls;
    s.start = vec(start);
    s.end = vec(end);
    for (int i = 0; i < 3; ++i) {
        point[i] = s.point[i];
        normal[i] = s.normal[i];
    }
    *face = s.face == nullptr ? QM_FRONT : s.face;
    return s.hit ? QM_TRUE : QM_FALSE;
}

QMboolean scriptedClosest(const QMdouble* query, const QMdouble* target, QMgeometry geometry, QMdouble* closest,
                          void* userData) {
    Script& s = *static_cast<Script*>(userData);
    s.query = vec(query);
    s.target = vec(target);
    s.lastGeometry = geometry;
    if (s.describe != nullptr) {
        s.describe(s, geometry);
    }
    for (int i = 0; i < 3; ++i) {
        closest[i] = s.closest[i];
    }
    return s.described ? QM_TRUE : QM_FALSE;
}

class CallbackShapes : public ShapeTest {
protected:
    unsigned id = 0;
    Script script;

    void SetUp() override {
        ShapeTest::SetUp();
        id = qmGenShapes(1);
    }
    // Builds a callback shape with the scripted functions under the current
    // OpenGL modelview, inside a frame.
    QM::IShape* build(QMenum touchable = QM_FRONT) {
        qmBeginFrame();
        qmTouchableFace(touchable);
        qmBeginShape(QM_SHAPE_CALLBACK, id);
        qmCallback(QM_SHAPE_INTERSECT_LS, reinterpret_cast<QMcallback>(&scriptedIntersect), &script);
        qmCallback(QM_SHAPE_CLOSEST_FEATURES, reinterpret_cast<QMcallback>(&scriptedClosest), &script);
        qmEndShape();
        qmEndFrame();
        return persistentShape(id);
    }
    // A shape whose coordinates are the workspace's scaled by 2, 4, 8 on
    // x, y, z and moved by (10, 20, 30): shape point s is at
    // (10 + 2 sx, 20 + 4 sy, 30 + 8 sz).
    QM::IShape* buildTransformed() {
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glTranslated(10, 20, 30);
        glScaled(2, 4, 8);
        QM::IShape* shape = build();
        glPopMatrix();
        return shape;
    }
};

TEST_F(CallbackShapes, TheBuilderIsRegisteredAndTheShapeNeverUsesTheHapticCamera) {
    qmEnable(QM_HAPTIC_CAMERA_VIEW);
    QM::IShape* shape = build();
    ASSERT_NE(shape, nullptr);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(shape->getType(), QM_SHAPE_CALLBACK);
    EXPECT_DOUBLE_EQ(shape->getProxyOffset(), 0.001);
    bool camera = true;
    EXPECT_TRUE(shape->getAttributes().get<bool>(QM_HAPTIC_CAMERA_VIEW, camera));
    EXPECT_FALSE(camera);
}

// The segment reaches the function in shape coordinates, and the answer
// comes back in the workspace: the point as a point, the normal through the
// inverse transpose (so it stays perpendicular to the surface), normalised.
TEST_F(CallbackShapes, AnIntersectionIsAskedAndAnsweredInShapeCoordinates) {
    QM::IShape* shape = buildTransformed();
    ASSERT_NE(shape, nullptr);
    script.point[0] = 1;
    script.point[1] = 1;
    script.point[2] = 0;
    // The plane x + y = 2 in shape space; in the workspace its normal is
    // (1/2, 1/4, 0) normalised.
    script.normal[0] = 1;
    script.normal[1] = 1;
    script.normal[2] = 0;
    zvuVector3Dd point;
    zvuVector3Dd normal;
    QMenum face = nullptr;
    ASSERT_TRUE(shape->intersectSegment(zvuLineSegmentd({12, 24, 38}, {14, 28, 46}), point, normal, face));
    EXPECT_NEAR((script.start - zvuVector3Dd{1, 1, 1}).length(), 0.0, 1e-12);
    EXPECT_NEAR((script.end - zvuVector3Dd{2, 2, 2}).length(), 0.0, 1e-12);
    EXPECT_NEAR((point - zvuVector3Dd{12, 24, 30}).length(), 0.0, 1e-12);
    const zvuVector3Dd expected = zvuVector3Dd{0.5, 0.25, 0.0}.normalized();
    EXPECT_NEAR((normal - expected).length(), 0.0, 1e-12);
    EXPECT_EQ(face, QM_FRONT);
}

// What the function answers is taken only when it makes sense: a face is
// QM_FRONT or QM_BACK and one the shape may be touched on, the point is
// finite, the normal finite and not zero. Anything else is no hit, so that
// nothing non-finite ever reaches the proxy.
TEST_F(CallbackShapes, AnswersThatAreNotAHitOnATouchableFaceAreIgnored) {
    struct Case {
        const char* what;
        QMenum touchable;
        QMenum face;
        double point[3];
        double normal[3];
        bool hit;
    };
    const Case cases[] = {
        {"front on a front shape", QM_FRONT, QM_FRONT, {0, 0, 0}, {0, 0, 1}, true},
        {"back on a back shape", QM_BACK, QM_BACK, {0, 0, 0}, {0, 0, -1}, true},
        {"either face on a two-sided shape", QM_FRONT_AND_BACK, QM_BACK, {0, 0, 0}, {0, 0, -1}, true},
        {"the wrong face: back on a front shape", QM_FRONT, QM_BACK, {0, 0, 0}, {0, 0, -1}, false},
        {"the wrong face: front on a back shape", QM_BACK, QM_FRONT, {0, 0, 0}, {0, 0, 1}, false},
        {"a face that is no face", QM_FRONT_AND_BACK, QM_FRONT_AND_BACK, {0, 0, 0}, {0, 0, 1}, false},
        {"another symbol as the face", QM_FRONT_AND_BACK, QM_POINTS, {0, 0, 0}, {0, 0, 1}, false},
        {"a zero normal", QM_FRONT, QM_FRONT, {0, 0, 0}, {0, 0, 0}, false},
        {"a NaN normal", QM_FRONT, QM_FRONT, {0, 0, 0}, {0, kNaN, 1}, false},
        {"an infinite normal", QM_FRONT, QM_FRONT, {0, 0, 0}, {kInf, 0, 1}, false},
        {"a NaN point", QM_FRONT, QM_FRONT, {kNaN, 0, 0}, {0, 0, 1}, false},
        {"an infinite point", QM_FRONT, QM_FRONT, {0, 0, -kInf}, {0, 0, 1}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QM::IShape* shape = build(c.touchable);
        ASSERT_NE(shape, nullptr);
        script.face = c.face;
        for (int i = 0; i < 3; ++i) {
            script.point[i] = c.point[i];
            script.normal[i] = c.normal[i];
        }
        zvuVector3Dd point{7, 7, 7};
        zvuVector3Dd normal{7, 7, 7};
        QMenum face = nullptr;
        EXPECT_EQ(shape->intersectSegment(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), point, normal, face), c.hit);
        if (c.hit) {
            EXPECT_EQ(face, c.face);
            EXPECT_NEAR(normal.length(), 1.0, 1e-12);
        }
    }
}

TEST_F(CallbackShapes, AShapeWithoutFunctionsIsNeverTouched) {
    qmBeginFrame();
    qmBeginShape(QM_SHAPE_CALLBACK, id);
    qmEndShape();
    qmEndFrame();
    QM::IShape* shape = persistentShape(id);
    ASSERT_NE(shape, nullptr);
    zvuVector3Dd point;
    zvuVector3Dd normal;
    QMenum face = nullptr;
    EXPECT_FALSE(shape->intersectSegment(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), point, normal, face));
    QM::LocalFeatureSet features;
    EXPECT_FALSE(shape->closestFeatures(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), features, point));
    EXPECT_TRUE(features.empty());
    EXPECT_TRUE(errors().empty());
}

// Features given through the handle are in shape coordinates and land in
// the workspace through the shape's transform, as does the closest point;
// the query and target points reach the function in shape coordinates.
TEST_F(CallbackShapes, FeaturesAddedThroughTheHandleAreMappedByTheShapesTransform) {
    QM::IShape* shape = buildTransformed();
    ASSERT_NE(shape, nullptr);
    script.closest[0] = 1;
    script.closest[1] = 1;
    script.closest[2] = 0;
    script.describe = [](Script&, QMgeometry g) {
        const QMdouble point[3] = {1, 1, 1};
        const QMfloat pointF[3] = {-1, 0, 0};
        const QMdouble a[3] = {0, 0, 0};
        const QMdouble b[3] = {1, 0, 0};
        const QMfloat normalF[3] = {1, 1, 0};
        const QMfloat throughF[3] = {1, 1, 0};
        qmLocalFeature1dv(g, QM_LOCAL_FEATURE_POINT, point);
        qmLocalFeature1fv(g, QM_LOCAL_FEATURE_POINT, pointF);
        qmLocalFeature2dv(g, QM_LOCAL_FEATURE_LINE, a, b);
        qmLocalFeature2fv(g, QM_LOCAL_FEATURE_PLANE, normalF, throughF);
    };
    QM::LocalFeatureSet features;
    zvuVector3Dd closest;
    ASSERT_TRUE(shape->closestFeatures(zvuLineSegmentd({12, 24, 38}, {10, 20, 30}), features, closest));
    EXPECT_TRUE(errors().empty());
    EXPECT_NEAR((script.query - zvuVector3Dd{1, 1, 1}).length(), 0.0, 1e-12);
    EXPECT_NEAR((script.target - zvuVector3Dd{0, 0, 0}).length(), 0.0, 1e-12);
    EXPECT_NEAR((closest - zvuVector3Dd{12, 24, 30}).length(), 0.0, 1e-12);
    ASSERT_EQ(features.size(), 4u);
    auto& p0 = dynamic_cast<const QM::LocalFeaturePoint&>(features.at(0));
    auto& p1 = dynamic_cast<const QM::LocalFeaturePoint&>(features.at(1));
    auto& line = dynamic_cast<const QM::LocalFeatureLine&>(features.at(2));
    auto& plane = dynamic_cast<const QM::LocalFeaturePlane&>(features.at(3));
    EXPECT_NEAR((p0.point() - zvuVector3Dd{12, 24, 38}).length(), 0.0, 1e-12);
    EXPECT_NEAR((p1.point() - zvuVector3Dd{8, 20, 30}).length(), 0.0, 1e-12);
    EXPECT_NEAR((line.segment().start() - zvuVector3Dd{10, 20, 30}).length(), 0.0, 1e-12);
    EXPECT_NEAR((line.segment().end() - zvuVector3Dd{12, 20, 30}).length(), 0.0, 1e-12);
    const zvuVector3Dd n = zvuVector3Dd{0.5, 0.25, 0.0}.normalized();
    EXPECT_NEAR((plane.plane().normal - n).length(), 0.0, 1e-12);
    EXPECT_NEAR(plane.plane().distance({12, 24, 0}), 0.0, 1e-9) << "through the mapped point";
}

TEST_F(CallbackShapes, FeaturesOfAFunctionThatDescribedNothingAreDropped) {
    QM::IShape* shape = build();
    script.described = false;
    script.describe = [](Script&, QMgeometry g) {
        const QMdouble p[3] = {0, 0, 0};
        qmLocalFeature1dv(g, QM_LOCAL_FEATURE_POINT, p);
    };
    QM::LocalFeatureSet features;
    zvuVector3Dd closest;
    EXPECT_FALSE(shape->closestFeatures(zvuLineSegmentd({0, 0, 1}, {0, 0, 0}), features, closest));
    EXPECT_TRUE(features.empty());
    // A closest point that is not finite describes nothing either.
    script.described = true;
    script.closest[2] = kNaN;
    EXPECT_FALSE(shape->closestFeatures(zvuLineSegmentd({0, 0, 1}, {0, 0, 0}), features, closest));
    EXPECT_TRUE(features.empty());
}

// The handle is good only inside the call it was handed to: a null or
// made-up handle, or one kept from an earlier call and used in a later call
// or outside any call, is refused with QM_INVALID_VALUE and adds nothing.
// The made-up handles would crash (or trip the address sanitizer) if they
// were followed.
TEST_F(CallbackShapes, OnlyTheHandleOfTheRunningCallIsAccepted) {
    QM::IShape* shape = build();
    QM::LocalFeatureSet features;
    zvuVector3Dd closest;
    static QMgeometry kept = nullptr;
    script.describe = [](Script&, QMgeometry g) { kept = g; };
    ASSERT_TRUE(shape->closestFeatures(zvuLineSegmentd({0, 0, 1}, {0, 0, 0}), features, closest));
    ASSERT_NE(kept, nullptr);

    const QMdouble p[3] = {0, 0, 0};
    const QMdouble n[3] = {0, 0, 1};
    // Outside any call.
    g_codes.clear();
    qmLocalFeature1dv(kept, QM_LOCAL_FEATURE_POINT, p);
    taken();
    qmLocalFeature2dv(kept, QM_LOCAL_FEATURE_PLANE, n, p);
    taken();
    EXPECT_EQ(g_codes, (std::vector<QMenum>{QM_INVALID_VALUE, QM_INVALID_VALUE}));

    // Inside a later call (whose own handle may or may not reuse the
    // address: only the stale-looking ones are checked), with made-up
    // handles.
    script.describe = [](Script&, QMgeometry g) {
        const QMdouble q[3] = {0, 0, 0};
        const QMfloat qf[3] = {0, 0, 0};
        for (QMgeometry bad : {static_cast<QMgeometry>(nullptr), reinterpret_cast<QMgeometry>(std::uintptr_t{16}),
                               reinterpret_cast<QMgeometry>(reinterpret_cast<char*>(g) + 8)}) {
            qmLocalFeature1dv(bad, QM_LOCAL_FEATURE_POINT, q);
            taken();
            qmLocalFeature1fv(bad, QM_LOCAL_FEATURE_POINT, qf);
            taken();
            qmLocalFeature2dv(bad, QM_LOCAL_FEATURE_LINE, q, q);
            taken();
            qmLocalFeature2fv(bad, QM_LOCAL_FEATURE_LINE, qf, qf);
            taken();
        }
    };
    features.clear();
    g_codes.clear();
    ASSERT_TRUE(shape->closestFeatures(zvuLineSegmentd({0, 0, 1}, {0, 0, 0}), features, closest));
    EXPECT_TRUE(features.empty());
    EXPECT_EQ(g_codes, std::vector<QMenum>(12, QM_INVALID_VALUE));
}

// Types and values are checked before anything is added: a type the call
// does not take is QM_INVALID_ENUM; a missing or non-finite vector, or a
// plane without a normal, QM_INVALID_VALUE.
TEST_F(CallbackShapes, LocalFeatureCallsRefuseBadTypesAndValues) {
    QM::IShape* shape = build();
    script.describe = [](Script&, QMgeometry g) {
        const QMdouble p[3] = {0, 0, 0};
        const QMfloat pf[3] = {0, 0, 0};
        const QMdouble zero[3] = {0, 0, 0};
        const QMdouble nan[3] = {0, kNaN, 0};
        const QMfloat inf[3] = {0, 0, static_cast<float>(kInf)};
        // One call per line, in the order of the expected codes.
        qmLocalFeature1dv(g, QM_LOCAL_FEATURE_LINE, p);
        taken();
        qmLocalFeature1fv(g, QM_LOCAL_FEATURE_PLANE, pf);
        taken();
        qmLocalFeature1dv(g, QM_FRONT, p);
        taken();
        qmLocalFeature1dv(g, nullptr, p);
        taken();
        qmLocalFeature2dv(g, QM_LOCAL_FEATURE_POINT, p, p);
        taken();
        qmLocalFeature2fv(g, QM_LOCAL_FEATURE_POINT, pf, pf);
        taken();
        qmLocalFeature2dv(g, QM_TRIANGLES, p, p);
        taken();
        qmLocalFeature1dv(g, QM_LOCAL_FEATURE_POINT, nullptr);
        taken();
        qmLocalFeature2dv(g, QM_LOCAL_FEATURE_LINE, p, nullptr);
        taken();
        qmLocalFeature1dv(g, QM_LOCAL_FEATURE_POINT, nan);
        taken();
        qmLocalFeature2fv(g, QM_LOCAL_FEATURE_LINE, pf, inf);
        taken();
        qmLocalFeature2dv(g, QM_LOCAL_FEATURE_PLANE, zero, p);
        taken();
    };
    QM::LocalFeatureSet features;
    zvuVector3Dd closest;
    g_codes.clear();
    ASSERT_TRUE(shape->closestFeatures(zvuLineSegmentd({0, 0, 1}, {0, 0, 0}), features, closest));
    EXPECT_TRUE(features.empty());
    const std::vector<QMenum> expected = {
        QM_INVALID_ENUM, QM_INVALID_ENUM,  QM_INVALID_ENUM,  QM_INVALID_ENUM,  QM_INVALID_ENUM,  QM_INVALID_ENUM,
        QM_INVALID_ENUM, QM_INVALID_VALUE, QM_INVALID_VALUE, QM_INVALID_VALUE, QM_INVALID_VALUE, QM_INVALID_VALUE,
    };
    EXPECT_EQ(g_codes, expected);
}

// ---------------------------------------------------------------- closed loop

// The plane z = 0 described by the application: crossed from above on its
// front, and reported as one plane feature.
QMboolean planeIntersect(const QMdouble* start, const QMdouble* end, QMdouble* point, QMdouble* normal, QMenum* face,
                         void*) {
    if (!(start[2] >= 0.0 && end[2] < 0.0)) {
        return QM_FALSE;
    }
    const double t = start[2] / (start[2] - end[2]);
    for (int i = 0; i < 3; ++i) {
        point[i] = start[i] + t * (end[i] - start[i]);
    }
    normal[0] = 0;
    normal[1] = 0;
    normal[2] = 1;
    *face = QM_FRONT;
    return QM_TRUE;
}

QMboolean planeClosest(const QMdouble* query, const QMdouble*, QMgeometry geometry, QMdouble* closest, void*) {
    const QMdouble normal[3] = {0, 0, 1};
    const QMdouble origin[3] = {0, 0, 0};
    qmLocalFeature2dv(geometry, QM_LOCAL_FEATURE_PLANE, normal, origin);
    closest[0] = query[0];
    closest[1] = query[1];
    closest[2] = 0.0;
    return QM_TRUE;
}

// On the simulated device, with the collision thread and the servo loop in
// turn: the hand pushes the stylus into a plane that exists only in the
// application's functions, drawn 10 units up (so the functions see shape
// coordinates). The proxy stays on the plane, and the stylus settles where
// the hand's spring and the surface's spring balance.
TEST_F(CallbackShapes, TheDeviceTouchesAPlaneTheApplicationDescribes) {
    qmDisable(QM_USE_GL_MODELVIEW);
    const double handStiffness = 0.1;
    ASSERT_EQ(korvo_sim_set_hand_gains(device, handStiffness, 0.005), 0);
    const double start[3] = {3.0, -2.0, 30.0};
    ASSERT_EQ(korvo_sim_place_stylus(device, start), 0);
    auto frame = [&] {
        qmBeginFrame();
        qmMatrixMode(QM_MODELVIEW);
        qmLoadIdentity();
        qmTranslated(0, 0, 10);
        qmBeginShape(QM_SHAPE_CALLBACK, id);
        qmCallback(QM_SHAPE_INTERSECT_LS, reinterpret_cast<QMcallback>(&planeIntersect), nullptr);
        qmCallback(QM_SHAPE_CLOSEST_FEATURES, reinterpret_cast<QMcallback>(&planeClosest), nullptr);
        qmEndShape();
        qmEndFrame();
    };
    frame();
    run(10);
    const double hand[3] = {3.0, -2.0, -20.0};
    ASSERT_EQ(korvo_sim_set_hand_target(device, hand), 0);
    for (int i = 0; i < 30; ++i) {
        frame();
        run(10);
    }
    double nominal = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_STIFFNESS, &nominal);
    const double surface = nominal * 0.8;
    // kh (hand - z) = ks (z - 10) at the balance point, with the plane at 10.
    const double expected = (handStiffness * -20.0 + surface * 10.0) / (handStiffness + surface);
    double p[3];
    double v[3];
    double f[3];
    korvo_sim_get_true_state(device, p, v, f);
    EXPECT_NEAR(p[2], expected, std::abs(10.0 - expected) * 0.02);
    EXPECT_LT(p[2], 10.0) << "the stylus presses into the plane";
    const QM::IProxy& proxy = context().sceneRenderer->getCollisionProxy();
    EXPECT_NEAR(proxy.motionTransform(2)->position().z, 10.0, 0.02) << "the proxy rests on the plane";
    EXPECT_TRUE(proxy.isTouching());
    EXPECT_GT(f[2], 0.5) << "pushed back up";
    qmBeginFrame();
    QMboolean touching = QM_FALSE;
    qmGetShapeBooleanv(id, QM_PROXY_IS_TOUCHING, &touching);
    EXPECT_EQ(touching, QM_TRUE);
    qmEndFrame();
    EXPECT_TRUE(errors().empty());
}

}  // namespace
