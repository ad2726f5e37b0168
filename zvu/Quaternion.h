// Quaternions for orientations.
//
// zvuQuaternion holds w (the scalar part) and the vector part x, y, z, as
// doubles; rotations are unit quaternions, and a unit quaternion q rotates a
// point p as q p q*. The conversions to and from matrices agree with
// zvuMatrix::rotation, so fromRotationMatrix(q.toMatrix()) gives back q or -q.
//
// All operations are noexcept and allocation free (the pose of the device is
// converted on the servo thread every tick) and may be called from any thread.
#pragma once

#include "zvu/Matrix.h"
#include "zvu/Vector3D.h"

namespace zvu {

class zvuQuaternion {
public:
    double w{1.0};
    double x{0.0};
    double y{0.0};
    double z{0.0};

    // The identity rotation (1, 0, 0, 0).
    constexpr zvuQuaternion() noexcept = default;
    constexpr zvuQuaternion(double w_, double x_, double y_, double z_) noexcept : w(w_), x(x_), y(y_), z(z_) {}
    // The rotation by `angle` radians about `axis` (normalised here; a zero
    // axis gives the identity).
    static zvuQuaternion fromAxisAngle(const zvuVector3Dd& axis, double angle) noexcept;

    constexpr zvuQuaternion operator*(double s) const noexcept { return {w * s, x * s, y * s, z * s}; }
    constexpr zvuQuaternion operator+(const zvuQuaternion& q) const noexcept {
        return {w + q.w, x + q.x, y + q.y, z + q.z};
    }
    constexpr zvuQuaternion operator-() const noexcept { return {-w, -x, -y, -z}; }
    // Hamilton product: w = w1 w2 - v1.v2, v = w1 v2 + w2 v1 + v1 x v2; the
    // rotation `q` applies first, then this one.
    constexpr zvuQuaternion operator*(const zvuQuaternion& q) const noexcept {
        return {w * q.w - (x * q.x + y * q.y + z * q.z), w * q.x + q.w * x + (y * q.z - z * q.y),
                w * q.y + q.w * y + (z * q.x - x * q.z), w * q.z + q.w * z + (x * q.y - y * q.x)};
    }
    constexpr bool operator==(const zvuQuaternion&) const noexcept = default;

    constexpr zvuQuaternion conjugate() const noexcept { return {w, -x, -y, -z}; }
    constexpr double normSquared() const noexcept { return w * w + x * x + y * y + z * z; }
    // Four-component dot product.
    constexpr double dot(const zvuQuaternion& q) const noexcept { return w * q.w + x * q.x + y * q.y + z * q.z; }
    // Divides by the norm unless the squared norm is exactly zero.
    zvuQuaternion& normalize() noexcept;
    zvuQuaternion normalized() const noexcept;
    // Conjugate divided by the squared norm; the zero quaternion when the
    // squared norm is zero.
    zvuQuaternion inverse() const noexcept;

    // Rotation of the upper 3x3 part of `m`, which must be a rotation matrix,
    // by Shepperd's method: from the trace when it is positive, otherwise from
    // the largest diagonal element (the first of equal ones).
    static zvuQuaternion fromRotationMatrix(const zvuMatrix& m) noexcept;
    // Rotation of a general matrix (scale, shear and translation allowed): the
    // orthogonal factor of its polar decomposition, converted as above. A
    // mirroring matrix (negative determinant) has a reflection as its
    // orthogonal factor; its negation, which is a rotation, is used instead, so
    // that the result is always a unit quaternion.
    static zvuQuaternion fromMatrix(const zvuMatrix& m) noexcept;

    // angle = 2 acos(w clamped to [-1, 1]), axis = (x, y, z) normalised; axis
    // (1, 0, 0) and angle 0 when the vector part has no positive length.
    void toAxisAngle(zvuVector3Dd& axis, double& angle) const noexcept;
    // The rotation matrix of toAxisAngle(), by zvuMatrix::rotation.
    zvuMatrix toMatrix() const noexcept;
    // Rotates a vector by a unit quaternion.
    zvuVector3Dd rotate(const zvuVector3Dd& v) const noexcept;
};

// (1 - a) q1 + a q2, not renormalised.
zvuQuaternion lerp(const zvuQuaternion& q1, const zvuQuaternion& q2, double a) noexcept;
// Spherical interpolation along the shorter arc (q2 is negated when the dot
// product is negative). When the cosine of the angle is at least 0.95 (the
// single-precision value 0.949999988079071) it falls back to lerp, which is
// then not renormalised.
zvuQuaternion slerp(const zvuQuaternion& q1, const zvuQuaternion& q2, double a) noexcept;

}  // namespace zvu
