// Local features: how a moving segment meets a point, a line and a plane,
// the set's queries and their tie-breaking, and the mapping of shape
// features into the workspace.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "collision_test_support.h"

namespace {

using namespace qmtest;
using QM::LocalIntersectionInfo;
using zvu::zvuLineSegmentd;

struct IntersectCase {
    const char* name;
    int kind;           // 0 point, 1 line, 2 plane
    zvuVector3Dd a, b;  // the feature (point; line ends; plane normal and point)
    zvuVector3Dd from, to;
    bool hit;
    int side;
    double t;
    zvuVector3Dd point, normal;
};

std::unique_ptr<QM::ILocalFeature> make(const IntersectCase& c) {
    switch (c.kind) {
    case 0: return point(c.a);
    case 1: return line(c.a, c.b);
    default: return plane(c.a, c.b);
    }
}

TEST(LocalFeatureTest, IntersectMeetsEachKindAsTheMotionDoes) {
    const double r = 1.0 / std::sqrt(2.0);
    const IntersectCase cases[] = {
        {"point on the path", 0, {0, 0, 0}, {}, {0, 0, 1}, {0, 0, -1}, true, 1, 0.5, {0, 0, 0}, {0, 0, 1}},
        {"point within reach", 0, {0.0009, 0, 0}, {}, {0, 0, 1}, {0, 0, -1}, true, 1, 0.5, {0.0009, 0, 0}, {0, 0, 1}},
        {"point out of reach", 0, {0.0011, 0, 0}, {}, {0, 0, 1}, {0, 0, -1}, false, 0, 0, {}, {}},
        {"point under a resting proxy", 0, {0, 0, 0}, {}, {0, 0, 0}, {0, 0, 0}, true, 1, 0, {0, 0, 0}, {0, 0, 1}},
        {"line crossed at right angles",
         1,
         {-1, 0, 0},
         {1, 0, 0},
         {0.5, 0, 1},
         {0.5, 0, -1},
         true,
         1,
         0.5,
         {0.5, 0, 0},
         {0, 0, 1}},
        {"line crossed obliquely pushes off it only",
         1,
         {-1, 0, 0},
         {1, 0, 0},
         {-0.5, 0, 1},
         {0.5, 0, -1},
         true,
         1,
         0.5,
         {0, 0, 0},
         {0, 0, 1}},
        {"line met along its length",
         1,
         {-1, 0, 0},
         {1, 0, 0},
         {-2, 0, 0},
         {0, 0, 0},
         true,
         1,
         0.5,
         {-1, 0, 0},
         {-1, 0, 0}},
        {"line missed beyond its end", 1, {-1, 0, 0}, {1, 0, 0}, {1.5, 0, 1}, {1.5, 0, -1}, false, 0, 0, {}, {}},
        {"line under a resting proxy",
         1,
         {-1, 0, 0},
         {1, 0, 0},
         {0, 0, 0},
         {0, 0, 0},
         true,
         1,
         0,
         {0, 0, 0},
         {0, 0, 1}},
        {"plane entered from the front",
         2,
         {0, 0, 1},
         {0, 0, 0},
         {0, 0, 1},
         {0, 0, -3},
         true,
         1,
         0.25,
         {0, 0, 0},
         {0, 0, 1}},
        {"plane entered from the back",
         2,
         {0, 0, 1},
         {0, 0, 0},
         {0, 0, -1},
         {0, 0, 3},
         true,
         2,
         0.25,
         {0, 0, 0},
         {0, 0, -1}},
        {"tilted plane", 2, {r, 0, r}, {0, 0, 0}, {1, 0, 1}, {-1, 0, -1}, true, 1, 0.5, {0, 0, 0}, {r, 0, r}},
        {"plane not reached", 2, {0, 0, 1}, {0, 0, 0}, {0, 0, 2}, {0, 0, 1}, false, 0, 0, {}, {}},
        {"motion along a plane", 2, {0, 0, 1}, {0, 0, 0}, {0, 0, 0}, {1, 0, 0}, false, 0, 0, {}, {}},
    };
    for (const IntersectCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto feature = make(c);
        LocalIntersectionInfo hit;
        ASSERT_EQ(feature->intersect(zvuLineSegmentd(c.from, c.to), hit), c.hit);
        if (!c.hit) {
            continue;
        }
        EXPECT_EQ(hit.feature, feature.get());
        EXPECT_EQ(hit.side, c.side);
        EXPECT_NEAR(hit.t, c.t, 1e-12);
        EXPECT_TRUE(near3(hit.point, c.point, 1e-12));
        EXPECT_TRUE(near3(hit.normal, c.normal, 1e-12));
    }
}

TEST(LocalFeatureTest, PenetrationCountsAPlaneOnlyWhenTheMotionEndsBehindIt) {
    const auto wall = plane({0, 0, 1}, {0, 0, 0});
    LocalIntersectionInfo hit;
    // Ends in front, or comes out through the back: not a penetration.
    EXPECT_FALSE(wall->penetrationTest(zvuLineSegmentd({0, 0, 2}, {0, 0, 1}), hit));
    EXPECT_FALSE(wall->penetrationTest(zvuLineSegmentd({0, 0, -1}, {0, 0, 3}), hit));
    // Starts behind and stays behind: nothing is crossed.
    EXPECT_FALSE(wall->penetrationTest(zvuLineSegmentd({0, 0, -1}, {0, 0, -2}), hit));
    // Resting on the plane and pushed in.
    ASSERT_TRUE(wall->penetrationTest(zvuLineSegmentd({0.2, 0, 0}, {0.2, 0, -1}), hit));
    EXPECT_NEAR(hit.t, 0.0, 1e-12);
    EXPECT_TRUE(near3(hit.point, {0.2, 0, 0}, 1e-12));
    EXPECT_TRUE(near3(hit.normal, {0, 0, 1}, 0));
    EXPECT_EQ(hit.side, 1);
}

TEST(LocalFeatureTest, APlaneWithoutANormalIsNeverMet) {
    const auto degenerate = plane({0, 0, 0}, {0, 0, 0});
    LocalIntersectionInfo hit;
    EXPECT_FALSE(degenerate->intersect(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), hit));
    EXPECT_FALSE(degenerate->penetrationTest(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), hit));
}

TEST(LocalFeatureTest, ClosestPointOfEachKind) {
    EXPECT_TRUE(near3(point({1, 2, 3})->closestPoint({9, 9, 9}), {1, 2, 3}, 0));
    EXPECT_TRUE(near3(line({0, 0, 0}, {1, 0, 0})->closestPoint({0.3, 5, 0}), {0.3, 0, 0}, 1e-15));
    EXPECT_TRUE(near3(line({0, 0, 0}, {1, 0, 0})->closestPoint({4, 5, 0}), {1, 0, 0}, 1e-15));
    EXPECT_TRUE(near3(plane({0, 0, 2}, {0, 0, 1})->closestPoint({4, 5, -3}), {4, 5, 1}, 1e-15));
}

// Equal answers go to the feature inserted first, whatever the addresses.
TEST(LocalFeatureTest, SetQueriesBreakTiesByInsertionOrder) {
    for (int order = 0; order < 2; ++order) {
        SCOPED_TRACE(order);
        QM::LocalFeatureSet set;
        std::vector<QM::ILocalFeature*> inserted;
        // Two points at the same distance from the query and the segment.
        const zvuVector3Dd p[2] = {{0.0005, 0, 0}, {-0.0005, 0, 0}};
        inserted.push_back(set.insert(point(p[order])));
        inserted.push_back(set.insert(point(p[1 - order])));
        LocalIntersectionInfo hit;
        ASSERT_TRUE(set.firstIntersection(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), hit));
        EXPECT_EQ(hit.feature, inserted[0]);
        EXPECT_EQ(set.closestFeature({0, 0, 1}), inserted[0]);
        zvuVector3Dd closest;
        ASSERT_TRUE(set.closestPoint({0, 0, 1}, closest));
        EXPECT_EQ(closest, p[order]);
    }
}

TEST(LocalFeatureTest, SetQueriesPickTheFirstMetAndTheNearest) {
    QM::LocalFeatureSet set;
    EXPECT_EQ(set.closestFeature({0, 0, 0}), nullptr);
    zvuVector3Dd closest;
    EXPECT_FALSE(set.closestPoint({0, 0, 0}, closest));
    LocalIntersectionInfo hit;
    EXPECT_FALSE(set.firstIntersection(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), hit));

    QM::ILocalFeature* far = set.insert(plane({0, 0, 1}, {0, 0, -0.5}));
    QM::ILocalFeature* near = set.insert(plane({0, 0, 1}, {0, 0, 0.5}));
    QM::ILocalFeature* lineFeature = set.insert(line({-1, 0, 0.9}, {1, 0, 0.9}));
    ASSERT_TRUE(set.firstIntersection(zvuLineSegmentd({0, 0.5, 1}, {0, 0.5, -1}), hit));
    EXPECT_EQ(hit.feature, near);
    EXPECT_EQ(set.closestFeature({0, 0, -0.4}), far);
    EXPECT_EQ(set.closestFeature({0, 0, 0.95}), lineFeature);
    EXPECT_EQ(set.closestFeature({0, 0, 0.95}, 2), near);
    EXPECT_EQ(set.closestFeature({0, 0, 0.95}, 0), nullptr);

    EXPECT_TRUE(set.erase(near));
    EXPECT_FALSE(set.erase(near));
    EXPECT_EQ(set.size(), 2u);
    set.eraseIf([](const QM::ILocalFeature& f) { return f.dimension() == 1; });
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(&set.at(0), far);

    QM::LocalFeatureSet other;
    other.insert(point({1, 1, 1}));
    set.takeAll(other);
    EXPECT_TRUE(other.empty());
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set.at(1).dimension(), 0);
}

TEST(LocalFeatureTest, ShapeFeaturesAreMappedIntoTheWorkspace) {
    // Shape space scaled by 2 along x and 1 elsewhere, then moved by (1, 0, 0).
    const zvu::zvuMatrix toWorkspace = zvu::zvuMatrix::translation(1, 0, 0) * zvu::zvuMatrix::scale(2, 1, 1);
    QM::LocalFeatureSet set;
    QM::ShapeFeatureSet handle(toWorkspace, set);
    handle.addPoint({1, 1, 1});
    handle.addLine({0, 0, 0}, {1, 0, 0});
    // The plane x + y = 1 of shape space is 0.5 (x - 1) + y = 1 in the
    // workspace: its normal there is (1, 2, 0) normalised, not the mapped
    // direction (2, 1, 0).
    handle.addPlane({1, 1, 0}, {1, 0, 0});
    EXPECT_EQ(handle.addPlane({0, 0, 0}, {1, 0, 0}), nullptr);
    ASSERT_EQ(set.size(), 3u);
    EXPECT_TRUE(near3(dynamic_cast<const QM::LocalFeaturePoint&>(set.at(0)).point(), {3, 1, 1}, 1e-15));
    const auto& segment = dynamic_cast<const QM::LocalFeatureLine&>(set.at(1)).segment();
    EXPECT_TRUE(near3(segment.start(), {1, 0, 0}, 1e-15));
    EXPECT_TRUE(near3(segment.end(), {3, 0, 0}, 1e-15));
    const auto& mapped = dynamic_cast<const QM::LocalFeaturePlane&>(set.at(2)).plane();
    EXPECT_TRUE(near3(mapped.normal, zvuVector3Dd(1, 2, 0).normalized(), 1e-15));
    // (3, 0, 0) and (1, 1, 0) are images of points of the plane.
    EXPECT_NEAR(mapped.distance({3, 0, 0}), 0.0, 1e-15);
    EXPECT_NEAR(mapped.distance({1, 1, 0}), 0.0, 1e-15);
}

}  // namespace
