// The point proxy against hand-placed features: where the contact solve
// leaves it on planes, edges and corners, how the constraint snap ranks
// planes, lines and points, and its bookkeeping (transforms, sets, proxy
// resolution).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "collision_test_support.h"
#include "qm/api/Symbols.h"

namespace {

using namespace qmtest;
using QM::PointProxy;

// A proxy resting at `start`, with its sets still empty.
void restAt(PointProxy& proxy, const zvuVector3Dd& start) { proxy.initialise(deviceAt(start)); }

void expectAllTransformsAt(const PointProxy& proxy, const zvuVector3Dd& p, double tol) {
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(near3(proxy.motionTransform(i)->position(), p, tol));
    }
}

TEST(PointProxyTest, WithoutFeaturesTheProxyIsTheDevice) {
    PointProxy proxy;
    EXPECT_FALSE(proxy.isInitialised());
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(near3(proxy.motionTransform(i)->position(), {0, 0, 0}, 0));
        EXPECT_EQ(proxy.motionTransform(i)->rotation(), zvu::zvuQuaternion());
    }
    EXPECT_EQ(proxy.motionTransform(-1), nullptr);
    EXPECT_EQ(proxy.motionTransform(4), nullptr);

    QM::HapticDeviceTarget device = deviceAt({0.3, -0.2, 0.7});
    device.motion().setRotation(zvu::zvuQuaternion::fromAxisAngle({0, 0, 1}, 0.5));
    proxy.update(device);
    expectAllTransformsAt(proxy, {0.3, -0.2, 0.7}, 0);
    EXPECT_EQ(proxy.motionTransform(2)->rotation(), device.rotation());
    EXPECT_FALSE(proxy.isTouching());
    EXPECT_EQ(proxy.collisionSet().count(), 0u);
    EXPECT_EQ(proxy.collisionSet().touchNormal(), zvuVector3Dd(0, 0, 1));
}

struct PlaneCase {
    const char* name;
    zvuVector3Dd normal, through, start, device;
};

// Pressed into one plane, the proxy is the device's projection on it.
TEST(PointProxyTest, PressedIntoAPlaneTheProxyIsTheDevicesProjection) {
    const PlaneCase cases[] = {
        {"floor", {0, 0, 1}, {0, 0, 0}, {0.1, 0.2, 0.5}, {0.3, -0.2, -0.4}},
        {"straight down", {0, 0, 1}, {0, 0, 0}, {0, 0, 0.5}, {0, 0, -0.1}},
        {"tilted", {1, 1, 1}, {0.1, 0, 0}, {0.5, 0.5, 0.5}, {-0.2, 0.1, -0.3}},
        {"wall", {-1, 0, 0}, {0.4, 0, 0}, {0, 0, 0}, {0.9, 0.3, 0.1}},
    };
    for (const PlaneCase& c : cases) {
        SCOPED_TRACE(c.name);
        PointProxy proxy;
        restAt(proxy, c.start);
        proxy.contactSet().insert(plane(c.normal, c.through));
        proxy.update(deviceAt(c.device));
        const zvuVector3Dd n = c.normal.normalized();
        const zvuVector3Dd expected = c.device - n * n.dot(c.device - c.through);
        expectAllTransformsAt(proxy, expected, 1e-12);
        EXPECT_TRUE(proxy.isTouching());
        ASSERT_EQ(proxy.collisionSet().count(), 1u);
        EXPECT_TRUE(near3(proxy.collisionSet().touchNormal(), n, 1e-15));

        // Resting on the plane and pushed again, it slides with the device.
        const zvuVector3Dd further = c.device + zvuVector3Dd(0.05, -0.05, 0.02) - n * 0.1;
        proxy.update(deviceAt(further));
        EXPECT_TRUE(near3(proxy.motionTransform(2)->position(), further - n * n.dot(further - c.through), 1e-12));
        EXPECT_TRUE(proxy.isTouching());
    }
}

TEST(PointProxyTest, ADeviceInFrontOfThePlaneIsFree) {
    PointProxy proxy;
    restAt(proxy, {0, 0, 0.5});
    proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
    proxy.update(deviceAt({0.2, 0, 0.1}));
    expectAllTransformsAt(proxy, {0.2, 0, 0.1}, 0);
    EXPECT_FALSE(proxy.isTouching());
}

// The floor z = 0 and the wall x = 0 meet in the y axis; the proxy comes
// from the quadrant x > 0, z > 0.
TEST(PointProxyTest, InAConcaveEdgeTheProxySlidesAlongTheEdge) {
    PointProxy proxy;
    restAt(proxy, {0.5, 0, 0.5});
    proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
    proxy.contactSet().insert(plane({1, 0, 0}, {0, 0, 0}));
    for (const double y : {0.3, 0.1, -0.4, -0.45}) {
        SCOPED_TRACE(y);
        proxy.update(deviceAt({-0.2, y, -0.1}));
        expectAllTransformsAt(proxy, {0, y, 0}, 1e-12);
        ASSERT_EQ(proxy.collisionSet().count(), 2u);
        EXPECT_TRUE(near3(proxy.collisionSet().touchNormal(), zvuVector3Dd(1, 0, 1).normalized(), 1e-12));
    }
}

TEST(PointProxyTest, InACornerOfThreePlanesTheProxyStaysAtTheCorner) {
    PointProxy proxy;
    restAt(proxy, {0.5, 0.4, 0.3});
    proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
    proxy.contactSet().insert(plane({1, 0, 0}, {0, 0, 0}));
    proxy.contactSet().insert(plane({0, 1, 0}, {0, 0, 0}));
    for (const zvuVector3Dd device :
         {zvuVector3Dd(-0.2, -0.1, -0.3), zvuVector3Dd(-0.01, -0.5, -0.02), zvuVector3Dd(-0.3, -0.3, -0.3)}) {
        proxy.update(deviceAt(device));
        expectAllTransformsAt(proxy, {0, 0, 0}, 1e-12);
        ASSERT_EQ(proxy.collisionSet().count(), 3u);
        EXPECT_TRUE(near3(proxy.collisionSet().touchNormal(), zvuVector3Dd(1, 1, 1).normalized(), 1e-12));
    }
}

// A V-shaped notch along the x axis, opening toward +z, its two faces
// `angle` apart. Their normals point into the notch and nearly oppose each
// other when the notch is sharp; the proxy must stay inside all the same.
TEST(PointProxyTest, AnAcuteWedgeDoesNotLetTheProxyThrough) {
    for (const double angle : {20.0 * std::numbers::pi / 180.0, std::numbers::pi / 180.0, 1e-6}) {
        SCOPED_TRACE(angle);
        const double s = std::sin(angle / 2);
        const double c = std::cos(angle / 2);
        PointProxy proxy;
        restAt(proxy, {0, 0, 0.5});
        proxy.contactSet().insert(plane({0, -c, s}, {0, 0, 0}));
        proxy.contactSet().insert(plane({0, c, s}, {0, 0, 0}));
        for (const zvuVector3Dd device :
             {zvuVector3Dd(0, 0.01, -0.5), zvuVector3Dd(0.2, -0.3, -0.1), zvuVector3Dd(-0.1, 0.05, -0.4)}) {
            proxy.update(deviceAt(device));
            // Each device lies where the apex line is the nearest point of
            // the notch.
            EXPECT_TRUE(near3(proxy.motionTransform(2)->position(), {device.x, 0, 0}, 1e-9));
            EXPECT_EQ(proxy.collisionSet().count(), 2u);
        }
    }
}

// Two planes whose normals differ by less than the merge tolerance are one
// plane: one collision, and the proxy on the first of them.
TEST(PointProxyTest, NearlyCoplanarPlanesCountAsOne) {
    for (const double angle : {0.0, 1e-6}) {
        SCOPED_TRACE(angle);
        PointProxy proxy;
        restAt(proxy, {0.1, 0, 0.5});
        proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
        proxy.contactSet().insert(plane({std::sin(angle), 0, std::cos(angle)}, {0, 0, 0}));
        proxy.update(deviceAt({0.3, 0.1, -0.2}));
        EXPECT_EQ(proxy.collisionSet().count(), 1u);
        EXPECT_TRUE(near3(proxy.motionTransform(2)->position(), {0.3, 0.1, 0}, 1e-6));
    }
}

// Two parallel walls facing each other (a slot): neither lets the proxy
// through, and no NaN comes out of the missing edge.
TEST(PointProxyTest, FacingWallsHoldTheProxyBetweenThem) {
    PointProxy proxy;
    restAt(proxy, {0, 0, 0.05});
    proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
    proxy.contactSet().insert(plane({0, 0, -1}, {0, 0, 0.1}));
    proxy.update(deviceAt({0.2, 0, -0.5}));
    EXPECT_TRUE(near3(proxy.motionTransform(2)->position(), {0.2, 0, 0}, 1e-12));
    proxy.update(deviceAt({0.3, 0, 0.6}));
    EXPECT_TRUE(near3(proxy.motionTransform(2)->position(), {0.3, 0, 0.1}, 1e-12));
}

TEST(PointProxyTest, TheConstraintSnapPrefersPointsToLinesToPlanes) {
    struct Case {
        const char* name;
        bool withPlane, withLine, withPoint;
        zvuVector3Dd expected;
    };
    // Device at (0.4, 0.3, -0.1); plane z = 0, line along the x axis, point
    // at (0.5, 0.5, 0).
    const Case cases[] = {
        {"nothing", false, false, false, {0.4, 0.3, -0.1}},
        {"plane", true, false, false, {0.4, 0.3, 0}},
        {"line", false, true, false, {0.4, 0, 0}},
        {"plane and line", true, true, false, {0.4, 0, 0}},
        {"line and point", false, true, true, {0.5, 0.5, 0}},
        {"all three", true, true, true, {0.5, 0.5, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PointProxy proxy;
        restAt(proxy, {0.4, 0.3, 0.2});
        if (c.withPlane) proxy.constraintSet().insert(plane({0, 0, 1}, {0, 0, 0}));
        if (c.withLine) proxy.constraintSet().insert(line({-1, 0, 0}, {1, 0, 0}));
        if (c.withPoint) proxy.constraintSet().insert(point({0.5, 0.5, 0}));
        proxy.update(deviceAt({0.4, 0.3, -0.1}));
        EXPECT_TRUE(near3(proxy.motionTransform(1)->position(), c.expected, 1e-12));
        EXPECT_TRUE(near3(proxy.motionTransform(2)->position(), c.expected, 1e-12));
        EXPECT_TRUE(near3(proxy.motionTransform(0)->position(), {0.4, 0.3, -0.1}, 0))
            << "the contact position ignores constraints";
    }
}

// Of two lines, the one crossed first on the way to the nearest one wins
// when it holds the proxy closer to the device.
TEST(PointProxyTest, TheConstraintSnapTakesALineCrossedOnTheWay) {
    PointProxy proxy;
    restAt(proxy, {0, 0, 0});
    // Nearest to the start: the line y = 0.1 (parallel to x, at z = 0).
    proxy.constraintSet().insert(line({-1, 0.1, 0}, {1, 0.1, 0}));
    // Crossing the path from the start to it: the line x = 0 along y, which
    // holds a device at (0.02, 0.5, 0) much closer.
    proxy.constraintSet().insert(line({0, -1, 0.0005}, {0, 1, 0.0005}));
    proxy.update(deviceAt({0.02, 0.5, 0}));
    EXPECT_TRUE(near3(proxy.motionTransform(2)->position(), {0, 0.5, 0.0005}, 1e-12));
}

TEST(PointProxyTest, TheOverridePositionReplacesTheContactResult) {
    PointProxy proxy;
    restAt(proxy, {0, 0, 0.5});
    proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
    proxy.update(deviceAt({0, 0, -0.5}), zvuVector3Dd(0.1, 0.1, 0.01));
    expectAllTransformsAt(proxy, {0.1, 0.1, 0.01}, 0);
}

TEST(PointProxyTest, CollisionsOfFeaturesThatDoNotReportAreDropped) {
    PointProxy proxy;
    restAt(proxy, {0, 0, 0.5});
    QM::ILocalFeature* silent = proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
    silent->getAttributes().declare<bool>(QM::QM_INT_REPORT_COLLISIONS);
    silent->getAttributes().set<bool>(QM::QM_INT_REPORT_COLLISIONS, false);
    proxy.contactSet().insert(plane({1, 0, 0}, {0, 0, 0}));
    proxy.update(deviceAt({-0.1, 0.2, -0.1}));
    // Still held in the edge, but only the reporting wall is recorded.
    EXPECT_TRUE(near3(proxy.motionTransform(2)->position(), {0, 0.2, 0}, 1e-12));
    ASSERT_EQ(proxy.collisionSet().count(), 1u);
    EXPECT_TRUE(near3(proxy.collisionSet().touchNormal(), {1, 0, 0}, 0));
}

TEST(PointProxyTest, WithProxyResolutionOffTheProxyStaysWhereTheApplicationPutIt) {
    PointProxy proxy;
    restAt(proxy, {0, 0, 0.5});
    proxy.controlParameters().set<bool>(QM_PROXY_RESOLUTION, false);
    const zvu::zvuQuaternion held = zvu::zvuQuaternion::fromAxisAngle({1, 0, 0}, 0.3);
    proxy.motionTransform(2)->set({0.2, 0.2, 0.2}, held);
    proxy.update(deviceAt({-0.5, -0.5, -0.5}));
    expectAllTransformsAt(proxy, {0.2, 0.2, 0.2}, 0);
    EXPECT_EQ(proxy.motionTransform(0)->rotation(), held);
}

TEST(PointProxyTest, ANonFiniteDeviceLeavesTheProxyWhereItIs) {
    PointProxy proxy;
    restAt(proxy, {0, 0, 0.5});
    proxy.update(deviceAt({std::nan(""), 0, 0}));
    expectAllTransformsAt(proxy, {0, 0, 0.5}, 0);
}

TEST(PointProxyTest, SetsAreSwappedClearedAndDroppedWithTheInitialisation) {
    PointProxy a;
    PointProxy b;
    restAt(a, {0, 0, 0.5});
    a.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
    a.constraintSet().insert(point({1, 1, 1}));
    a.update(deviceAt({0, 0, -1}));
    ASSERT_TRUE(a.isTouching());

    a.swapSets(b);
    EXPECT_TRUE(a.contactSet().empty());
    EXPECT_TRUE(a.constraintSet().empty());
    EXPECT_FALSE(a.isTouching());
    EXPECT_EQ(b.contactSet().size(), 1u);
    EXPECT_EQ(b.constraintSet().size(), 1u);
    EXPECT_TRUE(b.isTouching());

    b.clear();
    EXPECT_TRUE(b.contactSet().empty());
    EXPECT_TRUE(b.constraintSet().empty());
    EXPECT_FALSE(b.isTouching());

    b.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
    b.initialise(deviceAt({1, 2, 3}));
    EXPECT_TRUE(b.isInitialised());
    b.uninitialise();
    EXPECT_FALSE(b.isInitialised());
    EXPECT_TRUE(b.contactSet().empty());
}

TEST(PointProxyTest, TransformsSegmentsAndCopies) {
    QM::HapticDeviceTarget device = deviceAt({1, 2, 3});
    device.motion().setPosition({1, 2, 4});  // last position (1, 2, 3)
    PointProxy a;
    a.initialise(device);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(a.motionTransform(i)->position(), zvuVector3Dd(1, 2, 4));
        EXPECT_EQ(a.motionTransform(i)->lastPosition(), zvuVector3Dd(1, 2, 3));
    }
    a.motionTransform(0)->setPosition({0, 0, 0});
    EXPECT_EQ(a.motionTransform(0)->lastPosition(), zvuVector3Dd(1, 2, 4));
    const zvu::zvuLineSegmentd s = a.segment(0, device);
    EXPECT_EQ(s.start(), zvuVector3Dd(0, 0, 0));
    EXPECT_EQ(s.end(), zvuVector3Dd(1, 2, 4));

    PointProxy b;
    for (int i = 0; i < 4; ++i) {
        a.motionTransform(i)->setPosition({double(i), 0, 0});
    }
    b.copyTransforms(a);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(b.motionTransform(i)->position(), zvuVector3Dd(double(i), 0, 0));
    }
    EXPECT_EQ(b.motionTransform(3)->position(), zvuVector3Dd(0, 0, 0));
}

TEST(MotionTransformTest, TheMatrixRotatesThenTranslates) {
    QM::MotionTransform m;
    m.set({1, 2, 3}, zvu::zvuQuaternion::fromAxisAngle({0, 0, 1}, std::numbers::pi / 2));
    const zvuVector3Dd p = m.transform().transformPoint({1, 0, 0});
    EXPECT_TRUE(near3(p, {1, 3, 3}, 1e-12));
    EXPECT_TRUE(near3(m.lastTransform().transformPoint({1, 0, 0}), {1, 0, 0}, 1e-12));
}

}  // namespace
