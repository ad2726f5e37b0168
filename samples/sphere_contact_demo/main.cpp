// sphere_contact_demo: a small sphere that follows the device bumps into a
// large sphere fixed at the centre of the workspace. The servo callback (in
// contact_model.cpp) computes the contact and the force a thousand times a
// second; the window shows both spheres, drawn from data copied out of the
// servo thread.
//
// Right-click the window and choose Quit to end the program.
#include <GL/glut.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "console_keys.h"
#include "contact_model.h"
#include "error_report.h"
#include "zv/zv.h"

namespace {

using sphere_contact::ContactModel;
using sphere_contact::Vec3;

HZV gDevice = ZV_INVALID_HANDLE;
ZVSchedulerHandle gCallback = ZV_INVALID_HANDLE;
ContactModel* gModel = nullptr;

// Recorded for programs that want to add mouse interaction; nothing reads it.
struct MouseState {
    int button = 0;
    int state = 0;
    int x = 0;
    int y = 0;
} gMouse;

// GLUT leaves its main loop only by ending the process, so the device is
// released here, whichever way the process ends normally.
void exitHandler() {
    zvStopScheduler();
    if (gDevice != ZV_INVALID_HANDLE) {
        zvDisableDevice(gDevice);
        gDevice = ZV_INVALID_HANDLE;
    }
}

void setupLighting() {
    const GLfloat light0Position[] = {10.0f, 4.0f, 100.0f, 0.0f};
    const GLfloat light1Position[] = {-1.0f, -2.0f, -100.0f, 0.0f};
    const GLfloat diffuse[] = {0.6f, 0.6f, 0.6f, 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, light0Position);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT1, GL_POSITION, light1Position);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_LIGHTING);
    glEnable(GL_NORMALIZE);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);
}

void drawSphere(GLUquadricObj* quadric, const Vec3& centre, double radius, const GLfloat colour[4]) {
    glPushMatrix();
    glTranslated(centre[0], centre[1], centre[2]);
    glColor4fv(colour);
    gluSphere(quadric, radius, 20, 20);
    glPopMatrix();
}

void display() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    setupLighting();

    // The servo thread changes the model every tick; a synchronous callback
    // runs on that thread between ticks, so the copy is consistent.
    sphere_contact::DisplayCopy copy;
    copy.model = gModel;
    zvScheduleSynchronous(sphere_contact::copyForDisplayCallback, &copy, ZV_DEFAULT_SCHEDULER_PRIORITY);

    const GLfloat deviceColour[] = {0.9f, 0.1f, 0.1f, 1.0f};
    const GLfloat fixedColour[] = {0.2f, 0.8f, 0.8f, 1.0f};
    const Vec3& fixedCentre = gModel->fixedCentre();
    GLUquadricObj* quadric = gluNewQuadric();
    // Without a depth test, the sphere drawn last covers the other: draw the
    // one farther along -z first.
    if (fixedCentre[2] > copy.displayedPosition[2]) {
        drawSphere(quadric, copy.displayedPosition, sphere_contact::kDeviceSphereRadius, deviceColour);
        drawSphere(quadric, fixedCentre, sphere_contact::kFixedSphereRadius, fixedColour);
    } else {
        drawSphere(quadric, fixedCentre, sphere_contact::kFixedSphereRadius, fixedColour);
        drawSphere(quadric, copy.displayedPosition, sphere_contact::kDeviceSphereRadius, deviceColour);
    }
    gluDeleteQuadric(quadric);

    glPopMatrix();
    glutSwapBuffers();
}

void mouse(int button, int state, int x, int y) { gMouse = {button, state, x, glutGet(GLUT_WINDOW_HEIGHT) - y}; }

void idle() {
    glutPostRedisplay();
    if (!zvWaitForCompletion(gCallback, ZV_WAIT_CHECK_STATUS)) {
        std::printf("The main scheduler callback has exited\n");
        std::printf("Press any key to quit.\n");
        std::fflush(stdout);
        consoleReadKey();
        std::exit(-1);
    }
    // About a hundred frames a second are plenty; drawing faster would only
    // take processor time from the servo thread.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void menu(int value) {
    if (value == 0) std::exit(0);
}

// Shows the whole usable workspace: a cube around its centre as large as its
// largest extent, looked at along z. Returns the workspace centre.
Vec3 initGraphics() {
    double box[6] = {};
    zvGetDoublev(ZV_USABLE_WORKSPACE_DIMENSIONS, box);
    const double half = std::max({box[3] - box[0], box[4] - box[1], box[5] - box[2]}) / 2.0;
    const Vec3 centre = {(box[0] + box[3]) / 2.0, (box[1] + box[4]) / 2.0, (box[2] + box[5]) / 2.0};

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(centre[0] - half, centre[0] + half, centre[1] - half, centre[1] + half, centre[2] + half, centre[2] - half);
    glShadeModel(GL_SMOOTH);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearDepth(1.0);
    glDisable(GL_DEPTH_TEST);
    return centre;
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("Starting application\n");
    std::fflush(stdout);
    std::atexit(exitHandler);

    gDevice = zvInitDevice(ZV_DEFAULT_DEVICE);
    ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        sampleReportFailureAndWaitForKey(stderr, &error, "Failed to initialize haptic device");
        return -1;
    }

    const char* model = zvGetString(ZV_DEVICE_MODEL_TYPE);
    std::printf("Found device %s\n", model != nullptr ? model : "");
    std::fflush(stdout);
    zvEnable(ZV_FORCE_OUTPUT);
    // A force above the device's maximum is cut down to the maximum rather
    // than dropped, so a deep push still feels like a wall.
    zvEnable(ZV_MAX_FORCE_CLAMPING);

    zvStartScheduler();
    error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        sampleReportFailureAndWaitForKey(stderr, &error, "Failed to start scheduler");
        return -1;
    }

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGB | GLUT_DEPTH);
    glutInitWindowSize(500, 500);
    glutCreateWindow("Sphere-sphere Contact Example");
    glutDisplayFunc(display);
    glutMouseFunc(mouse);
    glutIdleFunc(idle);
    glutCreateMenu(menu);
    glutAddMenuEntry("Quit", 0);
    glutAttachMenu(GLUT_RIGHT_BUTTON);

    const Vec3 fixedCentre = initGraphics();
    gModel = new ContactModel(fixedCentre, sphere_contact::kFixedSphereRadius, sphere_contact::kDeviceSphereRadius);
    gCallback = zvScheduleAsynchronous(sphere_contact::contactCallback, gModel, ZV_DEFAULT_SCHEDULER_PRIORITY);

    glutMainLoop();
    std::printf("Done\n");
    return 0;
}
