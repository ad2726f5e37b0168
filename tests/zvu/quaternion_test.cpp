// Quaternions: algebra, Shepperd's conversion in each of its branches, the
// polar decomposition of scaled, sheared and rank-deficient matrices, and
// the interpolation threshold.
#include <cmath>
#include <numbers>

#include "geometry_test_util.h"

namespace zvu {
namespace {

using test::matrixNear;
using test::sameRotation;
using test::vecNear;

constexpr double kPi = std::numbers::pi;

TEST(ZvuQuaternionTest, HamiltonProductComposesRotations) {
    const zvuQuaternion i{0, 1, 0, 0}, j{0, 0, 1, 0}, k{0, 0, 0, 1};
    EXPECT_EQ(i * j, k);
    EXPECT_EQ(j * i, -k);
    EXPECT_EQ(i * i, zvuQuaternion(-1, 0, 0, 0));

    const zvuQuaternion a = zvuQuaternion::fromAxisAngle({1, 2, 3}, 0.8);
    const zvuQuaternion b = zvuQuaternion::fromAxisAngle({-2, 0, 1}, 1.9);
    // a * b rotates by b first, like the matrix product.
    EXPECT_TRUE(matrixNear((a * b).toMatrix(), a.toMatrix() * b.toMatrix(), 1e-12));
    EXPECT_TRUE(vecNear((a * b).rotate({1, 2, 3}), a.rotate(b.rotate({1, 2, 3})), 1e-12));
}

TEST(ZvuQuaternionTest, NormaliseAndInverseOfZeroAreSafe) {
    zvuQuaternion zero{0, 0, 0, 0};
    zero.normalize();
    EXPECT_EQ(zero, zvuQuaternion(0, 0, 0, 0));
    EXPECT_EQ(zero.inverse(), zvuQuaternion(0, 0, 0, 0));

    const zvuQuaternion q{1, 2, -3, 4};
    EXPECT_EQ(q.conjugate(), zvuQuaternion(1, -2, 3, -4));
    EXPECT_EQ(q.normSquared(), 30.0);
    EXPECT_NEAR(q.normalized().normSquared(), 1.0, 1e-15);
    EXPECT_TRUE(sameRotation(q * q.inverse(), zvuQuaternion(), 1e-15));
}

struct ShepperdCase {
    const char* name;
    zvuVector3Dd axis;
    double angle;
};

TEST(ZvuQuaternionTest, FromRotationMatrixInEveryBranch) {
    const ShepperdCase cases[] = {
        {"identity (positive trace)", {1, 0, 0}, 0.0},          {"small turn (positive trace)", {1, 2, 3}, 0.4},
        {"half turn about x (x largest)", {1, 0, 0}, kPi},      {"half turn about y (y largest)", {0, 1, 0}, kPi},
        {"half turn about z (z largest)", {0, 0, 1}, kPi},      {"near half turn, oblique", {1, -2, 0.5}, 3.0},
        {"trace exactly -1 with x and y tied", {1, 1, 0}, kPi}, {"trace exactly zero", {1, 1, 1}, 2 * kPi / 3},
    };
    for (const ShepperdCase& c : cases) {
        SCOPED_TRACE(c.name);
        const zvuQuaternion expected = zvuQuaternion::fromAxisAngle(c.axis, c.angle);
        const zvuQuaternion q = zvuQuaternion::fromRotationMatrix(zvuMatrix::rotation(c.axis, c.angle));
        EXPECT_TRUE(sameRotation(q, expected, 1e-12));
        EXPECT_NEAR(q.normSquared(), 1.0, 1e-12);
        EXPECT_TRUE(matrixNear(q.toMatrix(), zvuMatrix::rotation(c.axis, c.angle), 1e-12));
    }
}

TEST(ZvuQuaternionTest, AxisAngleOfDegenerateQuaternions) {
    zvuVector3Dd axis;
    double angle = -1.0;
    zvuQuaternion().toAxisAngle(axis, angle);
    EXPECT_EQ(axis, (zvuVector3Dd{1, 0, 0}));
    EXPECT_EQ(angle, 0.0);

    // w outside [-1, 1] is clamped before acos.
    zvuQuaternion{1.5, 0, 0, 1e-3}.toAxisAngle(axis, angle);
    EXPECT_EQ(angle, 0.0);
    EXPECT_TRUE(vecNear(axis, {0, 0, 1}, 0.0));

    zvuQuaternion::fromAxisAngle({0, 0, 2}, kPi / 2).toAxisAngle(axis, angle);
    EXPECT_NEAR(angle, kPi / 2, 1e-15);
    EXPECT_TRUE(vecNear(axis, {0, 0, 1}, 1e-15));
}

// Properties every polar decomposition must have: Q orthogonal, S symmetric,
// Q S = M.
void expectPolarFactors(const zvuMatrix& m, const zvuMatrix& q, const zvuMatrix& s) {
    EXPECT_TRUE(matrixNear(q.transposed() * q, zvuMatrix(), 1e-9)) << "Q is not orthogonal";
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(s.at(r, c), s.at(c, r)) << "S is not symmetric";
    zvuMatrix upper = m;
    upper[12] = upper[13] = upper[14] = 0.0;
    EXPECT_TRUE(matrixNear(q * s, upper, 1e-9)) << "Q S differs from M";
    EXPECT_EQ(q[15], 1.0);
    EXPECT_EQ(s[15], 1.0);
    EXPECT_EQ(q[12], 0.0);
    EXPECT_EQ(s[14], 0.0);
}

struct PolarCase {
    const char* name;
    zvuMatrix matrix;
    zvuQuaternion rotation;  // expected rotation of fromMatrix
    int detSign;             // sign of the returned determinant
};

zvuMatrix shear() {
    zvuMatrix k;
    k.at(0, 1) = 0.75;  // x += 0.75 y
    return k;
}

TEST(ZvuQuaternionTest, PolarDecompositionOfScaledShearedAndDeficientMatrices) {
    const zvuVector3Dd axis{1, -2, 2};
    const double angle = 1.1;
    const zvuMatrix r = zvuMatrix::rotation(axis, angle);
    const zvuQuaternion rq = zvuQuaternion::fromAxisAngle(axis, angle);
    // The rotation factor of a pure shear is a rotation about z by
    // atan2(-k, 2) for the shear x += k y: here k = 0.75.
    const zvuQuaternion shearRotation = zvuQuaternion::fromAxisAngle({0, 0, 1}, std::atan2(-0.75, 2.0));
    zvuMatrix rank1;
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row) rank1.at(row, c) = (row + 1.0) * (c == 0 ? 1.0 : c == 1 ? -2.0 : 0.5);
    rank1[15] = 1.0;

    const PolarCase cases[] = {
        {"rotation", r, rq, 1},
        {"rotation after non-uniform scale", r * zvuMatrix::scale(2, 0.5, 3), rq, 1},
        {"rotation with translation and uniform scale", zvuMatrix::translation(4, 5, 6) * r * zvuMatrix::scale(3, 3, 3),
         rq, 1},
        {"shear", shear(), shearRotation, 1},
        {"rotation after shear", r * shear(), rq * shearRotation, 1},
        {"mirror: the rotation of the negated factor", zvuMatrix::scale(1, 1, -1),
         zvuQuaternion::fromAxisAngle({0, 0, 1}, kPi), -1},
        {"rank 2: flattened axis", zvuMatrix::scale(2, 3, 0), zvuQuaternion(), 0},
        {"rank 2 after rotation", zvuMatrix::rotation({0, 0, 1}, kPi / 2) * zvuMatrix::scale(2, 3, 0),
         zvuQuaternion::fromAxisAngle({0, 0, 1}, kPi / 2), 0},
        {"zero matrix", zvuMatrix::scale(0, 0, 0), zvuQuaternion(), 0},
    };
    for (const PolarCase& c : cases) {
        SCOPED_TRACE(c.name);
        zvuMatrix q, s;
        const double det = c.matrix.polarDecompose(q, s);
        expectPolarFactors(c.matrix, q, s);
        EXPECT_EQ(det > 0 ? 1 : det < 0 ? -1 : 0, c.detSign) << "det " << det;
        const zvuQuaternion fromMatrix = zvuQuaternion::fromMatrix(c.matrix);
        EXPECT_TRUE(sameRotation(fromMatrix, c.rotation, 1e-9));
        EXPECT_NEAR(fromMatrix.normSquared(), 1.0, 1e-9);
    }

    // A rank-1 matrix still factors exactly: its orthogonal factor is built by
    // reflections of its own column, not taken as the identity.
    SCOPED_TRACE("rank 1");
    zvuMatrix q, s;
    EXPECT_EQ(rank1.polarDecompose(q, s), 0.0);
    expectPolarFactors(rank1, q, s);
}

TEST(ZvuQuaternionTest, PolarDecompositionAllowsAliasingTheInput) {
    zvuMatrix m = zvuMatrix::rotation({0, 1, 0}, 0.3) * zvuMatrix::scale(2, 1, 1);
    const zvuMatrix original = m;
    zvuMatrix s;
    m.polarDecompose(m, s);
    EXPECT_TRUE(matrixNear(m * s, original, 1e-12));
}

TEST(ZvuQuaternionTest, LerpIsNotRenormalised) {
    const zvuQuaternion a{1, 0, 0, 0}, b{0, 1, 0, 0};
    const zvuQuaternion mid = lerp(a, b, 0.5);
    EXPECT_EQ(mid, zvuQuaternion(0.5, 0.5, 0, 0));
}

struct SlerpCase {
    const char* name;
    double cosine;        // of the half angle between the two quaternions
    bool negateSecond;    // start from -q2: the shorter arc must still be taken
    double expectedNorm;  // of the midpoint
};

TEST(ZvuQuaternionTest, SlerpSwitchesToLerpAtSinglePrecisionPointNineFive) {
    const double threshold = static_cast<double>(0.95f);
    const double below = std::nextafter(threshold, 0.0);
    const SlerpCase cases[] = {
        {"wide angle: spherical", 0.5, false, 1.0},
        {"wide angle, opposite sign: spherical on the shorter arc", 0.5, true, 1.0},
        {"just below the threshold: spherical", below, false, 1.0},
        {"exactly the threshold: linear", threshold, false, std::sqrt((1 + threshold) / 2)},
        {"close: linear", 0.99, false, std::sqrt((1 + 0.99) / 2)},
        {"close, opposite sign: linear on the shorter arc", 0.99, true, std::sqrt((1 + 0.99) / 2)},
    };
    for (const SlerpCase& c : cases) {
        SCOPED_TRACE(c.name);
        const zvuQuaternion q1{1, 0, 0, 0};
        const zvuQuaternion q2{c.cosine, 0, 0, std::sqrt(1 - c.cosine * c.cosine)};
        const zvuQuaternion from2 = c.negateSecond ? -q2 : q2;
        const zvuQuaternion mid = slerp(q1, from2, 0.5);
        EXPECT_NEAR(std::sqrt(mid.normSquared()), c.expectedNorm, 1e-12);
        // Whichever way, the midpoint lies halfway along the shorter arc.
        const double halfAngle = std::acos(c.cosine);
        EXPECT_TRUE(sameRotation(mid.normalized(),
                                 zvuQuaternion(std::cos(halfAngle / 2), 0, 0, std::sin(halfAngle / 2)), 1e-12));
        EXPECT_TRUE(sameRotation(slerp(q1, from2, 0.0), q1, 1e-12));
        EXPECT_TRUE(sameRotation(slerp(q1, from2, 1.0), q2, 1e-12));
    }
}

}  // namespace
}  // namespace zvu
