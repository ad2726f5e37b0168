// Planes, and where lines and segments cross them.
//
// zvuPlane<T> is a unit normal and an offset d with normal.p + d = 0 on the
// plane. The side the normal points to is the front. Signed distances are
// positive in front.
//
// The crossing tests return one of three codes, which every caller uses as
// they are:
//   0  no crossing;
//   1  crossing from the front side to the back side;
//   2  crossing from the back side to the front side.
// The parameter t of the crossing is written only when the result is non-zero
// (the line tests also write t = 0 when they reject). Tolerances are absolute.
//
// As for lines, T (double or float) only decides how the normal and offset are
// stored; the arithmetic is done in double. Every operation is noexcept and
// allocation free and may run on the servo thread.
#pragma once

#include "zvu/Line.h"
#include "zvu/Vector3D.h"

namespace zvu {

template <zvuScalar T>
class zvuPlane {
public:
    using Vector = zvuVector3D<T>;

    zvuVector3D<T> normal{};
    T d{};

    // The zero plane: zero normal, d = 0 (distance() is 0 everywhere).
    constexpr zvuPlane() noexcept = default;
    // Normal (a, b, c) and offset d, both divided by |(a, b, c)| when that is
    // greater than 0; a zero normal keeps d as given.
    zvuPlane(double a, double b, double c, double d_) noexcept;
    // Plane through `point` with the given normal (normalised unless zero).
    zvuPlane(const Vector& normal_, const Vector& point) noexcept;
    // Plane through three points; the normal (p1 - p0) x (p2 - p0) is
    // normalised unless zero.
    zvuPlane(const Vector& p0, const Vector& p1, const Vector& p2) noexcept;
    zvuPlane(const zvuPlane&) noexcept = default;
    zvuPlane& operator=(const zvuPlane&) noexcept = default;

    virtual ~zvuPlane() = default;
    // Signed distance normal.point + d (positive in front).
    virtual double distance(const Vector& point) const noexcept;
    // distance(point) normal: the vector from the plane to the point.
    virtual Vector perpendicular(const Vector& point) const noexcept;
    // project(point) + offset normal.
    virtual Vector projectOffset(const Vector& point, double offset) const noexcept;
    // point - distance(point) normal.
    virtual Vector project(const Vector& point) const noexcept;

    // Segment tests, with a = distance(start) and b = distance(end):
    // Front: 1 when a >= -eps and b <= eps (the segment starts in front of or
    // on the plane and ends on or behind it); Back: 2 when a <= eps and
    // b >= -eps; Segment: 1 when a > -eps and b < eps, else 2 when a < eps and
    // b > -eps. Any of them returns 0 when the segment's unit direction is
    // parallel to the plane within eps (|normal.unitDirection| <= eps) or the
    // segment has length zero. t = -a / (length normal.unitDirection), so a
    // segment starting on the plane has t = 0; t is not clamped.
    virtual int intersectSegmentFront(const zvuLineSegment<T>& segment, double& t, double eps) const noexcept;
    virtual int intersectSegmentBack(const zvuLineSegment<T>& segment, double& t, double eps) const noexcept;
    virtual int intersectSegment(const zvuLineSegment<T>& segment, double& t, double eps) const noexcept;

    // Line tests, with c = normal.direction() (unnormalised direction):
    // Front: 1 when c < -eps; Back: 2 when c > eps; Line: 1 when c < -eps, 2
    // when c > eps. Otherwise t = 0 and 0 is returned. On a crossing
    // t = -distance(origin) / c, unbounded.
    virtual int intersectLineFront(const zvuLine<T>& line, double& t, double eps) const noexcept;
    virtual int intersectLineBack(const zvuLine<T>& line, double& t, double eps) const noexcept;
    virtual int intersectLine(const zvuLine<T>& line, double& t, double eps) const noexcept;
};

extern template class zvuPlane<double>;
extern template class zvuPlane<float>;

using zvuPlaned = zvuPlane<double>;
using zvuPlanef = zvuPlane<float>;

}  // namespace zvu
