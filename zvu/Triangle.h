// Triangles of captured and primitive geometry.
//
// TriangleBase<Storage> is a triangle together with its supporting plane (it
// is a zvuPlane<double>). The three storage variants differ only in how the
// vertices v0, v1, v2 are held:
//   DepthTriangleStorage      three double vertices in the triangle;
//   PrimitiveTriangleStorage  three float vertices in the triangle;
//   FeedbackTriangleStorage   a pointer to a shared array of float vertices
//                             (three floats each) and three indices into it.
//                             The array belongs to the caller and must outlive
//                             the triangle.
// All computation is done in double on the vertices widened to double.
//
// The plane is not kept in step with the vertices automatically: after
// setting or changing vertices (or edgeOrderNormal), call updatePlane(). The
// constructors that take vertices do so.
//
// edgeOrderNormal says which side is the front: when non-zero, the side
// towards which (v1 - v0) x (v2 - v0) points; when zero, the opposite side.
//
// Every operation is noexcept and allocation free and may run on the servo or
// collision thread; temporary edge segments live on the stack.
#pragma once

#include "zvu/Plane.h"
#include "zvu/Vector3D.h"

namespace zvu {

struct DepthTriangleStorage {
    zvuVector3Dd vertices[3]{};

    constexpr DepthTriangleStorage() noexcept = default;
    constexpr DepthTriangleStorage(const zvuVector3Dd& a, const zvuVector3Dd& b, const zvuVector3Dd& c) noexcept
        : vertices{a, b, c} {}
    constexpr zvuVector3Dd vertex(int k) const noexcept { return vertices[k]; }
    constexpr void setVertices(const zvuVector3Dd& a, const zvuVector3Dd& b, const zvuVector3Dd& c) noexcept {
        vertices[0] = a;
        vertices[1] = b;
        vertices[2] = c;
    }
};

struct PrimitiveTriangleStorage {
    zvuVector3Df vertices[3]{};

    constexpr PrimitiveTriangleStorage() noexcept = default;
    constexpr PrimitiveTriangleStorage(const zvuVector3Df& a, const zvuVector3Df& b, const zvuVector3Df& c) noexcept
        : vertices{a, b, c} {}
    constexpr zvuVector3Dd vertex(int k) const noexcept { return toDouble(vertices[k]); }
    constexpr void setVertices(const zvuVector3Df& a, const zvuVector3Df& b, const zvuVector3Df& c) noexcept {
        vertices[0] = a;
        vertices[1] = b;
        vertices[2] = c;
    }
};

struct FeedbackTriangleStorage {
    // Shared vertex array (x, y, z floats per vertex); not owned.
    const float* vertexArray{nullptr};
    int i0{0};
    int i1{0};
    int i2{0};

    constexpr FeedbackTriangleStorage() noexcept = default;
    constexpr FeedbackTriangleStorage(const float* array, int a, int b, int c) noexcept
        : vertexArray(array), i0(a), i1(b), i2(c) {}
    // Requires a vertex array holding the indexed vertices.
    constexpr zvuVector3Dd vertex(int k) const noexcept {
        const float* v = vertexArray + 3 * static_cast<long>(k == 0 ? i0 : k == 1 ? i1 : i2);
        return {static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2])};
    }
};

template <typename Storage>
class TriangleBase : public zvuPlane<double>, public Storage {
public:
    using Vector = zvuVector3Dd;

    int edgeOrderNormal{1};

    // No vertices yet (zero vertices or no vertex array), a zero plane, and
    // edgeOrderNormal = 1.
    TriangleBase() noexcept = default;
    // Takes the vertices and the orientation flag and computes the plane.
    TriangleBase(const Storage& storage, int edgeOrderNormal_) noexcept;
    TriangleBase(const TriangleBase&) noexcept = default;
    TriangleBase& operator=(const TriangleBase&) noexcept = default;
    ~TriangleBase() override = default;

    Vector v0() const noexcept { return this->vertex(0); }
    Vector v1() const noexcept { return this->vertex(1); }
    Vector v2() const noexcept { return this->vertex(2); }

    // The plane's segment tests, restricted to the triangle: when the plane is
    // crossed, the crossing point segment.pointAt(t) must also satisfy
    // contains(point, eps), or 0 is returned. The line tests are the plane's
    // and ignore the triangle's edges.
    int intersectSegmentFront(const zvuLineSegment<double>& segment, double& t, double eps) const noexcept override;
    int intersectSegmentBack(const zvuLineSegment<double>& segment, double& t, double eps) const noexcept override;
    int intersectSegment(const zvuLineSegment<double>& segment, double& t, double eps) const noexcept override;

    // Recomputes the supporting plane from the vertices: the normal is
    // (v1 - v0) x (v2 - v0) when edgeOrderNormal is non-zero and
    // (v2 - v0) x (v1 - v0) when it is zero, normalised unless zero, and
    // d = -(normal.v0). Returns d. A degenerate triangle gets a zero normal;
    // it is then never crossed (every segment counts as parallel to it).
    virtual double updatePlane() noexcept;
    // The point of the triangle nearest to `point`: its projection on the
    // plane when contains() accepts that; otherwise the nearest point on the
    // edges v0-v1, v1-v2, v2-v0 (in that order; a later edge replaces an
    // earlier one only when strictly nearer).
    virtual Vector closestPoint(const Vector& point, double eps) const noexcept;
    // Whether `point`, taken as lying in the plane, is inside the triangle
    // within eps. The triangle is projected along the axis of the largest
    // normal component (the first of x, y, z on ties) onto the other two axes
    // in increasing order; eps bounds the barycentric parameters (and, for the
    // first edge's extent along the first remaining axis, the coordinates).
    // A degenerate triangle contains no point.
    virtual bool contains(const Vector& point, double eps) const noexcept;
    // Area weights (w0, w1, w2) of the point projected on the plane: wi is the
    // area of the triangle formed by the point and the two vertices other than
    // vi, divided by the sum of the three. They are unsigned and sum to 1
    // everywhere; where all three areas vanish (a degenerate triangle and a
    // point on its line) the weights are (1/3, 1/3, 1/3).
    virtual Vector barycentric(const Vector& point) const noexcept;
    // v0 + s (v1 - v0) + t (v2 - v0).
    virtual Vector pointAtParameters(double s, double t) const noexcept;
    // (s, t, 0) with pointAtParameters(s, t) equal to the point (taken as lying
    // in the plane), computed as in contains() without its range checks. The
    // parameters are infinite or NaN for a degenerate triangle.
    virtual Vector parametersOf(const Vector& point, double eps) const noexcept;

private:
    // The parametric coordinates shared by contains() and parametersOf();
    // returns whether beta passed the range check of the first step.
    bool solveParameters(const Vector& point, double eps, double& alpha, double& beta) const noexcept;
};

extern template class TriangleBase<DepthTriangleStorage>;
extern template class TriangleBase<PrimitiveTriangleStorage>;
extern template class TriangleBase<FeedbackTriangleStorage>;

using DepthTriangle = TriangleBase<DepthTriangleStorage>;
using PrimitiveTriangle = TriangleBase<PrimitiveTriangleStorage>;
using FeedbackTriangle = TriangleBase<FeedbackTriangleStorage>;

}  // namespace zvu
