// Lines and segments: projections, the cached length and unit direction,
// parallelism, and the closest points of lines and of segments (end-point
// candidates, ties, parallel and degenerate segments), in both precisions.
#include <cfloat>
#include <cmath>

#include "geometry_test_util.h"

namespace zvu {
namespace {

using test::vec;
using test::vecNear;

template <typename T>
class ZvuLineTest : public ::testing::Test {};
TYPED_TEST_SUITE(ZvuLineTest, test::Precisions);

TYPED_TEST(ZvuLineTest, ProjectionIsOntoTheInfiniteLine) {
    using T = TypeParam;
    const zvuLine<T> line(vec<T>({0, 0, 0}), vec<T>({2, 0, 0}));
    EXPECT_TRUE(vecNear(line.direction(), {2, 0, 0}, 0.0));
    EXPECT_TRUE(vecNear(line.unitDirection(), {1, 0, 0}, 0.0));
    EXPECT_TRUE(vecNear(line.pointAt(1.5), {3, 0, 0}, 0.0));
    EXPECT_TRUE(vecNear(line.closestPoint(vec<T>({1, 3, 0})), {1, 0, 0}, 0.0));
    EXPECT_TRUE(vecNear(line.closestPoint(vec<T>({5, 1, 0})), {5, 0, 0}, 0.0));
    EXPECT_EQ(line.distanceTo(vec<T>({-4, 3, 4})), 5.0);
    EXPECT_EQ(line.origin(), line.start());

    const zvuLine<T> point(vec<T>({1, 2, 3}), vec<T>({1, 2, 3}));
    EXPECT_TRUE(vecNear(point.unitDirection(), {0, 0, 0}, 0.0));
    EXPECT_TRUE(vecNear(point.closestPoint(vec<T>({5, 5, 5})), {1, 2, 3}, 0.0));
}

TYPED_TEST(ZvuLineTest, SegmentCachesFollowTheEndPoints) {
    using T = TypeParam;
    zvuLineSegment<T> segment(vec<T>({1, 1, 1}), vec<T>({1, 1, 1}));
    EXPECT_EQ(segment.getLength(), 0.0);
    EXPECT_TRUE(vecNear(segment.unitDirection(), {0, 0, 0}, 0.0));

    segment.setEnd(vec<T>({1, 4, 5}));
    EXPECT_EQ(segment.getLength(), 5.0);
    EXPECT_TRUE(vecNear(segment.unitDirection(), {0, 0.6, 0.8}, 1e-7));
    EXPECT_TRUE(vecNear(segment.direction(), {0, 3, 4}, 1e-6));
    EXPECT_TRUE(vecNear(segment.pointAt(0.5), {1, 2.5, 3}, 1e-6));
    EXPECT_TRUE(vecNear(segment.pointAtClamped(7.0), {1, 4, 5}, 1e-6));
    EXPECT_TRUE(vecNear(segment.pointAtClamped(-7.0), {1, 1, 1}, 0.0));

    // Collapsing the segment keeps the last unit direction.
    segment.setStart(vec<T>({1, 4, 5}));
    EXPECT_EQ(segment.getLength(), 0.0);
    EXPECT_TRUE(vecNear(segment.unitDirection(), {0, 0.6, 0.8}, 1e-7));
    EXPECT_TRUE(vecNear(segment.direction(), {0, 0, 0}, 0.0));
}

struct ParameterCase {
    const char* name;
    zvuVector3Dd start, end, point;
    double parameter;
    double distance;
};

TYPED_TEST(ZvuLineTest, ClosestParameterIsClamped) {
    using T = TypeParam;
    const ParameterCase cases[] = {
        {"inside", {0, 0, 0}, {4, 0, 0}, {1, 3, 0}, 0.25, 3},
        {"before the start", {0, 0, 0}, {4, 0, 0}, {-3, 4, 0}, 0.0, 5},
        {"after the end", {0, 0, 0}, {4, 0, 0}, {7, 0, 4}, 1.0, 5},
        {"zero length", {1, 1, 1}, {1, 1, 1}, {1, 1, 4}, 0.0, 3},
        {"zero length, point on it", {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, 0.0, 0},
    };
    for (const ParameterCase& c : cases) {
        SCOPED_TRACE(c.name);
        const zvuLineSegment<T> segment(vec<T>(c.start), vec<T>(c.end));
        EXPECT_EQ(segment.closestParameter(vec<T>(c.point)), c.parameter);
        EXPECT_EQ(segment.parameterOf(vec<T>(c.point)), c.parameter);
        EXPECT_NEAR(segment.distanceToSegment(vec<T>(c.point)), c.distance, 1e-12);
        EXPECT_NEAR(segment.squaredDistanceToSegment(vec<T>(c.point)), c.distance * c.distance, 1e-12);
    }
}

struct ParallelCase {
    const char* name;
    zvuVector3Dd d1, d2;
    double eps;
    bool parallel;
};

TYPED_TEST(ZvuLineTest, IsParallel) {
    using T = TypeParam;
    const ParallelCase cases[] = {
        {"same direction, other length", {1, 2, 2}, {2, 4, 4}, 1e-9, true},
        {"opposite direction", {1, 2, 2}, {-3, -6, -6}, 1e-9, true},
        {"perpendicular", {1, 0, 0}, {0, 1, 0}, 1e-9, false},
        // 1 - cos = 1 - 1/sqrt(1 + 0.001^2) = 5.0e-7.
        {"off by 1e-3 rad, eps 1e-6", {1, 0, 0}, {1, 0.001, 0}, 1e-6, true},
        {"off by 1e-3 rad, eps 1e-7", {1, 0, 0}, {1, 0.001, 0}, 1e-7, false},
        {"zero direction is parallel to anything", {0, 0, 0}, {0, 1, 0}, 1e-9, true},
        {"eps of one makes everything parallel", {1, 0, 0}, {0, 1, 0}, 1.0, true},
    };
    for (const ParallelCase& c : cases) {
        SCOPED_TRACE(c.name);
        const zvuLine<T> l1(vec<T>({0, 0, 0}), vec<T>(c.d1));
        const zvuLine<T> l2(vec<T>({5, 5, 5}), vec<T>(zvuVector3Dd{5, 5, 5} + c.d2));
        EXPECT_EQ(l1.isParallel(l2, c.eps), c.parallel);
        EXPECT_EQ(l2.isParallel(l1, c.eps), c.parallel);
    }
}

constexpr double kUnset = 0.5;  // s and t before the call

struct ClosestCase {
    const char* name;
    zvuVector3Dd a0, a1, b0, b1;
    double eps;
    double s, t, distance;
};

TYPED_TEST(ZvuLineTest, ClosestPointsOfLines) {
    using T = TypeParam;
    const ClosestCase cases[] = {
        {"skew, perpendicular", {0, 0, 0}, {1, 0, 0}, {0, -1, 1}, {0, 1, 1}, 1e-9, 0.0, 0.5, 1.0},
        {"skew, beyond both point pairs", {0, 0, 0}, {1, 0, 0}, {3, -1, 2}, {3, 1, 2}, 1e-9, 3.0, 0.5, 2.0},
        {"crossing", {-1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {1, -1, 0}, 1e-9, 0.5, 0.5, 0.0},
        // Parallel: s = 0 and t clamped on the other pair of points.
        {"parallel, foot inside", {0, 0, 0}, {1, 0, 0}, {-1, 1, 0}, {1, 1, 0}, 1e-9, 0.0, 0.5, 1.0},
        {"parallel, foot outside: clamped",
         {0, 0, 0},
         {1, 0, 0},
         {5, 1, 0},
         {6, 1, 0},
         1e-9,
         0.0,
         0.0,
         std::sqrt(26.0)},
        // With eps = 0 these exactly parallel lines miss the parallel test by
        // one rounding and reach a singular system.
        {"singular system", {0, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 2, 0}, 0.0, kUnset, kUnset, DBL_MAX},
    };
    for (const ClosestCase& c : cases) {
        SCOPED_TRACE(c.name);
        const zvuLine<T> a(vec<T>(c.a0), vec<T>(c.a1));
        const zvuLine<T> b(vec<T>(c.b0), vec<T>(c.b1));
        double s = kUnset, t = kUnset;
        const double distance = a.closestPoints(b, s, t, c.eps);
        EXPECT_NEAR(s, c.s, 1e-12);
        EXPECT_NEAR(t, c.t, 1e-12);
        if (c.distance == DBL_MAX) {
            EXPECT_EQ(distance, DBL_MAX);
        } else {
            EXPECT_NEAR(distance, c.distance, 1e-12);
        }
    }
}

TYPED_TEST(ZvuLineTest, ClosestPointsOfSegments) {
    using T = TypeParam;
    const ClosestCase cases[] = {
        {"crossing inside both", {-1, 0, 0}, {1, 0, 0}, {0, -1, 1}, {0, 1, 1}, 1e-9, 0.5, 0.5, 1.0},
        // The lines meet at t = -1 on the second segment: its start against
        // the first segment wins.
        {"line solution outside one segment", {-1, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 2, 0}, 1e-9, 0.5, 0.0, 1.0},
        {"line solution outside both", {0, 0, 0}, {1, 0, 0}, {3, -1, 0}, {3, 1, 0}, 1e-9, 1.0, 0.5, 2.0},
        {"this end against the other", {0, 0, 0}, {1, 0, 0}, {2, -1, 1}, {2, 1, 1}, 1e-9, 1.0, 0.5, std::sqrt(2.0)},
        // Parallel segments: every candidate pair is evaluated. Candidates 3
        // (other start) and 4 (other end) tie at distance 1; the later wins.
        {"parallel, overlapping: tie goes to the later candidate",
         {0, 0, 0},
         {10, 0, 0},
         {5, 1, 0},
         {6, 1, 0},
         1e-9,
         0.6,
         1.0,
         1.0},
        {"collinear, overlapping", {0, 0, 0}, {10, 0, 0}, {5, 0, 0}, {6, 0, 0}, 1e-9, 0.6, 1.0, 0.0},
        {"collinear, apart", {0, 0, 0}, {10, 0, 0}, {12, 0, 0}, {15, 0, 0}, 1e-9, 1.0, 0.0, 2.0},
        {"other segment is a point", {0, 0, 0}, {10, 0, 0}, {5, 1, 0}, {5, 1, 0}, 1e-9, 0.5, 1.0, 1.0},
        {"this segment is a point", {5, 1, 0}, {5, 1, 0}, {0, 0, 0}, {10, 0, 0}, 1e-9, 1.0, 0.5, 1.0},
        {"both are points", {0, 0, 0}, {0, 0, 0}, {3, 4, 0}, {3, 4, 0}, 1e-9, 0.0, 1.0, 5.0},
        // Singular line system (eps = 0): s and t as passed in are not an
        // answer; candidates 2 and 3 tie at sqrt(1/2).
        {"parallel with eps = 0", {0, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 2, 0}, 0.0, 0.5, 0.0, std::sqrt(0.5)},
    };
    for (const ClosestCase& c : cases) {
        SCOPED_TRACE(c.name);
        const zvuLineSegment<T> a(vec<T>(c.a0), vec<T>(c.a1));
        const zvuLineSegment<T> b(vec<T>(c.b0), vec<T>(c.b1));
        double s = kUnset, t = kUnset;
        const double distance = a.closestSegmentPoints(b, s, t, c.eps);
        EXPECT_NEAR(s, c.s, test::storageTolerance<T>());
        EXPECT_NEAR(t, c.t, test::storageTolerance<T>());
        EXPECT_NEAR(distance, c.distance, test::storageTolerance<T>());
        // The distance is that of the reported points.
        EXPECT_NEAR(distance, (toDouble(a.pointAt(s)) - toDouble(b.pointAt(t))).length(), test::storageTolerance<T>());
    }
}

}  // namespace
}  // namespace zvu
