// The proxy's update and the effects' servo side run on the servo thread and
// must not allocate once their storage is made. This binary counts every
// call of the global operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "qm/api/Symbols.h"
#include "qm/collision/Proxy.h"
#include "qm/effects/EffectManager.h"
#include "qm/servo/Pipeline.h"
#include "qm/state/State.h"

namespace {
std::atomic<long> gAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
// GCC pairs the inlined free() below with the new-expressions of gtest and
// flags it; the pairing is right, since operator new above uses malloc().
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using zvu::zvuVector3Dd;

TEST(ProxyAllocationTest, UpdateDoesNotAllocate) {
    QM::PointProxy proxy;
    QM::HapticDeviceTarget device;
    device.place({0.5, 0.4, 0.3});
    proxy.initialise(device);
    // A corner of three contact planes, and one constraint of each kind.
    proxy.contactSet().insert(std::make_unique<QM::LocalFeaturePlane>(zvu::zvuPlaned({0, 0, 1}, {0, 0, 0})));
    proxy.contactSet().insert(std::make_unique<QM::LocalFeaturePlane>(zvu::zvuPlaned({1, 0, 0}, {0, 0, 0})));
    proxy.contactSet().insert(std::make_unique<QM::LocalFeaturePlane>(zvu::zvuPlaned({0, 1, 0}, {0, 0, 0})));
    proxy.constraintSet().insert(std::make_unique<QM::LocalFeaturePlane>(zvu::zvuPlaned({0, 0, 1}, {0, 0, 0})));
    proxy.constraintSet().insert(std::make_unique<QM::LocalFeatureLine>(zvu::zvuLineSegmentd({-1, 0, 0}, {1, 0, 0})));
    proxy.constraintSet().insert(std::make_unique<QM::LocalFeaturePoint>(zvuVector3Dd(0, 0, 0)));
    QM::PointProxy other;

    const long before = gAllocations.load();
    for (int tick = 0; tick < 1000; ++tick) {
        const double a = tick * 0.01;
        device.motion().setPosition({0.3 * std::sin(a), 0.3 * std::cos(a), -0.1 + 0.2 * std::sin(3 * a)});
        proxy.update(device);
        proxy.update(device, zvuVector3Dd(0.01, 0.01, 0.01));
        if (tick % 100 == 0) {
            proxy.swapSets(other);
            proxy.swapSets(other);
        }
    }
    const long during = gAllocations.load() - before;
    EXPECT_EQ(during, 0);
    EXPECT_TRUE(proxy.isTouching());
}

class Limits final : public QM::IDeviceLimits {
public:
    double maxStiffness(double x) const override { return x; }
    double maxDamping(double x) const override { return x * 0.01; }
    double maxForce(double x) const override { return x * 8.5; }
    double maxContinuousForce(double x) const override { return x; }
    double effectForce(double x) const override { return x * 3.0; }
};

void addOne(QMdouble* force, QMcache, void*) { force[0] += 1.0; }

// Starting more effects than the pipeline has room for, running their
// shaders and stopping them: the servo side of each step allocates nothing.
TEST(ProxyAllocationTest, EffectsAllocateNothingOnTheServoSide) {
    QM::State state;
    state.getAttributes().set<double>(QM_EFFECT_PROPERTY_GAIN, 0.5);
    state.getAttributes().set<double>(QM_EFFECT_PROPERTY_MAGNITUDE, 0.5);
    state.getAttributes().set<QM::AttribCallback>(QM_EFFECT_COMPUTE_FORCE,
                                                  reinterpret_cast<QM::AttribCallback>(&addOne));
    QM::EffectBuilderRegistry builders;
    QM::registerEffectBuilders(builders);
    QMenum types[] = {QM_EFFECT_CONSTANT, QM_EFFECT_VISCOUS, QM_EFFECT_SPRING, QM_EFFECT_FRICTION, QM_EFFECT_CALLBACK};
    QM::Scene scene;
    for (unsigned id = 1; id <= 40; ++id) {
        scene.addEffect(builders.find(types[id % 5])->build(id, state.getAttributes()));
    }
    QM::HapticDeviceTarget device;
    QM::Pipeline pipeline;
    pipeline.setTarget(&device);
    QM::EffectManager manager;
    Limits limits;

    manager.compare(nullptr, scene);
    manager.prepareApply(pipeline);
    long before = gAllocations.load();
    manager.apply(pipeline);
    EXPECT_EQ(gAllocations.load() - before, 0) << "starting";
    manager.finishApply();
    ASSERT_EQ(manager.runningCount(), 40u);
    ASSERT_EQ(pipeline.forceShaderCount(), 40u);

    std::vector<QM::IEffect*> effects;
    for (auto it = scene.getEffects().iterator(); !it->atEnd(); it->advance()) {
        effects.push_back(scene.getEffects().find(it->current()));
    }
    before = gAllocations.load();
    QM::MotionTransform output;
    for (int tick = 0; tick < 100; ++tick) {
        output.setPosition({tick * 0.1, 0.0, 0.0});
        device.setLinearVelocity({1.0, 0.0, 0.0});
        zvuVector3Dd force{};
        zvuVector3Dd torque{};
        for (QM::IEffect* effect : effects) {
            effect->getForceShader()->computeForce(device, output, effect->getServoProperties(), limits, force, torque);
        }
    }
    EXPECT_EQ(gAllocations.load() - before, 0) << "shading";

    QM::Scene next;
    for (auto it = scene.getEffects().iterator(); !it->atEnd(); it->advance()) {
        scene.getEffects().find(it->current())->getProperties().set<bool>(QM::QM_INT_EFFECT_IS_DONE, true);
    }
    manager.compare(&scene, next);
    manager.prepareApply(pipeline);
    before = gAllocations.load();
    manager.apply(pipeline);
    EXPECT_EQ(gAllocations.load() - before, 0) << "stopping";
    manager.finishApply();
    EXPECT_EQ(manager.runningCount(), 0u);
    EXPECT_EQ(pipeline.forceShaderCount(), 0u);
}

TEST(ProxyAllocationTest, TheCounterSeesAllocations) {
    const long before = gAllocations.load();
    auto p = std::make_unique<QM::PointProxy>();
    EXPECT_GT(gAllocations.load() - before, 0);
}

}  // namespace
