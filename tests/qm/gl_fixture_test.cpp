// The headless OpenGL fixture: a current compatibility context with the
// legacy pipeline the rendering library relies on.
#include <GL/gl.h>

#include "qm_test_support.h"
#include "support/egl_context.h"

extern "C" int qmtest_c_version_ok(void);
extern "C" int qmtest_c_bits(void);

namespace {

TEST(QmHeader, UsableFromC) {
    EXPECT_EQ(qmtest_c_version_ok(), 1);
    EXPECT_EQ(qmtest_c_bits(), 63 + 100 + 1000);
}

class QmHeadlessGl : public zvtest::EglTest {};

TEST_F(QmHeadlessGl, ContextIsCurrentWithItsViewport) {
    EXPECT_NE(eglGetCurrentContext(), EGL_NO_CONTEXT);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], gl().width());
    EXPECT_EQ(viewport[3], gl().height());
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_GE(depthBits, 16);
    EXPECT_FALSE(gl().version().empty());
}

TEST_F(QmHeadlessGl, FixedFunctionMatrixStacks) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(1, 2, 3);
    glScaled(2, 2, 2);
    GLdouble m[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[0], 2.0);
    EXPECT_EQ(m[12], 1.0);
    EXPECT_EQ(m[13], 2.0);
    EXPECT_EQ(m[14], 3.0);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -1, 1);
    glGetDoublev(GL_PROJECTION_MATRIX, m);
    EXPECT_EQ(m[10], -1.0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// The feedback buffer returns the transformed vertices of drawn primitives.
TEST_F(QmHeadlessGl, FeedbackBufferCapturesATriangle) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    GLfloat buffer[64] = {};
    glFeedbackBuffer(64, GL_3D, buffer);
    glRenderMode(GL_FEEDBACK);
    glBegin(GL_TRIANGLES);
    glVertex3f(-0.5f, -0.5f, 0.0f);
    glVertex3f(0.5f, -0.5f, 0.0f);
    glVertex3f(0.0f, 0.5f, 0.0f);
    glEnd();
    const GLint values = glRenderMode(GL_RENDER);
    ASSERT_EQ(values, 11);  // token, count, three vertices of three values
    EXPECT_EQ(buffer[0], static_cast<GLfloat>(GL_POLYGON_TOKEN));
    EXPECT_EQ(buffer[1], 3.0f);
    EXPECT_FLOAT_EQ(buffer[2], 0.25f * static_cast<GLfloat>(gl().width()));
}

// The depth buffer can be drawn into and read back.
TEST_F(QmHeadlessGl, DepthBufferReadsBack) {
    glEnable(GL_DEPTH_TEST);
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT | GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glBegin(GL_QUADS);
    glVertex3f(-1.0f, -1.0f, 0.0f);
    glVertex3f(1.0f, -1.0f, 0.0f);
    glVertex3f(1.0f, 1.0f, 0.0f);
    glVertex3f(-1.0f, 1.0f, 0.0f);
    glEnd();
    glFinish();
    GLfloat depth = -1.0f;
    glReadPixels(gl().width() / 2, gl().height() / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_NEAR(depth, 0.5f, 1e-3f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// A second context may live beside the fixture's.
TEST_F(QmHeadlessGl, TwoContextsCoexist) {
    zvtest::EglContext other;
    ASSERT_TRUE(other.valid()) << other.error();
    ASSERT_TRUE(other.makeCurrent());
    glMatrixMode(GL_MODELVIEW);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    other.release();
    ASSERT_TRUE(gl().makeCurrent());
    glMatrixMode(GL_MODELVIEW);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
