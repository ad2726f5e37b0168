// Boxes: the empty flag through construction, copy, intersection and
// growth; the errors of operations that need a box; and clipLine, including
// axis-parallel lines, the eps band and lines through edges.
#include <cmath>
#include <cstring>
#include <optional>

#include "geometry_test_util.h"

namespace zvu {
namespace {

using test::vecNear;

TEST(ZvuBoundBoxTest, ConstructionSortsOnRequest) {
    const BoundBox3 sorted({1, 5, -1}, {0, 2, 3}, true);
    EXPECT_FALSE(sorted.empty());
    EXPECT_TRUE(vecNear(sorted.min(), {0, 2, -1}, 0.0));
    EXPECT_TRUE(vecNear(sorted.max(), {1, 5, 3}, 0.0));

    const BoundBox3 unsorted({1, 5, -1}, {0, 2, 3}, false);
    EXPECT_TRUE(unsorted.empty());

    EXPECT_FALSE(BoundBox3({1, 2, 3}, {1, 2, 3}, false).empty()) << "a point is a box";
    EXPECT_FALSE(BoundBox3({0, 0, 0}, {0, 4, 4}, false).empty()) << "a flat box is a box";
    EXPECT_TRUE(BoundBox3({0, 0, NAN}, {1, 1, 1}, false).empty());
}

TEST(ZvuBoundBoxTest, CopyOfAnEmptyBoxHasZeroCorners) {
    const BoundBox3 empty({3, 3, 3}, {1, 1, 1}, false);
    const BoundBox3 copy(empty);
    EXPECT_TRUE(copy.empty());
    EXPECT_TRUE(vecNear(copy.min(), {0, 0, 0}, 0.0));
    EXPECT_TRUE(vecNear(copy.max(), {0, 0, 0}, 0.0));

    BoundBox3 assigned({-1, -1, -1}, {1, 1, 1}, true);
    assigned = empty;
    EXPECT_TRUE(assigned.empty());
    EXPECT_TRUE(vecNear(assigned.max(), {0, 0, 0}, 0.0));

    const BoundBox3 full({-1, -2, -3}, {1, 2, 3}, true);
    assigned = full;
    EXPECT_FALSE(assigned.empty());
    EXPECT_TRUE(vecNear(assigned.min(), {-1, -2, -3}, 0.0));
    EXPECT_TRUE(vecNear(BoundBox3(full).max(), {1, 2, 3}, 0.0));
}

struct IntersectCase {
    const char* name;
    BoundBox3 a, b;
    bool empty;
    zvuVector3Dd min, max;
};

TEST(ZvuBoundBoxTest, Intersect) {
    const BoundBox3 unit({0, 0, 0}, {2, 2, 2}, true);
    const BoundBox3 empty;
    const IntersectCase cases[] = {
        {"overlapping", unit, BoundBox3({1, -1, 1}, {3, 1, 5}, true), false, {1, 0, 1}, {2, 1, 2}},
        {"nested", unit, BoundBox3({0.5, 0.5, 0.5}, {1, 1, 1}, true), false, {0.5, 0.5, 0.5}, {1, 1, 1}},
        {"sharing a face: flat", unit, BoundBox3({2, 0, 0}, {4, 2, 2}, true), false, {2, 0, 0}, {2, 2, 2}},
        {"apart", unit, BoundBox3({3, 0, 0}, {4, 2, 2}, true), true, {}, {}},
        {"with an empty box", unit, empty, true, {}, {}},
        {"of an empty box", empty, unit, true, {}, {}},
    };
    for (const IntersectCase& c : cases) {
        SCOPED_TRACE(c.name);
        BoundBox3 box = c.a;
        box.intersect(c.b);
        EXPECT_EQ(box.empty(), c.empty);
        if (!c.empty) {
            EXPECT_TRUE(vecNear(box.min(), c.min, 0.0));
            EXPECT_TRUE(vecNear(box.max(), c.max, 0.0));
        }
    }
}

TEST(ZvuBoundBoxTest, ContainsIncludesTheFacesAndNothingOfAnEmptyBox) {
    const BoundBox3 box({0, 0, 0}, {2, 2, 2}, true);
    EXPECT_TRUE(box.contains({1, 1, 1}));
    EXPECT_TRUE(box.contains({0, 2, 0}));
    EXPECT_FALSE(box.contains({2, 2, 2.0000001}));
    EXPECT_FALSE(box.contains({-1e-300, 1, 1}));
    // The default box is empty although both its corners are the origin.
    EXPECT_FALSE(BoundBox3().contains({0, 0, 0}));
}

TEST(ZvuBoundBoxTest, GrowMovesEveryFace) {
    BoundBox3 box({0, 0, 0}, {2, 4, 6}, true);
    box.grow(1);
    EXPECT_TRUE(vecNear(box.min(), {-1, -1, -1}, 0.0));
    EXPECT_TRUE(vecNear(box.max(), {3, 5, 7}, 0.0));
    box.grow(-2);  // back to x in [1, 1]: flat, not empty
    EXPECT_FALSE(box.empty());
    EXPECT_TRUE(vecNear(box.center(), {1, 2, 3}, 0.0));
    EXPECT_TRUE(vecNear(box.range(), {0, 2, 4}, 0.0));
    box.grow(-0.5);  // more than half the x extent
    EXPECT_TRUE(box.empty());
}

// Which operation, and the message it must throw with on an empty box.
struct ThrowCase {
    const char* name;
    void (*call)(BoundBox3&);
    const char* message;
};

TEST(ZvuBoundBoxTest, OperationsNeedingABoxThrowOnAnEmptyOne) {
    const ThrowCase cases[] = {
        {"grow", [](BoundBox3& b) { b.grow(1.0); }, "growing empty BoundBox"},
        {"center", [](BoundBox3& b) { (void)b.center(); }, "center of empty BoundBox3"},
        {"range", [](BoundBox3& b) { (void)b.range(); }, "range of empty BoundBox3"},
    };
    for (const ThrowCase& c : cases) {
        SCOPED_TRACE(c.name);
        BoundBox3 box({1, 0, 0}, {0, 1, 1}, false);
        std::optional<BoundBoxError> error;
        try {
            c.call(box);
        } catch (const BoundBoxError& e) {
            error = e;
        }
        ASSERT_TRUE(error.has_value());
        EXPECT_STREQ(error->what(), c.message);
        EXPECT_STREQ(error->message(), c.message);
    }
}

struct ClipCase {
    const char* name;
    zvuVector3Dd start, end;
    bool hit;
    double t0, t1;
};

TEST(ZvuBoundBoxTest, ClipLine) {
    // Box [0, 2]^3; eps = 0.25 (exact in binary).
    const BoundBox3 box({0, 0, 0}, {2, 2, 2}, true);
    const ClipCase cases[] = {
        {"along x: only the x faces count", {-1, 1, 1}, {3, 1, 1}, true, 0.25, 0.75},
        {"along x, reversed: t0 is still the smaller", {3, 1, 1}, {-1, 1, 1}, true, 0.25, 0.75},
        {"along z", {1, 1, -5}, {1, 1, 5}, true, 0.5, 0.7},
        {"along x, missing", {-1, 3, 1}, {3, 3, 1}, false, 0, 0},
        {"oblique, in through x, out through y", {-1, 0.5, 1}, {1, 2.5, 1}, true, 0.5, 0.75},
        {"oblique, missing", {-1, 3, 1}, {1, 5, 1}, false, 0, 0},
        {"along a face", {-1, 2, 1}, {3, 2, 1}, true, 0.25, 0.75},
        {"beside a face, within eps", {-1, 2.125, 1}, {3, 2.125, 1}, true, 0.25, 0.75},
        {"beside a face, beyond eps", {-1, 2.5, 1}, {3, 2.5, 1}, false, 0, 0},
        // Enters through the edge x = y = 0, where the x and y faces are both
        // met at t = 0.5, and leaves through the face y = 2 at t = 1.
        {"in through an edge", {-1, -2, 1}, {1, 2, 1}, true, 0.5, 1.0},
        {"touching an edge only", {-1, 1, 1}, {1, -1, 1}, true, 0.5, 0.5},
        // A direction component not above eps is ignored; the others decide.
        {"small x component ignored", {0.875, -1, 1}, {1.125, 3, 1}, true, 0.25, 0.75},
    };
    for (const ClipCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (int variant = 0; variant < 2; ++variant) {
            SCOPED_TRACE(variant == 0 ? "double line" : "float line");
            double t0 = -7, t1 = -7;
            const bool hit =
                variant == 0
                    ? box.clipLine(zvuLine<double>(c.start, c.end), t0, t1, 0.25)
                    : box.clipLine(zvuLine<float>(fromDouble<float>(c.start), fromDouble<float>(c.end)), t0, t1, 0.25);
            EXPECT_EQ(hit, c.hit);
            EXPECT_NEAR(t0, c.hit ? c.t0 : -7, 1e-12);
            EXPECT_NEAR(t1, c.hit ? c.t1 : -7, 1e-12);
        }
    }
    // Segments clip by their own parametrisation, which is the same.
    double t0 = 0, t1 = 0;
    EXPECT_TRUE(box.clipLine(zvuLineSegment<double>({-1, 1, 1}, {3, 1, 1}), t0, t1, 0.25));
    EXPECT_NEAR(t0, 0.25, 1e-15);
    EXPECT_NEAR(t1, 0.75, 1e-15);
}

TEST(ZvuBoundBoxTest, ClipLineOnAnEmptyBoxIsAMissNotAnError) {
    const BoundBox3 empty({2, 2, 2}, {0, 0, 0}, false);
    double t0 = -7, t1 = -7;
    EXPECT_FALSE(empty.clipLine(zvuLine<double>({-1, 1, 1}, {3, 1, 1}), t0, t1, 1e-10));
    EXPECT_EQ(t0, -7);
    // A negative eps that shrinks the box to nothing is a miss as well.
    const BoundBox3 box({0, 0, 0}, {2, 2, 2}, true);
    EXPECT_FALSE(box.clipLine(zvuLine<double>({-1, 1, 1}, {3, 1, 1}), t0, t1, -1.5));
}

}  // namespace
}  // namespace zvu
