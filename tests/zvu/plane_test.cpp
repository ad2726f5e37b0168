// Planes: construction (including zero normals), projections, and the
// segment and line crossing codes at and around the tolerance boundaries, in
// both precisions.
#include <cmath>

#include "geometry_test_util.h"

namespace zvu {
namespace {

using test::vec;
using test::vecNear;

template <typename T>
class ZvuPlaneTest : public ::testing::Test {};
TYPED_TEST_SUITE(ZvuPlaneTest, test::Precisions);

struct ConstructionCase {
    const char* name;
    zvuVector3Dd normal;
    double d;
};

TYPED_TEST(ZvuPlaneTest, Construction) {
    using T = TypeParam;
    using P = zvuPlane<T>;
    const std::pair<P, ConstructionCase> cases[] = {
        {P(0, 0, 2, 4), {"four numbers are scaled by the normal's length", {0, 0, 1}, 2}},
        {P(0, 0, 0, 5), {"a zero normal keeps d", {0, 0, 0}, 5}},
        {P(vec<T>({0, 3, 0}), vec<T>({1, 2, 3})), {"normal and point", {0, 1, 0}, -2}},
        {P(vec<T>({0, 0, 0}), vec<T>({1, 2, 3})), {"zero normal and point", {0, 0, 0}, 0}},
        {P(vec<T>({0, 0, 1}), vec<T>({1, 0, 1}), vec<T>({0, 1, 1})), {"three points", {0, 0, 1}, -1}},
        {P(vec<T>({0, 0, 1}), vec<T>({0, 1, 1}), vec<T>({1, 0, 1})), {"three points, reversed", {0, 0, -1}, 1}},
        {P(vec<T>({0, 0, 0}), vec<T>({1, 1, 1}), vec<T>({2, 2, 2})), {"collinear points", {0, 0, 0}, 0}},
    };
    for (const auto& [plane, c] : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(vecNear(plane.normal, c.normal, 1e-7));
        EXPECT_NEAR(static_cast<double>(plane.d), c.d, 1e-7);
    }
    // With a zero normal every point is at distance d.
    const P degenerate(0, 0, 0, 5);
    EXPECT_EQ(degenerate.distance(vec<T>({1, -7, 3})), 5.0);
    EXPECT_EQ(degenerate.distance(vec<T>({0, 0, 0})), 5.0);
}

TYPED_TEST(ZvuPlaneTest, DistanceAndProjections) {
    using T = TypeParam;
    const zvuPlane<T> plane(0, 0, 1, -1);  // z = 1, front towards +z
    const auto p = vec<T>({3, 4, 5});
    EXPECT_EQ(plane.distance(p), 4.0);
    EXPECT_EQ(plane.distance(vec<T>({3, 4, -1})), -2.0);
    EXPECT_TRUE(vecNear(plane.perpendicular(p), {0, 0, 4}, 0.0));
    EXPECT_TRUE(vecNear(plane.project(p), {3, 4, 1}, 0.0));
    EXPECT_TRUE(vecNear(plane.projectOffset(p, 0.5), {3, 4, 1.5}, 0.0));
}

// The plane z = 0 (front towards +z) with eps = 0.25, a binary fraction so
// that the boundaries are hit exactly in both precisions.
constexpr double kEps = 0.25;
constexpr double kNone = -99.0;  // t for "no crossing"

struct SegmentCase {
    const char* name;
    zvuVector3Dd start, end;
    int front, back, either;
    double t;  // of every non-zero result
};

const SegmentCase kSegmentCases[] = {
    {"down through the plane", {0, 0, 1}, {0, 0, -1}, 1, 0, 1, 0.5},
    {"up through the plane", {0, 0, -1}, {0, 0, 1}, 0, 2, 2, 0.5},
    {"starting on the plane, going back: t = 0", {0, 0, 0}, {0, 0, -2}, 1, 0, 1, 0.0},
    {"starting on the plane, going front", {0, 0, 0}, {0, 0, 2}, 0, 2, 2, 0.0},
    {"entirely in front", {0, 0, 1}, {0, 0, 2}, 0, 0, 0, kNone},
    {"entirely behind", {0, 0, -1}, {0, 0, -2}, 0, 0, 0, kNone},
    // a = -eps: not "behind" for the front test (a < -eps fails), but the
    // combined test wants a > -eps strictly.
    {"start exactly eps behind", {0, 0, -0.25}, {0, 0, -1}, 1, 0, 0, -1.0 / 3},
    {"start just beyond eps behind", {0, 0, -0.375}, {0, 0, -1}, 0, 0, 0, kNone},
    {"end exactly eps in front", {0, 0, 1}, {0, 0, 0.25}, 1, 0, 0, 4.0 / 3},
    {"end just beyond eps in front", {0, 0, 1}, {0, 0, 0.375}, 0, 0, 0, kNone},
    {"lying in the plane", {0, 0, 0}, {1, 0, 0}, 0, 0, 0, kNone},
    {"crossing at a grazing angle (unit direction within eps)", {0, 0, 0.125}, {4, 0, -0.125}, 0, 0, 0, kNone},
    {"zero length on the plane", {1, 1, 0}, {1, 1, 0}, 0, 0, 0, kNone},
};

TYPED_TEST(ZvuPlaneTest, SegmentCrossings) {
    using T = TypeParam;
    const zvuPlane<T> plane(0, 0, 1, 0);
    for (const SegmentCase& c : kSegmentCases) {
        SCOPED_TRACE(c.name);
        const zvuLineSegment<T> segment(vec<T>(c.start), vec<T>(c.end));
        const int expected[3] = {c.front, c.back, c.either};
        double ts[3] = {kNone, kNone, kNone};
        const int codes[3] = {plane.intersectSegmentFront(segment, ts[0], kEps),
                              plane.intersectSegmentBack(segment, ts[1], kEps),
                              plane.intersectSegment(segment, ts[2], kEps)};
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i == 0 ? "front" : i == 1 ? "back" : "either");
            EXPECT_EQ(codes[i], expected[i]);
            // t is written on a crossing only.
            EXPECT_NEAR(ts[i], codes[i] != 0 ? c.t : kNone, 1e-12);
        }
    }
}

TYPED_TEST(ZvuPlaneTest, CollapsedSegmentIsNotACrossing) {
    using T = TypeParam;
    const zvuPlane<T> plane(0, 0, 1, 0);
    // Collapsing the segment to a point on the plane keeps its old unit
    // direction, which is not parallel to the plane; its zero length must
    // still not produce a crossing at an infinite or NaN parameter.
    zvuLineSegment<T> segment(vec<T>({0, 0, 0}), vec<T>({0, 0, -1}));
    segment.setEnd(vec<T>({0, 0, 0}));
    ASSERT_EQ(segment.getLength(), 0.0);
    ASSERT_TRUE(vecNear(segment.unitDirection(), {0, 0, -1}, 0.0));
    double t = kNone;
    EXPECT_EQ(plane.intersectSegmentFront(segment, t, kEps), 0);
    EXPECT_EQ(plane.intersectSegmentBack(segment, t, kEps), 0);
    EXPECT_EQ(plane.intersectSegment(segment, t, kEps), 0);
    EXPECT_EQ(t, kNone);
}

struct LineCase {
    const char* name;
    zvuVector3Dd start, end;
    int front, back, either;
    double t;
};

TYPED_TEST(ZvuPlaneTest, LineCrossingsUseTheUnnormalisedDirection) {
    using T = TypeParam;
    const zvuPlane<T> plane(0, 0, 1, 0);
    const LineCase cases[] = {
        {"towards the back", {0, 0, 2}, {0, 0, 1}, 1, 0, 1, 2.0},
        {"towards the front", {0, 0, 1}, {0, 0, 3}, 0, 2, 2, -0.5},
        // normal.direction = 0.125: parallel within eps.
        {"nearly parallel, short", {0, 0, 1}, {1, 0, 1.125}, 0, 0, 0, 0.0},
        // normal.direction = 0.5, although a segment along the same points
        // counts as parallel (see below).
        {"nearly parallel, long", {0, 0, -0.125}, {4, 0, 0.375}, 0, 2, 2, 0.25},
        {"in the plane", {0, 0, 0}, {1, 1, 0}, 0, 0, 0, 0.0},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const zvuLine<T> line(vec<T>(c.start), vec<T>(c.end));
        double tf = kNone, tb = kNone, te = kNone;
        EXPECT_EQ(plane.intersectLineFront(line, tf, kEps), c.front);
        EXPECT_EQ(plane.intersectLineBack(line, tb, kEps), c.back);
        EXPECT_EQ(plane.intersectLine(line, te, kEps), c.either);
        // Rejections set t = 0.
        EXPECT_NEAR(tf, c.front != 0 ? c.t : 0.0, 1e-12);
        EXPECT_NEAR(tb, c.back != 0 ? c.t : 0.0, 1e-12);
        EXPECT_NEAR(te, c.either != 0 ? c.t : 0.0, 1e-12);
    }
    // The segment along the points of "nearly parallel, long" is tested with
    // its unit direction and counts as parallel.
    double t = kNone;
    const zvuLineSegment<T> segment(vec<T>({0, 0, -0.125}), vec<T>({4, 0, 0.375}));
    EXPECT_EQ(plane.intersectSegment(segment, t, kEps), 0);
    EXPECT_EQ(plane.intersectSegmentBack(segment, t, kEps), 0);
}

// The float and double variants agree on a grid of segments through a tilted
// plane: same codes, parameters within float rounding.
TEST(ZvuPlanePrecisionTest, FloatAndDoubleAgree) {
    const zvuPlane<double> pd(1, -2, 2, 0.5);
    const zvuPlane<float> pf(1, -2, 2, 0.5);
    const double coords[] = {-2.0, -0.5, 0.0, 0.25, 1.5};
    int crossings = 0;
    for (double ax : coords)
        for (double az : coords)
            for (double bx : coords)
                for (double bz : coords) {
                    const zvuVector3Dd a{ax, 0.5, az}, b{bx, -0.5, bz};
                    const zvuLineSegment<double> sd(a, b);
                    const zvuLineSegment<float> sf(vec<float>(a), vec<float>(b));
                    double td = kNone, tf = kNone;
                    const int cd = pd.intersectSegment(sd, td, 1e-3);
                    const int cf = pf.intersectSegment(sf, tf, 1e-3);
                    ASSERT_EQ(cd, cf) << test::str(a) << " to " << test::str(b);
                    if (cd != 0) {
                        ++crossings;
                        EXPECT_NEAR(td, tf, 1e-5);
                    }
                }
    EXPECT_GT(crossings, 50);
}

}  // namespace
}  // namespace zvu
