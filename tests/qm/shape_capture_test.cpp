// Geometry captured into shapes: through OpenGL's feedback buffer and from
// the library's own primitives, and what the shapes answer about it.
#include <GL/glu.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "qm/shapes/FeedbackBufferShape.h"
#include "qm/shapes/FeedbackStream.h"
#include "qm/shapes/PrimitiveShape.h"
#include "shape_test_support.h"

namespace {

using QM::FeedbackBufferShape;
using QM::MeshShape;
using QM::PrimitiveShape;
using qmtest::ShapeTest;
using zvu::zvuLineSegmentd;
using zvu::zvuVector3Dd;

zvuVector3Dd vec(const zvu::zvuVector3Df& v) { return {v.x, v.y, v.z}; }

// Where a point of the +-1 orthographic view lands in image space: window x
// and y of the 256-pixel viewport; depth is scaled and not checked here.
std::pair<double, double> window(double x, double y) { return {(x + 1.0) * 128.0, (y + 1.0) * 128.0}; }

class FeedbackCapture : public ShapeTest {
protected:
    unsigned id = 0;
    void SetUp() override {
        ShapeTest::SetUp();
        id = qmGenShapes(1);
    }
    FeedbackBufferShape* capture(void (*draw)()) {
        qmBeginShape(QM_SHAPE_FEEDBACK_BUFFER, id);
        draw();
        qmEndShape();
        return persistentAs<FeedbackBufferShape>(id);
    }
};

// OpenGL's driver decides how a quad reaches the feedback stream (one
// four-vertex polygon, or two triangles); either way the shape holds two
// triangles on the quad's corners that cover it exactly. (The fan a
// four-vertex polygon token gives is checked on a hand-made stream.)
TEST_F(FeedbackCapture, AQuadBecomesTwoTrianglesCoveringIt) {
    FeedbackBufferShape* shape = capture([] {
        glBegin(GL_QUADS);
        glVertex3d(-0.5, -0.5, 0);
        glVertex3d(0.5, -0.5, 0);
        glVertex3d(0.5, 0.5, 0);
        glVertex3d(-0.5, 0.5, 0);
        glEnd();
    });
    ASSERT_NE(shape, nullptr);
    EXPECT_TRUE(errors().empty());
    const QM::TouchGeometry& g = shape->geometry();
    ASSERT_EQ(g.triangleCount(), 2u);
    EXPECT_EQ(g.pointCount() + g.lineCount(), 0u);
    const std::pair<double, double> corners[4] = {window(-0.5, -0.5), window(0.5, -0.5), window(0.5, 0.5),
                                                  window(-0.5, 0.5)};
    double area = 0.0;
    for (std::size_t t = 0; t < 2; ++t) {
        const zvu::PrimitiveTriangle& tri = g.triangle(t);
        const zvuVector3Dd v[3] = {tri.v0(), tri.v1(), tri.v2()};
        for (const zvuVector3Dd& p : v) {
            bool onCorner = false;
            for (const auto& c : corners) {
                onCorner = onCorner || (std::abs(p.x - c.first) < 1e-3 && std::abs(p.y - c.second) < 1e-3);
            }
            EXPECT_TRUE(onCorner) << p.x << ", " << p.y;
        }
        area += 0.5 * std::abs((v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y));
    }
    EXPECT_NEAR(area, 128.0 * 128.0, 1e-2);
}

TEST(FeedbackStream, APolygonTokenBecomesAFan) {
    // A polygon token (0x0703) with four vertices.
    const float stream[] = {1795.0f, 4.0f, 0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    QM::TouchGeometry g;
    EXPECT_TRUE(QM::parseFeedbackStream(stream, 14, true, g).complete());
    ASSERT_EQ(g.triangleCount(), 2u);
    EXPECT_EQ(g.triangle(0).v2(), (zvuVector3Dd{1, 1, 0}));
    EXPECT_EQ(g.triangle(1).v1(), (zvuVector3Dd{1, 1, 0}));
    EXPECT_EQ(g.triangle(1).v2(), (zvuVector3Dd{0, 1, 0}));
}

// Whatever winding is the front, a segment that enters a square from the
// viewer's side meets its front face with the normal pointing back at the
// viewer, and one from behind meets the back face with the opposite normal.
TEST_F(ShapeTest, NormalsFaceTheSideTheSegmentCameFromForEitherWinding) {
    struct Case {
        const char* name;
        bool feedback;
        bool clockwise;
    };
    const Case cases[] = {
        {"feedback, counter-clockwise", true, false},
        {"feedback, clockwise", true, true},
        {"primitive, counter-clockwise", false, false},
        {"primitive, clockwise", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const unsigned id = qmGenShapes(1);
        qmTouchableFace(QM_FRONT_AND_BACK);
        if (c.feedback) {
            glFrontFace(c.clockwise ? GL_CW : GL_CCW);
            qmBeginShape(QM_SHAPE_FEEDBACK_BUFFER, id);
            qmtest::drawSquare(0.5, 0.0, c.clockwise);
            qmEndShape();
            glFrontFace(GL_CCW);
        } else {
            qmFrontFace(c.clockwise ? QM_CW : QM_CCW);
            qmBeginShape(QM_SHAPE_PRIMITIVE, id);
            qmBegin(QM_QUADS);
            const double h = 0.5;
            const double square[4][2] = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
            for (int k = 0; k < 4; ++k) {
                const int i = c.clockwise ? (4 - k) % 4 : k;
                qmVertex3d(square[i][0], square[i][1], 0.0);
            }
            qmEnd();
            qmEndShape();
            qmFrontFace(QM_CCW);
        }
        ASSERT_TRUE(errors().empty());
        QM::IShape* shape = persistentShape(id);
        ASSERT_NE(shape, nullptr);
        zvuVector3Dd point;
        zvuVector3Dd normal;
        QMenum face = nullptr;
        ASSERT_TRUE(shape->intersectSegment(zvuLineSegmentd({0.1, 0.2, 0.5}, {0.1, 0.2, -0.5}), point, normal, face));
        EXPECT_EQ(face, QM_FRONT);
        EXPECT_NEAR(normal.z, 1.0, 1e-9);
        EXPECT_NEAR(point.z, 0.0, 1e-5);
        EXPECT_NEAR(point.x, 0.1, 1e-5);
        ASSERT_TRUE(shape->intersectSegment(zvuLineSegmentd({0.1, 0.2, -0.5}, {0.1, 0.2, 0.5}), point, normal, face));
        EXPECT_EQ(face, QM_BACK);
        EXPECT_NEAR(normal.z, -1.0, 1e-9);
        // The same shape with its own touchable face set to the front only.
        auto* mesh = dynamic_cast<MeshShape*>(shape);
        ASSERT_NE(mesh, nullptr);
        EXPECT_FALSE(mesh->intersectSegmentWith(zvuLineSegmentd({0.1, 0.2, -0.5}, {0.1, 0.2, 0.5}), QM::FaceMode::Front,
                                                point, normal, face));
        // The plane reported as the nearest feature faces the front.
        QM::LocalFeatureSet features;
        zvuVector3Dd closest;
        ASSERT_TRUE(shape->closestFeatures(zvuLineSegmentd({0.1, 0.2, 0.3}, {0.1, 0.2, 0.0}), features, closest));
        ASSERT_EQ(features.size(), 1u);
        const auto& plane = dynamic_cast<const QM::LocalFeaturePlane&>(features.at(0)).plane();
        EXPECT_NEAR(plane.normal.z, 1.0, 1e-9);
        EXPECT_NEAR(closest.z, 0.0, 1e-5);
    }
}

TEST_F(FeedbackCapture, AnOverflowingHintAddsNoShape) {
    qmHinti(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, 1);
    FeedbackBufferShape* shape = capture([] {
        for (int i = 0; i < 10; ++i) {
            qmtest::drawSquare(0.1 * (i + 1) / 10.0, 0.0, false);
        }
    });
    EXPECT_EQ(shape, nullptr);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_OUT_OF_MEMORY});
    GLint mode = 0;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    EXPECT_EQ(mode, GL_RENDER);
    // The shape is closed: another can begin.
    qmHinti(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, 0);
    EXPECT_NE(capture([] { qmtest::drawSquare(0.5, 0.0, false); }), nullptr);
    EXPECT_TRUE(errors().empty());
}

TEST_F(FeedbackCapture, HintsThatCannotBeCountedAreRefused) {
    EXPECT_EQ(QM::FeedbackBufferShapeBuilder::capacityFor(0), 1966080);
    EXPECT_EQ(QM::FeedbackBufferShapeBuilder::capacityFor(100), 3000);
    EXPECT_EQ(QM::FeedbackBufferShapeBuilder::capacityFor(2147483647 / 30 + 1), 0);
    qmHinti(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, 2147483647);
    qmBeginShape(QM_SHAPE_FEEDBACK_BUFFER, id);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_OUT_OF_MEMORY});
    qmEndShape();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
}

TEST_F(FeedbackCapture, ASegmentThroughAPointVertexHitsItHeadOn) {
    FeedbackBufferShape* shape = capture([] {
        glBegin(GL_POINTS);
        glVertex3d(0.25, -0.5, 0.0);
        glEnd();
    });
    ASSERT_NE(shape, nullptr);
    ASSERT_EQ(shape->geometry().pointCount(), 1u);
    zvuVector3Dd point;
    zvuVector3Dd normal;
    QMenum face = nullptr;
    const zvuVector3Dd from{0.25, -0.5, 0.5};
    const zvuVector3Dd to{0.25, -0.5, -0.5};
    ASSERT_TRUE(shape->intersectSegment(zvuLineSegmentd(from, to), point, normal, face));
    EXPECT_EQ(face, QM_FRONT);
    EXPECT_NEAR(normal.z, 1.0, 1e-12);
    EXPECT_NEAR(point.x, 0.25, 1e-5);
    EXPECT_NEAR(point.y, -0.5, 1e-5);
    EXPECT_NEAR(point.z, 0.0, 1e-5);
    // A segment that passes beside the point misses it.
    EXPECT_FALSE(shape->intersectSegment(zvuLineSegmentd({0.3, -0.5, 0.5}, {0.3, -0.5, -0.5}), point, normal, face));
}

TEST_F(FeedbackCapture, BitmapAndPixelTokensAddNoGeometry) {
    FeedbackBufferShape* shape = capture([] {
        const GLubyte bits[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        const GLubyte pixels[16] = {};
        glRasterPos3d(0.1, 0.1, 0.0);
        glBitmap(8, 8, 0, 0, 0, 0, bits);
        glDrawPixels(2, 2, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
        glCopyPixels(0, 0, 2, 2, GL_COLOR);
        glBegin(GL_LINES);
        glVertex3d(-0.5, 0, 0);
        glVertex3d(0.5, 0, 0);
        glEnd();
    });
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(shape->geometry().pointCount(), 0u);
    EXPECT_EQ(shape->geometry().lineCount(), 1u);
    EXPECT_EQ(shape->geometry().triangleCount(), 0u);
    EXPECT_TRUE(shape->complete());
}

TEST_F(FeedbackCapture, NothingDrawnGivesAShapeThatNeverTouches) {
    FeedbackBufferShape* shape = capture([] {});
    ASSERT_NE(shape, nullptr);
    zvuVector3Dd point;
    zvuVector3Dd normal;
    QMenum face = nullptr;
    EXPECT_FALSE(shape->intersectSegment(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), point, normal, face));
    QM::LocalFeatureSet features;
    EXPECT_FALSE(shape->closestFeatures(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), features, point));
    EXPECT_TRUE(features.empty());
}

TEST_F(FeedbackCapture, BeginningOutsideRenderModeIsRefused) {
    GLfloat buffer[64];
    glFeedbackBuffer(64, GL_3D, buffer);
    glRenderMode(GL_FEEDBACK);
    qmBeginShape(QM_SHAPE_FEEDBACK_BUFFER, id);
    glRenderMode(GL_RENDER);
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
    // Nothing was opened.
    qmEndShape();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
}

// A sphere drawn by GLU, seen through a perspective projection: every hit of
// a segment aimed at the centre lies on the tessellated surface, no farther
// inside the true sphere than the tessellation allows, with the normal
// pointing out.
TEST_F(FeedbackCapture, AGluSphereIsHitOnItsSurfaceWithOutwardNormals) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(60.0, 1.0, 1.0, 10.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(0, 0, -4);
    const double radius = 1.0;
    const int slices = 48;
    const int stacks = 24;
    qmBeginShape(QM_SHAPE_FEEDBACK_BUFFER, id);
    GLUquadric* quadric = gluNewQuadric();
    gluSphere(quadric, radius, slices, stacks);
    gluDeleteQuadric(quadric);
    qmEndShape();
    ASSERT_TRUE(errors().empty());
    FeedbackBufferShape* shape = persistentAs<FeedbackBufferShape>(id);
    ASSERT_NE(shape, nullptr);
    EXPECT_GT(shape->geometry().triangleCount(), static_cast<std::size_t>(slices * (stacks - 2)));
    // The frame modelview is the identity, so the workspace is eye space,
    // where the drawing modelview put the sphere's centre at z = -4.
    const zvuVector3Dd centre{0.0, 0.0, -4.0};
    const double sag = radius * (1.0 - std::cos(M_PI / stacks) * std::cos(M_PI / slices));
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    int hits = 0;
    for (int i = 0; i < 500; ++i) {
        zvuVector3Dd dir{unit(random), unit(random), std::abs(unit(random)) + 0.2};
        dir.normalize();
        const zvuVector3Dd from = centre + dir * (2.0 * radius);
        zvuVector3Dd point;
        zvuVector3Dd normal;
        QMenum face = nullptr;
        // Aim at a point near the centre so that segments come from all
        // sides the camera sees.
        const zvuVector3Dd to = centre + zvuVector3Dd{0.1 * unit(random), 0.1 * unit(random), 0.0};
        ASSERT_TRUE(shape->intersectSegment(zvuLineSegmentd(from, to), point, normal, face)) << i;
        ++hits;
        EXPECT_EQ(face, QM_FRONT);
        const zvuVector3Dd r = point - centre;
        EXPECT_LE(r.length(), radius + 1e-4) << i;
        EXPECT_GE(r.length(), radius - sag - 1e-4) << i;
        EXPECT_GT(normal.dot(r.normalized()), 0.95) << i;
    }
    EXPECT_EQ(hits, 500);
}

// ---------------------------------------------------------------- primitives

class PrimitiveAssembly : public ShapeTest {
protected:
    PrimitiveShape* build(QMenum mode, int vertices, QMenum secondMode = nullptr, int secondVertices = 0) {
        const unsigned id = qmGenShapes(1);
        qmBeginShape(QM_SHAPE_PRIMITIVE, id);
        int n = 0;
        for (auto [m, count] : {std::pair{mode, vertices}, std::pair{secondMode, secondVertices}}) {
            if (count == 0) {
                continue;
            }
            qmBegin(m);
            for (int i = 0; i < count; ++i, ++n) {
                // Vertices on a circle, so no three are collinear.
                const double a = 0.3 * n;
                qmVertex3d(std::cos(a), std::sin(a), 0.01 * n);
            }
            qmEnd();
        }
        qmEndShape();
        return persistentAs<PrimitiveShape>(id);
    }
    static zvuVector3Dd vertexAt(int n) {
        const double a = 0.3 * n;
        return {std::cos(a), std::sin(a), 0.01 * n};
    }
};

TEST_F(PrimitiveAssembly, EveryModeAssemblesAsOpenGLDoes) {
    struct Case {
        const char* name;
        QMenum mode;
        int vertices;
        std::size_t points, lines, triangles;
    };
    const Case cases[] = {
        {"points", QM_POINTS, 3, 3, 0, 0},
        {"lines, odd count", QM_LINES, 5, 0, 2, 0},
        {"line strip", QM_LINE_STRIP, 4, 0, 3, 0},
        {"line loop of three", QM_LINE_LOOP, 3, 0, 3, 0},
        {"line loop of one", QM_LINE_LOOP, 1, 0, 1, 0},
        {"triangles, five vertices", QM_TRIANGLES, 5, 0, 0, 1},
        {"triangle strip", QM_TRIANGLE_STRIP, 5, 0, 0, 3},
        {"quads", QM_QUADS, 9, 0, 0, 4},
        {"quad strip", QM_QUAD_STRIP, 7, 0, 0, 4},
        {"polygon of twelve", QM_POLYGON, 12, 0, 0, 10},
        {"polygon of two", QM_POLYGON, 2, 0, 0, 0},
        {"not a mode", QM_FRONT, 6, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrimitiveShape* shape = build(c.mode, c.vertices);
        ASSERT_NE(shape, nullptr);
        EXPECT_TRUE(errors().empty());
        EXPECT_EQ(shape->geometry().pointCount(), c.points);
        EXPECT_EQ(shape->geometry().lineCount(), c.lines);
        EXPECT_EQ(shape->geometry().triangleCount(), c.triangles);
    }
}

// The vertex order of each triangle, which decides its front: strips keep
// one winding throughout, as OpenGL's do.
TEST_F(PrimitiveAssembly, StripsKeepOneWinding) {
    struct Case {
        const char* name;
        QMenum mode;
        int vertices;
        std::vector<std::array<int, 3>> triangles;
    };
    const Case cases[] = {
        {"quads", QM_QUADS, 4, {{0, 1, 2}, {0, 2, 3}}},
        {"triangle strip", QM_TRIANGLE_STRIP, 6, {{0, 1, 2}, {2, 1, 3}, {2, 3, 4}, {4, 3, 5}}},
        // Quads (a, b, d, c) and (c, d, f, e), each split like a quad.
        {"quad strip", QM_QUAD_STRIP, 6, {{0, 1, 3}, {0, 3, 2}, {2, 3, 5}, {2, 5, 4}}},
        {"polygon", QM_POLYGON, 5, {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrimitiveShape* shape = build(c.mode, c.vertices);
        ASSERT_NE(shape, nullptr);
        ASSERT_EQ(shape->geometry().triangleCount(), c.triangles.size());
        for (std::size_t t = 0; t < c.triangles.size(); ++t) {
            const zvu::PrimitiveTriangle& tri = shape->geometry().triangle(t);
            const zvuVector3Dd v[3] = {tri.v0(), tri.v1(), tri.v2()};
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR((v[k] - vertexAt(c.triangles[t][static_cast<std::size_t>(k)])).length(), 0.0, 1e-6)
                    << "triangle " << t << " vertex " << k;
            }
        }
    }
}

TEST_F(PrimitiveAssembly, SeveralPrimitivesInOneShapeAccumulate) {
    PrimitiveShape* shape = build(QM_TRIANGLES, 3, QM_LINES, 2);
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(shape->geometry().triangleCount(), 1u);
    EXPECT_EQ(shape->geometry().lineCount(), 1u);
}

TEST_F(PrimitiveAssembly, CallsOutOfPlaceAreRefused) {
    const unsigned id = qmGenShapes(1);
    qmBegin(QM_POINTS);  // no shape open
    qmVertex3d(0, 0, 0);
    qmEnd();
    EXPECT_EQ(errors(), (std::vector<QMenum>{QM_INVALID_OPERATION}));
    qmBeginShape(QM_SHAPE_FEEDBACK_BUFFER, id);
    qmBegin(QM_POINTS);  // not a primitive shape
    qmEndShape();
    EXPECT_EQ(errors(), std::vector<QMenum>{QM_INVALID_OPERATION});
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmVertex3f(0, 0, 0);  // outside qmBegin
    qmEnd();
    qmBegin(QM_POINTS);
    qmBegin(QM_POINTS);  // nested
    qmVertex3fv(nullptr);
    qmEnd();
    qmEndShape();
    EXPECT_EQ(errors(), (std::vector<QMenum>{QM_INVALID_OPERATION, QM_INVALID_VALUE}));
    auto* shape = persistentAs<PrimitiveShape>(id);
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(shape->geometry().pointCount(), 0u);
}

TEST_F(PrimitiveAssembly, EveryVertexFormGivesTheSamePoint) {
    const unsigned id = qmGenShapes(1);
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBegin(QM_POINTS);
    const double d[3] = {0.5, 0.25, -0.125};
    const float f[3] = {0.5f, 0.25f, -0.125f};
    qmVertex3d(d[0], d[1], d[2]);
    qmVertex3dv(d);
    qmVertex3f(f[0], f[1], f[2]);
    qmVertex3fv(f);
    qmEnd();
    qmEndShape();
    auto* shape = persistentAs<PrimitiveShape>(id);
    ASSERT_NE(shape, nullptr);
    ASSERT_EQ(shape->geometry().pointCount(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(vec(shape->geometry().point(i)), (zvuVector3Dd{0.5, 0.25, -0.125}));
    }
}

// Primitive vertices are taken in the coordinates of the modelview current
// when the shape began.
TEST_F(PrimitiveAssembly, TheModelviewPlacesTheShape) {
    glTranslated(0.0, 0.0, 0.25);
    const unsigned id = qmGenShapes(1);
    qmBeginShape(QM_SHAPE_PRIMITIVE, id);
    qmBegin(QM_QUADS);
    for (auto [x, y] : {std::pair{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}}) {
        qmVertex3d(x, y, 0.0);
    }
    qmEnd();
    qmEndShape();
    QM::IShape* shape = persistentShape(id);
    ASSERT_NE(shape, nullptr);
    zvuVector3Dd point;
    zvuVector3Dd normal;
    QMenum face = nullptr;
    ASSERT_TRUE(shape->intersectSegment(zvuLineSegmentd({0, 0, 1}, {0, 0, -1}), point, normal, face));
    EXPECT_NEAR(point.z, 0.25, 1e-6);
}

}  // namespace
