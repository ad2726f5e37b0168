// hello_haptics_demo: a white square on black that can be touched. The
// square is drawn with ordinary OpenGL calls; wrapping the drawing in a
// depth-buffer shape, inside a rendering-library frame, makes the same
// drawing touchable.
//
// Right-click the window and choose Quit to end the program.
//
// hello_haptics_demo --trace <file> also writes, once a frame, the time and
// the device and proxy positions in device workspace coordinates (mm) as
// CSV lines "time,device_x,device_y,device_z,proxy_x,proxy_y,proxy_z".
#include <GL/glut.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "console_keys.h"
#include "error_report.h"
#include "qm/qm.h"
#include "zv/zv.h"

namespace {

HZV gDevice = ZV_INVALID_HANDLE;
HQMRC gContext = nullptr;
QMuint gShape = 0;
std::FILE* gTrace = nullptr;
const auto gStart = std::chrono::steady_clock::now();

// GLUT leaves its main loop only by ending the process, so everything is
// released here, whichever way the process ends normally.
void exitHandler() {
    if (gTrace != nullptr) {
        std::fclose(gTrace);
        gTrace = nullptr;
    }
    if (gContext != nullptr) {
        qmMakeCurrent(nullptr);
        qmDeleteContext(gContext);
        gContext = nullptr;
    }
    if (gDevice != ZV_INVALID_HANDLE) {
        zvDisableDevice(gDevice);
        gDevice = ZV_INVALID_HANDLE;
    }
}

// Reports each rendering-library error once, so that a failing frame does
// not flood the console at the frame rate.
void reportRenderingErrors() {
    static std::set<std::string> reported;
    for (QMerror e = qmGetError(); e.errorCode != QM_NO_ERROR; e = qmGetError()) {
        if (reported.insert(e.errorCode).second) {
            std::fprintf(stderr, "Rendering library error: %s\n", e.errorCode);
        }
    }
}

// A point in model coordinates taken to the device workspace with the
// library's view-touch and touch-workspace matrices.
void toWorkspace(const double model[3], double workspace[3]) {
    double viewTouch[16];
    double touchWorkspace[16];
    qmGetDoublev(QM_VIEWTOUCH_MATRIX, viewTouch);
    qmGetDoublev(QM_TOUCHWORKSPACE_MATRIX, touchWorkspace);
    double view[3];
    for (int r = 0; r < 3; ++r) {
        view[r] =
            viewTouch[r] * model[0] + viewTouch[4 + r] * model[1] + viewTouch[8 + r] * model[2] + viewTouch[12 + r];
    }
    for (int r = 0; r < 3; ++r) {
        workspace[r] = touchWorkspace[r] * view[0] + touchWorkspace[4 + r] * view[1] + touchWorkspace[8 + r] * view[2] +
                       touchWorkspace[12 + r];
    }
}

void traceFrame() {
    double device[3] = {0, 0, 0};
    double proxy[3] = {0, 0, 0};
    qmGetDoublev(QM_DEVICE_POSITION, device);
    qmGetDoublev(QM_PROXY_POSITION, proxy);
    double d[3];
    double p[3];
    toWorkspace(device, d);
    toWorkspace(proxy, p);
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - gStart).count();
    std::fprintf(gTrace, "%.4f,%.4f,%.4f,%.4f,%.4f,%.4f,%.4f\n", t, d[0], d[1], d[2], p[0], p[1], p[2]);
    std::fflush(gTrace);
}

void display() {
    qmBeginFrame();
    if (gTrace != nullptr) {
        traceFrame();
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1.0f, 1.0f, 1.0f);
    qmBeginShape(QM_SHAPE_DEPTH_BUFFER, gShape);
    glBegin(GL_QUADS);
    glVertex3d(0.25, 0.25, 0.0);
    glVertex3d(0.75, 0.25, 0.0);
    glVertex3d(0.75, 0.75, 0.0);
    glVertex3d(0.25, 0.75, 0.0);
    glEnd();
    qmEndShape();
    qmEndFrame();
    // The window is single-buffered: the drawing reaches it on a flush.
    glFlush();
    reportRenderingErrors();
}

// The scene is drawn again about thirty times a second, so that each frame
// hands the collision thread a fresh capture and fresh device state reaches
// the program.
void redraw(int) {
    glutPostRedisplay();
    glutTimerFunc(33, redraw, 0);
}

void menu(int value) {
    if (value == 0) std::exit(0);
}

void initGraphics() {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, 1.0, 0.0, 1.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_DEPTH_TEST);
}

void waitForKeyAndExit(int status) {
    std::fprintf(stderr, "Press any key to exit\n");
    consoleReadKey();
    std::exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    std::atexit(exitHandler);
    glutInit(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--trace") == 0) {
            gTrace = std::fopen(argv[i + 1], "w");
            if (gTrace == nullptr) {
                std::fprintf(stderr, "Cannot write the trace %s\n", argv[i + 1]);
                return 1;
            }
            std::fprintf(gTrace, "time,device_x,device_y,device_z,proxy_x,proxy_y,proxy_z\n");
        }
    }

    glutInitDisplayMode(GLUT_SINGLE | GLUT_RGB | GLUT_DEPTH);
    glutInitWindowSize(250, 250);
    glutInitWindowPosition(100, 100);
    glutCreateWindow("Hello Haptics");
    glutCreateMenu(menu);
    glutAddMenuEntry("Quit", 0);
    glutAttachMenu(GLUT_RIGHT_BUTTON);
    initGraphics();

    gDevice = zvInitDevice(ZV_DEFAULT_DEVICE);
    ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        samplePrintError(stderr, &error, "Failed to initialize haptic device");
        waitForKeyAndExit(-1);
    }
    if (zvGetError().errorCode != ZV_SUCCESS) {
        std::fprintf(stderr, "Error initializing haptic device.\n");
        waitForKeyAndExit(-1);
    }

    // One rendering context on the device, and one shape identifier for the
    // square.
    gContext = qmCreateContext(gDevice);
    qmMakeCurrent(gContext);
    gShape = qmGenShapes(1);

    // The graphics box [0, 1] x [0, 1] x [-1, 1] fills this part of the
    // device workspace (mm).
    qmWorkspace(-80, -80, -70, 80, 80, 20);
    qmMatrixMode(QM_TOUCHWORKSPACE);
    qmLoadIdentity();
    qmOrtho(0, 1, 0, 1, -1, 1);
    reportRenderingErrors();

    glutDisplayFunc(display);
    glutTimerFunc(33, redraw, 0);
    glutMainLoop();
    return 0;
}
