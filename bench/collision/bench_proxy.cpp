// Cost of one servo-rate proxy update against 0 to 3 contact planes (a
// floor, a wall and a second wall meeting in a corner), with and without a
// line and a point constraint. The device circles below the floor so that
// every tick solves the full set of planes it can reach.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "qm/collision/Proxy.h"

namespace {

using zvu::zvuVector3Dd;

void addPlane(QM::LocalFeatureSet& set, const zvuVector3Dd& n) {
    set.insert(std::make_unique<QM::LocalFeaturePlane>(zvu::zvuPlaned(n, {0, 0, 0})));
}

void proxyUpdate(benchmark::State& state) {
    const int planes = static_cast<int>(state.range(0));
    const bool constraints = state.range(1) != 0;
    QM::PointProxy proxy;
    QM::HapticDeviceTarget device;
    device.place({0.5, 0.5, 0.5});
    proxy.initialise(device);
    const zvuVector3Dd normals[3] = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
    for (int i = 0; i < planes; ++i) {
        addPlane(proxy.contactSet(), normals[i]);
    }
    if (constraints) {
        proxy.constraintSet().insert(
            std::make_unique<QM::LocalFeatureLine>(zvu::zvuLineSegmentd({-1, 0.2, 0}, {1, 0.2, 0})));
        proxy.constraintSet().insert(std::make_unique<QM::LocalFeaturePoint>(zvuVector3Dd(0.1, 0.1, 0)));
    }
    int tick = 0;
    for (auto _ : state) {
        const double a = 0.001 * (tick++ & 1023);
        device.motion().setPosition({-0.1 + 0.05 * std::sin(a), -0.1 + 0.05 * std::cos(a), -0.1});
        proxy.update(device);
        benchmark::DoNotOptimize(proxy.motionTransform(2)->position());
    }
    state.counters["collisions"] = static_cast<double>(proxy.collisionSet().count());
}
BENCHMARK(proxyUpdate)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->ArgNames({"planes", "constraints"});

}  // namespace

BENCHMARK_MAIN();
