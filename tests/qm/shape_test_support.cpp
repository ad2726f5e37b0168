#include "shape_test_support.h"

#include <algorithm>

namespace qmtest {

void ShapeTest::SetUp()
{
    zvtest::EglTest::SetUp();
    device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ASSERT_NE(device, ZV_INVALID_HANDLE) << "the simulated device did not open";
    rc = qmCreateContext(device);
    ASSERT_NE(rc, nullptr);
    qmMakeCurrent(rc);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glFrontFace(GL_CCW);
}

void ShapeTest::TearDown()
{
    qmMakeCurrent(nullptr);
    qmDeleteContext(rc);
    if (device != ZV_INVALID_HANDLE) {
        zvDisableDevice(device);
    }
    zvtest::EglTest::TearDown();
}

QM::IShape* ShapeTest::persistentShape(unsigned id) { return context().persistentScene->getShapes().find(id); }

QM::IShape* ShapeTest::submittedShape(unsigned id)
{
    return context().sceneRenderer->getSubmittedScene().getShapes().find(id);
}

std::vector<QMenum> ShapeTest::errors()
{
    std::vector<QMenum> codes;
    for (QMerror e = qmGetError(); e.errorCode != QM_NO_ERROR && codes.size() < 100; e = qmGetError()) {
        codes.push_back(e.errorCode);
    }
    std::reverse(codes.begin(), codes.end());
    return codes;
}

void drawSquare(double h, double z, bool clockwise)
{
    glBegin(GL_QUADS);
    if (clockwise) {
        glVertex3d(-h, -h, z);
        glVertex3d(-h, h, z);
        glVertex3d(h, h, z);
        glVertex3d(h, -h, z);
    } else {
        glVertex3d(-h, -h, z);
        glVertex3d(h, -h, z);
        glVertex3d(h, h, z);
        glVertex3d(-h, h, z);
    }
    glEnd();
}

}  // namespace qmtest
