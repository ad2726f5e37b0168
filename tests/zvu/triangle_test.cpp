// Triangles in all three storage variants: the supporting plane and its
// orientation flag, containment within eps (including the branch for a first
// edge without extent along the first projected axis), closest points,
// barycentric weights, parameters, segment crossings and degenerate
// triangles.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "geometry_test_util.h"

namespace zvu {
namespace {

using test::vecNear;

// Builds triangles of every storage variant from double vertices (all test
// vertices are exactly representable in float). The feedback variant keeps
// its vertices in an array of its own, in scrambled order, to exercise the
// indices.
template <typename Storage>
struct Maker;

template <>
struct Maker<DepthTriangleStorage> {
    TriangleBase<DepthTriangleStorage> make(const zvuVector3Dd& a, const zvuVector3Dd& b, const zvuVector3Dd& c,
                                            int edgeOrderNormal) {
        return {{a, b, c}, edgeOrderNormal};
    }
};

template <>
struct Maker<PrimitiveTriangleStorage> {
    TriangleBase<PrimitiveTriangleStorage> make(const zvuVector3Dd& a, const zvuVector3Dd& b, const zvuVector3Dd& c,
                                                int edgeOrderNormal) {
        return {{fromDouble<float>(a), fromDouble<float>(b), fromDouble<float>(c)}, edgeOrderNormal};
    }
};

template <>
struct Maker<FeedbackTriangleStorage> {
    // Each triangle gets its own vertex block: a filler vertex, then c, a, b.
    std::vector<std::unique_ptr<float[]>> blocks;

    TriangleBase<FeedbackTriangleStorage> make(const zvuVector3Dd& a, const zvuVector3Dd& b, const zvuVector3Dd& c,
                                               int edgeOrderNormal) {
        auto block = std::make_unique<float[]>(12);
        int k = 0;
        for (const zvuVector3Dd& v : {zvuVector3Dd{99, 99, 99}, c, a, b}) {
            block[k++] = static_cast<float>(v.x);
            block[k++] = static_cast<float>(v.y);
            block[k++] = static_cast<float>(v.z);
        }
        blocks.push_back(std::move(block));
        return {{blocks.back().get(), 2, 3, 1}, edgeOrderNormal};
    }
};

template <typename Storage>
class ZvuTriangleTest : public ::testing::Test {
protected:
    TriangleBase<Storage> make(const zvuVector3Dd& a, const zvuVector3Dd& b, const zvuVector3Dd& c,
                               int edgeOrderNormal = 1) {
        return maker_.make(a, b, c, edgeOrderNormal);
    }

private:
    Maker<Storage> maker_;
};

using Storages = ::testing::Types<DepthTriangleStorage, PrimitiveTriangleStorage, FeedbackTriangleStorage>;
TYPED_TEST_SUITE(ZvuTriangleTest, Storages);

TYPED_TEST(ZvuTriangleTest, EdgeOrderNormalChoosesTheFrontSide) {
    auto tri = this->make({1, 0, 3}, {3, 0, 3}, {1, 2, 3}, 1);
    EXPECT_TRUE(vecNear(tri.v0(), {1, 0, 3}, 0.0));
    EXPECT_TRUE(vecNear(tri.v1(), {3, 0, 3}, 0.0));
    EXPECT_TRUE(vecNear(tri.v2(), {1, 2, 3}, 0.0));
    EXPECT_TRUE(vecNear(tri.normal, {0, 0, 1}, 0.0));
    EXPECT_EQ(tri.d, -3.0);
    EXPECT_EQ(tri.distance({0, 0, 5}), 2.0);

    tri.edgeOrderNormal = 0;
    EXPECT_EQ(tri.updatePlane(), 3.0);
    EXPECT_TRUE(vecNear(tri.normal, {0, 0, -1}, 0.0));
    EXPECT_EQ(tri.distance({0, 0, 5}), -2.0);

    // The flag flips which crossing is "from the front".
    const zvuLineSegment<double> down({1.5, 0.5, 4}, {1.5, 0.5, 2});
    double t = -1;
    EXPECT_EQ(tri.intersectSegment(down, t, 1e-9), 2);
    tri.edgeOrderNormal = 1;
    tri.updatePlane();
    EXPECT_EQ(tri.intersectSegment(down, t, 1e-9), 1);
}

// Points of the right triangle (0,0), (2,0), (0,2), given in its own 2D
// coordinates, with eps = 1e-3.
struct ContainsCase {
    const char* name;
    double a, b;
    bool inside;
};

const ContainsCase kContainsCases[] = {
    {"vertex 0", 0, 0, true},
    {"vertex 1", 2, 0, true},
    {"vertex 2", 0, 2, true},
    {"edge 0-1", 1, 0, true},
    {"edge 1-2", 1, 1, true},
    {"edge 2-0", 0, 1.5, true},
    {"centroid", 2.0 / 3, 2.0 / 3, true},
    {"outside edge 0-1 by less than eps", 1, -0.0015, true},
    {"outside edge 0-1 by more than eps", 1, -0.0025, false},
    {"outside edge 1-2 by less than eps", 1.0009, 1.0009, true},
    {"outside edge 1-2 by more than eps", 1.0011, 1.0011, false},
    {"outside edge 2-0 by less than eps", -0.0015, 1, true},
    {"beyond vertex 1", 2.5, 0, false},
    {"far away", 5, 5, false},
    {"behind vertex 0", -1, -1, false},
};

// Embeddings of the 2D triangle in space. They drop each axis in turn and
// include a tilted plane whose normal has three equal components. Keeping
// v0 at the right angle, both orders of v1 and v2 are used; in one of them
// the first edge has no extent along the first projected axis.
struct Embedding {
    const char* name;
    zvuVector3Dd origin, u, v;  // point = origin + a u + b v
};

const Embedding kEmbeddings[] = {
    {"plane z = 0", {0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
    {"plane x = 5", {5, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    {"plane y = -1", {0, -1, 0}, {0, 0, 1}, {1, 0, 0}},
    {"tilted plane, equal normal components", {1, 1, 1}, {1, 0, 1}, {0, 1, 1}},
};

zvuVector3Dd embed(const Embedding& e, double a, double b) { return e.origin + e.u * a + e.v * b; }

TYPED_TEST(ZvuTriangleTest, ContainsWithinEps) {
    for (const Embedding& e : kEmbeddings) {
        for (bool swapped : {false, true}) {
            SCOPED_TRACE(std::string(e.name) + (swapped ? ", v1 and v2 swapped" : ""));
            const zvuVector3Dd p0 = embed(e, 0, 0), pa = embed(e, 2, 0), pb = embed(e, 0, 2);
            const auto tri = swapped ? this->make(p0, pb, pa) : this->make(p0, pa, pb);
            for (const ContainsCase& c : kContainsCases) {
                SCOPED_TRACE(c.name);
                EXPECT_EQ(tri.contains(embed(e, c.a, c.b), 1e-3), c.inside);
            }
        }
    }
}

TYPED_TEST(ZvuTriangleTest, ParametersRoundTrip) {
    const double params[][2] = {{0.25, 0.5}, {0, 0}, {1, 0}, {0, 1}, {-0.5, 2}, {3, -1}};
    for (const Embedding& e : kEmbeddings) {
        for (bool swapped : {false, true}) {
            SCOPED_TRACE(std::string(e.name) + (swapped ? ", v1 and v2 swapped" : ""));
            const zvuVector3Dd p0 = embed(e, 0, 0), pa = embed(e, 2, 0), pb = embed(e, 0, 2);
            const auto tri = swapped ? this->make(p0, pb, pa) : this->make(p0, pa, pb);
            for (const auto& st : params) {
                const zvuVector3Dd p = tri.pointAtParameters(st[0], st[1]);
                EXPECT_TRUE(vecNear(tri.parametersOf(p, 1e-9), {st[0], st[1], 0}, 1e-12));
            }
        }
    }
}

struct ClosestCase {
    const char* name;
    zvuVector3Dd point, closest;
};

TYPED_TEST(ZvuTriangleTest, ClosestPoint) {
    const auto tri = this->make({0, 0, 0}, {2, 0, 0}, {0, 2, 0});
    const ClosestCase cases[] = {
        {"above the inside: its projection", {0.5, 0.5, 3}, {0.5, 0.5, 0}},
        {"below the inside", {1, 0.5, -2}, {1, 0.5, 0}},
        {"beyond edge 0-1", {1, -1, 2}, {1, 0, 0}},
        {"beyond edge 1-2", {2, 2, -1}, {1, 1, 0}},
        {"beyond edge 2-0", {-3, 1, 0}, {0, 1, 0}},
        {"beyond vertex 0", {-1, -1, 0}, {0, 0, 0}},
        {"beyond vertex 1", {3, -1, 5}, {2, 0, 0}},
        {"beyond vertex 2", {-0.5, 4, 0}, {0, 2, 0}},
    };
    for (const ClosestCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(vecNear(tri.closestPoint(c.point, 1e-9), c.closest, 1e-12));
    }
}

TYPED_TEST(ZvuTriangleTest, BarycentricWeights) {
    const auto tri = this->make({0, 0, 0}, {3, 0, 0}, {0, 3, 0});
    EXPECT_TRUE(vecNear(tri.barycentric({1, 1, 7}), {1.0 / 3, 1.0 / 3, 1.0 / 3}, 1e-12));
    EXPECT_TRUE(vecNear(tri.barycentric({3, 0, 0}), {0, 1, 0}, 1e-12));
    EXPECT_TRUE(vecNear(tri.barycentric({0, 1.5, 0}), {0.5, 0, 0.5}, 1e-12));
    // Outside, the unsigned weights still sum to 1.
    const zvuVector3Dd w = tri.barycentric({3, 3, 0});
    EXPECT_GE(w.x, 0.0);
    EXPECT_GE(w.y, 0.0);
    EXPECT_GE(w.z, 0.0);
    EXPECT_NEAR(w.x + w.y + w.z, 1.0, 1e-12);
    // All areas vanish: equal weights rather than NaN.
    const auto point = this->make({1, 1, 1}, {1, 1, 1}, {1, 1, 1});
    EXPECT_TRUE(vecNear(point.barycentric({4, 5, 6}), {1.0 / 3, 1.0 / 3, 1.0 / 3}, 0.0));
}

struct CrossingCase {
    const char* name;
    zvuVector3Dd start, end;
    int front, back, either;
    double t;
};

TYPED_TEST(ZvuTriangleTest, SegmentCrossingsAreLimitedToTheTriangle) {
    const auto tri = this->make({0, 0, 0}, {2, 0, 0}, {0, 2, 0});  // front towards +z
    const CrossingCase cases[] = {
        {"down through the inside", {0.5, 0.5, 1}, {0.5, 0.5, -1}, 1, 0, 1, 0.5},
        {"up through the inside", {0.5, 0.5, -1}, {0.5, 0.5, 3}, 0, 2, 2, 0.25},
        {"through a vertex", {0, 0, 1}, {0, 0, -1}, 1, 0, 1, 0.5},
        {"through an edge", {1, 1, 1}, {1, 1, -1}, 1, 0, 1, 0.5},
        {"through the plane beside the triangle", {3, 3, 1}, {3, 3, -1}, 0, 0, 0, 0},
        {"oblique, meeting the plane inside", {-1, 0.5, 2}, {2, 0.5, -1}, 1, 0, 1, 2.0 / 3},
        {"oblique, meeting the plane outside", {1, 0.5, 2}, {4, 0.5, -1}, 0, 0, 0, 0},
        {"not reaching the plane", {0.5, 0.5, 2}, {0.5, 0.5, 1}, 0, 0, 0, 0},
    };
    for (const CrossingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const zvuLineSegment<double> segment(c.start, c.end);
        double t = -1;
        EXPECT_EQ(tri.intersectSegmentFront(segment, t, 1e-9), c.front);
        if (c.front != 0) {
            EXPECT_NEAR(t, c.t, 1e-12);
        }
        EXPECT_EQ(tri.intersectSegmentBack(segment, t, 1e-9), c.back);
        if (c.back != 0) {
            EXPECT_NEAR(t, c.t, 1e-12);
        }
        EXPECT_EQ(tri.intersectSegment(segment, t, 1e-9), c.either);
        if (c.either != 0) {
            EXPECT_NEAR(t, c.t, 1e-12);
        }
    }
    // The line tests are the plane's: the edges do not limit them.
    const zvuLine<double> beside({3, 3, 1}, {3, 3, -1});
    double t = -1;
    EXPECT_EQ(tri.intersectLine(beside, t, 1e-9), 1);
    EXPECT_EQ(t, 0.5);
}

TYPED_TEST(ZvuTriangleTest, DegenerateTrianglesAreNeverCrossed) {
    const auto line = this->make({0, 0, 0}, {1, 1, 0}, {2, 2, 0});
    const auto repeated = this->make({0, 0, 0}, {0, 0, 0}, {2, 0, 0});
    const auto point = this->make({1, 1, 1}, {1, 1, 1}, {1, 1, 1});
    for (const auto* tri : {&line, &repeated, &point}) {
        EXPECT_TRUE(vecNear(tri->normal, {0, 0, 0}, 0.0));
        for (const zvuVector3Dd& p : {zvuVector3Dd{0, 0, 0}, zvuVector3Dd{1, 1, 1}, zvuVector3Dd{1, 1, 0}})
            EXPECT_FALSE(tri->contains(p, 1e-9));
        const zvuLineSegment<double> through({1, 1, 1}, {1, 1, -1});
        double t = -1;
        EXPECT_EQ(tri->intersectSegment(through, t, 1e-9), 0);
        EXPECT_EQ(tri->intersectSegmentFront(through, t, 1e-9), 0);
        EXPECT_EQ(tri->intersectSegmentBack(through, t, 1e-9), 0);
    }
    // The closest point still lies on what is left of the triangle.
    EXPECT_TRUE(vecNear(line.closestPoint({2, 0, 0}, 1e-9), {1, 1, 0}, 1e-12));
    EXPECT_TRUE(vecNear(repeated.closestPoint({1, 3, 0}, 1e-9), {1, 0, 0}, 1e-12));
    EXPECT_TRUE(vecNear(point.closestPoint({5, 5, 5}, 1e-9), {1, 1, 1}, 0.0));
}

// Feedback triangles read their vertices through the shared array.
TEST(ZvuFeedbackTriangleTest, VerticesComeFromTheSharedArray) {
    float vertices[] = {9, 9, 9, 0, 0, 0, 2, 0, 0, 0, 2, 0};
    TriangleBase<FeedbackTriangleStorage> tri({vertices, 1, 2, 3}, 1);
    EXPECT_TRUE(vecNear(tri.normal, {0, 0, 1}, 0.0));
    // Moving the third vertex onto the z axis turns the plane to face -y, once
    // the plane is recomputed.
    vertices[9] = 0;
    vertices[10] = 0;
    vertices[11] = 2;
    EXPECT_TRUE(vecNear(tri.normal, {0, 0, 1}, 0.0));
    tri.updatePlane();
    EXPECT_TRUE(vecNear(tri.normal, {0, -1, 0}, 0.0));
}

}  // namespace
}  // namespace zvu
