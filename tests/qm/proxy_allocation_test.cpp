// The proxy's update runs on the servo thread every tick and must not
// allocate once its sets are built. This binary counts every call of the
// global operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "qm/collision/Proxy.h"

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

TEST(ProxyAllocationTest, TheCounterSeesAllocations) {
    const long before = gAllocations.load();
    auto p = std::make_unique<QM::PointProxy>();
    EXPECT_GT(gAllocations.load() - before, 0);
}

}  // namespace
