// Cost per call of the geometry queries that collision detection runs for
// every triangle, edge and feature near the proxy: segment-triangle crossing,
// closest point of a triangle and closest points of two segments, plus the
// per-cell work of a depth-image query and the per-tick pose conversion.
//
// Each benchmark cycles through a fixed table of inputs so that the compiler
// cannot fold a single constant query away; the reported time is per call.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstddef>

#include "zvu/Geometry.h"

namespace {

using namespace zvu;

constexpr std::size_t kInputs = 64;  // a power of two: index with a mask

// Deterministic values in [-1, 1).
double jitter(std::size_t i, int k) {
    const double x = std::sin(static_cast<double>(i) * 12.9898 + k * 78.233) * 43758.5453;
    return 2.0 * (x - std::floor(x)) - 1.0;
}

const zvuVector3Dd kV0{0, 0, 0}, kV1{2, 0, 0}, kV2{0, 2, 0};

template <typename Storage>
struct Triangles;

template <>
struct Triangles<DepthTriangleStorage> {
    static DepthTriangle make() { return {{kV0, kV1, kV2}, 1}; }
};
template <>
struct Triangles<PrimitiveTriangleStorage> {
    static PrimitiveTriangle make() {
        return {{fromDouble<float>(kV0), fromDouble<float>(kV1), fromDouble<float>(kV2)}, 1};
    }
};
template <>
struct Triangles<FeedbackTriangleStorage> {
    static inline const float vertices[9] = {0, 0, 0, 2, 0, 0, 0, 2, 0};
    static FeedbackTriangle make() { return {{vertices, 0, 1, 2}, 1}; }
};

enum class Crossing { Hit, MissOutside, MissPlane };

// Vertical segments through the triangle's plane (z = 0), landing inside the
// triangle, beside it, or stopping short of the plane.
std::array<zvuLineSegmentd, kInputs> crossingSegments(Crossing kind) {
    std::array<zvuLineSegmentd, kInputs> segments;
    for (std::size_t i = 0; i < kInputs; ++i) {
        double x = 0.5 + 0.4 * jitter(i, 0), y = 0.5 + 0.4 * jitter(i, 1);
        if (kind == Crossing::MissOutside) {
            x += 2.0;
            y += 2.0;
        }
        const double endZ = kind == Crossing::MissPlane ? 0.5 : -1.0;
        segments[i] = zvuLineSegmentd({x, y, 1.0}, {x + 0.1 * jitter(i, 2), y, endZ});
    }
    return segments;
}

template <typename Storage>
void BM_SegmentTriangle(benchmark::State& state) {
    const auto tri = Triangles<Storage>::make();
    const auto segments = crossingSegments(static_cast<Crossing>(state.range(0)));
    std::size_t i = 0;
    for (auto _ : state) {
        double t = 0.0;
        const int code = tri.intersectSegment(segments[i++ & (kInputs - 1)], t, 1.1920928955078125e-6);
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(t);
    }
}
BENCHMARK(BM_SegmentTriangle<DepthTriangleStorage>)->ArgName("hit0_outside1_short2")->DenseRange(0, 2);
BENCHMARK(BM_SegmentTriangle<PrimitiveTriangleStorage>)->ArgName("hit0_outside1_short2")->DenseRange(0, 2);
BENCHMARK(BM_SegmentTriangle<FeedbackTriangleStorage>)->ArgName("hit0_outside1_short2")->DenseRange(0, 2);

// One pixel cell of a depth image as the depth-buffer query handles it: two
// triangles built on the stack, their planes computed, both intersected.
void BM_DepthCell(benchmark::State& state) {
    std::array<double, kInputs + 3> depths;
    for (std::size_t i = 0; i < depths.size(); ++i) depths[i] = 0.5 + 0.01 * jitter(i, 3);
    const zvuLineSegmentd segment({0.3, 0.6, 0.0}, {0.35, 0.55, 1.0});
    std::size_t i = 0;
    for (auto _ : state) {
        const std::size_t k = i++ & (kInputs - 1);
        const double f = depths[k], h = depths[k + 1], kk = depths[k + 2], m = depths[k + 3];
        const DepthTriangle first({{0, 0, f}, {1, 0, h}, {1, 1, kk}}, 0);
        const DepthTriangle second({{0, 0, f}, {1, 1, kk}, {0, 1, m}}, 0);
        double t1 = 0.0, t2 = 0.0;
        const int c1 = first.intersectSegmentFront(segment, t1, 1.1920928955078125e-6);
        const int c2 = second.intersectSegmentFront(segment, t2, 1.1920928955078125e-6);
        benchmark::DoNotOptimize(c1 + c2);
        benchmark::DoNotOptimize(t1 + t2);
    }
}
BENCHMARK(BM_DepthCell);

// Query points above the triangle (projection inside) or off to the side
// (three edge projections).
void BM_TriangleClosestPoint(benchmark::State& state) {
    const DepthTriangle tri = Triangles<DepthTriangleStorage>::make();
    const bool outside = state.range(0) != 0;
    std::array<zvuVector3Dd, kInputs> points;
    for (std::size_t i = 0; i < kInputs; ++i)
        points[i] = {0.5 + 0.4 * jitter(i, 0) + (outside ? 2.0 : 0.0), 0.5 + 0.4 * jitter(i, 1), jitter(i, 2)};
    std::size_t i = 0;
    for (auto _ : state) {
        const zvuVector3Dd p = tri.closestPoint(points[i++ & (kInputs - 1)], 1.1920928955078125e-6);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_TriangleClosestPoint)->ArgName("outside")->DenseRange(0, 1);

enum class Pair { Interior, Endpoints, Parallel };

void BM_SegmentSegmentClosest(benchmark::State& state) {
    const auto kind = static_cast<Pair>(state.range(0));
    std::array<zvuLineSegmentd, kInputs> others;
    const zvuLineSegmentd base({-1, 0, 0}, {1, 0, 0});
    for (std::size_t i = 0; i < kInputs; ++i) {
        const double a = 0.5 * jitter(i, 0), b = jitter(i, 1), z = 1.0 + 0.5 * jitter(i, 2);
        switch (kind) {
        case Pair::Interior:  // skew, closest points inside both
            others[i] = zvuLineSegmentd({a, -1, z}, {a + 0.2 * b, 1, z});
            break;
        case Pair::Endpoints:  // skew, line solution beyond the other's end
            others[i] = zvuLineSegmentd({a, 1, z}, {a + 0.2 * b, 2, z});
            break;
        case Pair::Parallel: others[i] = zvuLineSegmentd({a, b, z}, {a + 1.5, b, z}); break;
        }
    }
    std::size_t i = 0;
    for (auto _ : state) {
        double s = 0.0, t = 0.0;
        const double d = base.closestSegmentPoints(others[i++ & (kInputs - 1)], s, t, 1.1920928955078125e-6);
        benchmark::DoNotOptimize(d);
        benchmark::DoNotOptimize(s + t);
    }
}
BENCHMARK(BM_SegmentSegmentClosest)->ArgName("interior0_endpoints1_parallel2")->DenseRange(0, 2);

// The device pose arrives as a matrix every servo tick and is converted to a
// quaternion through the polar decomposition.
void BM_QuaternionFromMatrix(benchmark::State& state) {
    std::array<zvuMatrix, kInputs> poses;
    for (std::size_t i = 0; i < kInputs; ++i)
        poses[i] =
            zvuMatrix::rotationTranslation({jitter(i, 0), jitter(i, 1), 1.0}, 3.0 * jitter(i, 2), {jitter(i, 3), 0, 0});
    std::size_t i = 0;
    for (auto _ : state) {
        const zvuQuaternion q = zvuQuaternion::fromMatrix(poses[i++ & (kInputs - 1)]);
        benchmark::DoNotOptimize(q);
    }
}
BENCHMARK(BM_QuaternionFromMatrix);

}  // namespace

BENCHMARK_MAIN();
