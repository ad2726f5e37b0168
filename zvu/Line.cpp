#include "zvu/Line.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace zvu {

// ------------------------------------------------------------------ zvuLine

template <zvuScalar T>
auto zvuLine<T>::direction() const noexcept -> Vector {
    return fromDouble<T>(toDouble(end_) - toDouble(start_));
}

template <zvuScalar T>
auto zvuLine<T>::pointAt(double t) const noexcept -> Vector {
    return fromDouble<T>(toDouble(start_) + toDouble(direction()) * t);
}

template <zvuScalar T>
auto zvuLine<T>::closestPoint(const Vector& point) const noexcept -> Vector {
    const zvuVector3Dd u = toDouble(unitDirection());
    const zvuVector3Dd s = toDouble(start_);
    return fromDouble<T>(s + u * u.dot(toDouble(point) - s));
}

template <zvuScalar T>
double zvuLine<T>::distanceTo(const Vector& point) const noexcept {
    return (toDouble(point) - toDouble(closestPoint(point))).length();
}

template <zvuScalar T>
void zvuLine<T>::setStart(const Vector& point) noexcept {
    start_ = point;
}

template <zvuScalar T>
void zvuLine<T>::setEnd(const Vector& point) noexcept {
    end_ = point;
}

template <zvuScalar T>
auto zvuLine<T>::end() const noexcept -> Vector {
    return end_;
}

template <zvuScalar T>
auto zvuLine<T>::start() const noexcept -> Vector {
    return start_;
}

template <zvuScalar T>
auto zvuLine<T>::origin() const noexcept -> Vector {
    return start_;
}

template <zvuScalar T>
auto zvuLine<T>::unitDirection() const noexcept -> Vector {
    return fromDouble<T>(toDouble(direction()).normalized());
}

template <zvuScalar T>
bool zvuLine<T>::isParallel(const zvuLine& other, double eps) const noexcept {
    const zvuVector3Dd d1 = toDouble(direction());
    const zvuVector3Dd d2 = toDouble(other.direction());
    const double k = std::fabs(d1.dot(d2));
    const double lengths = d1.length() * d2.length();
    if (k * eps >= lengths) return true;
    return std::fabs(1.0 - k / lengths) <= eps;
}

namespace {

enum class LineSolution { Parallel, Singular, Solved };

// Minimises |P1(s) - P2(t)|^2 over both parameters: setting both partial
// derivatives to zero gives the 2x2 system
//     a s - b t = -f,   b s - c t = -e
// with a = d1.d1, b = d1.d2, c = d2.d2, e = d2.w, f = d1.w and w = P1(0) - P2(0),
// solved by Cramer's rule. Its determinant a c - b^2 vanishes for parallel
// directions, which are therefore answered separately: s = 0 and t the
// clamped parameter, on the other line's two points taken as a segment, of
// the point nearest to this line's start.
template <zvuScalar T>
LineSolution solveClosestPoints(const zvuLine<T>& l1, const zvuLine<T>& l2, double& s, double& t, double eps) noexcept {
    if (l1.isParallel(l2, eps)) {
        const zvuLineSegment<T> otherSegment(l2.start(), l2.end());
        s = 0.0;
        t = otherSegment.closestParameter(l1.start());
        return LineSolution::Parallel;
    }
    const zvuVector3Dd d1 = toDouble(l1.direction());
    const zvuVector3Dd d2 = toDouble(l2.direction());
    const zvuVector3Dd w = toDouble(l1.start()) - toDouble(l2.start());
    const double a = d1.dot(d1);
    const double b = d1.dot(d2);
    const double c = d2.dot(d2);
    const double e = d2.dot(w);
    const double f = d1.dot(w);
    const double den = a * c - b * b;
    if (den == 0.0) return LineSolution::Singular;
    s = (e * b - f * c) / den;
    t = (e * a - f * b) / den;
    return LineSolution::Solved;
}

template <zvuScalar T>
double pointDistance(const zvuLine<T>& l1, double s, const zvuLine<T>& l2, double t) noexcept {
    return (toDouble(l1.pointAt(s)) - toDouble(l2.pointAt(t))).length();
}

}  // namespace

template <zvuScalar T>
double zvuLine<T>::closestPoints(const zvuLine& other, double& s, double& t, double eps) const noexcept {
    if (solveClosestPoints(*this, other, s, t, eps) == LineSolution::Singular) return DBL_MAX;
    return pointDistance(*this, s, other, t);
}

// ------------------------------------------------------------------ zvuLineSegment

template <zvuScalar T>
zvuLineSegment<T>::zvuLineSegment(const Vector& start, const Vector& end) noexcept : zvuLine<T>(start, end) {
    updateCache();
}

template <zvuScalar T>
void zvuLineSegment<T>::updateCache() noexcept {
    const zvuVector3Dd d = toDouble(this->end_) - toDouble(this->start_);
    length_ = d.length();
    if (length_ > 0.0) unitDirection_ = fromDouble<T>(d / length_);
}

template <zvuScalar T>
auto zvuLineSegment<T>::direction() const noexcept -> Vector {
    return fromDouble<T>(toDouble(unitDirection_) * length_);
}

template <zvuScalar T>
auto zvuLineSegment<T>::pointAt(double t) const noexcept -> Vector {
    return fromDouble<T>(toDouble(this->start_) + toDouble(unitDirection_) * (t * length_));
}

template <zvuScalar T>
void zvuLineSegment<T>::setStart(const Vector& point) noexcept {
    this->start_ = point;
    updateCache();
}

template <zvuScalar T>
void zvuLineSegment<T>::setEnd(const Vector& point) noexcept {
    this->end_ = point;
    updateCache();
}

template <zvuScalar T>
auto zvuLineSegment<T>::unitDirection() const noexcept -> Vector {
    return unitDirection_;
}

template <zvuScalar T>
double zvuLineSegment<T>::parameterOf(const Vector& point) const noexcept {
    return closestParameter(point);
}

template <zvuScalar T>
auto zvuLineSegment<T>::pointAtClamped(double t) const noexcept -> Vector {
    return pointAt(std::clamp(t, 0.0, 1.0));
}

template <zvuScalar T>
double zvuLineSegment<T>::getLength() const noexcept {
    return length_;
}

template <zvuScalar T>
double zvuLineSegment<T>::closestParameter(const Vector& point) const noexcept {
    if (length_ == 0.0) return 0.0;
    const double along = toDouble(unitDirection_).dot(toDouble(point) - toDouble(this->start_));
    return std::clamp(along / length_, 0.0, 1.0);
}

template <zvuScalar T>
double zvuLineSegment<T>::distanceToSegment(const Vector& point) const noexcept {
    return std::sqrt(squaredDistanceToSegment(point));
}

template <zvuScalar T>
double zvuLineSegment<T>::squaredDistanceToSegment(const Vector& point) const noexcept {
    return (toDouble(point) - toDouble(pointAt(closestParameter(point)))).lengthSquared();
}

// The squared distance between the two segments is a convex function of
// (s, t) over the unit square. When its unconstrained minimum (the closest
// points of the infinite lines) lies inside the square, that is the answer.
// Otherwise the constrained minimum lies on the square's border, and the
// minimum along each border edge is the clamped projection of the
// corresponding end point; the four candidates below are those edges.
//
// Parallel segments (and a degenerate one, whose direction is parallel to
// everything) always go to the candidates: the line answer for them pins s to
// 0, which is one arbitrary pair of the infinitely many closest pairs of the
// lines and in general not a closest pair of the segments (collinear
// overlapping segments would otherwise be reported apart). The minimum of two
// parallel segments is always attained at an end point of one of them, so the
// candidates are exact. A singular system (possible with eps = 0 for exactly
// parallel segments) is handled the same way.
template <zvuScalar T>
double zvuLineSegment<T>::closestSegmentPoints(const zvuLineSegment& other, double& s, double& t,
                                               double eps) const noexcept {
    double lineS = 0.0;
    double lineT = 0.0;
    if (solveClosestPoints<T>(*this, other, lineS, lineT, eps) == LineSolution::Solved && lineS >= 0.0 &&
        lineS <= 1.0 && lineT >= 0.0 && lineT <= 1.0) {
        s = lineS;
        t = lineT;
        return pointDistance<T>(*this, s, other, t);
    }

    const Vector thisStart = this->start_;
    const Vector thisEnd = this->end_;
    const Vector otherStart = other.start();
    const Vector otherEnd = other.end();
    struct Candidate {
        double s;
        double t;
    };
    const double s3 = closestParameter(otherStart);
    const double s4 = closestParameter(otherEnd);
    const Candidate candidates[4] = {
        {0.0, other.closestParameter(thisStart)},
        {1.0, other.closestParameter(thisEnd)},
        {s3, 0.0},
        {s4, 1.0},
    };
    const zvuVector3Dd thisPoints[4] = {toDouble(thisStart), toDouble(thisEnd), toDouble(pointAtClamped(s3)),
                                        toDouble(pointAtClamped(s4))};
    const zvuVector3Dd otherPoints[4] = {toDouble(other.pointAtClamped(candidates[0].t)),
                                         toDouble(other.pointAtClamped(candidates[1].t)), toDouble(otherStart),
                                         toDouble(otherEnd)};

    int best = 0;
    double bestDistance = (thisPoints[0] - otherPoints[0]).length();
    for (int i = 1; i < 4; ++i) {
        const double distance = (thisPoints[i] - otherPoints[i]).length();
        if (distance <= bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    s = candidates[best].s;
    t = candidates[best].t;
    return bestDistance;
}

template class zvuLine<double>;
template class zvuLine<float>;
template class zvuLineSegment<double>;
template class zvuLineSegment<float>;

}  // namespace zvu
