#include "zvu/Plane.h"

#include <cmath>

namespace zvu {

template <zvuScalar T>
zvuPlane<T>::zvuPlane(double a, double b, double c, double d_) noexcept {
    zvuVector3Dd n{a, b, c};
    const double len = n.length();
    if (len > 0.0) {
        n = n / len;
        d_ /= len;
    }
    normal = fromDouble<T>(n);
    d = static_cast<T>(d_);
}

template <zvuScalar T>
zvuPlane<T>::zvuPlane(const Vector& normal_, const Vector& point) noexcept {
    const zvuVector3Dd n = toDouble(normal_).normalized();
    normal = fromDouble<T>(n);
    d = static_cast<T>(-n.dot(toDouble(point)));
}

template <zvuScalar T>
zvuPlane<T>::zvuPlane(const Vector& p0, const Vector& p1, const Vector& p2) noexcept {
    const zvuVector3Dd a = toDouble(p0);
    const zvuVector3Dd n = (toDouble(p1) - a).cross(toDouble(p2) - a).normalized();
    normal = fromDouble<T>(n);
    d = static_cast<T>(-n.dot(a));
}

template <zvuScalar T>
double zvuPlane<T>::distance(const Vector& point) const noexcept {
    return toDouble(normal).dot(toDouble(point)) + static_cast<double>(d);
}

template <zvuScalar T>
auto zvuPlane<T>::perpendicular(const Vector& point) const noexcept -> Vector {
    return fromDouble<T>(toDouble(normal) * distance(point));
}

template <zvuScalar T>
auto zvuPlane<T>::projectOffset(const Vector& point, double offset) const noexcept -> Vector {
    return fromDouble<T>(toDouble(project(point)) + toDouble(normal) * offset);
}

template <zvuScalar T>
auto zvuPlane<T>::project(const Vector& point) const noexcept -> Vector {
    return fromDouble<T>(toDouble(point) - toDouble(normal) * distance(point));
}

namespace {

// The parameter at which a classified segment meets the plane, or false when
// it runs parallel to the plane within eps. A segment of length zero is
// rejected as well: its cached unit direction may be left over from an
// earlier, longer segment, and dividing by its zero length would report a
// crossing at an infinite or NaN parameter.
template <zvuScalar T>
bool crossingParameter(const zvuPlane<T>& plane, const zvuLineSegment<T>& segment, double a, double eps,
                       double& t) noexcept {
    const double c = toDouble(plane.normal).dot(toDouble(segment.unitDirection()));
    if (std::fabs(c) <= eps) return false;
    const double length = segment.getLength();
    if (length == 0.0) return false;
    t = -a / (length * c);
    return true;
}

}  // namespace

template <zvuScalar T>
int zvuPlane<T>::intersectSegmentFront(const zvuLineSegment<T>& segment, double& t, double eps) const noexcept {
    const double a = distance(segment.start());
    if (a < -eps) return 0;
    const double b = distance(segment.end());
    if (b > eps) return 0;
    return crossingParameter(*this, segment, a, eps, t) ? 1 : 0;
}

template <zvuScalar T>
int zvuPlane<T>::intersectSegmentBack(const zvuLineSegment<T>& segment, double& t, double eps) const noexcept {
    const double a = distance(segment.start());
    if (a > eps) return 0;
    const double b = distance(segment.end());
    if (b < -eps) return 0;
    return crossingParameter(*this, segment, a, eps, t) ? 2 : 0;
}

// A segment lying within eps of the plane satisfies both classifications; it
// is classified as code 1 and then rejected by the parallel test when its
// direction is within eps of the plane.
template <zvuScalar T>
int zvuPlane<T>::intersectSegment(const zvuLineSegment<T>& segment, double& t, double eps) const noexcept {
    const double a = distance(segment.start());
    const double b = distance(segment.end());
    int code = 0;
    if (a > -eps && b < eps)
        code = 1;
    else if (a < eps && b > -eps)
        code = 2;
    else
        return 0;
    return crossingParameter(*this, segment, a, eps, t) ? code : 0;
}

template <zvuScalar T>
int zvuPlane<T>::intersectLineFront(const zvuLine<T>& line, double& t, double eps) const noexcept {
    const double c = toDouble(normal).dot(toDouble(line.direction()));
    if (std::fabs(c) <= eps || c > 0.0) {
        t = 0.0;
        return 0;
    }
    t = -distance(line.origin()) / c;
    return 1;
}

template <zvuScalar T>
int zvuPlane<T>::intersectLineBack(const zvuLine<T>& line, double& t, double eps) const noexcept {
    const double c = toDouble(normal).dot(toDouble(line.direction()));
    if (std::fabs(c) <= eps || c < 0.0) {
        t = 0.0;
        return 0;
    }
    t = -distance(line.origin()) / c;
    return 2;
}

template <zvuScalar T>
int zvuPlane<T>::intersectLine(const zvuLine<T>& line, double& t, double eps) const noexcept {
    const double c = toDouble(normal).dot(toDouble(line.direction()));
    if (std::fabs(c) <= eps) {
        t = 0.0;
        return 0;
    }
    t = -distance(line.origin()) / c;
    return c < 0.0 ? 1 : 2;
}

template class zvuPlane<double>;
template class zvuPlane<float>;

}  // namespace zvu
