#include "zvu/Quaternion.h"

#include <algorithm>
#include <cmath>

namespace zvu {

zvuQuaternion zvuQuaternion::fromAxisAngle(const zvuVector3Dd& axis, double angle) noexcept {
    const zvuVector3Dd a = axis.normalized();
    if (a.lengthSquared() == 0.0) return {};
    const double h = 0.5 * angle;
    const double s = std::sin(h);
    return {std::cos(h), a.x * s, a.y * s, a.z * s};
}

zvuQuaternion& zvuQuaternion::normalize() noexcept {
    const double n2 = normSquared();
    if (n2 != 0.0) {
        const double n = std::sqrt(n2);
        w /= n;
        x /= n;
        y /= n;
        z /= n;
    }
    return *this;
}

zvuQuaternion zvuQuaternion::normalized() const noexcept {
    zvuQuaternion q = *this;
    return q.normalize();
}

zvuQuaternion zvuQuaternion::inverse() const noexcept {
    const double n2 = normSquared();
    if (n2 == 0.0) return {0.0, 0.0, 0.0, 0.0};
    return conjugate() * (1.0 / n2);
}

// Shepperd's method picks, among the four equivalent formulas, the one whose
// square root has the largest argument, so that no component is obtained by
// dividing by a small number.
zvuQuaternion zvuQuaternion::fromRotationMatrix(const zvuMatrix& m) noexcept {
    const double trace = m.at(0, 0) + m.at(1, 1) + m.at(2, 2);
    if (trace > 0.0) {
        const double s = std::sqrt(trace + 1.0);
        const double t = 0.5 / s;
        return {0.5 * s, (m.at(2, 1) - m.at(1, 2)) * t, (m.at(0, 2) - m.at(2, 0)) * t, (m.at(1, 0) - m.at(0, 1)) * t};
    }
    int i = 0;
    if (m.at(1, 1) > m.at(0, 0)) i = 1;
    if (m.at(2, 2) > m.at(i, i)) i = 2;
    const int j = (i + 1) % 3;
    const int k = (j + 1) % 3;
    const double s = std::sqrt(m.at(i, i) - m.at(j, j) - m.at(k, k) + 1.0);
    const double t = 0.5 / s;
    double v[3];
    v[i] = 0.5 * s;
    v[j] = (m.at(j, i) + m.at(i, j)) * t;
    v[k] = (m.at(k, i) + m.at(i, k)) * t;
    return {(m.at(k, j) - m.at(j, k)) * t, v[0], v[1], v[2]};
}

zvuQuaternion zvuQuaternion::fromMatrix(const zvuMatrix& m) noexcept {
    zvuMatrix q, s;
    const double det = m.polarDecompose(q, s);
    if (det < 0.0) {
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) q.at(r, c) = -q.at(r, c);
    }
    return fromRotationMatrix(q);
}

void zvuQuaternion::toAxisAngle(zvuVector3Dd& axis, double& angle) const noexcept {
    const zvuVector3Dd v{x, y, z};
    if (!(v.lengthSquared() > 0.0)) {
        axis = {1.0, 0.0, 0.0};
        angle = 0.0;
        return;
    }
    angle = 2.0 * std::acos(std::clamp(w, -1.0, 1.0));
    axis = v.normalized();
}

zvuMatrix zvuQuaternion::toMatrix() const noexcept {
    zvuVector3Dd axis;
    double angle = 0.0;
    toAxisAngle(axis, angle);
    return zvuMatrix::rotation(axis, angle);
}

zvuVector3Dd zvuQuaternion::rotate(const zvuVector3Dd& v) const noexcept {
    const zvuQuaternion r = *this * zvuQuaternion(0.0, v.x, v.y, v.z) * conjugate();
    return {r.x, r.y, r.z};
}

zvuQuaternion lerp(const zvuQuaternion& q1, const zvuQuaternion& q2, double a) noexcept {
    return q1 * (1.0 - a) + q2 * a;
}

zvuQuaternion slerp(const zvuQuaternion& q1, const zvuQuaternion& q2, double a) noexcept {
    constexpr double kLinearThreshold = static_cast<double>(0.95f);
    double c = q1.dot(q2);
    zvuQuaternion to = q2;
    if (c < 0.0) {
        c = -c;
        to = -to;
    }
    if (c < kLinearThreshold) {
        const double theta = std::acos(c);
        const double s = std::sin(theta);
        return (q1 * std::sin((1.0 - a) * theta) + to * std::sin(a * theta)) * (1.0 / s);
    }
    return lerp(q1, to, a);
}

}  // namespace zvu
