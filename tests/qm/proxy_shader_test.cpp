// The proxy shaders against hand-placed features, tick by tick as the
// pipeline runs them (the proxy update, then the shader): the friction
// anchor that holds the rendered point until the tangential pull beats the
// static coefficient, and the material value the shaders read.
#include <gtest/gtest.h>

#include "collision_test_support.h"
#include "qm/api/Symbols.h"
#include "qm/servo/ProxyShaders.h"

namespace {

using namespace qmtest;
using QM::PointProxy;

QM::ILocalFeature* withMaterial(QM::ILocalFeature* feature, QMenum property, float value) {
    feature->getAttributes().declare<float>(property);
    feature->getAttributes().set<float>(property, value);
    return feature;
}

// The device, `depth` below the floor z = 0, slides along +x in steps of
// 0.01. The spring pulls it toward the rendered point R: tangentially by
// R.x - x, normally by depth, so the ratio of the two is x / depth while R
// stays at the anchor. R stays at the origin while that ratio is at most the
// static coefficient; the first step beyond it lets R go, by the fraction
// 1 - dynamic of the way to the proxy.
TEST(FrictionShaderTest, TheProxySticksUntilTheRatioExceedsTheStaticCoefficient) {
    struct Case {
        float staticFriction;
        float dynamicFriction;
        double depth;
    };
    const Case cases[] = {
        {0.5f, 0.0f, 2.0},   // lets go at x > 1, then follows the proxy
        {0.25f, 0.0f, 2.0},  // at x > 0.5
        {0.5f, 0.5f, 1.0},   // at x > 0.5, half-way to the proxy
        {0.0f, 0.0f, 1.0},   // frictionless: R is the proxy from the first step
    };
    const QM::FrictionShader friction;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "static " << c.staticFriction << " dynamic " << c.dynamicFriction
                                        << " depth " << c.depth);
        PointProxy proxy;
        friction.prepare(proxy);
        proxy.initialise(deviceAt({0, 0, 1}));
        QM::ILocalFeature* floor = proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
        withMaterial(floor, QM_STATIC_FRICTION, c.staticFriction);
        withMaterial(floor, QM_DYNAMIC_FRICTION, c.dynamicFriction);

        QM::HapticDeviceTarget device = deviceAt({0, 0, -c.depth});
        proxy.update(device);
        friction.shade(device, proxy);
        ASSERT_TRUE(proxy.isTouching());
        ASSERT_TRUE(near3(proxy.motionTransform(3)->position(), {0, 0, 0}, 0));

        const double breakaway = c.staticFriction * c.depth;
        double released = -1.0;
        for (int step = 1; step <= 200 && released < 0.0; ++step) {
            const double x = 0.01 * step;
            device.place({x, 0, -c.depth});
            proxy.update(device);
            friction.shade(device, proxy);
            const zvuVector3Dd rendered = proxy.motionTransform(3)->position();
            if (rendered.x == 0.0) {
                ASSERT_TRUE(near3(rendered, {0, 0, 0}, 0));
                continue;
            }
            released = x;
            EXPECT_NEAR(rendered.x, x * (1.0 - c.dynamicFriction), 1e-12);
            EXPECT_EQ(rendered.z, 0.0);
        }
        EXPECT_GT(released, breakaway) << "held while x / depth <= the static coefficient";
        EXPECT_LE(released, breakaway + 0.01 + 1e-12) << "let go at the first step beyond it";
    }
}

// A dynamic proxy move (a touched shape that moved) carries the anchor
// along, so the stuck rendered point moves with the surface.
TEST(FrictionShaderTest, ADynamicMoveCarriesTheAnchor) {
    const QM::FrictionShader friction;
    PointProxy proxy;
    friction.prepare(proxy);
    proxy.initialise(deviceAt({0.6, 0, 1}));
    QM::ILocalFeature* floor = proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0}));
    withMaterial(floor, QM_STATIC_FRICTION, 1.0f);

    const QM::HapticDeviceTarget device = deviceAt({0.6, 0, -1});
    proxy.update(device);
    friction.shade(device, proxy);
    ASSERT_TRUE(proxy.isTouching());
    EXPECT_TRUE(near3(proxy.motionTransform(3)->position(), {0.6, 0, 0}, 1e-12));

    friction.proxyMoved(proxy, {0.2, 0, 0});
    proxy.update(device);
    friction.shade(device, proxy);
    EXPECT_TRUE(near3(proxy.motionTransform(3)->position(), {0.8, 0, 0}, 1e-12));
}

// The damping shader pulls the rendered point toward the device only while
// the point moves. A proxy resting against a ceiling 30 above the origin,
// with the device held still inside it, feels no damping from its first
// touching tick on: the smoothed velocity starts from rest (taking the
// proxy's position for it would pull the point 13.5 below the ceiling).
TEST(DampingShaderTest, AContactAtRestIsNotDamped) {
    const QM::DampingShader damping;
    PointProxy proxy;
    damping.prepare(proxy);
    proxy.initialise(deviceAt({5, 0, 20}));
    withMaterial(proxy.contactSet().insert(plane({0, 0, -1}, {0, 0, 30})), QM_DAMPING, 0.5f);
    const QM::HapticDeviceTarget device = deviceAt({5, 0, 32});
    // The proxy arrives at the ceiling before the shader first sees it.
    proxy.update(device);
    for (int tick = 0; tick < 5; ++tick) {
        proxy.update(device);
        ASSERT_TRUE(proxy.isTouching());
        damping.shade(device, proxy);
        EXPECT_TRUE(near3(proxy.motionTransform(3)->position(), {5, 0, 30}, 1e-12)) << "tick " << tick;
    }
}

// The floor (value 0.2) and the wall x = 0 (value 0.6) both hold the proxy
// in their edge. Each value is weighted by the device's distance from its
// feature; on the edge itself every distance is 0 and the plain mean is
// used instead of 0 / 0.
TEST(MaterialValueTest, DistanceWeightedAndThePlainMeanOnTheFeatures) {
    PointProxy proxy;
    proxy.initialise(deviceAt({1, 5, 1}));
    withMaterial(proxy.contactSet().insert(plane({0, 0, 1}, {0, 0, 0})), QM_STIFFNESS, 0.2f);
    withMaterial(proxy.contactSet().insert(plane({1, 0, 0}, {0, 0, 0})), QM_STIFFNESS, 0.6f);
    proxy.update(deviceAt({-1, 5, -3}));
    ASSERT_EQ(proxy.collisionSet().count(), 2u);

    struct Case {
        zvuVector3Dd device;
        double expected;
    };
    const Case cases[] = {
        {{-1, 5, -3}, (0.2 * 3 + 0.6 * 1) / 4},
        {{-2, 5, -2}, 0.4},
        {{0, 5, 0}, 0.4},   // on both features
        {{0, 7, -1}, 0.2},  // on the wall: only the floor's distance counts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.device.x << ", " << c.device.y << ", " << c.device.z);
        const double value = QM::materialValue(proxy, QM_STIFFNESS, c.device);
        EXPECT_NEAR(value, c.expected, 1e-6);
    }
    EXPECT_EQ(QM::materialValue(proxy, QM_DAMPING, {0, 5, 0}), 0.0) << "no feature has the property";
}

}  // namespace
