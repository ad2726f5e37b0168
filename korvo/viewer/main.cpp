// korvo_sim_viewer: shows the simulated arm of a running program and lets
// the user move its hand with the mouse.
//
//   korvo_sim_viewer [--list] [--pid <pid>] [--device <handle>] [--record <file>]
//
// The view: the maximum workspace (grey box), the usable workspace (green
// box), the stylus (yellow), the hand target (blue) with the spring between
// them, the force the motors apply as a red arrow (10 mm per newton) and a
// fading trail of the stylus. Left drag moves the hand in the view plane,
// the wheel or shift + left drag moves it in depth, right drag orbits the
// view; keys 1 to 3 hold the stylus buttons, g lets go of the stylus (grip
// 0) and takes it again, r starts and stops recording the hand to a
// trajectory file, q or Escape quits.
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glu.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <string>
#include <vector>

#include "ViewerLink.h"

namespace {

using korvo::sim::shm::DeviceState;
using korvo::viewer::HandDriver;
using korvo::viewer::Link;
using korvo::viewer::ProgramEntry;
using korvo::viewer::Recorder;

constexpr double kFieldOfView = 40.0;     // degrees, vertical
constexpr double kArrowPerNewton = 10.0;  // mm of arrow per N of force
constexpr double kWheelStep = 5.0;        // mm of depth per wheel notch
constexpr double kTrailSeconds = 2.0;
constexpr int kFrameMs = 16;
constexpr double kRetrySeconds = 0.5;

struct Vec {
    double x = 0, y = 0, z = 0;
};

struct TrailPoint {
    Vec position;
    double wall;
};

double wallClock() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Viewer {
    // What to attach to.
    long wantedPid = 0;
    int wantedHandle = -1;
    std::string recordPath;
    int recordings = 0;

    Link link;
    unsigned handle = 0;
    HandDriver driver;
    Recorder recorder;
    DeviceState state{};
    bool haveState = false;
    bool driverReady = false;
    std::string message;    // the latest problem or event, shown in the overlay
    std::string endedText;  // "<program> (pid N) ended" once it has
    double nextSearch = 0.0;
    double defaultStiffness = 0.5, defaultDamping = 0.005;

    // View.
    int width = 640, height = 480;
    double yaw = 0.35, pitch = 0.25, distance = 600.0;
    Vec centre;

    // Interaction.
    bool leftDown = false;   // dragging the hand
    bool rightDown = false;  // orbiting
    bool depthDrag = false;
    int lastX = 0, lastY = 0;
    int keysHeld = 0;
    std::deque<TrailPoint> trail;
};

Viewer viewer;

// ---------------------------------------------------------------- attaching

bool attachTo(long pid) {
    std::string error;
    if (!viewer.link.attach(pid, error)) {
        viewer.message = error;
        return false;
    }
    viewer.haveState = false;
    viewer.driverReady = false;
    viewer.trail.clear();
    viewer.endedText.clear();
    viewer.message = "attached to " + viewer.link.program() + " (pid " + std::to_string(pid) + ")";
    std::fprintf(stderr, "korvo_sim_viewer: %s\n", viewer.message.c_str());
    return true;
}

// With a pid asked for, that program; otherwise the only usable program, or
// the newest when several appeared while waiting.
void search() {
    // The program asked for closed its devices earlier and has now ended.
    if (viewer.wantedPid != 0 && !viewer.endedText.empty() && !korvo::viewer::processRuns(viewer.wantedPid))
        viewer.wantedPid = 0;
    if (viewer.wantedPid != 0) {
        attachTo(viewer.wantedPid);
        return;
    }
    std::vector<ProgramEntry> programs = korvo::viewer::listPrograms();
    std::erase_if(programs, [](const ProgramEntry& p) { return !p.problem.empty() || p.devices == 0; });
    if (programs.empty()) {
        if (viewer.message.empty() || viewer.endedText.empty())
            viewer.message = "waiting for a program with a simulated device";
        return;
    }
    attachTo(programs.back().pid);
}

std::string nextRecordPath() {
    if (!viewer.recordPath.empty() && viewer.recordings == 0) return viewer.recordPath;
    const std::string base = viewer.recordPath.empty() ? "korvo_recording" : viewer.recordPath;
    return base + "." + std::to_string(viewer.link.pid()) + "." + std::to_string(viewer.recordings) + ".csv";
}

void programEnded() {
    if (viewer.recorder.recording()) {
        viewer.recorder.stop(viewer.state.time, nextRecordPath());
        ++viewer.recordings;
    }
    viewer.endedText = viewer.link.program() + " (pid " + std::to_string(viewer.link.pid()) + ")" +
                       (viewer.link.programRuns() ? " closed its devices" : " ended");
    viewer.message = viewer.endedText + "; waiting for the next program";
    // A program that ended does not come back under its pid: the next one
    // is whichever starts, unless this one merely closed its devices.
    if (!viewer.link.programRuns()) viewer.wantedPid = 0;
    std::fprintf(stderr, "korvo_sim_viewer: %s\n", viewer.message.c_str());
    viewer.link.detach();
    viewer.haveState = false;
    viewer.driverReady = false;
    viewer.leftDown = viewer.rightDown = false;
    viewer.keysHeld = 0;
}

// ---------------------------------------------------------------- the frame's work

void fitView(const DeviceState& s) {
    viewer.centre = {(s.maximum[0] + s.maximum[1]) / 2, (s.maximum[2] + s.maximum[3]) / 2,
                     (s.maximum[4] + s.maximum[5]) / 2};
    const double extent =
        std::max({s.maximum[1] - s.maximum[0], s.maximum[3] - s.maximum[2], s.maximum[5] - s.maximum[4]});
    viewer.distance = 1.9 * extent;
}

void update(int) {
    glutTimerFunc(kFrameMs, update, 0);
    const double now = wallClock();
    if (viewer.link.attached() && !viewer.link.alive()) programEnded();
    if (!viewer.link.attached()) {
        if (now >= viewer.nextSearch) {
            viewer.nextSearch = now + kRetrySeconds;
            search();
        }
        glutPostRedisplay();
        return;
    }
    if (!viewer.haveState) {
        const std::uint32_t mask = viewer.link.openMask();
        if (viewer.wantedHandle >= 0)
            viewer.handle = static_cast<unsigned>(viewer.wantedHandle);
        else if (mask != 0)
            viewer.handle = static_cast<unsigned>(__builtin_ctz(mask));
    }
    DeviceState s;
    std::string error;
    if (viewer.link.read(viewer.handle, s, error)) {
        if (!viewer.driverReady) {
            viewer.driver.reset(s);
            viewer.driverReady = true;
            if (s.gripStiffness > 0) {
                viewer.defaultStiffness = s.gripStiffness;
                viewer.defaultDamping = s.gripDamping;
            }
            fitView(s);
        }
        viewer.state = s;
        viewer.haveState = true;
        if (viewer.message.rfind("the device", 0) == 0 || viewer.message.rfind("device ", 0) == 0)
            viewer.message.clear();
        viewer.driver.pump(viewer.link, viewer.handle, s, &viewer.recorder);
        viewer.trail.push_back({{s.position[0], s.position[1], s.position[2]}, now});
        while (!viewer.trail.empty() && viewer.trail.front().wall < now - kTrailSeconds) viewer.trail.pop_front();
    } else {
        // A refused record is not used: nothing is drawn or sent from it,
        // and the hand is taken over afresh from the next good one (it may
        // be another device's, opened in the same slot).
        viewer.haveState = false;
        viewer.driverReady = false;
        viewer.message = error;
    }
    glutPostRedisplay();
}

// ---------------------------------------------------------------- drawing

void colour(double r, double g, double b, double a = 1.0) { glColor4d(r, g, b, a); }

void box(const double b[6]) {
    const double x[2] = {b[0], b[1]}, y[2] = {b[2], b[3]}, z[2] = {b[4], b[5]};
    glBegin(GL_LINES);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
            glVertex3d(x[0], y[i], z[j]);
            glVertex3d(x[1], y[i], z[j]);
            glVertex3d(x[i], y[0], z[j]);
            glVertex3d(x[i], y[1], z[j]);
            glVertex3d(x[i], y[j], z[0]);
            glVertex3d(x[i], y[j], z[1]);
        }
    glEnd();
}

void sphereAt(const double p[3], double radius) {
    glPushMatrix();
    glTranslated(p[0], p[1], p[2]);
    glutSolidSphere(radius, 16, 12);
    glPopMatrix();
}

// An arrow from p along v (mm), with a cone for its head.
void arrow(const double p[3], const double v[3]) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length < 1e-6) return;
    glLineWidth(4.0f);
    glBegin(GL_LINES);
    glVertex3dv(p);
    glVertex3d(p[0] + v[0], p[1] + v[1], p[2] + v[2]);
    glEnd();
    glLineWidth(1.0f);
    // The cone points along +z; turn +z onto v.
    const double head = std::min(12.0, 0.35 * length + 4.0);
    const double dx = v[0] / length, dy = v[1] / length, dz = v[2] / length;
    const double angle = std::acos(std::clamp(dz, -1.0, 1.0)) * 180.0 / M_PI;
    glPushMatrix();
    glTranslated(p[0] + v[0] - dx * head, p[1] + v[1] - dy * head, p[2] + v[2] - dz * head);
    if (std::fabs(dx) + std::fabs(dy) > 1e-9)
        glRotated(angle, -dy, dx, 0.0);
    else if (dz < 0)
        glRotated(180.0, 1.0, 0.0, 0.0);
    glutSolidCone(head * 0.4, head, 12, 2);
    glPopMatrix();
}

// A zigzag between the stylus and the hand target: the grip's spring.
void spring(const double a[3], const double b[3]) {
    const double d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (length < 1e-6) return;
    // Any direction across the spring.
    double across[3] = {-d[1], d[0], 0.0};
    double n = std::sqrt(across[0] * across[0] + across[1] * across[1]);
    if (n < 1e-9) {
        across[0] = 0;
        across[1] = -d[2];
        across[2] = d[1];
        n = std::sqrt(across[1] * across[1] + across[2] * across[2]);
    }
    for (double& c : across) c *= 3.0 / n;
    constexpr int kCoils = 12;
    glBegin(GL_LINE_STRIP);
    for (int i = 0; i <= kCoils; ++i) {
        const double u = static_cast<double>(i) / kCoils;
        const double side = (i == 0 || i == kCoils) ? 0.0 : (i % 2 == 0 ? 1.0 : -1.0);
        glVertex3d(a[0] + d[0] * u + across[0] * side, a[1] + d[1] * u + across[1] * side,
                   a[2] + d[2] * u + across[2] * side);
    }
    glEnd();
}

void text(int x, int y, const std::string& line) {
    glRasterPos2i(x, y);
    glutBitmapString(GLUT_BITMAP_8_BY_13, reinterpret_cast<const unsigned char*>(line.c_str()));
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char buffer[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

void overlay() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, viewer.width, 0, viewer.height);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    std::vector<std::string> lines;
    if (viewer.haveState) {
        const DeviceState& s = viewer.state;
        const double f = std::sqrt(s.force[0] * s.force[0] + s.force[1] * s.force[1] + s.force[2] * s.force[2]);
        lines.push_back(format("%s (pid %ld), device %u: %s", viewer.link.program().c_str(), viewer.link.pid(),
                               viewer.handle, s.model));
        lines.push_back(
            format("t %.3f s  stylus (%.1f, %.1f, %.1f) mm", s.time, s.position[0], s.position[1], s.position[2]));
        lines.push_back(format("hand (%.1f, %.1f, %.1f) mm  grip %.2f N/mm", s.handTarget[0], s.handTarget[1],
                               s.handTarget[2], s.gripStiffness));
        lines.push_back(
            format("force %.2f N (%.2f, %.2f, %.2f)  arrow 10 mm/N", f, s.force[0], s.force[1], s.force[2]));
        lines.push_back(format("forces %s  motors %s  last fault %d  buttons %d%d%d", s.forcesOn ? "on" : "off",
                               s.warmMotors ? "WARM" : "ok", s.lastFault, s.buttons & 1, (s.buttons >> 1) & 1,
                               (s.buttons >> 2) & 1));
        std::string hand = s.held ? "viewer holds the hand" : "hand free";
        if (s.playing) hand += s.held ? " (trajectory paused)" : " (trajectory playing)";
        if (viewer.recorder.recording()) hand += format("  RECORDING %zu points", viewer.recorder.points());
        lines.push_back(hand);
        if (s.rendererValid)
            lines.push_back(format("proxy (%.1f, %.1f, %.1f)%s", s.proxy[0], s.proxy[1], s.proxy[2],
                                   s.touching ? " touching" : ""));
    }
    if (!viewer.message.empty()) lines.push_back(viewer.message);
    colour(1, 1, 1);
    int y = viewer.height - 16;
    for (const std::string& l : lines) {
        text(8, y, l);
        y -= 15;
    }
    colour(0.7, 0.7, 0.7);
    text(8, 8, "drag: hand  wheel/shift-drag: depth  right: orbit  1-3: buttons  g: grip  r: record  q: quit");
}

void display() {
    glClearColor(0.08f, 0.08f, 0.1f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFieldOfView, static_cast<double>(viewer.width) / std::max(1, viewer.height), 10.0, 5000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(0, 0, -viewer.distance);
    glRotated(viewer.pitch * 180.0 / M_PI, 1, 0, 0);
    glRotated(-viewer.yaw * 180.0 / M_PI, 0, 1, 0);
    glTranslated(-viewer.centre.x, -viewer.centre.y, -viewer.centre.z);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    if (viewer.haveState) {
        const DeviceState& s = viewer.state;
        colour(0.5, 0.5, 0.5);
        box(s.maximum);
        colour(0.1, 0.9, 0.1);
        glLineWidth(2.0f);
        box(s.usable);
        glLineWidth(1.0f);
        // Trail: older points fade out.
        const double now = wallClock();
        glBegin(GL_LINE_STRIP);
        for (const TrailPoint& p : viewer.trail) {
            colour(1.0, 0.6, 0.1, std::clamp(1.0 - (now - p.wall) / kTrailSeconds, 0.0, 1.0));
            glVertex3d(p.position.x, p.position.y, p.position.z);
        }
        glEnd();
        colour(0.4, 0.8, 1.0);
        spring(s.position, s.handTarget);
        colour(0.3, 0.45, 1.0);
        glPushMatrix();
        glTranslated(s.handTarget[0], s.handTarget[1], s.handTarget[2]);
        glutWireCube(8.0);
        glPopMatrix();
        colour(1.0, 0.85, 0.2);
        sphereAt(s.position, 4.0);
        const double v[3] = {s.force[0] * kArrowPerNewton, s.force[1] * kArrowPerNewton, s.force[2] * kArrowPerNewton};
        colour(1.0, 0.1, 0.1);
        arrow(s.position, v);
        if (s.rendererValid) {
            colour(0.9, 0.2, 0.9);
            sphereAt(s.proxy, 3.0);
            const double n[3] = {s.touchNormal[0] * 20, s.touchNormal[1] * 20, s.touchNormal[2] * 20};
            if (s.touching) arrow(s.proxy, n);
        }
    }
    overlay();
    glutSwapBuffers();
}

void reshape(int w, int h) {
    viewer.width = w;
    viewer.height = h;
    glViewport(0, 0, w, h);
}

// ---------------------------------------------------------------- input

// The view's right, up and toward-the-viewer directions in the world.
void viewAxes(Vec& right, Vec& up, Vec& back) {
    const double cy = std::cos(viewer.yaw), sy = std::sin(viewer.yaw);
    const double cp = std::cos(viewer.pitch), sp = std::sin(viewer.pitch);
    // The columns of the inverse of the view's rotation, Ry(yaw) Rx(-pitch).
    right = {cy, 0, -sy};
    up = {-sp * sy, cp, -sp * cy};
    back = {cp * sy, sp, cp * cy};
}

// Millimetres per pixel at the depth of the workspace centre.
double mmPerPixel() {
    return 2.0 * viewer.distance * std::tan(kFieldOfView * M_PI / 360.0) / std::max(1, viewer.height);
}

void moveHand(const Vec& delta) {
    if (!viewer.driverReady) return;
    const double* t = viewer.driver.target();
    const DeviceState& s = viewer.state;
    double target[3] = {t[0] + delta.x, t[1] + delta.y, t[2] + delta.z};
    // The device clamps too; clamping here keeps the drag from running away
    // beyond the end stops.
    for (int i = 0; i < 3; ++i) target[i] = std::clamp(target[i], s.maximum[2 * i], s.maximum[2 * i + 1]);
    viewer.driver.setTarget(target);
}

// The viewer holds the hand while it drags it or holds a button down.
void updateHold() { viewer.driver.setHold(viewer.leftDown || viewer.keysHeld != 0); }

// Taking the hand starts from where it is now: a trajectory or the program
// may have moved it since the viewer last held it.
void takeHand() {
    if (viewer.leftDown || viewer.keysHeld != 0 || !viewer.haveState || viewer.state.held) return;
    viewer.driver.setTarget(viewer.state.handTarget);
}

void mouse(int button, int buttonState, int x, int y) {
    if (button == 3 || button == 4) {  // the wheel
        if (buttonState != GLUT_DOWN) return;
        Vec right, up, back;
        viewAxes(right, up, back);
        const double step = button == 3 ? -kWheelStep : kWheelStep;
        moveHand({back.x * step, back.y * step, back.z * step});
        return;
    }
    const bool down = buttonState == GLUT_DOWN;
    if (button == GLUT_LEFT_BUTTON && down) takeHand();
    if (button == GLUT_LEFT_BUTTON) {
        viewer.leftDown = down;
        if (down) viewer.depthDrag = (glutGetModifiers() & GLUT_ACTIVE_SHIFT) != 0;
    } else if (button == GLUT_RIGHT_BUTTON) {
        viewer.rightDown = down;
    }
    if (down) {
        viewer.lastX = x;
        viewer.lastY = y;
    }
    updateHold();
}

void motion(int x, int y) {
    const int dx = x - viewer.lastX, dy = y - viewer.lastY;
    viewer.lastX = x;
    viewer.lastY = y;
    if (viewer.rightDown) {
        viewer.yaw += dx * 0.01;
        viewer.pitch = std::clamp(viewer.pitch + dy * 0.01, -1.5, 1.5);
        return;
    }
    if (!viewer.leftDown) return;
    Vec right, up, back;
    viewAxes(right, up, back);
    const double k = mmPerPixel();
    if (viewer.depthDrag)
        moveHand({back.x * dy * k, back.y * dy * k, back.z * dy * k});
    else
        moveHand({(right.x * dx - up.x * dy) * k, (right.y * dx - up.y * dy) * k, (right.z * dx - up.z * dy) * k});
}

void keyboard(unsigned char key, int, int) {
    if (key >= '1' && key <= '3') {
        takeHand();
        viewer.keysHeld |= 1 << (key - '1');
        viewer.driver.setButtons(viewer.keysHeld);
        updateHold();
    } else if (key == 'r' && viewer.haveState) {
        const DeviceState& s = viewer.state;
        if (!viewer.recorder.recording()) {
            viewer.recorder.start(s.time, s.period, s.handTarget, s.buttons);
            viewer.message = "recording the hand";
        } else {
            const std::string path = nextRecordPath();
            const bool ok = viewer.recorder.stop(s.time, path);
            ++viewer.recordings;
            viewer.message = ok ? "recorded to " + path + " (play it with KORVO_SIM_TRAJECTORY)"
                                : "cannot write " + path + ": " + std::strerror(errno);
            std::fprintf(stderr, "korvo_sim_viewer: %s\n", viewer.message.c_str());
        }
    } else if (key == 'g' && viewer.driverReady) {
        if (viewer.driver.gripStiffness() > 0)
            viewer.driver.setGrip(0.0, 0.0);
        else
            viewer.driver.setGrip(viewer.defaultStiffness, viewer.defaultDamping);
    } else if (key == 'q' || key == 27) {
        glutLeaveMainLoop();
    }
}

void keyboardUp(unsigned char key, int, int) {
    if (key >= '1' && key <= '3') {
        viewer.keysHeld &= ~(1 << (key - '1'));
        viewer.driver.setButtons(viewer.keysHeld);
        updateHold();
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: korvo_sim_viewer [--list] [--pid <pid>] [--device <handle>] [--record <file>]\n"
                 "  --list      show the running programs with simulated devices and exit\n"
                 "  --pid       attach to this program (default: the only one, or ask)\n"
                 "  --device    show this device handle (default: the first open one)\n"
                 "  --record    file the first recording (key r) is written to\n");
    return 2;
}

int list() {
    const std::vector<ProgramEntry> programs = korvo::viewer::listPrograms();
    if (programs.empty()) {
        std::printf("no program with a simulated device is running\n");
        return 0;
    }
    std::printf("%8s  %-24s  %s\n", "pid", "program", "devices");
    for (const ProgramEntry& p : programs) {
        std::string devices;
        for (unsigned h = 0; h < 32; ++h)
            if ((p.devices >> h) & 1u) devices += (devices.empty() ? "" : ",") + std::to_string(h);
        if (!p.problem.empty())
            std::printf("%8ld  %s\n", p.pid, p.problem.c_str());
        else
            std::printf("%8ld  %-24s  %s\n", p.pid, p.program.c_str(), devices.empty() ? "-" : devices.c_str());
    }
    return 0;
}

// With several programs running and none named, the user picks one.
bool choose() {
    std::vector<ProgramEntry> programs = korvo::viewer::listPrograms();
    std::erase_if(programs, [](const ProgramEntry& p) { return !p.problem.empty() || p.devices == 0; });
    if (programs.size() < 2) return true;
    std::printf("Several programs have simulated devices:\n");
    for (std::size_t i = 0; i < programs.size(); ++i)
        std::printf("  %zu) %s (pid %ld)\n", i + 1, programs[i].program.c_str(), programs[i].pid);
    std::printf("Which one? ");
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    const long n = std::strtol(answer.c_str(), nullptr, 10);
    if (n < 1 || n > static_cast<long>(programs.size())) {
        std::fprintf(stderr, "korvo_sim_viewer: no such choice\n");
        return false;
    }
    viewer.wantedPid = programs[static_cast<std::size_t>(n - 1)].pid;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // --list and --help need no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--list") == 0) return list();
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage();
            return 0;
        }
    }
    glutInit(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return usage();
        char* end = nullptr;
        if (a == "--pid") {
            viewer.wantedPid = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || viewer.wantedPid <= 0) return usage();
        } else if (a == "--device") {
            viewer.wantedHandle = static_cast<int>(std::strtol(argv[++i], &end, 10));
            if (*end != '\0' || viewer.wantedHandle < 0 || viewer.wantedHandle >= 16) return usage();
        } else if (a == "--record") {
            viewer.recordPath = argv[++i];
        } else {
            return usage();
        }
    }
    if (viewer.wantedPid != 0) {
        // A segment that is refused for what it is (not for being absent or
        // half made) ends the viewer with the reason.
        std::string error;
        Link probe;
        if (!probe.attach(viewer.wantedPid, error) && error.find("refused") != std::string::npos) {
            std::fprintf(stderr, "korvo_sim_viewer: %s\n", error.c_str());
            return 1;
        }
    } else if (!choose()) {
        return 1;
    }
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
    glutInitWindowSize(viewer.width, viewer.height);
    glutInitWindowPosition(0, 0);
    glutCreateWindow("korvo_sim_viewer");
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
    glutIgnoreKeyRepeat(1);
    glutDisplayFunc(display);
    glutReshapeFunc(reshape);
    glutMouseFunc(mouse);
    glutMotionFunc(motion);
    glutKeyboardFunc(keyboard);
    glutKeyboardUpFunc(keyboardUp);
    glutTimerFunc(0, update, 0);
    glutMainLoop();
    // Closing lets go of the hand (a trajectory resumes); the program runs on.
    if (viewer.link.attached() && viewer.driverReady) viewer.driver.letGo(viewer.link, viewer.handle);
    if (viewer.recorder.recording()) viewer.recorder.stop(viewer.state.time, nextRecordPath());
    return 0;
}
