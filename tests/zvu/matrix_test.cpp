// Vectors and 4x4 matrices: element order, composition order, rotation
// formula, perspective division and the LU inverse.
#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>

#include "geometry_test_util.h"

namespace zvu {
namespace {

using test::matrixNear;
using test::vecNear;

template <typename T>
class ZvuVectorTest : public ::testing::Test {};
TYPED_TEST_SUITE(ZvuVectorTest, test::Precisions);

TYPED_TEST(ZvuVectorTest, NormaliseLeavesZeroVectorAndScalesOthers) {
    using V = zvuVector3D<TypeParam>;
    V zero{};
    zero.normalize();
    EXPECT_EQ(zero, V{});
    EXPECT_TRUE(vecNear(V{3, 0, 4}.normalized(), {0.6, 0.0, 0.8}, 1e-7));
    EXPECT_TRUE(vecNear(V{1, 0, 0}.cross(V{0, 1, 0}), {0, 0, 1}, 0.0));
    EXPECT_EQ((V{1, 2, 3}.dot(V{4, -5, 6})), TypeParam(12));
}

zvuMatrix fromRows(const double rows[4][4]) {
    zvuMatrix m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m.at(r, c) = rows[r][c];
    return m;
}

TEST(ZvuMatrixTest, ElementsFollowOpenGlOrder) {
    double elements[16];
    for (int i = 0; i < 16; ++i) elements[i] = i;
    const zvuMatrix m(elements);
    EXPECT_EQ(m.at(1, 0), 1.0);  // column-major: element 1 is row 1 of column 0
    EXPECT_EQ(m.at(0, 1), 4.0);
    const zvuMatrix t = zvuMatrix::translation(7, 8, 9);
    EXPECT_EQ(t[12], 7.0);
    EXPECT_EQ(t[13], 8.0);
    EXPECT_EQ(t[14], 9.0);
    EXPECT_TRUE(vecNear(t.transformPoint({1, 1, 1}), {8, 9, 10}, 0.0));
}

TEST(ZvuMatrixTest, ProductAppliesRightOperandFirst) {
    const zvuMatrix scale = zvuMatrix::scale(2, 2, 2);
    const zvuMatrix move = zvuMatrix::translation(1, 0, 0);
    // Scale first, then move.
    EXPECT_TRUE(vecNear((move * scale).transformPoint({1, 1, 1}), {3, 2, 2}, 0.0));
    EXPECT_TRUE(vecNear(scale.followedBy(move).transformPoint({1, 1, 1}), {3, 2, 2}, 0.0));
    // Move first, then scale.
    EXPECT_TRUE(vecNear((scale * move).transformPoint({1, 1, 1}), {4, 2, 2}, 0.0));
}

struct RotationCase {
    const char* name;
    zvuVector3Dd axis;
    double angle;
    zvuVector3Dd point;
    zvuVector3Dd expected;
};

TEST(ZvuMatrixTest, RotationIsRightHandedAboutTheNormalisedAxis) {
    const double quarter = std::numbers::pi / 2;
    const RotationCase cases[] = {
        {"x to y about z", {0, 0, 1}, quarter, {1, 0, 0}, {0, 1, 0}},
        {"y to z about x", {1, 0, 0}, quarter, {0, 1, 0}, {0, 0, 1}},
        {"z to x about y", {0, 1, 0}, quarter, {0, 0, 1}, {1, 0, 0}},
        {"unnormalised axis", {0, 0, 5}, quarter, {1, 0, 0}, {0, 1, 0}},
        {"third turn about the diagonal cycles the axes", {1, 1, 1}, 2 * std::numbers::pi / 3, {1, 0, 0}, {0, 1, 0}},
        // A zero axis is not normalised: only cos(angle) remains, on the diagonal.
        {"zero axis scales by the cosine", {0, 0, 0}, std::numbers::pi / 3, {2, 4, 6}, {1, 2, 3}},
    };
    for (const RotationCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(vecNear(zvuMatrix::rotation(c.axis, c.angle).transformPoint(c.point), c.expected, 1e-12));
    }
    // The first column is ((1 - x^2) c + x^2, xy (1 - c) + z s, xz (1 - c) - y s).
    const double x = 2.0 / 7, y = 3.0 / 7, z = 6.0 / 7, angle = 0.7;
    const zvuMatrix r = zvuMatrix::rotation({2, 3, 6}, angle);
    const double co = std::cos(angle), si = std::sin(angle);
    EXPECT_NEAR(r[0], (1 - x * x) * co + x * x, 1e-15);
    EXPECT_NEAR(r[1], x * y * (1 - co) + z * si, 1e-15);
    EXPECT_NEAR(r[2], x * z * (1 - co) - y * si, 1e-15);
    EXPECT_EQ(r[3], 0.0);
    EXPECT_EQ(r[15], 1.0);
}

TEST(ZvuMatrixTest, RotationTranslationWritesTheTranslationElements) {
    const zvuMatrix m = zvuMatrix::rotationTranslation({0, 0, 1}, std::numbers::pi / 2, {10, 20, 30});
    EXPECT_EQ(m[12], 10.0);
    EXPECT_EQ(m[13], 20.0);
    EXPECT_EQ(m[14], 30.0);
    EXPECT_TRUE(vecNear(m.transformPoint({1, 0, 0}), {10, 21, 30}, 1e-12));
}

TEST(ZvuMatrixTest, TransformPointDividesByW) {
    // A perspective matrix: w = -z.
    zvuMatrix m;
    m[11] = -1.0;
    m[15] = 0.0;
    EXPECT_TRUE(vecNear(m.transformPoint({2, 4, -2}), {1, 2, -1}, 0.0));
    // Directions ignore translation and perspective.
    EXPECT_TRUE(vecNear(zvuMatrix::translation(5, 5, 5).transformDirection({1, 2, 3}), {1, 2, 3}, 0.0));
}

struct InverseCase {
    const char* name;
    zvuMatrix matrix;
};

TEST(ZvuMatrixTest, InverseOfInvertibleMatrices) {
    const double needsPivot[4][4] = {{0, 2, 0, 1}, {3, 0, 0, 0}, {0, 0, 0, 4}, {0, 1, 5, 0}};
    const double projection[4][4] = {{1.5, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, -1.002, -0.2002}, {0, 0, -1, 0}};
    const double general[4][4] = {{4, -2, 1, 3}, {3, 6, -4, 2}, {2, 1, 8, -5}, {1, 2, 3, 4}};
    const InverseCase cases[] = {
        {"identity", zvuMatrix()},
        {"rigid with scale",
         zvuMatrix::translation(1, -2, 3) * zvuMatrix::rotation({1, 2, 3}, 0.5) * zvuMatrix::scale(2, 0.5, 3)},
        {"zero leading element needs row exchanges", fromRows(needsPivot)},
        {"perspective projection", fromRows(projection)},
        {"general", fromRows(general)},
        {"one axis scaled far down is still invertible", zvuMatrix::scale(1, 1e-20, 1)},
        // Pivots that no elimination step touched are exact, however small
        // next to the rest of their row.
        {"a far translation", zvuMatrix::translation(1e17, 0, 0)},
        {"a small scale placed far away",
         zvuMatrix::translation(0x1p30, -0x1p30, 0x1p30) * zvuMatrix::scale(0x1p-30, 0x1p-30, 0x1p-30)},
    };
    for (const InverseCase& c : cases) {
        SCOPED_TRACE(c.name);
        zvuMatrix inv;
        ASSERT_TRUE(c.matrix.inverse(inv));
        zvuMatrix product = c.matrix * inv;
        EXPECT_TRUE(matrixNear(product, zvuMatrix(), 1e-12));
        // The result may alias the input.
        zvuMatrix inPlace = c.matrix;
        ASSERT_TRUE(inPlace.inverse(inPlace));
        EXPECT_TRUE(inPlace == inv);
    }
}

TEST(ZvuMatrixTest, InverseOfSingularMatricesFailsAndYieldsIdentity) {
    const double classic[4][4] = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}, {0, 0, 0, 1}};
    const double equalRows[4][4] = {{1, 2, 3, 4}, {0, 1, 0, 0}, {1, 2, 3, 4}, {0, 0, 0, 1}};
    const double rankOne[4][4] = {{1, 2, 3, 4}, {2, 4, 6, 8}, {-1, -2, -3, -4}, {0.5, 1, 1.5, 2}};
    const double zeroColumn[4][4] = {{1, 0, 3, 0}, {2, 0, 1, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    const double zero[4][4] = {};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    zvuMatrix withNan;
    withNan[5] = nan;
    const zvuMatrix withInfinity = zvuMatrix::translation(std::numeric_limits<double>::infinity(), 0, 0);
    const InverseCase cases[] = {
        {"zero matrix", fromRows(zero)},
        {"flattening scale", zvuMatrix::scale(1, 0, 1)},
        {"rows 1..9: singular only up to rounding", fromRows(classic)},
        {"equal rows", fromRows(equalRows)},
        {"rank one", fromRows(rankOne)},
        {"zero column", fromRows(zeroColumn)},
        {"rotation with a flattened axis", zvuMatrix::rotation({1, 1, 0}, 0.3) * zvuMatrix::scale(2, 0, 1)},
        {"NaN element", withNan},
        {"infinite element", withInfinity},
    };
    for (const InverseCase& c : cases) {
        SCOPED_TRACE(c.name);
        zvuMatrix inv = zvuMatrix::scale(7, 7, 7);
        EXPECT_FALSE(c.matrix.inverse(inv));
        EXPECT_TRUE(inv == zvuMatrix());
    }
}

}  // namespace
}  // namespace zvu
