// The effects' force shaders against a device whose limits are known: what
// each adds to the tick's force, the caps, and what happens to values that
// are out of range or not numbers.
#include <cmath>
#include <limits>
#include <memory>

#include <gtest/gtest.h>

#include "qm/api/Symbols.h"
#include "qm/effects/Effects.h"
#include "qm/effects/ForceShaders.h"
#include "qm/servo/HapticDevice.h"
#include "qm/state/State.h"

namespace {

using QM::AttributeMap;
using zvu::zvuVector3Dd;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A device of nominal maximum force 8.5, stiffness 2 and damping 0.01.
class Limits final : public QM::IDeviceLimits {
public:
    static double unit(double x) { return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x); }
    double maxStiffness(double x) const override { return unit(x) * 2.0; }
    double maxDamping(double x) const override { return unit(x) * 0.01; }
    double maxForce(double x) const override { return unit(x) * 8.5; }
    double maxContinuousForce(double x) const override { return unit(x) * 2.0; }
    double effectForce(double x) const override { return unit(x) * 3.0; }
};

// One effect of a type with its shader, and the tick it is shaded in.
class Shading : public ::testing::Test {
protected:
    void make(QMenum type, std::unique_ptr<QM::IForceShader> shader) {
        shader_ = shader.get();
        effect_ = new QM::BaseEffect(type, 1, 15, std::move(shader));
        effect_->addReference();
    }
    void TearDown() override {
        if (effect_ != nullptr) {
            effect_->releaseReference();
        }
    }
    AttributeMap& servo() { return *effect_->getServoProperties(); }
    void set(QMenum key, double value) { servo().set<double>(key, value); }
    void setVector(QMenum key, const zvuVector3Dd& v) {
        const double values[3] = {v.x, v.y, v.z};
        servo().setArray<double>(key, values);
    }
    zvuVector3Dd vector(QMenum key) {
        double v[3] = {};
        servo().getArray<double>(key, v);
        return {v[0], v[1], v[2]};
    }
    // The force the shader adds to an accumulator holding `before`.
    zvuVector3Dd added(const zvuVector3Dd& before = {}) {
        zvuVector3Dd force = before;
        zvuVector3Dd torque{};
        shader_->computeForce(device_, output_, &servo(), limits_, force, torque);
        return force - before;
    }

    Limits limits_;
    QM::HapticDeviceTarget device_;
    QM::MotionTransform output_;
    QM::BaseEffect* effect_ = nullptr;
    QM::IForceShader* shader_ = nullptr;
};

struct ConstantCase {
    const char* what;
    double magnitude;
    zvuVector3Dd direction;
    zvuVector3Dd expected;
};

TEST_F(Shading, AConstantPushesAlongItsDirectionWithMinOf3AndTheMaximumTimesMagnitude) {
    const ConstantCase cases[] = {
        {"magnitude 1 on a device of 8.5 gives 3", 1.0, {0, 1, 0}, {0, 3, 0}},
        {"a direction of length 2 doubles it", 1.0, {0, 2, 0}, {0, 6, 0}},
        {"the direction is not normalised", 0.5, {1, 1, 0}, {1.5, 1.5, 0}},
        {"magnitude above 1 counts as 1", 4.0, {0, 0, -1}, {0, 0, -3}},
        {"magnitude below 0 counts as 0", -1.0, {0, 1, 0}, {0, 0, 0}},
        {"a magnitude that is not a number counts as 0", kNaN, {0, 1, 0}, {0, 0, 0}},
        {"a direction that is not finite adds nothing", 1.0, {kNaN, 1, 0}, {0, 0, 0}},
        {"an infinite direction adds nothing", 1.0, {0, kInf, 0}, {0, 0, 0}},
        {"a huge direction is cut to the device's maximum", 1.0, {0, 1e300, 0}, {0, 8.5, 0}},
        {"beyond the maximum, the direction is kept", 1.0, {3, 4, 0}, {5.1, 6.8, 0}},
    };
    for (const ConstantCase& c : cases) {
        SCOPED_TRACE(c.what);
        make(QM_EFFECT_CONSTANT, std::make_unique<QM::ConstantForceShader>());
        set(QM_EFFECT_PROPERTY_MAGNITUDE, c.magnitude);
        setVector(QM_EFFECT_PROPERTY_DIRECTION, c.direction);
        const zvuVector3Dd f = added({0.25, -0.5, 1.0});
        EXPECT_NEAR(f.x, c.expected.x, 1e-9);
        EXPECT_NEAR(f.y, c.expected.y, 1e-9);
        EXPECT_NEAR(f.z, c.expected.z, 1e-9);
        effect_->releaseReference();
        effect_ = nullptr;
    }
}

TEST_F(Shading, ASpringPullsWithGainTimesStiffnessAndIsCappedAtExactlyTheMagnitudesForce) {
    make(QM_EFFECT_SPRING, std::make_unique<QM::SpringForceShader>());
    set(QM_EFFECT_PROPERTY_GAIN, 0.5);
    set(QM_EFFECT_PROPERTY_MAGNITUDE, 0.5);
    output_.set({1.0, 1.0, 1.0}, {});
    setVector(QM_EFFECT_PROPERTY_POSITION, {1.0, 2.0, 1.0});
    zvuVector3Dd f = added();
    EXPECT_DOUBLE_EQ(f.y, 1.0) << "k = 2 x 0.5 over a distance of 1";
    setVector(QM_EFFECT_PROPERTY_POSITION, {4.0, 5.0, 1.0});
    f = added();
    EXPECT_DOUBLE_EQ(f.length(), 1.5) << "3 x 0.5";
    EXPECT_NEAR(f.x / f.y, 0.75, 1e-12) << "along the pull";
    setVector(QM_EFFECT_PROPERTY_POSITION, {kNaN, 0.0, 0.0});
    f = added();
    EXPECT_EQ(f.length(), 0.0);
}

TEST_F(Shading, AViscousEffectDragsAgainstTheVelocityUpToTheCap) {
    make(QM_EFFECT_VISCOUS, std::make_unique<QM::ViscousForceShader>());
    set(QM_EFFECT_PROPERTY_GAIN, 1.0);
    set(QM_EFFECT_PROPERTY_MAGNITUDE, 1.0);
    device_.setLinearVelocity({100.0, 0.0, 0.0});
    EXPECT_DOUBLE_EQ(added().x, -1.0) << "b = 0.01";
    device_.setLinearVelocity({0.0, -1000.0, 0.0});
    EXPECT_DOUBLE_EQ(added().y, 3.0) << "capped at the magnitude's force";
    device_.setLinearVelocity({kInf, 0.0, 0.0});
    EXPECT_EQ(added().length(), 0.0);
}

TEST_F(Shading, FrictionStartsAtTheOutputPointAndDragsItsAnchorOneUnitBehind) {
    make(QM_EFFECT_FRICTION, std::make_unique<QM::FrictionForceShader>());
    set(QM_EFFECT_PROPERTY_GAIN, 1.0);
    set(QM_EFFECT_PROPERTY_MAGNITUDE, 0.5);
    output_.set({2.0, 0.0, 0.0}, {});
    shader_->start(device_, output_, &servo());
    EXPECT_EQ(vector(QM_EFFECT_PROPERTY_POSITION), (zvuVector3Dd{2.0, 0.0, 0.0}));
    EXPECT_EQ(added().length(), 0.0);
    output_.set({2.5, 0.0, 0.0}, {});
    EXPECT_DOUBLE_EQ(added().x, -1.0) << "within the cap: a spring of k = 2";
    EXPECT_EQ(vector(QM_EFFECT_PROPERTY_POSITION), (zvuVector3Dd{2.0, 0.0, 0.0}));
    output_.set({12.0, 0.0, 0.0}, {});
    EXPECT_DOUBLE_EQ(added().x, -1.5) << "cut to 3 x 0.5";
    EXPECT_EQ(vector(QM_EFFECT_PROPERTY_POSITION), (zvuVector3Dd{11.0, 0.0, 0.0})) << "one unit behind";
    output_.set({kNaN, 0.0, 0.0}, {});
    EXPECT_EQ(added().length(), 0.0);
    output_.set({3.0, 0.0, 0.0}, {});
    added();
    EXPECT_TRUE(std::isfinite(vector(QM_EFFECT_PROPERTY_POSITION).x)) << "a lost anchor starts again";
}

// What the callbacks of the test below saw and do.
struct CallbackLog {
    double write[3] = {0, 0, 0};
    double seen[3] = {0, 0, 0};
    double proxy[3] = {0, 0, 0};
    int starts = 0;
    int stops = 0;
};

void computeForce(QMdouble* force, QMcache cache, void* user) {
    auto* log = static_cast<CallbackLog*>(user);
    for (int i = 0; i < 3; ++i) {
        log->seen[i] = force[i];
        force[i] += log->write[i];
    }
    qmCacheGetDoublev(cache, QM_PROXY_POSITION, log->proxy);
}

void onStart(QMcache, void* user) { ++static_cast<CallbackLog*>(user)->starts; }
void onStop(QMcache, void* user) { ++static_cast<CallbackLog*>(user)->stops; }

TEST_F(Shading, ACallbackAddsOnlyAFiniteBoundedChangeOfTheTicksForce) {
    make(QM_EFFECT_CALLBACK, std::make_unique<QM::CallbackForceShader>());
    CallbackLog log;
    servo().set<QM::AttribCallback>(QM_EFFECT_COMPUTE_FORCE, reinterpret_cast<QM::AttribCallback>(&computeForce));
    servo().set<void*>(QM::QM_INT_EFFECT_COMPUTE_FORCE_USER_DATA, &log);
    servo().set<QM::AttribCallback>(QM_EFFECT_START, reinterpret_cast<QM::AttribCallback>(&onStart));
    servo().set<void*>(QM::QM_INT_EFFECT_START_USER_DATA, &log);
    servo().set<QM::AttribCallback>(QM_EFFECT_STOP, reinterpret_cast<QM::AttribCallback>(&onStop));
    servo().set<void*>(QM::QM_INT_EFFECT_STOP_USER_DATA, &log);
    output_.set({1.0, 2.0, 3.0}, {});

    shader_->start(device_, output_, &servo());
    EXPECT_EQ(log.starts, 1);
    log.write[2] = 0.5;
    zvuVector3Dd f = added({1.0, 0.0, 0.0});
    EXPECT_EQ(f, (zvuVector3Dd{0.0, 0.0, 0.5}));
    EXPECT_EQ(log.seen[0], 1.0) << "the callback sees the tick's force so far";
    EXPECT_EQ(log.proxy[1], 2.0) << "and the output point through its cache";

    log.write[0] = kNaN;
    f = added({1.0, 0.0, 0.0});
    EXPECT_EQ(f.length(), 0.0) << "a change that is not a number adds nothing";
    log.write[0] = 1e308;
    log.write[1] = 1e308;
    f = added({1.0, 0.0, 0.0});
    EXPECT_TRUE(std::isfinite(f.length()));
    EXPECT_LE(f.length(), 8.5 + 1e-9) << "no more than the device's maximum";

    shader_->stop(device_, output_, &servo());
    EXPECT_EQ(log.stops, 1);
}

TEST_F(Shading, ACallbackEffectWithoutAComputeForceCallbackAddsNothing) {
    make(QM_EFFECT_CALLBACK, std::make_unique<QM::CallbackForceShader>());
    shader_->start(device_, output_, &servo());
    EXPECT_EQ(added({1.0, 2.0, 3.0}).length(), 0.0);
    shader_->stop(device_, output_, &servo());
}

// Update copies only the groups of the running effect's type: a friction
// effect keeps its anchor when another effect's position comes in.
TEST_F(Shading, AnUpdateCopiesOnlyTheGroupsOfTheShadersType) {
    make(QM_EFFECT_FRICTION, std::make_unique<QM::FrictionForceShader>());
    setVector(QM_EFFECT_PROPERTY_POSITION, {7.0, 7.0, 7.0});
    AttributeMap next;
    QM::declareEffectGroups(next, 15, true);
    next.set<double>(QM_EFFECT_PROPERTY_GAIN, 0.25);
    const double elsewhere[3] = {1.0, 1.0, 1.0};
    next.setArray<double>(QM_EFFECT_PROPERTY_POSITION, elsewhere);
    shader_->update(device_, output_, &next, &servo());
    double gain = 0.0;
    servo().get<double>(QM_EFFECT_PROPERTY_GAIN, gain);
    EXPECT_EQ(gain, 0.25);
    EXPECT_EQ(vector(QM_EFFECT_PROPERTY_POSITION), (zvuVector3Dd{7.0, 7.0, 7.0}));
}

// The builders take their type's groups from the current state and mark
// the type; what a type does not use is not declared.
TEST(EffectBuilders, EachTypeTakesItsGroupsFromTheCurrentState) {
    QM::EffectBuilderRegistry registry;
    QM::registerEffectBuilders(registry);
    QM::State state;
    state.getAttributes().set<double>(QM_EFFECT_PROPERTY_MAGNITUDE, 0.75);
    const double direction[3] = {1.0, 0.0, 0.0};
    state.getAttributes().setArray<double>(QM_EFFECT_PROPERTY_DIRECTION, direction);
    struct Case {
        QMenum* type;
        bool geometry;
        bool callbacks;
        bool shader;
    };
    const Case cases[] = {
        {&QM_EFFECT_CALLBACK, false, true, true}, {&QM_EFFECT_CONSTANT, true, false, true},
        {&QM_EFFECT_VISCOUS, false, false, true}, {&QM_EFFECT_FRICTION, true, false, true},
        {&QM_EFFECT_SPRING, true, false, true},   {&QM::QM_INT_EFFECT_BASE, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(*c.type);
        QM::IEffectBuilder* builder = registry.find(*c.type);
        ASSERT_NE(builder, nullptr);
        QM::IEffect* effect = builder->build(9, state.getAttributes());
        effect->addReference();
        const AttributeMap& p = effect->getProperties();
        QMenum type = nullptr;
        EXPECT_TRUE(p.get<QMenum>(QM_EFFECT_PROPERTY_TYPE, type));
        EXPECT_EQ(type, *c.type);
        EXPECT_EQ(effect->getId(), 9u);
        double magnitude = 0.0;
        EXPECT_TRUE(p.get<double>(QM_EFFECT_PROPERTY_MAGNITUDE, magnitude));
        EXPECT_EQ(magnitude, 0.75);
        EXPECT_EQ(p.has(QM_EFFECT_PROPERTY_DIRECTION), c.geometry);
        if (c.geometry) {
            double d[3] = {};
            p.getArray<double>(QM_EFFECT_PROPERTY_DIRECTION, d);
            EXPECT_EQ(d[0], 1.0);
        }
        EXPECT_EQ(p.has(QM_EFFECT_COMPUTE_FORCE), c.callbacks);
        EXPECT_EQ(effect->getForceShader() != nullptr, c.shader);
        effect->releaseReference();
    }
    for (QMenum* none : {&QM_EFFECT_SINE, &QM_EFFECT_SQUARE, &QM_EFFECT_TRIANGLE, &QM_EFFECT_SAWTOOTHUP,
                         &QM_EFFECT_SAWTOOTHDOWN, &QM_EFFECT_RAMP, &QM_EFFECT_INERTIA}) {
        EXPECT_EQ(registry.find(*none), nullptr) << *none;
    }
}

}  // namespace
