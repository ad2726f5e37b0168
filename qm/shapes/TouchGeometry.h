// The touchable geometry of a captured or primitive shape, with fast queries.
//
// A TouchGeometry holds points, lines and triangles in one local coordinate
// space (image space for captured shapes, shape space for primitive ones), in
// the order they were produced. Once filled, build() puts a bounding-volume
// hierarchy over each kind of element; from then on the geometry is immutable
// and its queries may run on any number of threads at once (the collision
// thread reads while the client thread builds the next frame's shapes).
//
// The two queries have a reference definition, the linear scan, which visits
// every element in order; the hierarchy gives bit for bit the same answers
// (the same element, the same parameter, the same point), only faster:
//
// intersect(segment, faces, eps): the first element met along the segment.
//   Points, in index order: t = segment.closestParameter(p), a hit when
//     |p - segment.pointAt(t)| <= eps.
//   Lines, in index order: the distance between the line and the segment by
//     zvuLineSegment::closestSegmentPoints, a hit when <= eps; t is the
//     parameter on the segment.
//   Triangles, in index order: intersectSegmentFront (faces Front),
//     intersectSegmentBack (Back), intersectSegment (FrontAndBack); none for
//     faces None. The crossing code is the triangle test's (1 entering the
//     front face, 2 entering the back face).
//   Points are visited first, then lines, then triangles, and a hit replaces
//   the one kept so far only when its t is strictly smaller: among equal
//   parameters the earlier kind, then the lower index, wins.
//   As the kernel's tests define them, a triangle's t may fall outside
//   [0, 1] when an end of the segment lies within eps of the plane (the
//   crossing of the line is reported, up to eps / |normal . direction|
//   beyond that end), and a segment of length zero meets a line at t = 0 or
//   t = 1 (closestSegmentPoints' last equally near candidate) and never
//   crosses a triangle.
//
// closest(query, eps): for each kind separately, the element nearest to the
//   query point and its squared distance; the first in index order among
//   equal distances. Triangles measure to TriangleBase::closestPoint(query,
//   eps), lines to the point of the line whose parameter is the query's
//   clamped to [0, 1].
//
// Every query is noexcept and allocation free; the traversal stack is a
// fixed array on the caller's stack. Filling and build() need the caller's
// exclusion (one thread, no reader yet).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "zvu/Line.h"
#include "zvu/Triangle.h"
#include "zvu/Vector3D.h"

namespace QM {

// Which crossings of a triangle count.
enum class FaceMode { Front, Back, FrontAndBack, None };

// The first element along a segment.
struct TouchHit {
    enum class Kind { None, Point, Line, Triangle };
    Kind kind{Kind::None};
    // Index of the element within its kind, -1 without a hit.
    int index{-1};
    // Parameter along the segment (segment.pointAt(t) is the contact).
    double t{0.0};
    // Triangles: 1 crossing into the front face, 2 into the back face. Points
    // and lines: 0.
    int code{0};
    // segment.pointAt(t), in local coordinates.
    zvu::zvuVector3Dd point{};
};

// The nearest element of each kind; an index of -1 (and an infinite
// distance) when the geometry has no element of that kind.
struct ClosestElements {
    int triangle{-1};
    zvu::zvuVector3Dd trianglePoint{};
    double triangleDistanceSquared{std::numeric_limits<double>::infinity()};
    int line{-1};
    zvu::zvuVector3Dd linePoint{};
    double lineDistanceSquared{std::numeric_limits<double>::infinity()};
    int point{-1};
    double pointDistanceSquared{std::numeric_limits<double>::infinity()};
};

class TouchGeometry {
public:
    struct Line {
        zvu::zvuVector3Df a;
        zvu::zvuVector3Df b;
    };

    TouchGeometry() = default;
    TouchGeometry(const TouchGeometry&) = default;
    TouchGeometry& operator=(const TouchGeometry&) = default;
    TouchGeometry(TouchGeometry&&) noexcept = default;
    TouchGeometry& operator=(TouchGeometry&&) noexcept = default;
    ~TouchGeometry() = default;

    // Filling (client thread, before build()). Adding after build() drops the
    // hierarchy; the queries then scan linearly until build() runs again.
    // reserve() may throw std::bad_alloc / std::length_error, the add
    // functions std::bad_alloc when they outgrow the reservation.
    void reserve(std::size_t points, std::size_t lines, std::size_t triangles);
    void addPoint(const zvu::zvuVector3Df& point);
    void addLine(const zvu::zvuVector3Df& a, const zvu::zvuVector3Df& b);
    // The caller has set edgeOrderNormal and called updatePlane().
    void addTriangle(const zvu::PrimitiveTriangle& triangle);
    // Empties the geometry and drops the hierarchy (keeps the capacity).
    void clear() noexcept;

    // Builds the hierarchies (may throw std::bad_alloc). Cost is about
    // linear in the number of elements.
    void build();
    bool built() const noexcept { return built_; }

    // The queries described above. With useHierarchy false, or before
    // build(), they scan linearly; so do queries the hierarchy cannot bound
    // (non-finite coordinates, eps outside (1e-30, 1/1024]).
    TouchHit intersect(const zvu::zvuLineSegmentd& segment, FaceMode faces, double eps,
                       bool useHierarchy) const noexcept;
    ClosestElements closest(const zvu::zvuVector3Dd& query, double eps, bool useHierarchy) const noexcept;

    std::size_t pointCount() const noexcept { return points_.size(); }
    std::size_t lineCount() const noexcept { return lines_.size(); }
    std::size_t triangleCount() const noexcept { return triangles_.size(); }
    // Element access; indices must be in range.
    const zvu::zvuVector3Df& point(std::size_t i) const noexcept { return points_[i]; }
    const Line& line(std::size_t i) const noexcept { return lines_[i]; }
    const zvu::PrimitiveTriangle& triangle(std::size_t i) const noexcept { return triangles_[i]; }
    const std::vector<zvu::zvuVector3Df>& points() const noexcept { return points_; }
    const std::vector<Line>& lines() const noexcept { return lines_; }
    const std::vector<zvu::PrimitiveTriangle>& triangles() const noexcept { return triangles_; }

    // Bytes held on the heap by the elements and the hierarchies (capacity,
    // not size).
    std::size_t memoryBytes() const noexcept;

    // A node of a hierarchy: up to four children side by side (so that one
    // node's boxes are tested together), each a float box and either an
    // inner node (count 0, child its index), a leaf (count > 0 entries of the
    // element order starting at child) or unused (count kUnused, empty box).
    struct alignas(64) Node {
        float lo[3][4];
        float hi[3][4];
        std::uint32_t child[4];
        std::uint32_t count[4];
    };
    static constexpr std::uint32_t kUnused = 0xffffffffu;
    // One hierarchy over the elements of a kind. `order` lists the element
    // indices leaf by leaf; `always` the elements no box can be trusted to
    // bound (they are tested by every query); lo and hi bound the rest;
    // `depth` is that of the binary tree the nodes were gathered from.
    struct Hierarchy {
        std::vector<Node> nodes;
        std::vector<std::uint32_t> order;
        std::vector<std::uint32_t> always;
        float lo[3]{};
        float hi[3]{};
        int depth{0};
        void clear() noexcept;
        std::size_t memoryBytes() const noexcept;
    };
    const Hierarchy& triangleHierarchy() const noexcept { return triangleTree_; }

    // A triangle's vertices copied next to its neighbours in the hierarchy's
    // order, for the quick tests that spare most exact ones. `reach` is the
    // longest edge over twice the area (one over the smallest height),
    // rounded up; infinite for a sliver, negative for a triangle whose plane
    // normal is zero.
    struct TriangleRecord {
        float v[9];
        float reach;
    };

private:
    TouchHit intersectLinear(const zvu::zvuLineSegmentd& segment, FaceMode faces, double eps) const noexcept;
    TouchHit intersectHierarchy(const zvu::zvuLineSegmentd& segment, FaceMode faces, double eps) const noexcept;
    ClosestElements closestLinear(const zvu::zvuVector3Dd& query, double eps) const noexcept;
    ClosestElements closestHierarchy(const zvu::zvuVector3Dd& query, double eps) const noexcept;

    std::vector<zvu::zvuVector3Df> points_;
    std::vector<Line> lines_;
    std::vector<zvu::PrimitiveTriangle> triangles_;
    Hierarchy pointTree_;
    Hierarchy lineTree_;
    Hierarchy triangleTree_;
    // In triangleTree_.order's sequence.
    std::vector<TriangleRecord> triangleRecords_;
    // The largest coordinate magnitude of any element; scales the rounding
    // allowance of the box tests.
    double magnitude_{0.0};
    bool built_{false};
};

}  // namespace QM
