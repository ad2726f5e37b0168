// Helpers shared by the geometry kernel tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <type_traits>

#include "zvu/Geometry.h"

namespace zvu::test {

// The two precisions of the plane, line and segment classes. Test inputs are
// chosen exactly representable in float so that both variants must give the
// same answers.
using Precisions = ::testing::Types<double, float>;

// Results that pass through a cached unit direction or normal carry that
// vector's rounding to T.
template <zvuScalar T>
constexpr double storageTolerance() {
    return std::is_same_v<T, float> ? 1e-6 : 1e-12;
}

template <zvuScalar T>
zvuVector3D<T> vec(const zvuVector3Dd& v) {
    return fromDouble<T>(v);
}

inline std::string str(const zvuVector3Dd& v) {
    std::ostringstream out;
    out.precision(17);
    out << "(" << v.x << ", " << v.y << ", " << v.z << ")";
    return out.str();
}

template <zvuScalar T>
::testing::AssertionResult vecNear(const zvuVector3D<T>& actual, const zvuVector3Dd& expected, double tol) {
    const zvuVector3Dd a = toDouble(actual);
    if (std::fabs(a.x - expected.x) <= tol && std::fabs(a.y - expected.y) <= tol && std::fabs(a.z - expected.z) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << str(a) << " is not within " << tol << " of " << str(expected);
}

inline ::testing::AssertionResult matrixNear(const zvuMatrix& actual, const zvuMatrix& expected, double tol) {
    for (int i = 0; i < 16; ++i) {
        if (!(std::fabs(actual[i] - expected[i]) <= tol))
            return ::testing::AssertionFailure() << "element " << i << " is " << actual[i] << ", expected "
                                                 << expected[i] << " (tolerance " << tol << ")";
    }
    return ::testing::AssertionSuccess();
}

// Equal as rotations: q and -q describe the same rotation.
inline ::testing::AssertionResult sameRotation(const zvuQuaternion& a, const zvuQuaternion& b, double tol) {
    const double sign = a.dot(b) < 0.0 ? -1.0 : 1.0;
    if (std::fabs(a.w - sign * b.w) <= tol && std::fabs(a.x - sign * b.x) <= tol &&
        std::fabs(a.y - sign * b.y) <= tol && std::fabs(a.z - sign * b.z) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.w << ", " << a.x << ", " << a.y << ", " << a.z
                                         << ") is not the rotation (" << b.w << ", " << b.x << ", " << b.y << ", "
                                         << b.z << ")";
}

}  // namespace zvu::test
