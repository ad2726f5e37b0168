// Depth-buffer shapes, the haptic camera view and the adaptive viewport:
// what is read back from OpenGL, what the depth surface answers, and a
// touch of a captured quad on the simulated device.
//
// With the fixture's view (orthographic +-1 on every axis, 256 x 256
// pixels, identity modelview) the camera looks down -z, window depth is
// (1 - z) / 2 and the depth scale is 256, so the plane z = 0 lies at image
// depth 128 and x = -1 .. 1 spans pixels 0 .. 256 (whose depths are taken at
// their centres).
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvo/korvo_sim.h"
#include "qm/api/Symbols.h"
#include "qm/collision/LocalFeature.h"
#include "qm/shapes/DepthBufferShape.h"
#include "qm/shapes/HapticCameraView.h"
#include "shape_test_support.h"

namespace {

using QM::DepthBufferShape;
using QM::HapticCameraView;
using QM::PixelRect;
using qmtest::ShapeTest;
using zvu::zvuLineSegmentd;
using zvu::zvuVector3Dd;

constexpr double kTol = 1e-4;

void expectNear(const zvuVector3Dd& actual, const zvuVector3Dd& expected, double tol) {
    EXPECT_NEAR(actual.x, expected.x, tol);
    EXPECT_NEAR(actual.y, expected.y, tol);
    EXPECT_NEAR(actual.z, expected.z, tol);
}

class DepthCapture : public ShapeTest {
protected:
    unsigned id = 0;
    void SetUp() override {
        ShapeTest::SetUp();
        id = qmGenShapes(1);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
    }
    // Clears the depth buffer, captures what `draw` renders and returns the
    // shape (null when none was made).
    template <typename Draw>
    DepthBufferShape* capture(Draw draw) {
        glClearDepth(1.0);
        glClear(GL_DEPTH_BUFFER_BIT);
        qmBeginShape(QM_SHAPE_DEPTH_BUFFER, id);
        draw();
        qmEndShape();
        return persistentAs<DepthBufferShape>(id);
    }
    DepthBufferShape* captureSquare(double h, double z, bool clockwise = false) {
        return capture([&] { qmtest::drawSquare(h, z, clockwise); });
    }
    struct Result {
        bool hit = false;
        zvuVector3Dd point{};
        zvuVector3Dd normal{};
        QMenum face = nullptr;
    };
    static Result intersect(DepthBufferShape& shape, const zvuVector3Dd& from, const zvuVector3Dd& to,
                            QMenum touchable) {
        Result r;
        r.hit = shape.intersectSegment(zvuLineSegmentd(from, to), touchable, r.point, r.normal, r.face);
        return r;
    }
    void setGolden(const zvuVector3Dd& p, double radius) {
        const double position[3] = {p.x, p.y, p.z};
        context().state->getAttributes().setArray<double>(QM_GOLDEN_POSITION, position);
        context().state->getAttributes().set<double>(QM_GOLDEN_RADIUS, radius);
    }
};

TEST_F(DepthCapture, TheImageIsTheViewportsDepthsScaledToPixels) {
    DepthBufferShape* shape = captureSquare(0.5, 0.0);
    ASSERT_NE(shape, nullptr);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(shape->getType(), QM_SHAPE_DEPTH_BUFFER);
    EXPECT_EQ(shape->width(), 256);
    EXPECT_EQ(shape->height(), 256);
    EXPECT_NEAR(shape->depthScale(), 256.0, 1e-9);
    EXPECT_FALSE(shape->flipped());
    EXPECT_NEAR(shape->depth(128, 128), 128.0, 1e-3);
    EXPECT_NEAR(shape->depth(5, 5), 256.0, 1e-3) << "background";
    expectNear(shape->toImage({0.0, 0.0, 0.0}), {127.5, 127.5, 128.0}, 1e-9);  // pixel centres
}

// A flat surface facing the camera: a motion into it (towards larger depth)
// meets its front with the normal towards the camera; a motion out of it
// meets its back with the normal away from the camera; each only where that
// face is touchable.
TEST_F(DepthCapture, AFlatSurfaceIsMetOnTheFaceTheMotionCrosses) {
    DepthBufferShape* shape = captureSquare(0.8, 0.0);
    ASSERT_NE(shape, nullptr);
    const zvuVector3Dd above{0.1, 0.2, 0.5};
    const zvuVector3Dd below{0.1, 0.2, -0.5};
    struct Case {
        const char* name;
        zvuVector3Dd from;
        zvuVector3Dd to;
        QMenum touchable;
        bool hit;
        QMenum face;
        double normalZ;
    };
    const Case cases[] = {
        {"into, front touchable", above, below, QM_FRONT, true, QM_FRONT, 1.0},
        {"into, both touchable", above, below, QM_FRONT_AND_BACK, true, QM_FRONT, 1.0},
        {"into, back touchable", above, below, QM_BACK, false, nullptr, 0.0},
        {"out of, front touchable", below, above, QM_FRONT, false, nullptr, 0.0},
        {"out of, back touchable", below, above, QM_BACK, true, QM_BACK, -1.0},
        {"into, no face", above, below, QM_CONTACT, false, nullptr, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = intersect(*shape, c.from, c.to, c.touchable);
        ASSERT_EQ(r.hit, c.hit);
        if (c.hit) {
            expectNear(r.point, {0.1, 0.2, 0.0}, kTol);
            expectNear(r.normal, {0.0, 0.0, c.normalZ}, 1e-6);
            EXPECT_EQ(r.face, c.face);
        }
    }
}

// The closest feature of a point off the surface is the plane straight
// under it (towards or away from the camera, whichever is nearer), whichever
// face is touchable.
TEST_F(DepthCapture, TheClosestFeatureIsThePlaneStraightAlongTheViewAxis) {
    DepthBufferShape* shape = captureSquare(0.8, 0.0);
    ASSERT_NE(shape, nullptr);
    for (const double z : {0.3, -0.3}) {
        SCOPED_TRACE(z);
        QM::LocalFeatureSet features;
        zvuVector3Dd closest;
        ASSERT_TRUE(shape->closestFeatures(zvuLineSegmentd({0.25, -0.4, z}, {0.25, -0.4, -z}), features, closest));
        expectNear(closest, {0.25, -0.4, 0.0}, kTol);
        ASSERT_EQ(features.size(), 1u);
        expectNear(features.begin()->get()->closestPoint({0.0, 0.0, 0.7}), {0.0, 0.0, 0.0}, kTol);
    }
}

// Segments are cut to the image's box before the search, so what crosses
// the surface inside the box is met wherever the ends are: a fast stroke
// whose two ends lie outside the box does not tunnel through the surface.
TEST_F(DepthCapture, SegmentsAreCutToTheImageBox) {
    DepthBufferShape* shape = captureSquare(0.8, 0.0);
    ASSERT_NE(shape, nullptr);
    struct Case {
        const char* name;
        zvuVector3Dd from;
        zvuVector3Dd to;
        bool hit;
        zvuVector3Dd at;
    };
    const Case cases[] = {
        {"starts left of the image", {-1.5, 0.0, 0.5}, {0.5, 0.0, -0.5}, true, {-0.5, 0.0, 0.0}},
        {"ends right of the image", {0.3, 0.1, 0.2}, {1.5, 0.1, -0.4}, true, {0.7, 0.1, 0.0}},
        {"both ends beyond the depth range", {0.2, 0.3, 2.0}, {0.2, 0.3, -2.0}, true, {0.2, 0.3, 0.0}},
        {"both ends beside the image", {-3.0, 0.0, 0.9}, {3.0, 0.0, -0.9}, true, {0.0, 0.0, 0.0}},
        {"rightwards, on to the far plane", {-3.0, 0.0, 0.9}, {3.0, 0.0, -1.5}, true, {-0.75, 0.0, 0.0}},
        {"leftwards, on to the far plane", {3.0, 0.0, 0.9}, {-3.0, 0.0, -1.5}, true, {0.75, 0.0, 0.0}},
        {"across the image above the surface", {-3.0, 0.5, 0.5}, {3.0, 0.5, 0.5}, false, {}},
        {"wholly beside the image", {1.5, 0.0, 0.5}, {1.5, 0.0, -0.5}, false, {}},
        {"pointing at the box but ending before it", {-3.0, 0.0, 0.5}, {-2.0, 0.0, 0.5}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = intersect(*shape, c.from, c.to, QM_FRONT);
        ASSERT_EQ(r.hit, c.hit);
        if (c.hit) {
            expectNear(r.point, c.at, kTol);
            EXPECT_EQ(r.face, QM_FRONT);
        }
    }
}

// Where nothing was drawn the depth is 1: the far plane (z = -1 here) is a
// surface like any other.
TEST_F(DepthCapture, BackgroundPixelsFormATouchableFarPlane) {
    DepthBufferShape* shape = capture([] {});
    ASSERT_NE(shape, nullptr);
    const Result r = intersect(*shape, {0.4, -0.6, 0.0}, {0.4, -0.6, -3.0}, QM_FRONT);
    ASSERT_TRUE(r.hit);
    expectNear(r.point, {0.4, -0.6, -1.0}, kTol);
    expectNear(r.normal, {0.0, 0.0, 1.0}, 1e-6);
    // A square leaves the far plane around it.
    shape = captureSquare(0.5, 0.0);
    ASSERT_NE(shape, nullptr);
    EXPECT_NEAR(intersect(*shape, {0.0, 0.0, 0.9}, {0.0, 0.0, -3.0}, QM_FRONT).point.z, 0.0, kTol);
    EXPECT_NEAR(intersect(*shape, {0.8, 0.0, 0.9}, {0.8, 0.0, -3.0}, QM_FRONT).point.z, -1.0, kTol);
}

TEST_F(DepthCapture, ASlopedSurfaceHasItsOwnNormal) {
    // The plane z = x / 2, facing +z.
    DepthBufferShape* shape = capture([] {
        glBegin(GL_QUADS);
        glVertex3d(-0.9, -0.9, -0.45);
        glVertex3d(0.9, -0.9, 0.45);
        glVertex3d(0.9, 0.9, 0.45);
        glVertex3d(-0.9, 0.9, -0.45);
        glEnd();
    });
    ASSERT_NE(shape, nullptr);
    const Result r = intersect(*shape, {0.2, 0.1, 0.8}, {0.2, 0.1, -0.8}, QM_FRONT);
    ASSERT_TRUE(r.hit);
    expectNear(r.point, {0.2, 0.1, 0.1}, 1e-4);
    expectNear(r.normal, zvuVector3Dd{-0.5, 0.0, 1.0}.normalized(), 1e-4);
}

// Through a perspective camera: the part of a segment behind the eye is
// cut off before it is mapped into image space (where it would come out
// mirrored), so a stroke from behind the eye still meets the surface.
TEST_F(DepthCapture, APerspectiveViewIsMetWhereverTheSegmentStarts) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-0.1, 0.1, -0.1, 0.1, 0.1, 10.0);
    glTranslated(0.0, 0.0, -2.0);  // the eye at z = 2
    glMatrixMode(GL_MODELVIEW);
    DepthBufferShape* shape = captureSquare(0.8, 0.0);
    ASSERT_NE(shape, nullptr);
    for (const double startZ : {1.0, 3.0, 50.0}) {
        SCOPED_TRACE(startZ);
        const Result r = intersect(*shape, {0.3, 0.2, startZ}, {0.3, 0.2, -1.0}, QM_FRONT);
        ASSERT_TRUE(r.hit);
        expectNear(r.point, {0.3, 0.2, 0.0}, 1e-3);
        expectNear(r.normal, {0.0, 0.0, 1.0}, 1e-3);
        EXPECT_EQ(r.face, QM_FRONT);
    }
    EXPECT_FALSE(intersect(*shape, {0.3, 0.2, 3.0}, {0.3, 0.2, 2.5}, QM_FRONT).hit) << "wholly behind the eye";
}

// OpenGL may be told to map depth onto part of [0, 1] only; the image
// would then be read on the wrong scale, so the capture is refused, at the
// start or at the end, and leaves no shape.
TEST_F(DepthCapture, DepthRangesOtherThanZeroToOneAreRefused) {
    glDepthRange(0.0, 0.5);
    qmBeginShape(QM_SHAPE_DEPTH_BUFFER, id);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
    qmEndShape();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION}) << "no shape was open";
    glDepthRange(0.0, 1.0);
    qmBeginShape(QM_SHAPE_DEPTH_BUFFER, id);
    glDepthRange(0.2, 1.0);
    qmEndShape();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
    EXPECT_EQ(persistentShape(id), nullptr);
    glDepthRange(0.0, 1.0);
    ASSERT_NE(captureSquare(0.5, 0.0), nullptr);
    EXPECT_TRUE(errors().empty());
}

// The read leaves the application's pixel-store state as it was.
TEST_F(DepthCapture, TheApplicationsPixelStoreIsKept) {
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    glPixelStorei(GL_PACK_ROW_LENGTH, 300);
    DepthBufferShape* shape = captureSquare(0.5, 0.0);
    ASSERT_NE(shape, nullptr);
    EXPECT_NEAR(shape->depth(128, 128), 128.0, 1e-3);
    GLint alignment = 0;
    GLint rowLength = 0;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    glGetIntegerv(GL_PACK_ROW_LENGTH, &rowLength);
    EXPECT_EQ(alignment, 8);
    EXPECT_EQ(rowLength, 300);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
}

// Viewports the window cannot hold whole: a small one is read as it is, an
// empty one (a minimised window) gives a shape that is never met, without
// an error, and one reaching below the window's corner is read from the
// corner.
TEST_F(DepthCapture, TheReadStaysInsideTheViewportAndTheWindow) {
    struct Case {
        const char* name;
        PixelRect viewport;
        int width;
        int height;
    };
    const Case cases[] = {
        {"small", {0, 0, 50, 40}, 50, 40},
        {"empty", {0, 0, 0, 0}, 0, 0},
        {"below the corner", {-56, -56, 256, 256}, 200, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        glViewport(c.viewport.x, c.viewport.y, c.viewport.width, c.viewport.height);
        DepthBufferShape* shape = captureSquare(0.8, 0.0);
        ASSERT_NE(shape, nullptr);
        EXPECT_TRUE(errors().empty());
        EXPECT_EQ(shape->width(), c.width);
        EXPECT_EQ(shape->height(), c.height);
        const Result r = intersect(*shape, {0.0, 0.0, 0.5}, {0.0, 0.0, -0.5}, QM_FRONT);
        EXPECT_EQ(r.hit, c.width > 0);
        if (r.hit) {
            expectNear(r.point, {0.0, 0.0, 0.0}, kTol);
        }
    }
    glViewport(0, 0, 256, 256);
}

// ------------------------------------------------------------ adaptive viewport

TEST(AdaptiveViewport, TheRectangleCoversTheGoldenSphereAndStaysInside) {
    zvu::zvuMatrix projection;
    // The fixture's view: +-1 orthographic, so one pixel is 1/128.
    projection[0] = projection[5] = 1.0;
    projection[10] = -1.0;
    const zvu::zvuMatrix identity;
    struct Case {
        const char* name;
        zvuVector3Dd golden;
        double radius;
        PixelRect viewport;
        PixelRect expected;
    };
    const Case cases[] = {
        {"radius of 16 px, centred", {0.0, 0.0, 0.0}, 0.125, {0, 0, 256, 256}, {96, 96, 64, 64}},
        {"radius of 48 px, centred", {0.0, 0.0, 0.0}, 0.375, {0, 0, 256, 256}, {80, 80, 96, 96}},
        {"at the right edge", {0.99, 0.0, 0.0}, 0.125, {0, 0, 256, 256}, {192, 96, 64, 64}},
        {"beyond the lower left corner", {-1.5, -1.5, 0.0}, 0.125, {0, 0, 256, 256}, {0, 0, 64, 64}},
        {"larger than the viewport", {0.0, 0.0, 0.0}, 4.0, {0, 0, 256, 256}, {0, 0, 256, 256}},
        {"viewport under 64 px", {0.0, 0.0, 0.0}, 0.125, {0, 0, 50, 40}, {0, 0, 50, 40}},
        {"viewport of 64 px", {0.0, 0.0, 0.0}, 0.125, {0, 0, 64, 64}, {0, 0, 64, 64}},
        {"viewport away from the corner", {0.99, 0.99, 0.0}, 0.125, {100, 50, 256, 256}, {292, 242, 64, 64}},
        {"empty viewport", {0.0, 0.0, 0.0}, 0.125, {0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PixelRect r = QM::adaptiveReadRect(c.golden, c.radius, identity, 1.0, identity, projection, c.viewport);
        EXPECT_EQ(r.x, c.expected.x);
        EXPECT_EQ(r.y, c.expected.y);
        EXPECT_EQ(r.width, c.expected.width);
        EXPECT_EQ(r.height, c.expected.height);
    }
}

// Read through the adaptive viewport, only the rectangle around the golden
// sphere is kept, and image space starts at its corner: the surface is met
// where it is, and not outside the rectangle.
TEST_F(DepthCapture, TheAdaptiveViewportReadsAroundTheGoldenSphere) {
    qmEnable(QM_ADAPTIVE_VIEWPORT);
    setGolden({0.9, -0.2, 0.0}, 0.125);
    DepthBufferShape* shape = captureSquare(0.95, 0.0);
    ASSERT_NE(shape, nullptr);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(shape->width(), 64);
    EXPECT_EQ(shape->height(), 64);
    // Window (243.2, 102.4); the 64-pixel square is shifted in from the right
    // edge, and the depth scale follows the read rectangle's width.
    expectNear(shape->toImage({0.9, -0.2, 0.0}), {243.2 - 192.5, 102.4 - 70.5, 32.0}, 1e-6);
    const Result r = intersect(*shape, {0.85, -0.25, 0.5}, {0.85, -0.25, -0.5}, QM_FRONT);
    ASSERT_TRUE(r.hit);
    expectNear(r.point, {0.85, -0.25, 0.0}, kTol);
    EXPECT_FALSE(intersect(*shape, {0.0, 0.0, 0.5}, {0.0, 0.0, -0.5}, QM_FRONT).hit);
}

// ------------------------------------------------------------ haptic camera view

TEST(HapticCameraViewport, EachSideIsClampedTo64To256Pixels) {
    struct Case {
        PixelRect application;
        PixelRect camera;
    };
    const Case cases[] = {
        {{0, 0, 800, 600}, {0, 0, 256, 256}},
        {{0, 0, 50, 40}, {0, 0, 64, 64}},
        {{10, 20, 100, 300}, {10, 20, 100, 256}},
        {{0, 0, 0, 0}, {0, 0, 64, 64}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HapticCameraView::cameraViewport(c.application), c.camera)
            << c.application.width << " x " << c.application.height;
    }
}

TEST(HapticCameraFrame, IsRightHandedWithTheDirectionAsItsThirdAxis) {
    const zvuVector3Dd directions[] = {{0, 0, 0}, {0, 0, 2}, {1, 2, 3}, {0, 1, 0}, {0, -5, 0}, {-1, 0, 0}};
    for (const zvuVector3Dd& d : directions) {
        SCOPED_TRACE(testing::Message() << d.x << ", " << d.y << ", " << d.z);
        const zvu::zvuMatrix m = HapticCameraView::buildFrame({1, 2, 3}, d);
        const zvuVector3Dd x{m.at(0, 0), m.at(1, 0), m.at(2, 0)};
        const zvuVector3Dd y{m.at(0, 1), m.at(1, 1), m.at(2, 1)};
        const zvuVector3Dd z{m.at(0, 2), m.at(1, 2), m.at(2, 2)};
        const zvuVector3Dd axis = d.lengthSquared() == 0.0 ? zvuVector3Dd{0, 0, 1} : d.normalized();
        expectNear(z, axis, 1e-12);
        expectNear(x.cross(y), z, 1e-12);
        EXPECT_NEAR(x.length(), 1.0, 1e-12);
        EXPECT_NEAR(y.length(), 1.0, 1e-12);
        EXPECT_NEAR(x.dot(z), 0.0, 1e-12);
        expectNear({m.at(0, 3), m.at(1, 3), m.at(2, 3)}, {1, 2, 3}, 0.0);
    }
}

class CameraCapture : public DepthCapture {
protected:
    void SetUp() override {
        DepthCapture::SetUp();
        qmEnable(QM_HAPTIC_CAMERA_VIEW);
        // The camera at the origin sees +-2 around it (half as far behind).
        setGolden({0.0, 0.0, 0.0}, 2.0);
    }
};

// Through the camera view the shape is rendered at the camera's viewport,
// projection and modelview, which are put back afterwards; the shape still
// answers in workspace coordinates.
TEST_F(CameraCapture, TheCameraRendersTheShapeAndOpenGLIsRestored) {
    glViewport(0, 0, 50, 40);
    double projectionBefore[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projectionBefore);
    GLint during[4] = {};
    DepthBufferShape* shape = capture([&] {
        glGetIntegerv(GL_VIEWPORT, during);
        qmtest::drawSquare(0.5, -0.25, false);
    });
    ASSERT_NE(shape, nullptr);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(during[2], 64);
    EXPECT_EQ(during[3], 64);
    EXPECT_EQ(shape->width(), 50) << "only the pixels the window has";
    EXPECT_EQ(shape->height(), 40);
    GLint after[4] = {};
    glGetIntegerv(GL_VIEWPORT, after);
    EXPECT_EQ(after[2], 50);
    EXPECT_EQ(after[3], 40);
    double projectionAfter[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projectionAfter);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(projectionAfter[k], projectionBefore[k]);
    }
    EXPECT_EQ(glIsEnabled(GL_CULL_FACE), GL_FALSE);
    // 64 pixels span the camera's 4 units: the square's lower left
    // quarter is in the 50 x 40 window.
    const Result r = intersect(*shape, {-0.3, -0.4, 0.5}, {-0.3, -0.4, -1.0}, QM_FRONT);
    ASSERT_TRUE(r.hit);
    expectNear(r.point, {-0.3, -0.4, -0.25}, kTol);
    expectNear(r.normal, {0.0, 0.0, 1.0}, 1e-6);
    glViewport(0, 0, 256, 256);
}

// A minimised window: the camera still renders into its 64-pixel viewport,
// but none of those pixels belongs to the window, so nothing is read.
TEST_F(CameraCapture, AMinimisedWindowCapturesNothing) {
    glViewport(0, 0, 0, 0);
    DepthBufferShape* shape = captureSquare(0.5, -0.25);
    ASSERT_NE(shape, nullptr);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(shape->width(), 0);
    EXPECT_EQ(shape->height(), 0);
    EXPECT_FALSE(intersect(*shape, {0.0, 0.0, 0.5}, {0.0, 0.0, -3.0}, QM_FRONT_AND_BACK).hit);
    QM::LocalFeatureSet features;
    zvuVector3Dd closest;
    EXPECT_FALSE(shape->closestFeatures(zvuLineSegmentd({0.0, 0.0, 0.5}, {0.0, 0.0, 0.0}), features, closest));
    glViewport(0, 0, 256, 256);
}

// With the back face touchable the camera culls front faces and sees the
// surface's back: the shape is flipped, and crossings of the side facing
// the camera are reported as the back face.
TEST_F(CameraCapture, TheBackFaceFlipsTheShape) {
    qmTouchableFace(QM_BACK);
    const zvuVector3Dd above{0.1, 0.1, 0.5};
    const zvuVector3Dd below{0.1, 0.1, -0.5};
    DepthBufferShape* shape = captureSquare(0.5, -0.25, /*clockwise=*/true);
    ASSERT_NE(shape, nullptr);
    EXPECT_TRUE(shape->flipped());
    Result r = intersect(*shape, above, below, QM_BACK);
    ASSERT_TRUE(r.hit);
    EXPECT_EQ(r.face, QM_BACK);
    expectNear(r.point, {0.1, 0.1, -0.25}, kTol);
    expectNear(r.normal, {0.0, 0.0, 1.0}, 1e-6);
    EXPECT_FALSE(intersect(*shape, below, above, QM_BACK).hit);
    r = intersect(*shape, below, above, QM_FRONT);
    ASSERT_TRUE(r.hit);
    EXPECT_EQ(r.face, QM_FRONT);
    expectNear(r.normal, {0.0, 0.0, -1.0}, 1e-6);

    // A square whose front faces the camera is culled: only the far plane
    // (2 units away) is left.
    shape = captureSquare(0.5, -0.25, /*clockwise=*/false);
    ASSERT_NE(shape, nullptr);
    r = intersect(*shape, above, {0.1, 0.1, -3.0}, QM_BACK);
    ASSERT_TRUE(r.hit);
    EXPECT_NEAR(r.point.z, -2.0, kTol);

    // The front face touchable: nothing is flipped.
    qmTouchableFace(QM_FRONT);
    shape = captureSquare(0.5, -0.25, /*clockwise=*/false);
    ASSERT_NE(shape, nullptr);
    EXPECT_FALSE(shape->flipped());
    r = intersect(*shape, above, below, QM_FRONT);
    ASSERT_TRUE(r.hit);
    EXPECT_EQ(r.face, QM_FRONT);
}

// Feedback-buffer shapes are captured through the same camera and answer
// in workspace coordinates all the same.
TEST_F(CameraCapture, FeedbackShapesUseTheCameraToo) {
    GLint during[4] = {};
    qmBeginShape(QM_SHAPE_FEEDBACK_BUFFER, id);
    glGetIntegerv(GL_VIEWPORT, during);
    qmtest::drawSquare(0.5, -0.25, false);
    qmEndShape();
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(during[2], 256);
    auto* shape = dynamic_cast<QM::MeshShape*>(persistentShape(id));
    ASSERT_NE(shape, nullptr);
    zvuVector3Dd point;
    zvuVector3Dd normal;
    QMenum face = nullptr;
    ASSERT_TRUE(shape->intersectSegment(zvuLineSegmentd({0.2, 0.1, 0.5}, {0.2, 0.1, -1.0}), point, normal, face));
    expectNear(point, {0.2, 0.1, -0.25}, 1e-5);
    expectNear(normal, {0.0, 0.0, 1.0}, 1e-6);
}

// The camera follows the golden position: it looks along the motion once
// the position has moved more than the threshold, and into the surface
// along the touch normal while touching.
TEST_F(CameraCapture, TheCameraLooksAlongTheMotionOrIntoTheSurface) {
    QM::IStackedAttributeMap& attributes = context().state->getAttributes();
    auto direction = [&] {
        double d[3] = {};
        attributes.getArray<double>(QM::QM_INT_HAPTIC_CAMERA_VIEW_DIRECTION, d);
        return zvuVector3Dd{d[0], d[1], d[2]};
    };
    QM::DepthBufferHapticCameraView view(*context().state);
    view.computeViewMatrix();
    expectNear(direction(), {0, 0, 0}, 0.0);  // no motion yet: the default axis
    setGolden({3.0, 0.0, 0.0}, 2.0);
    view.computeViewMatrix();
    expectNear(direction(), {-1, 0, 0}, 1e-12);  // looking along +x
    setGolden({3.0, 1.5, 0.0}, 2.0);
    view.computeViewMatrix();
    expectNear(direction(), {-1, 0, 0}, 1e-12);  // moved less than 2
    attributes.set<bool>(QM_PROXY_IS_TOUCHING, true);
    const double normal[3] = {0.0, 0.0, 2.0};
    attributes.setArray<double>(QM_PROXY_TOUCH_NORMAL, normal);
    setGolden({3.0, 4.0, 0.0}, 2.0);
    const zvu::zvuMatrix v = view.computeViewMatrix();
    expectNear(direction(), {0, 0, 1}, 1e-12);
    // The camera sits at the golden position.
    expectNear(v.transformPoint({3.0, 4.0, 0.0}), {0, 0, 0}, 1e-12);
}

// ------------------------------------------------------------ closed loop

// A quad read from the depth buffer, pressed on with the simulated hand:
// the stylus stops where the hand's spring and the surface's balance, with
// the proxy on the surface.
class DepthTouch : public DepthCapture {
protected:
    void SetUp() override {
        DepthCapture::SetUp();
        // Workspace millimetres: the view spans +-100 on every axis.
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-100, 100, -100, 100, -100, 100);
        glMatrixMode(GL_MODELVIEW);
    }
    zvuVector3Dd stylus() const {
        double p[3];
        double v[3];
        double f[3];
        korvo_sim_get_true_state(device, p, v, f);
        return {p[0], p[1], p[2]};
    }
};

TEST_F(DepthTouch, TheStylusRestsOnADepthBufferQuad) {
    const double handStiffness = 0.1;
    ASSERT_EQ(korvo_sim_set_hand_gains(device, handStiffness, 0.005), 0);
    const double start[3] = {3.0, -2.0, 20.0};
    ASSERT_EQ(korvo_sim_place_stylus(device, start), 0);
    qmBeginFrame();
    ASSERT_NE(captureSquare(50.0, 0.0), nullptr);
    qmEndFrame();
    run(10);
    const double hand[3] = {3.0, -2.0, -30.0};
    ASSERT_EQ(korvo_sim_set_hand_target(device, hand), 0);
    run(300);
    double nominal = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_STIFFNESS, &nominal);
    const double surface = nominal * 0.8;
    const double expected = -30.0 * handStiffness / (handStiffness + surface);
    const zvuVector3Dd p = stylus();
    EXPECT_NEAR(p.z, expected, std::abs(expected) * 0.02);
    EXPECT_NEAR(p.x, 3.0, 0.1);
    const QM::IProxy& proxy = context().sceneRenderer->getCollisionProxy();
    EXPECT_TRUE(proxy.isTouching());
    EXPECT_NEAR(proxy.motionTransform(2)->position().z, 0.0, 0.05);
    qmBeginFrame();
    QMboolean touching = QM_FALSE;
    qmGetShapeBooleanv(id, QM_PROXY_IS_TOUCHING, &touching);
    EXPECT_EQ(touching, QM_TRUE);
    qmEndFrame();
    EXPECT_TRUE(errors().empty());
}

// A depth image redrawn every frame as a surface that changes: when the
// surface rises past the proxy between two frames, the way from the proxy
// to the device no longer crosses it, and the proxy would fall through; the
// contact is found again on the new surface instead, and the stylus is
// pushed up to the new balance point.
TEST_F(DepthTouch, TheContactIsFoundAgainWhenTheSurfaceRisesPastTheProxy) {
    const double handStiffness = 0.1;
    ASSERT_EQ(korvo_sim_set_hand_gains(device, handStiffness, 0.005), 0);
    const double start[3] = {3.0, -2.0, 20.0};
    ASSERT_EQ(korvo_sim_place_stylus(device, start), 0);
    qmHintb(QM_SHAPE_DYNAMIC_SURFACE_CHANGE, QM_TRUE);
    auto frame = [&](double z) {
        qmBeginFrame();
        ASSERT_NE(captureSquare(50.0, z), nullptr);
        qmEndFrame();
    };
    frame(0.0);
    run(10);
    const double hand[3] = {3.0, -2.0, -30.0};
    ASSERT_EQ(korvo_sim_set_hand_target(device, hand), 0);
    run(300);
    const QM::IProxy& proxy = context().sceneRenderer->getCollisionProxy();
    ASSERT_TRUE(proxy.isTouching());
    ASSERT_LT(stylus().z, 0.0);

    frame(2.0);
    EXPECT_NEAR(proxy.motionTransform(0)->position().z, 2.0, 0.05) << "carried to the new surface at once";
    run(300);
    double nominal = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_STIFFNESS, &nominal);
    const double surface = nominal * 0.8;
    // kh (z + 30) = ks (2 - z)
    const double expected = (2.0 * surface - 30.0 * handStiffness) / (handStiffness + surface);
    EXPECT_NEAR(stylus().z, expected, std::abs(expected) * 0.05);
    EXPECT_TRUE(proxy.isTouching());
    EXPECT_NEAR(proxy.motionTransform(2)->position().z, 2.0, 0.05);
    EXPECT_TRUE(errors().empty());
}

// The depth image redrawn at every frame, or every second, third or fourth
// step, while the hand presses the stylus into it: each new capture replaces
// the surface the servo side holds the proxy to, and at no tick may the
// surface be missing (the stylus would drop toward the hand for a step).
TEST_F(DepthTouch, ASurfaceRedrawnAtEveryFrameHoldsAtEveryTick) {
    const double handStiffness = 0.5;
    ASSERT_EQ(korvo_sim_set_hand_gains(device, handStiffness, 0.005), 0);
    const double start[3] = {3.0, -2.0, 1.0};
    ASSERT_EQ(korvo_sim_place_stylus(device, start), 0);
    auto frame = [&] {
        qmBeginFrame();
        ASSERT_NE(captureSquare(50.0, 0.0), nullptr);
        qmEndFrame();
    };
    frame();
    run(10);
    const double hand[3] = {3.0, -2.0, -10.0};
    ASSERT_EQ(korvo_sim_set_hand_target(device, hand), 0);
    for (int i = 0; i < 100; ++i) {
        frame();
        run(3);
    }
    double nominal = 0.0;
    zvGetDoublev(ZV_NOMINAL_MAX_STIFFNESS, &nominal);
    const double expected = -10.0 * handStiffness / (handStiffness + nominal * 0.8);
    ASSERT_NEAR(stylus().z, expected, 0.05) << "settled";
    for (int every = 1; every <= 4; ++every) {
        double lowest = 0.0;
        for (int i = 0; i < 120; ++i) {
            if (i % every == 0) frame();
            for (int t = 0; t < 10; ++t) {
                ticks(1);
                lowest = std::min(lowest, stylus().z);
            }
            step();
        }
        EXPECT_GT(lowest, expected - 0.1) << "a frame every " << every << " steps";
    }
    EXPECT_TRUE(errors().empty());
}

}  // namespace
