#include "zvu/BoundBox.h"

#include <algorithm>
#include <cmath>

namespace zvu {

BoundBox3::BoundBox3(const zvuVector3Dd& a, const zvuVector3Dd& b, bool sort) noexcept {
    if (sort) {
        min_ = {std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)};
        max_ = {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)};
    } else {
        min_ = a;
        max_ = b;
    }
    updateEmpty();
}

BoundBox3::BoundBox3(const BoundBox3& other) noexcept : empty_(other.empty_) {
    if (!empty_) {
        min_ = other.min_;
        max_ = other.max_;
    }
}

BoundBox3& BoundBox3::operator=(const BoundBox3& other) noexcept {
    empty_ = other.empty_;
    if (empty_) {
        min_ = {};
        max_ = {};
    } else {
        min_ = other.min_;
        max_ = other.max_;
    }
    return *this;
}

void BoundBox3::updateEmpty() noexcept { empty_ = !(min_.x <= max_.x && min_.y <= max_.y && min_.z <= max_.z); }

BoundBox3& BoundBox3::intersect(const BoundBox3& other) noexcept {
    if (empty_ || other.empty_) {
        empty_ = true;
        return *this;
    }
    min_ = {std::max(min_.x, other.min_.x), std::max(min_.y, other.min_.y), std::max(min_.z, other.min_.z)};
    max_ = {std::min(max_.x, other.max_.x), std::min(max_.y, other.max_.y), std::min(max_.z, other.max_.z)};
    updateEmpty();
    return *this;
}

bool BoundBox3::contains(const zvuVector3Dd& point) const noexcept {
    if (empty_) return false;
    return min_.x <= point.x && point.x <= max_.x && min_.y <= point.y && point.y <= max_.y && min_.z <= point.z &&
           point.z <= max_.z;
}

// The flag is recomputed for every amount, not only for negative ones: for a
// finite non-negative amount the box cannot become empty anyway, and a NaN
// amount then yields an empty box instead of one with NaN corners that still
// claims to be a box.
void BoundBox3::grow(double amount) {
    if (empty_) throw BoundBoxError("growing empty BoundBox");
    const zvuVector3Dd delta{amount, amount, amount};
    min_ -= delta;
    max_ += delta;
    updateEmpty();
}

zvuVector3Dd BoundBox3::center() const {
    if (empty_) throw BoundBoxError("center of empty BoundBox3");
    return (min_ + max_) * 0.5;
}

zvuVector3Dd BoundBox3::range() const {
    if (empty_) throw BoundBoxError("range of empty BoundBox3");
    return max_ - min_;
}

// Crossings with the faces of the box itself are accepted when they lie in
// the box grown by eps, so that a line through an edge or corner still finds
// both faces despite rounding.
//
// All face crossings are collected and the interval spans the smallest and
// largest. Stopping at the second crossing found would fail when the line passes through an edge or corner of the box:
// the two faces meeting there are crossed at the same parameter and would be taken for the entry and the exit,
// collapsing the interval to that one point while the line goes on through the inside. Every counted crossing lies on
// the part of the line inside the grown box, so for lines that cross two faces cleanly the result is the same.
template <zvuScalar T>
bool BoundBox3::clipLine(const zvuLine<T>& line, double& t0, double& t1, double eps) const noexcept {
    if (empty_) return false;
    const zvuVector3Dd grownMin = min_ - zvuVector3Dd{eps, eps, eps};
    const zvuVector3Dd grownMax = max_ + zvuVector3Dd{eps, eps, eps};
    const bool grownEmpty = !(grownMin.x <= grownMax.x && grownMin.y <= grownMax.y && grownMin.z <= grownMax.z);
    if (grownEmpty) return false;

    const zvuVector3Dd d = toDouble(line.direction());
    const zvuVector3Dd start = toDouble(line.start());
    int hits = 0;
    double lowest = 0.0;
    double highest = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        if (!(std::fabs(d[axis]) > eps)) continue;
        const double faces[2] = {min_[axis], max_[axis]};
        for (const double face : faces) {
            const double t = (face - start[axis]) / d[axis];
            const zvuVector3Dd p = toDouble(line.pointAt(t));
            const bool inside = grownMin.x <= p.x && p.x <= grownMax.x && grownMin.y <= p.y && p.y <= grownMax.y &&
                                grownMin.z <= p.z && p.z <= grownMax.z;
            if (!inside) continue;
            if (hits == 0) {
                lowest = highest = t;
            } else {
                lowest = std::min(lowest, t);
                highest = std::max(highest, t);
            }
            ++hits;
        }
    }
    if (hits < 2) return false;
    t0 = lowest;
    t1 = highest;
    return true;
}

template bool BoundBox3::clipLine<double>(const zvuLine<double>&, double&, double&, double) const noexcept;
template bool BoundBox3::clipLine<float>(const zvuLine<float>&, double&, double&, double) const noexcept;

}  // namespace zvu
