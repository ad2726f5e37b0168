// The queries that run on the servo thread and in collision detection must
// not allocate. This binary counts every call of the global operator new and
// runs each such query once under the counter.
#include <atomic>
#include <cstdlib>
#include <new>

#include "geometry_test_util.h"

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

namespace zvu {
namespace {

template <typename F>
long allocationsDuring(F&& body) {
    const long before = gAllocations.load();
    body();
    return gAllocations.load() - before;
}

TEST(ZvuAllocationTest, CollisionQueriesDoNotAllocate) {
    // Keeps results observable so that nothing is optimised away.
    volatile double sink = 0.0;
    const float feedbackVertices[9] = {0, 0, 0, 2, 0, 0, 0, 2, 0};

    const long count = allocationsDuring([&] {
        const zvuLineSegmentd down({0.5, 0.5, 1}, {0.5, 0.5, -1});
        const zvuLineSegmentd skew({-1, 0, 2}, {1, 3, 2});
        const zvuLineSegmentf downF({0.5f, 0.5f, 1}, {0.5f, 0.5f, -1});
        double t = 0, s = 0;

        const zvuPlaned plane(0, 0, 1, 0);
        sink = sink + plane.intersectSegment(down, t, 1e-9) + plane.intersectLine(down, t, 1e-9) + t;
        sink = sink + zvuPlanef(0, 0, 1, 0).intersectSegmentFront(downF, t, 1e-9);

        sink = sink + down.closestSegmentPoints(skew, s, t, 1e-9) + down.closestPoints(skew, s, t, 1e-9) + s + t;
        sink = sink + zvuLineSegmentd({0, 0, 0}, {1, 0, 0})
                          .closestSegmentPoints(zvuLineSegmentd({0, 1, 0}, {1, 1, 0}), s, t, 1e-9);

        const DepthTriangle depth({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}}, 1);
        const PrimitiveTriangle primitive({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}}, 1);
        const FeedbackTriangle feedback({feedbackVertices, 0, 1, 2}, 1);
        sink = sink + depth.intersectSegment(down, t, 1e-9) + primitive.intersectSegmentFront(down, t, 1e-9) +
               feedback.intersectSegmentBack(down, t, 1e-9);
        sink = sink + depth.closestPoint({3, 3, 1}, 1e-9).x + primitive.closestPoint({-1, 0.5, 0}, 1e-9).y +
               feedback.closestPoint({0.5, 0.5, 4}, 1e-9).z;
        sink = sink + depth.barycentric({1, 1, 0}).x + depth.parametersOf({1, 0.5, 0}, 1e-9).y;

        const BoundBox3 box({0, 0, 0}, {2, 2, 2}, true);
        double t0 = 0, t1 = 0;
        sink = sink + box.clipLine(skew, t0, t1, 1e-10) + box.contains({1, 1, 1});

        const zvuMatrix pose = zvuMatrix::rotationTranslation({1, 2, 3}, 0.7, {1, 2, 3}) * zvuMatrix::scale(2, 1, 1);
        zvuMatrix inverse;
        sink = sink + pose.inverse(inverse) + inverse.transformPoint({1, 1, 1}).x;
        const zvuQuaternion q = zvuQuaternion::fromMatrix(pose);
        sink = sink + slerp(q, zvuQuaternion(), 0.3).w + q.toMatrix()[0];
    });
    EXPECT_EQ(count, 0);
    EXPECT_NE(sink, 0.0);
}

TEST(ZvuAllocationTest, TheCounterSeesAllocations) {
    const long count = allocationsDuring([] {
        void* p = ::operator new(sizeof(double));
        ::operator delete(p);
    });
    EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace zvu
