// Infinite lines and line segments.
//
// zvuLine<T> is given by two points, start and end; a parameter t names the
// point start + t (end - start), so t = 0 is start and t = 1 is end. The
// direction end - start is not normalised.
//
// zvuLineSegment<T> is the same pair of points restricted to t in [0, 1]. It
// caches its length and unit direction; both are recomputed whenever an end
// point is set. A segment whose end points coincide keeps the unit direction
// it had before (zero for a segment built degenerate), so a segment collapsed
// to a point while the proxy rests still remembers which way it last pointed.
//
// Points are stored as zvuVector3D<T> (T = double or float); all arithmetic is
// done in double, and distances, parameters and tolerances are doubles in both
// variants. Tolerances (eps) are absolute: a and b are equal within eps when
// |a - b| <= eps.
//
// Every operation is noexcept and allocation free and may run on the servo
// thread. Objects are plain values: concurrent reads are safe, a write needs
// the caller's exclusion.
#pragma once

#include "zvu/Vector3D.h"

namespace zvu {

template <zvuScalar T>
class zvuLine {
public:
    using Vector = zvuVector3D<T>;

    constexpr zvuLine() noexcept = default;
    constexpr zvuLine(const Vector& start, const Vector& end) noexcept : start_(start), end_(end) {}
    zvuLine(const zvuLine&) noexcept = default;
    zvuLine& operator=(const zvuLine&) noexcept = default;

    virtual ~zvuLine() = default;
    // end - start.
    virtual Vector direction() const noexcept;
    // start + t direction().
    virtual Vector pointAt(double t) const noexcept;
    // Orthogonal projection of `point` on the infinite line:
    // start + (u.(point - start)) u with u = unitDirection(); start itself when
    // the direction is zero.
    virtual Vector closestPoint(const Vector& point) const noexcept;
    // Distance from `point` to the infinite line.
    virtual double distanceTo(const Vector& point) const noexcept;
    virtual void setStart(const Vector& point) noexcept;
    virtual void setEnd(const Vector& point) noexcept;
    virtual Vector end() const noexcept;
    virtual Vector start() const noexcept;
    // The start point (the line's origin for the plane intersections).
    virtual Vector origin() const noexcept;
    // direction() normalised (zero stays zero).
    virtual Vector unitDirection() const noexcept;
    // Whether the two directions d1, d2 are parallel within eps: always when
    // |d1.d2| eps >= |d1| |d2| (a zero direction, or eps >= 1), otherwise when
    // 1 - |d1.d2| / (|d1| |d2|) <= eps (eps bounds one minus the cosine).
    virtual bool isParallel(const zvuLine& other, double eps) const noexcept;
    // Distance between the closest points of the two infinite lines; s and t
    // receive the parameters of those points on this line and on `other`.
    // Parallel lines (within eps): s = 0, and t is the parameter of the point
    // of the segment other.start()..other.end() nearest to this line's start,
    // clamped to [0, 1]. When the system for s and t is singular although the
    // lines did not count as parallel (possible with eps = 0), the result is
    // the largest finite double and s and t are left unchanged.
    virtual double closestPoints(const zvuLine& other, double& s, double& t, double eps) const noexcept;

protected:
    Vector start_{};
    Vector end_{};
};

template <zvuScalar T>
class zvuLineSegment : public zvuLine<T> {
public:
    using Vector = zvuVector3D<T>;

    // A degenerate segment at the origin (length 0, unit direction zero).
    constexpr zvuLineSegment() noexcept = default;
    zvuLineSegment(const Vector& start, const Vector& end) noexcept;
    zvuLineSegment(const zvuLineSegment&) noexcept = default;
    zvuLineSegment& operator=(const zvuLineSegment&) noexcept = default;

    ~zvuLineSegment() override = default;
    // length unitDirection (end - start, up to rounding).
    Vector direction() const noexcept override;
    // start + (t length) unitDirection.
    Vector pointAt(double t) const noexcept override;
    void setStart(const Vector& point) noexcept override;
    void setEnd(const Vector& point) noexcept override;
    // The cached unit direction.
    Vector unitDirection() const noexcept override;

    // Same as closestParameter().
    virtual double parameterOf(const Vector& point) const noexcept;
    // pointAt(t clamped to [0, 1]).
    virtual Vector pointAtClamped(double t) const noexcept;
    virtual double getLength() const noexcept;
    // Parameter in [0, 1] of the segment point nearest to `point`; 0 for a
    // segment of length exactly zero.
    virtual double closestParameter(const Vector& point) const noexcept;
    // Distance from `point` to the nearest point of the segment.
    virtual double distanceToSegment(const Vector& point) const noexcept;
    virtual double squaredDistanceToSegment(const Vector& point) const noexcept;
    // Distance between the closest points of two segments, with their
    // parameters s (on this segment) and t (on `other`), both in [0, 1]. When
    // the segments are not parallel within eps and the closest points of the
    // infinite lines lie on both segments, those are the answer. Otherwise
    // (including parallel and zero-length segments) it is the best of four
    // end-point candidates, in the order: this start, this end, other start,
    // other end, each against the other segment's clamped nearest point. A
    // candidate replaces the best one when it is no farther, so among equally
    // close candidates the later one wins.
    virtual double closestSegmentPoints(const zvuLineSegment& other, double& s, double& t, double eps) const noexcept;

private:
    void updateCache() noexcept;

    double length_{0.0};
    Vector unitDirection_{};
};

extern template class zvuLine<double>;
extern template class zvuLine<float>;
extern template class zvuLineSegment<double>;
extern template class zvuLineSegment<float>;

using zvuLined = zvuLine<double>;
using zvuLinef = zvuLine<float>;
using zvuLineSegmentd = zvuLineSegment<double>;
using zvuLineSegmentf = zvuLineSegment<float>;

}  // namespace zvu
