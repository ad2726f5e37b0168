// Small fixed-size linear algebra for the kinematics and the physics: 3-vectors,
// 3x3 matrices and a dense solver for the 6x6 Jacobian. Nothing here allocates,
// so all of it may run on the servo thread.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

namespace korvo::sim {

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;

    double& operator[](std::size_t i) { return i == 0 ? x : (i == 1 ? y : z); }
    double operator[](std::size_t i) const { return i == 0 ? x : (i == 1 ? y : z); }

    Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator-() const { return {-x, -y, -z}; }
    Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
    Vec3 operator/(double s) const { return {x / s, y / s, z / s}; }
    Vec3& operator+=(const Vec3& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    Vec3& operator-=(const Vec3& o) {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    Vec3& operator*=(double s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }

    static Vec3 from(const double* v) { return {v[0], v[1], v[2]}; }
    static Vec3 from(const float* v) { return {v[0], v[1], v[2]}; }
};

inline double dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double norm(const Vec3& a) { return std::sqrt(dot(a, a)); }
inline bool isFinite(const Vec3& a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

// Row-major 3x3 matrix.
struct Mat3 {
    std::array<double, 9> m{1, 0, 0, 0, 1, 0, 0, 0, 1};

    double& operator()(int r, int c) { return m[static_cast<std::size_t>(r * 3 + c)]; }
    double operator()(int r, int c) const { return m[static_cast<std::size_t>(r * 3 + c)]; }

    Vec3 operator*(const Vec3& v) const {
        return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
                m[6] * v.x + m[7] * v.y + m[8] * v.z};
    }
    Mat3 operator*(const Mat3& o) const {
        Mat3 r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double s = 0.0;
                for (int k = 0; k < 3; ++k) s += (*this)(i, k) * o(k, j);
                r(i, j) = s;
            }
        return r;
    }
    Vec3 column(int c) const { return {(*this)(0, c), (*this)(1, c), (*this)(2, c)}; }

    static Mat3 rotX(double a) {
        const double c = std::cos(a), s = std::sin(a);
        Mat3 r;
        r.m = {1, 0, 0, 0, c, -s, 0, s, c};
        return r;
    }
    static Mat3 rotY(double a) {
        const double c = std::cos(a), s = std::sin(a);
        Mat3 r;
        r.m = {c, 0, s, 0, 1, 0, -s, 0, c};
        return r;
    }
    static Mat3 rotZ(double a) {
        const double c = std::cos(a), s = std::sin(a);
        Mat3 r;
        r.m = {c, -s, 0, s, c, 0, 0, 0, 1};
        return r;
    }
};

// Solves A x = b for a dense n x n system (row-major A, n <= 6) by Gaussian
// elimination with partial pivoting. Returns false, leaving x untouched, when
// A is singular to working precision.
template <std::size_t N>
bool solveLinear(std::array<double, N * N> a, std::array<double, N> b, std::array<double, N>& x) {
    double scale = 0.0;
    for (double v : a) scale = std::fmax(scale, std::fabs(v));
    if (!(scale > 0.0)) return false;
    const double tiny = scale * 1e-12;
    for (std::size_t col = 0; col < N; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < N; ++r)
            if (std::fabs(a[r * N + col]) > std::fabs(a[pivot * N + col])) pivot = r;
        if (!(std::fabs(a[pivot * N + col]) > tiny)) return false;
        if (pivot != col) {
            for (std::size_t c = 0; c < N; ++c) std::swap(a[col * N + c], a[pivot * N + c]);
            std::swap(b[col], b[pivot]);
        }
        for (std::size_t r = col + 1; r < N; ++r) {
            const double f = a[r * N + col] / a[col * N + col];
            for (std::size_t c = col; c < N; ++c) a[r * N + c] -= f * a[col * N + c];
            b[r] -= f * b[col];
        }
    }
    std::array<double, N> out{};
    for (std::size_t i = N; i-- > 0;) {
        double s = b[i];
        for (std::size_t c = i + 1; c < N; ++c) s -= a[i * N + c] * out[c];
        out[i] = s / a[i * N + i];
    }
    x = out;
    return true;
}

}  // namespace korvo::sim
