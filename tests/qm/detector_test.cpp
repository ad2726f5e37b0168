// Collision detection on primitive shapes drawn through the API: the
// features and the proxy position it produces on planes, edges, corners,
// sharp notches, nearly flat creases and thin shapes; pop-through, snap
// distances and the material snapshot; touch bookkeeping, reaction forces
// and contacts carried over to a moved shape.
//
// Collision detection backs every hit off along the motion by the shape's
// proxy offset (0.01 for these shapes), so the proxy rests that far, at
// most, in front of the surface it touches.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "collision_test_support.h"
#include "qm/api/Symbols.h"
#include "qm/collision/LocalFeatureDetector.h"
#include "qm/collision/TouchState.h"
#include "qm/shapes/Scene.h"
#include "shape_test_support.h"

namespace {

using namespace qmtest;
using QM::LocalFeatureDetector;
using QM::PointProxy;
using QM::TouchChange;
using QM::TouchState;

constexpr double kOffset = 0.01;
using Quad = std::array<zvuVector3Dd, 4>;

// The square |x|, |y| <= 0.5 in the plane z = 0, facing +z.
void primitiveSquare(unsigned id) {
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBegin(QM_QUADS);
    qmVertex3d(-0.5, -0.5, 0);
    qmVertex3d(0.5, -0.5, 0);
    qmVertex3d(0.5, 0.5, 0);
    qmVertex3d(-0.5, 0.5, 0);
    qmEnd();
    qmEndShape();
}

class DetectorTest : public ShapeTest {
protected:
    // A primitive shape of quads (counter-clockwise seen from the front,
    // unless `clockwise`, which also declares QM_CW so the front stays the
    // same side), added to the test's scene.
    unsigned quads(const std::vector<Quad>& faces, bool clockwise = false) {
        const unsigned id = qmGenShapes(1);
        if (clockwise) qmFrontFace(QM_CW);
        qmBeginShape(QM_SHAPE_PRIMITIVE, id);
        qmBegin(QM_QUADS);
        for (const Quad& q : faces) {
            for (int i = 0; i < 4; ++i) {
                const zvuVector3Dd& v = q[clockwise ? 3 - i : i];
                qmVertex3d(v.x, v.y, v.z);
            }
        }
        qmEnd();
        qmEndShape();
        if (clockwise) qmFrontFace(QM_CCW);
        EXPECT_TRUE(errors().empty());
        scene.addShape(persistentShape(id));
        return id;
    }
    unsigned floorSquare(double h = 0.5, double z = 0.0) {
        return quads({{zvuVector3Dd(-h, -h, z), {h, -h, z}, {h, h, z}, {-h, h, z}}});
    }
    QM::IShape& shape(unsigned id) { return *scene.getShapes().find(id); }

    // One collision step with the device at `p`.
    bool detectAt(const zvuVector3Dd& p) {
        device.place(p);
        return detector.detect(scene.getShapes(), device, proxy);
    }
    // Servo ticks on the features of the last step.
    void ticks(int n) {
        for (int i = 0; i < n; ++i) proxy.update(device);
    }
    zvuVector3Dd proxyAt() const { return proxy.motionTransform(2)->position(); }

    QM::Scene scene;
    LocalFeatureDetector detector;
    PointProxy proxy;
    QM::HapticDeviceTarget device;
};

TEST_F(DetectorTest, ADeviceThatReachesNothingLeavesTheProxyFree) {
    floorSquare();
    proxy.initialise(deviceAt({0.1, 0.1, 0.5}));
    ASSERT_TRUE(detectAt({0.3, 0.2, 0.1}));
    EXPECT_TRUE(proxy.contactSet().empty());
    EXPECT_TRUE(proxy.constraintSet().empty());
    EXPECT_TRUE(near3(proxyAt(), {0.3, 0.2, 0.1}, 0));
    EXPECT_FALSE(proxy.isTouching());
}

TEST_F(DetectorTest, PressedIntoAPlaneTheProxyStaysOnItAboveTheDevice) {
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.6f);
    qmMaterialf(QM_FRONT, QM_DAMPING, 0.2f);
    qmMaterialf(QM_BACK, QM_STIFFNESS, 0.3f);
    const unsigned id = floorSquare();
    proxy.initialise(deviceAt({0.1, 0.2, 0.5}));
    for (const zvuVector3Dd p :
         {zvuVector3Dd(0.1, 0.2, -0.2), zvuVector3Dd(0.3, -0.1, -0.3), zvuVector3Dd(-0.2, -0.1, -0.05)}) {
        SCOPED_TRACE(p.x);
        ASSERT_TRUE(detectAt(p));
        ASSERT_EQ(proxy.contactSet().size(), 1u);
        const auto& feature = dynamic_cast<const QM::LocalFeaturePlane&>(proxy.contactSet().at(0));
        EXPECT_TRUE(near3(feature.plane().normal, {0, 0, 1}, 1e-12));
        // On the plane, straight above the device.
        EXPECT_NEAR(proxyAt().x, p.x, 1e-12);
        EXPECT_NEAR(proxyAt().y, p.y, 1e-12);
        EXPECT_GE(proxyAt().z, 0.0);
        EXPECT_LE(proxyAt().z, kOffset + 1e-12);
        EXPECT_TRUE(proxy.isTouching());
        EXPECT_TRUE(near3(proxy.collisionSet().touchNormal(), {0, 0, 1}, 1e-12));
        ticks(10);
        EXPECT_NEAR(proxyAt().x, p.x, 1e-12);
        EXPECT_NEAR(proxyAt().y, p.y, 1e-12);
        EXPECT_GE(proxyAt().z, 0.0);

        // The material of the front face, and where it came from.
        float value = 0;
        ASSERT_TRUE(feature.getAttributes().get<float>(QM_STIFFNESS, value));
        EXPECT_EQ(value, 0.6f);
        ASSERT_TRUE(feature.getAttributes().get<float>(QM_DAMPING, value));
        EXPECT_EQ(value, 0.2f);
        std::int32_t source = 0;
        ASSERT_TRUE(feature.getAttributes().get<std::int32_t>(QM::QM_INT_SOURCE_SHAPE_ID, source));
        EXPECT_EQ(static_cast<unsigned>(source), id);
        QMenum face = nullptr;
        ASSERT_TRUE(feature.getAttributes().get<QMenum>(QM_TOUCHED_FACE, face));
        EXPECT_EQ(face, QM_FRONT);
        ASSERT_TRUE(feature.getAttributes().get<QMenum>(QM_TOUCH_MODEL, face));
        EXPECT_EQ(face, QM_CONTACT);
    }

    // Pulled back out: free again.
    ASSERT_TRUE(detectAt({0.1, 0.1, 0.3}));
    EXPECT_TRUE(proxy.contactSet().empty());
    EXPECT_TRUE(near3(proxyAt(), {0.1, 0.1, 0.3}, 0));
}

TEST_F(DetectorTest, ATwoSidedShapeTouchedFromBehindGivesTheBackMaterial) {
    qmMaterialf(QM_FRONT, QM_STIFFNESS, 0.6f);
    qmMaterialf(QM_BACK, QM_STIFFNESS, 0.3f);
    qmTouchableFace(QM_FRONT_AND_BACK);
    const unsigned id = floorSquare();
    proxy.initialise(deviceAt({0, 0, -0.5}));
    ASSERT_TRUE(detectAt({0.1, 0, 0.2}));
    ASSERT_EQ(proxy.contactSet().size(), 1u);
    const auto& feature = dynamic_cast<const QM::LocalFeaturePlane&>(proxy.contactSet().at(0));
    EXPECT_TRUE(near3(feature.plane().normal, {0, 0, -1}, 1e-12));
    float stiffness = 0;
    feature.getAttributes().get<float>(QM_STIFFNESS, stiffness);
    EXPECT_EQ(stiffness, 0.3f);
    QMenum touched = nullptr;
    shape(id).getAttributes().get<QMenum>(QM_TOUCHED_FACE, touched);
    EXPECT_EQ(touched, QM_BACK);
    EXPECT_LE(proxyAt().z, 0.0);
}

// The floor z = 0 (x from 0 to 1) and the wall x = 0 (z from 0 to 1) meet
// in the y axis.
TEST_F(DetectorTest, InAConcaveEdgeTheProxySlidesAlongTheEdge) {
    quads({{zvuVector3Dd(0, -1, 0), {1, -1, 0}, {1, 1, 0}, {0, 1, 0}},
           {zvuVector3Dd(0, -1, 0), {0, 1, 0}, {0, 1, 1}, {0, -1, 1}}});
    proxy.initialise(deviceAt({0.5, 0, 0.5}));
    for (const double y : {0.3, 0.1, -0.4}) {
        SCOPED_TRACE(y);
        ASSERT_TRUE(detectAt({-0.2, y, -0.1}));
        EXPECT_EQ(proxy.contactSet().size(), 2u);
        ticks(5);
        EXPECT_NEAR(proxyAt().y, y, 1e-12);
        EXPECT_GE(proxyAt().x, 0.0);
        EXPECT_LE(proxyAt().x, kOffset + 1e-12);
        EXPECT_GE(proxyAt().z, 0.0);
        EXPECT_LE(proxyAt().z, kOffset + 1e-12);
        EXPECT_TRUE(near3(proxy.collisionSet().touchNormal(), zvuVector3Dd(1, 0, 1).normalized(), 1e-12));
    }
}

TEST_F(DetectorTest, InACornerTheProxyStaysAtTheCorner) {
    quads({{zvuVector3Dd(0, 0, 0), {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
           {zvuVector3Dd(0, 0, 0), {0, 1, 0}, {0, 1, 1}, {0, 0, 1}},
           {zvuVector3Dd(0, 0, 0), {0, 0, 1}, {1, 0, 1}, {1, 0, 0}}});
    proxy.initialise(deviceAt({0.5, 0.5, 0.5}));
    for (const zvuVector3Dd p : {zvuVector3Dd(-0.1, -0.2, -0.15), zvuVector3Dd(-0.3, -0.05, -0.2)}) {
        ASSERT_TRUE(detectAt(p));
        EXPECT_EQ(proxy.contactSet().size(), 3u);
        ticks(5);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_GE(proxyAt()[axis], 0.0);
            EXPECT_LE(proxyAt()[axis], kOffset + 1e-12);
        }
        EXPECT_TRUE(near3(proxy.collisionSet().touchNormal(), zvuVector3Dd(1, 1, 1).normalized(), 1e-12));
    }
}

// A V-shaped notch along the x axis opening toward +z, its faces `angle`
// apart, facing into the notch. The sharper the notch, the more nearly
// opposite the two normals: they must still count as two walls, or the
// proxy slips through one of them.
TEST_F(DetectorTest, AnAcuteWedgeDoesNotLetTheProxyThrough) {
    struct Case {
        double degrees;
        bool clockwise;
    };
    for (const Case c : {Case{20, false}, Case{20, true}, Case{1, false}, Case{1, true}}) {
        SCOPED_TRACE(testing::Message() << c.degrees << (c.clockwise ? " clockwise" : ""));
        scene.clear();
        const double s = std::sin(c.degrees * std::numbers::pi / 360.0);
        const double k = std::cos(c.degrees * std::numbers::pi / 360.0);
        const double l = 3.0;
        quads({{zvuVector3Dd(-1, 0, 0), {1, 0, 0}, {1, l * s, l * k}, {-1, l * s, l * k}},
               {zvuVector3Dd(-1, 0, 0), {-1, -l * s, l * k}, {1, -l * s, l * k}, {1, 0, 0}}},
              c.clockwise);
        const zvuVector3Dd nA(0, -k, s);
        const zvuVector3Dd nB(0, k, s);
        proxy.uninitialise();
        proxy.initialise(deviceAt({0, 0, 2.0}));
        // Deep in (held at the apex by both faces), then beside the notch
        // (held by one face only).
        struct Push {
            zvuVector3Dd device;
            std::size_t planes;
        };
        for (const Push push : {Push{{0.1, 0.02, -0.5}, 2}, Push{{0.2, 0.3, -0.3}, 2}, Push{{0.3, -0.4, -0.6}, 2},
                                Push{{0.1, 0.6, 0.2}, 1}}) {
            const zvuVector3Dd& p = push.device;
            SCOPED_TRACE(p.y);
            ASSERT_TRUE(detectAt(p));
            EXPECT_EQ(proxy.contactSet().size(), push.planes);
            for (int tick = 0; tick < 10; ++tick) {
                proxy.update(device);
                EXPECT_GE(nA.dot(proxyAt()), -1e-9);
                EXPECT_GE(nB.dot(proxyAt()), -1e-9);
            }
        }
    }
}

// A flat floor for x < 0 and, for x > 0, a floor tilted up about the y
// axis by `angle`; the proxy slides from the flat part over the crease.
TEST_F(DetectorTest, NearlyCoplanarSurfacesCountAsOnePlane) {
    struct Case {
        double angle;
        std::size_t planes;
    };
    for (const Case c : {Case{0.0, 1}, Case{0.001, 1}, Case{0.03, 1}, Case{0.1, 2}}) {
        SCOPED_TRACE(c.angle);
        scene.clear();
        const double rise = 50.0 * std::tan(c.angle);
        quads({{zvuVector3Dd(-50, -5, 0), {0, -5, 0}, {0, 5, 0}, {-50, 5, 0}},
               {zvuVector3Dd(0, -5, 0), {50, -5, rise}, {50, 5, rise}, {0, 5, 0}}});
        proxy.uninitialise();
        proxy.initialise(deviceAt({-20, 0, 0.5}));
        ASSERT_TRUE(detectAt({-20, 0, -0.1}));
        ASSERT_TRUE(detectAt({20, 0, -0.5}));
        EXPECT_EQ(proxy.contactSet().size(), c.planes);
        const zvuVector3Dd tilted(-std::sin(c.angle), 0, std::cos(c.angle));
        EXPECT_GE(tilted.dot(proxyAt()), 0.0);
        EXPECT_GE(proxyAt().z, 0.0);
    }
}

// A device that crosses a thin slab within one collision step is caught by
// the sweep from the proxy's last position.
TEST_F(DetectorTest, AFastStrokeAcrossAThinShapeDoesNotTunnel) {
    // Top face z = 0 facing up, bottom face z = -0.001 facing down.
    quads({{zvuVector3Dd(-0.5, -0.5, 0), {0.5, -0.5, 0}, {0.5, 0.5, 0}, {-0.5, 0.5, 0}},
           {zvuVector3Dd(-0.5, -0.5, -0.001), {-0.5, 0.5, -0.001}, {0.5, 0.5, -0.001}, {0.5, -0.5, -0.001}}});
    struct Stroke {
        zvuVector3Dd from, to;
    };
    for (const Stroke s : {Stroke{{0, 0, 0.5}, {0, 0, -0.5}}, Stroke{{-0.45, 0.1, 0.05}, {0.45, -0.1, -0.9}},
                           Stroke{{0.4, 0.4, 0.001}, {-0.4, -0.4, -0.002}}}) {
        proxy.uninitialise();
        proxy.initialise(deviceAt(s.from));
        ASSERT_TRUE(detectAt(s.to));
        ticks(10);
        EXPECT_GE(proxyAt().z, 0.0);
        EXPECT_TRUE(proxy.isTouching());
        ASSERT_TRUE(detectAt(s.to));
        EXPECT_GE(proxyAt().z, 0.0);
    }
}

TEST_F(DetectorTest, PopThroughAtTenTimesThePopThroughValue) {
    struct Case {
        float popThrough;
        double force;
        bool pops;
    };
    const Case cases[] = {
        {0.5f, 4.9, false},
        {0.5f, 5.1, true},
        {0.1f, 1.01, true},
        {0.0f, 1e6, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.popThrough << " " << c.force);
        scene.clear();
        qmMaterialf(QM_FRONT, QM_POPTHROUGH, c.popThrough);
        const unsigned id = floorSquare();
        proxy.uninitialise();
        proxy.initialise(deviceAt({0, 0, 0.5}));
        TouchState touch;
        ASSERT_TRUE(detectAt({0, 0, -0.2}));
        ASSERT_EQ(touch.update(scene.getShapes(), proxy.collisionSet()), (std::vector<TouchChange>{{id, true}}));

        // The device pushes straight down on the surface with this force.
        TouchState::storeReactionForces(scene.getShapes(), {0, 0, c.force}, device.position(), proxy);
        ASSERT_TRUE(detectAt({0, 0, -0.2}));
        bool touching = true;
        shape(id).getAttributes().get<bool>(QM_PROXY_IS_TOUCHING, touching);
        EXPECT_EQ(touching, !c.pops);
        EXPECT_EQ(proxy.contactSet().empty(), c.pops);
        if (c.pops) {
            EXPECT_TRUE(near3(proxyAt(), {0, 0, -0.2}, 0));
        } else {
            EXPECT_GE(proxyAt().z, 0.0);
        }
    }
}

// A constraint shape holding one point and one segment, the device 0.25
// from the point and 0.5 from the segment.
TEST_F(DetectorTest, SnapDistanceDropsConstraintsAndAPointBeatsALine) {
    struct Case {
        float snap;
        std::size_t features;
        zvuVector3Dd expected;
    };
    const zvuVector3Dd pointAt(0.25, 0, 0);
    const Case cases[] = {
        {0.0f, 0, {0, 0, 0}},  // every constraint dropped: the proxy is the device
        {0.3f, 1, pointAt},
        {0.6f, 2, pointAt},
        {FLT_MAX, 2, pointAt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.snap);
        scene.clear();
        qmTouchModel(QM_CONSTRAINT);
        qmTouchModelf(QM_SNAP_DISTANCE, c.snap);
        const unsigned id = qmGenShapes(1);
        qmBeginShape(QM_SHAPE_PRIMITIVE, id);
        qmBegin(QM_POINTS);
        qmVertex3d(pointAt.x, pointAt.y, pointAt.z);
        qmEnd();
        qmBegin(QM_LINES);
        qmVertex3d(-1, 0.5, 0);
        qmVertex3d(1, 0.5, 0);
        qmEnd();
        qmEndShape();
        ASSERT_TRUE(errors().empty());
        scene.addShape(persistentShape(id));
        qmTouchModel(QM_CONTACT);
        qmTouchModelf(QM_SNAP_DISTANCE, FLT_MAX);

        proxy.uninitialise();
        proxy.initialise(deviceAt({0, 0, 0}));
        ASSERT_TRUE(detectAt({0, 0, 0}));
        EXPECT_EQ(proxy.constraintSet().size(), c.features);
        EXPECT_TRUE(near3(proxyAt(), c.expected, 1e-12));
        ticks(3);
        EXPECT_TRUE(near3(proxyAt(), c.expected, 1e-12));
    }
}

// A constraint plane catches a device that goes through it, from either
// side, and holds the proxy on the side it came from; one beyond the snap
// distance is not caught.
TEST_F(DetectorTest, AConstraintPlaneHoldsTheProxyFromEitherSide) {
    qmTouchModel(QM_CONSTRAINT);
    qmTouchModelf(QM_SNAP_DISTANCE, 0.1f);
    floorSquare();
    qmTouchModel(QM_CONTACT);
    for (const double side : {1.0, -1.0}) {
        SCOPED_TRACE(side);
        proxy.uninitialise();
        proxy.initialise(deviceAt({0.1, 0.1, 0.05 * side}));
        ASSERT_TRUE(detectAt({0.2, 0.1, -0.05 * side}));
        EXPECT_EQ(proxy.constraintSet().size(), 1u);
        ticks(3);
        EXPECT_NEAR(proxyAt().x, 0.2, 1e-12);
        EXPECT_NEAR(proxyAt().y, 0.1, 1e-12);
        EXPECT_GE(proxyAt().z * side, 0.0);
        EXPECT_LE(proxyAt().z * side, kOffset + 1e-12);
        EXPECT_TRUE(proxy.isTouching());

        proxy.uninitialise();
        proxy.initialise(deviceAt({0.1, 0.1, 0.05 * side}));
        ASSERT_TRUE(detectAt({0.2, 0.1, -0.2 * side}));
        EXPECT_TRUE(proxy.constraintSet().empty());
        EXPECT_TRUE(near3(proxyAt(), {0.2, 0.1, -0.2 * side}, 0)) << "beyond the snap distance";
    }
}

TEST_F(DetectorTest, FeaturesNotForTheFastLoopAreErasedWithTheirRecords) {
    const unsigned id = floorSquare();
    shape(id).getAttributes().set<bool>(QM::QM_INT_USE_IN_FAST_LOOP, false);
    proxy.initialise(deviceAt({0, 0, 0.5}));
    ASSERT_TRUE(detectAt({0, 0, -0.2}));
    EXPECT_TRUE(proxy.contactSet().empty());
    EXPECT_FALSE(proxy.isTouching());
    EXPECT_GE(proxyAt().z, 0.0) << "the step itself still stops at the surface";
}

// Features handed over from elsewhere are sorted by their touch model.
TEST_F(DetectorTest, DistributeSortsFeaturesByTouchModel) {
    QM::LocalFeatureSet features;
    features.insert(plane({0, 0, 1}, {0, 0, 0}));
    QM::ILocalFeature* guide = features.insert(line({-1, 0, 0}, {1, 0, 0}));
    guide->getAttributes().declare<QMenum>(QM_TOUCH_MODEL);
    guide->getAttributes().set<QMenum>(QM_TOUCH_MODEL, QM_CONSTRAINT);
    proxy.initialise(deviceAt({0.3, 0.2, 0.1}));
    device.place({0.3, 0.2, -0.1});
    ASSERT_TRUE(detector.distribute(features, proxy, device));
    EXPECT_TRUE(features.empty());
    EXPECT_EQ(proxy.contactSet().size(), 1u);
    ASSERT_EQ(proxy.constraintSet().size(), 1u);
    EXPECT_EQ(&proxy.constraintSet().at(0), guide);
    // The contact position stays; the constraint pulls the proxy onto the
    // guide.
    EXPECT_TRUE(near3(proxy.motionTransform(0)->position(), {0.3, 0.2, 0.1}, 0));
    EXPECT_TRUE(near3(proxyAt(), {0.3, 0, 0}, 1e-12));
}

TEST_F(DetectorTest, ADetectionThatThrowsLeavesTheProxyWithoutFeatures) {
    class Throwing final : public sched::ReferenceCounter<QM::IShape> {
    public:
        bool intersectSegment(const zvu::zvuLineSegmentd&, zvuVector3Dd&, zvuVector3Dd&, QMenum&) override {
            throw std::bad_alloc();
        }
        bool intersectSegment(const zvu::zvuLineSegmentd&, QMenum, zvuVector3Dd&, zvuVector3Dd&, QMenum&) override {
            throw std::bad_alloc();
        }
        bool closestFeatures(const zvu::zvuLineSegmentd&, QM::LocalFeatureSet&, zvuVector3Dd&) override {
            throw std::bad_alloc();
        }
        double getProxyOffset() const override { return 0.0; }
        const QM::AttributeMap& getAttributes() const override { return attributes_; }
        QM::AttributeMap& getAttributes() override { return attributes_; }
        void setAttributes(const QM::IAttributeMap&) override {}
        QMenum getType() const override { return QM::QM_INT_SHAPE_BASE; }
        unsigned getId() const override { return 999; }

    private:
        QM::AttributeMap attributes_;
    };
    floorSquare();
    scene.addShape(new Throwing);
    proxy.initialise(deviceAt({0, 0, 0.5}));
    EXPECT_FALSE(detectAt({0, 0, -0.2}));
    EXPECT_TRUE(proxy.contactSet().empty());
    EXPECT_TRUE(near3(proxyAt(), {0, 0, -0.2}, 0));
}

TEST_F(DetectorTest, TouchChangesComeInIdentifierOrder) {
    // Two floors side by side; the proxy rests on the one, then the other,
    // then on both along their common edge, then on neither.
    const unsigned left = quads({{zvuVector3Dd(-1, -1, 0), {0, -1, 0}, {0, 1, 0}, {-1, 1, 0}}});
    const unsigned right = quads({{zvuVector3Dd(0, -1, 0), {1, -1, 0}, {1, 1, 0}, {0, 1, 0}}});
    ASSERT_LT(left, right);
    TouchState touch;
    struct Step {
        zvuVector3Dd from, to;
        std::vector<TouchChange> changes;
    };
    const Step steps[] = {
        {{-0.5, 0, 0.5}, {-0.5, 0, -0.1}, {{left, true}}},
        {{0.5, 0, 0.5}, {0.5, 0, -0.1}, {{left, false}, {right, true}}},
        {{0.5, 0, 0.5}, {0.5, 0, 0.4}, {{right, false}}},
    };
    for (const Step& s : steps) {
        proxy.uninitialise();
        proxy.initialise(deviceAt(s.from));
        ASSERT_TRUE(detectAt(s.to));
        EXPECT_EQ(touch.update(scene.getShapes(), proxy.collisionSet()), s.changes);
        for (const unsigned id : {left, right}) {
            bool touching = false;
            shape(id).getAttributes().get<bool>(QM_PROXY_IS_TOUCHING, touching);
            EXPECT_EQ(touching, std::binary_search(touch.touched().begin(), touch.touched().end(), id));
        }
    }
}

// Records from planes of shape 7 (and one from shape 8, which never
// counts for shape 7).
TEST(ReactionForceTest, TheShapeTakesTheForceItsContactsCanHold) {
    const double r3 = std::sqrt(3.0) / 2.0;
    struct Case {
        const char* name;
        std::vector<zvuVector3Dd> normals;
        zvuVector3Dd force, proxy, expected;
    };
    const Case cases[] = {
        {"no contact", {}, {1, 2, 3}, {0, 0, 0.5}, {0, 0, 0}},
        // Fa = (0, 0, 2) along d, Fp = (1, 0, 0).
        {"one contact", {{0, 0.5, r3}}, {1, 0, 2}, {0, 0, 0.5}, {1, 2 * r3 * 0.5, 2 * r3 * r3}},
        // Planes 60 degrees apart meeting along y; the force along d has a
        // part along the edge, which they cannot hold.
        {"two contacts at 60 degrees", {{0, 0, 1}, {r3, 0, 0.5}}, {0, 2, 2}, {0, 0.5, 0.5}, {0, 0, 2}},
        {"two parallel contacts", {{0, 0, 1}, {0, 0, 1}}, {0, 2, 2}, {0, 0.5, 0.5}, {0, 2, 2}},
        {"three contacts", {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}, {1, 2, 3}, {0, 0, 0.5}, {1, 2, 3}},
        {"device at the proxy", {{0, 0, 1}}, {1, 0, 2}, {0, 0, 0}, {1, 0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QM::LocalFeatureSet features;
        QM::CollisionSet records;
        const auto addRecord = [&](const zvuVector3Dd& n, std::int32_t shape) {
            QM::ILocalFeature* f = features.insert(plane(n, {0, 0, 0}));
            f->getAttributes().declare<std::int32_t>(QM::QM_INT_SOURCE_SHAPE_ID);
            f->getAttributes().set<std::int32_t>(QM::QM_INT_SOURCE_SHAPE_ID, shape);
            QM::LocalIntersectionInfo record;
            record.feature = f;
            record.normal = n;
            records.add(record);
        };
        for (const zvuVector3Dd& n : c.normals) addRecord(n, 7);
        addRecord({1, 0, 0}, 8);
        const zvuVector3Dd f = TouchState::reactionForce(7, c.force, {0, 0, 0}, c.proxy, records);
        EXPECT_TRUE(near3(f, c.expected, 1e-12));
    }
}

// A floor that moves up between two frames carries the touching proxy with
// it; one that stays does not move the proxy.
TEST_F(DetectorTest, ContactsAreCarriedOverToAMovedShape) {
    for (const double lift : {0.0, 0.1}) {
        SCOPED_TRACE(lift);
        scene.clear();
        const unsigned id = floorSquare();
        QM::PointProxy collisionProxy;
        collisionProxy.initialise(deviceAt({0.1, 0.1, 0.5}));
        device.place({0.1, 0.1, -0.2});
        ASSERT_TRUE(detector.detect(scene.getShapes(), device, collisionProxy));
        TouchState touch;
        ASSERT_EQ(touch.update(scene.getShapes(), collisionProxy.collisionSet()).size(), 1u);
        const zvuVector3Dd before = collisionProxy.motionTransform(0)->position();

        // The same shape drawn again, moved up by `lift` through the
        // modelview.
        QM::Scene next;
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glTranslated(0, 0, lift);
        primitiveSquare(id);
        glPopMatrix();
        ASSERT_TRUE(errors().empty());
        next.addShape(persistentShape(id));
        ASSERT_NE(next.getShapes().find(id), scene.getShapes().find(id));

        const QM::CarriedContacts carried =
            QM::carryContacts(scene.getShapes(), next.getShapes(), collisionProxy, device, detector, touch);
        EXPECT_TRUE(carried.ok);
        EXPECT_TRUE(carried.touchChanges.empty()) << "still touching the same shape";
        bool touching = false;
        next.getShapes().find(id)->getAttributes().get<bool>(QM_PROXY_IS_TOUCHING, touching);
        EXPECT_TRUE(touching) << "the new shape took over the touch";
        if (lift == 0.0) {
            EXPECT_FALSE(carried.move.has_value());
            continue;
        }
        ASSERT_TRUE(carried.move.has_value());
        const zvuVector3Dd after = collisionProxy.motionTransform(0)->position();
        EXPECT_TRUE(near3(carried.move->translation, after - before, 1e-15));
        EXPECT_NEAR(after.x, 0.1, 1e-12);
        EXPECT_NEAR(after.y, 0.1, 1e-12);
        EXPECT_GE(after.z, lift - 1e-7);
        EXPECT_LE(after.z, lift + kOffset + 1e-7);  // the lift went through a float matrix
        EXPECT_TRUE(collisionProxy.isTouching());
    }
}

// A shape redrawn with another touchable face than the one it was touched
// on does not inherit the touch; one touchable from both sides does.
TEST_F(DetectorTest, ATouchIsTakenOverOnlyByAShapeThatCanStillBeTouchedThere) {
    for (const QMenum face : {QM_BACK, QM_FRONT_AND_BACK}) {
        SCOPED_TRACE(face);
        const unsigned id = qmGenShapes(1);
        primitiveSquare(id);
        QM::Scene before;
        before.addShape(persistentShape(id));
        QM::IShape& old = *before.getShapes().find(id);
        old.getAttributes().set<bool>(QM_PROXY_IS_TOUCHING, true);
        old.getAttributes().set<QMenum>(QM_TOUCHED_FACE, QM_FRONT);

        qmTouchableFace(face);
        primitiveSquare(id);
        qmTouchableFace(QM_FRONT);
        QM::Scene after;
        after.addShape(persistentShape(id));

        proxy.uninitialise();
        proxy.initialise(deviceAt({0, 0, 0.01}));
        QM::TouchState touch;
        const QM::CarriedContacts carried =
            QM::carryContacts(before.getShapes(), after.getShapes(), proxy, deviceAt({0, 0, -0.1}), detector, touch);
        EXPECT_FALSE(carried.move.has_value()) << "nothing moved";
        bool touching = false;
        after.getShapes().find(id)->getAttributes().get<bool>(QM_PROXY_IS_TOUCHING, touching);
        EXPECT_EQ(touching, face == QM_FRONT_AND_BACK);
    }
}

}  // namespace
