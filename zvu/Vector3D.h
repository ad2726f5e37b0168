// Three-component vectors of the geometry kernel.
//
// zvuVector3D<T> is a plain value type (T = double or float) with the handful
// of operations every shape and local feature needs. Everything is inline,
// noexcept and allocation free, so it may be used on any thread, the servo
// thread included.
//
// The plane, line, segment and triangle classes do their arithmetic in double
// whatever T is (see toDouble / fromDouble below); the float variant therefore
// differs from the double one only by the rounding of what it stores.
#pragma once

#include <cmath>
#include <concepts>

namespace zvu {

template <typename T>
concept zvuScalar = std::same_as<T, double> || std::same_as<T, float>;

template <zvuScalar T>
struct zvuVector3D {
    T x{};
    T y{};
    T z{};

    constexpr zvuVector3D() noexcept = default;
    constexpr zvuVector3D(T x_, T y_, T z_) noexcept : x(x_), y(y_), z(z_) {}

    // Component by axis index (0 = x, 1 = y, 2 = z; any other index reads z).
    constexpr T operator[](int axis) const noexcept { return axis == 0 ? x : axis == 1 ? y : z; }
    constexpr T& operator[](int axis) noexcept { return axis == 0 ? x : axis == 1 ? y : z; }

    constexpr zvuVector3D operator+(const zvuVector3D& o) const noexcept { return {x + o.x, y + o.y, z + o.z}; }
    constexpr zvuVector3D operator-(const zvuVector3D& o) const noexcept { return {x - o.x, y - o.y, z - o.z}; }
    constexpr zvuVector3D operator-() const noexcept { return {-x, -y, -z}; }
    constexpr zvuVector3D operator*(T s) const noexcept { return {x * s, y * s, z * s}; }
    constexpr zvuVector3D operator/(T s) const noexcept { return {x / s, y / s, z / s}; }
    constexpr zvuVector3D& operator+=(const zvuVector3D& o) noexcept { return *this = *this + o; }
    constexpr zvuVector3D& operator-=(const zvuVector3D& o) noexcept { return *this = *this - o; }
    constexpr zvuVector3D& operator*=(T s) noexcept { return *this = *this * s; }
    constexpr bool operator==(const zvuVector3D&) const noexcept = default;

    constexpr T dot(const zvuVector3D& o) const noexcept { return x * o.x + y * o.y + z * o.z; }
    constexpr zvuVector3D cross(const zvuVector3D& o) const noexcept {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    constexpr T lengthSquared() const noexcept { return dot(*this); }
    T length() const noexcept { return std::sqrt(lengthSquared()); }

    // Divides by the length; a vector of length exactly zero is left as it is.
    zvuVector3D& normalize() noexcept {
        const T len = length();
        if (len != T(0)) {
            x /= len;
            y /= len;
            z /= len;
        }
        return *this;
    }
    zvuVector3D normalized() const noexcept {
        zvuVector3D v = *this;
        return v.normalize();
    }
};

template <zvuScalar T>
constexpr zvuVector3D<T> operator*(T s, const zvuVector3D<T>& v) noexcept {
    return v * s;
}

using zvuVector3Dd = zvuVector3D<double>;
using zvuVector3Df = zvuVector3D<float>;

// Widening to and narrowing from the double vectors the kernel computes with.
template <zvuScalar T>
constexpr zvuVector3Dd toDouble(const zvuVector3D<T>& v) noexcept {
    return {static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}
template <zvuScalar T>
constexpr zvuVector3D<T> fromDouble(const zvuVector3Dd& v) noexcept {
    return {static_cast<T>(v.x), static_cast<T>(v.y), static_cast<T>(v.z)};
}

}  // namespace zvu
