// Matrix stacks, qmOrtho, qmWorkspace and the conversion of published state
// into model coordinates.
#include <cfloat>
#include <cmath>

#include "qm_test_support.h"

namespace {

using qmtest::ContextTest;
using qmtest::getMatrix;
using qmtest::Matrix;
using qmtest::transform;
using qmtest::Vec3;

constexpr double kTolerance = 1e-9;

void expectVec(const Vec3& actual, const Vec3& expected, double tolerance = kTolerance) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(actual[static_cast<std::size_t>(i)], expected[static_cast<std::size_t>(i)], tolerance) << i;
    }
}

class QmTransforms : public ContextTest {
protected:
    // The workspace used by the qmOrtho cases.
    void setWorkspace() {
        qmWorkspace(-100, -50, -25, 100, 50, 25);
        expectNoError();
    }
    Matrix current(QMenum mode) {
        if (mode == QM_VIEWTOUCH) return getMatrix(QM_VIEWTOUCH_MATRIX);
        if (mode == QM_MODELVIEW) return getMatrix(QM_MODELVIEW_MATRIX);
        return getMatrix(QM_TOUCHWORKSPACE_MATRIX);
    }
};

TEST_F(QmTransforms, StackDepthsPerMode) {
    struct Case {
        QMenum mode;
        int pushes;  // pushes that succeed
    };
    for (const Case& c : {Case{QM_VIEWTOUCH, 31}, Case{QM_MODELVIEW, 31}, Case{QM_TOUCHWORKSPACE, 1}}) {
        SCOPED_TRACE(qmtest::name(c.mode));
        qmMatrixMode(c.mode);
        qmTranslated(1, 0, 0);
        for (int i = 0; i < c.pushes; ++i) {
            qmPushMatrix();
        }
        expectNoError();
        qmTranslated(1, 0, 0);
        const Matrix top = current(c.mode);
        qmPushMatrix();
        expectErrors({QM_STACK_OVERFLOW});
        EXPECT_EQ(current(c.mode), top);  // an overflowing push changes nothing
        for (int i = 0; i < c.pushes; ++i) {
            qmPopMatrix();
        }
        expectNoError();
        EXPECT_DOUBLE_EQ(current(c.mode)[12], 1.0);  // the copy was pushed, the base kept
        qmPopMatrix();
        expectErrors({QM_STACK_UNDERFLOW});
    }
}

TEST_F(QmTransforms, PopRightAfterCreationUnderflows) {
    qmPopMatrix();
    expectErrors({QM_STACK_UNDERFLOW});
}

TEST_F(QmTransforms, MatrixModeRefusesOtherSymbols) {
    qmMatrixMode(QM_MODELVIEW_MATRIX);
    expectErrors({QM_INVALID_ENUM});
    qmTranslated(0, 0, 7);  // still the view-touch stack
    EXPECT_EQ(getMatrix(QM_VIEWTOUCH_MATRIX)[14], 7.0);
}

// Each operation multiplies the current matrix on the right: the newest
// operation applies to a point first.
TEST_F(QmTransforms, OperationsApplyBeforeTheCurrentMatrix) {
    struct Case {
        const char* what;
        void (*apply)();
        Vec3 point;
        Vec3 expected;
    };
    const Case cases[] = {
        {"translate then scale",
         [] {
             qmTranslated(1, 0, 0);
             qmScaled(2, 2, 2);
         },
         {1, 0, 0},
         {3, 0, 0}},
        {"scale then translate",
         [] {
             qmScaled(2, 2, 2);
             qmTranslated(1, 0, 0);
         },
         {1, 0, 0},
         {4, 0, 0}},
        {"float forms",
         [] {
             qmTranslatef(1, 0, 0);
             qmScalef(2, 2, 2);
         },
         {1, 0, 0},
         {3, 0, 0}},
        {"rotate 90 about z", [] { qmRotated(90, 0, 0, 1); }, {1, 0, 0}, {0, 1, 0}},
        {"rotation axis is normalised", [] { qmRotated(90, 0, 0, 2); }, {1, 0, 0}, {0, 1, 0}},
        {"rotatef", [] { qmRotatef(180, 0, 1, 0); }, {1, 0, 0}, {-1, 0, 0}},
        {"rotate then translate",
         [] {
             qmRotated(90, 0, 0, 1);
             qmTranslated(1, 0, 0);
         },
         {0, 0, 0},
         {0, 1, 0}},
        {"mult matrix",
         [] {
             const double t[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1};
             qmScaled(2, 2, 2);
             qmMultMatrixd(t);
         },
         {0, 0, 0},
         {10, 12, 14}},
        {"mult matrixf",
         [] {
             const float t[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1};
             qmMultMatrixf(t);
             qmScaled(2, 2, 2);
         },
         {1, 1, 1},
         {7, 8, 9}},
        {"load replaces",
         [] {
             qmTranslated(9, 9, 9);
             const double s[16] = {3, 0, 0, 0, 0, 3, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1};
             qmLoadMatrixd(s);
         },
         {1, 2, 3},
         {3, 6, 9}},
        {"load identity",
         [] {
             qmTranslated(9, 9, 9);
             qmLoadIdentity();
         },
         {1, 2, 3},
         {1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qmLoadIdentity();
        c.apply();
        expectVec(transform(getMatrix(QM_VIEWTOUCH_MATRIX), c.point), c.expected);
        expectNoError();
    }
}

TEST_F(QmTransforms, RotationByAZeroAxisLeavesCosineOnTheDiagonal) {
    qmRotated(90, 0, 0, 0);
    const Matrix m = getMatrix(QM_VIEWTOUCH_MATRIX);
    EXPECT_NEAR(m[0], 0.0, kTolerance);
    EXPECT_NEAR(m[5], 0.0, kTolerance);
    EXPECT_NEAR(m[10], 0.0, kTolerance);
    EXPECT_EQ(m[15], 1.0);
}

TEST_F(QmTransforms, LoadMatrixfWidensEveryElement) {
    float m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = 0.1f * static_cast<float>(i + 1);
    }
    qmMatrixMode(QM_MODELVIEW);
    qmLoadMatrixf(m);
    const Matrix loaded = getMatrix(QM_MODELVIEW_MATRIX);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(loaded[static_cast<std::size_t>(i)], static_cast<double>(m[i])) << i;
    }
}

TEST_F(QmTransforms, NullMatricesAreRefused) {
    qmLoadMatrixd(nullptr);
    qmLoadMatrixf(nullptr);
    qmMultMatrixd(nullptr);
    qmMultMatrixf(nullptr);
    expectErrors({QM_INVALID_VALUE});
}

TEST_F(QmTransforms, OrthoScalesTheUnitCubeOntoTheWorkspace) {
    setWorkspace();
    qmMatrixMode(QM_TOUCHWORKSPACE);
    qmOrtho(-1, 1, -1, 1, -1, 1);
    const Matrix expected = {100, 0, 0, 0, 0, 50, 0, 0, 0, 0, 25, 0, 0, 0, 0, 1};
    const Matrix m = getMatrix(QM_TOUCHWORKSPACE_MATRIX);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(m[static_cast<std::size_t>(i)], expected[static_cast<std::size_t>(i)], kTolerance) << i;
    }
}

TEST_F(QmTransforms, OrthoMapsTheViewVolumeOntoTheWorkspaceBox) {
    setWorkspace();
    qmMatrixMode(QM_TOUCHWORKSPACE);
    qmOrtho(0, 2, 0, 2, 1, 3);
    const Matrix m = getMatrix(QM_TOUCHWORKSPACE_MATRIX);
    // The centre of the volume (1, 1, -(1 + 3) / 2) lands on the centre of the
    // box; its corners on the box's, the z axis not mirrored.
    expectVec(transform(m, {1, 1, -2}), {0, 0, 0});
    expectVec(transform(m, {0, 0, -3}), {-100, -50, -25});
    expectVec(transform(m, {2, 2, -1}), {100, 50, 25});
}

TEST_F(QmTransforms, OrthoFollowsAnOffCentreWorkspace) {
    qmWorkspace(0, 0, 0, 10, 20, 30);
    qmMatrixMode(QM_TOUCHWORKSPACE);
    qmOrtho(-1, 1, -1, 1, -1, 1);
    expectVec(transform(getMatrix(QM_TOUCHWORKSPACE_MATRIX), {0, 0, 0}), {5, 10, 15}, 1e-5);
    expectVec(transform(getMatrix(QM_TOUCHWORKSPACE_MATRIX), {1, 1, 1}), {10, 20, 30}, 1e-5);
}

TEST_F(QmTransforms, OrthoMultipliesTheCurrentMatrix) {
    setWorkspace();
    qmTranslated(0, 0, 1000);
    qmOrtho(-1, 1, -1, 1, -1, 1);
    expectVec(transform(getMatrix(QM_VIEWTOUCH_MATRIX), {1, 1, 1}), {100, 50, 1025});
}

TEST_F(QmTransforms, WorkspaceIsClampedToTheDeviceBox) {
    double maximum[6];
    qmGetDoublev(QM_MAX_WORKSPACE_DIMS, maximum);
    struct Case {
        const char* what;
        double box[6];
        bool accepted;
        double expected[6];
    };
    const double m0 = maximum[0], m1 = maximum[1], m2 = maximum[2], m3 = maximum[3], m4 = maximum[4], m5 = maximum[5];
    const Case cases[] = {
        {"inside",
         {m0 / 2, m1 / 2, m2 / 2, m3 / 2, m4 / 2, m5 / 2},
         true,
         {m0 / 2, m1 / 2, m2 / 2, m3 / 2, m4 / 2, m5 / 2}},
        {"larger", {-1e9, -1e9, -1e9, 1e9, 1e9, 1e9}, true, {m0, m1, m2, m3, m4, m5}},
        {"infinite", {-INFINITY, -INFINITY, -INFINITY, INFINITY, INFINITY, INFINITY}, true, {m0, m1, m2, m3, m4, m5}},
        {"flat", {0, 0, 0, 0, 0, 0}, true, {0, 0, 0, 0, 0, 0}},
        {"a minimum above its maximum", {1, 0, 0, 0, 1, 1}, false, {}},
        {"not a number", {NAN, 0, 0, 1, 1, 1}, false, {}},
        {"outside the device box", {m3 + 1, 0, 0, m3 + 2, 1, 1}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qmWorkspace(-1, -1, -1, 1, 1, 1);
        qmWorkspace(c.box[0], c.box[1], c.box[2], c.box[3], c.box[4], c.box[5]);
        double stored[6];
        qmGetDoublev(QM_WORKSPACE, stored);
        if (c.accepted) {
            expectNoError();
            for (int i = 0; i < 6; ++i) {
                EXPECT_EQ(stored[i], c.expected[i]) << i;
            }
        } else {
            expectErrors({QM_INVALID_VALUE});
            for (int i = 0; i < 6; ++i) {
                EXPECT_EQ(stored[i], i < 3 ? -1.0 : 1.0) << i;
            }
        }
    }
}

// Published state is stored in workspace coordinates and read back through
// the inverse of frame modelview, view-touch and touch-workspace. Only the
// defaults are published in a new context: the origin, identity rotation,
// zero force, the golden sphere of radius 30 at the origin.
TEST_F(QmTransforms, StateIsConvertedIntoModelCoordinates) {
    qmMatrixMode(QM_TOUCHWORKSPACE);
    qmTranslated(10, 0, 0);
    qmScaled(2, 2, 2);  // model to workspace: p -> 2 p + (10, 0, 0)
    double v[16];
    qmGetDoublev(QM_PROXY_POSITION, v);
    expectVec({v[0], v[1], v[2]}, {-5, 0, 0});
    qmGetDoublev(QM_DEVICE_POSITION, v);
    expectVec({v[0], v[1], v[2]}, {-5, 0, 0});
    qmGetDoublev(QM_GOLDEN_POSITION, v);
    expectVec({v[0], v[1], v[2]}, {-5, 0, 0});
    qmGetDoublev(QM_GOLDEN_RADIUS, v);
    EXPECT_NEAR(v[0], 30.0 * (std::sqrt(3.0) / 2.0) / 1.7320508, 1e-12);
    qmGetDoublev(QM_PROXY_ROTATION, v);
    EXPECT_NEAR(std::fabs(v[0]), 1.0, kTolerance);
    qmGetDoublev(QM_DEVICE_TRANSFORM, v);
    // Rotation kept, scale dropped, translation converted as a position.
    EXPECT_NEAR(v[0], 1.0, kTolerance);
    EXPECT_NEAR(v[5], 1.0, kTolerance);
    EXPECT_NEAR(v[10], 1.0, kTolerance);
    expectVec({v[12], v[13], v[14]}, {-5, 0, 0});
    qmGetDoublev(QM_DEVICE_FORCE, v);
    expectVec({v[0], v[1], v[2]}, {0, 0, 0});
    expectNoError();
}

TEST_F(QmTransforms, TheModelviewStackWaitsForTheNextFrame) {
    qmMatrixMode(QM_MODELVIEW);
    qmTranslated(100, 0, 0);
    double p[3];
    qmGetDoublev(QM_PROXY_POSITION, p);
    expectVec({p[0], p[1], p[2]}, {0, 0, 0});
    qmMatrixMode(QM_VIEWTOUCH);
    qmTranslated(100, 0, 0);
    qmGetDoublev(QM_PROXY_POSITION, p);
    expectVec({p[0], p[1], p[2]}, {-100, 0, 0});
}

TEST_F(QmTransforms, ARotatedChainRotatesOrientations) {
    qmRotated(90, 0, 0, 1);  // model to workspace rotates +90 about z
    double q[4];
    qmGetDoublev(QM_DEVICE_ROTATION, q);
    // Identity in the workspace is a -90 degree rotation about z in the model.
    const double half = std::sqrt(0.5);
    const double sign = q[0] < 0 ? -1.0 : 1.0;
    EXPECT_NEAR(sign * q[0], half, 1e-9);
    EXPECT_NEAR(sign * q[1], 0.0, 1e-9);
    EXPECT_NEAR(sign * q[2], 0.0, 1e-9);
    EXPECT_NEAR(sign * q[3], -half, 1e-9);
}

}  // namespace
