// Depth-buffer shapes: capture and query cost.
//
// A sphere of radius 1 (GLU, 96 slices and stacks, about 18k triangles)
// fills most of an orthographic view; the rest of the image is background
// (the far plane). For depth images of 256 x 256 and 1024 x 768 pixels on a
// headless context, the benchmark prints:
//  - one qmEndShape read: the builder's end() (pixel-store set-up,
//    glReadPixels of the depth buffer, glFinish, the shape and its
//    matrices), with the drawing already finished, and the whole capture
//    (begin, draw, end);
//  - one intersectSegment across the image: a segment from the image's left
//    edge to its right edge, from in front of the sphere to behind it, which
//    meets the sphere's front; also a proxy-sized step through the surface
//    and one closestFeatures query;
//  - the same for a feedback-buffer shape of the same drawing (its
//    triangles in a bounding-volume hierarchy), the alternative a user would
//    pick, and the ratio depth / feedback.
// Figures are medians. The machine they come from is shared, so queries are
// timed in processor time of the process (single-threaded code, immune to
// waiting for a processor); captures are given both in processor time
// (which includes the OpenGL driver's helper threads) and wall-clock time.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#include "qm/collision/LocalFeature.h"
#include "qm/shapes/DepthBufferShape.h"
#include "qm/shapes/FeedbackBufferShape.h"
#include "qm/state/State.h"

namespace {

using Clock = std::chrono::steady_clock;
using zvu::zvuLineSegmentd;
using zvu::zvuVector3Dd;

constexpr int kSurfaceWidth = 1024;
constexpr int kSurfaceHeight = 768;
constexpr double kHalfHeight = 1.3;
constexpr double kDepth = 2.0;

bool hasExtension(const char* list, const char* name) {
    if (list == nullptr) return false;
    const std::size_t length = std::strlen(name);
    for (const char* at = list; (at = std::strstr(at, name)) != nullptr; at += length)
        if ((at == list || at[-1] == ' ') && (at[length] == '\0' || at[length] == ' ')) return true;
    return false;
}

// A compatibility-profile context on a pbuffer, without a display server.
bool makeHeadlessContext() {
    EGLDisplay display = EGL_NO_DISPLAY;
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (hasExtension(client, "EGL_MESA_platform_surfaceless") && hasExtension(client, "EGL_EXT_platform_base")) {
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay != nullptr)
            display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    }
    if (display == EGL_NO_DISPLAY) display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor) || !eglBindAPI(EGL_OPENGL_API))
        return false;
    const EGLint configAttributes[] = {
        EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_DEPTH_SIZE, 24, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &count) || count < 1) return false;
    const EGLint surfaceAttributes[] = {EGL_WIDTH, kSurfaceWidth, EGL_HEIGHT, kSurfaceHeight, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    const EGLint compatibility[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                    EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, compatibility);
    if (context == EGL_NO_CONTEXT) context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    return surface != EGL_NO_SURFACE && context != EGL_NO_CONTEXT &&
           eglMakeCurrent(display, surface, surface, context) == EGL_TRUE;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double microsecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Processor time of the process, in microseconds.
double cpuMicroseconds() { return 1e6 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Median over batches of the processor time of one call, in microseconds.
double timePerCall(int batches, int perBatch, const std::function<void()>& call) {
    std::vector<double> times;
    for (int b = 0; b < batches; ++b) {
        const double start = cpuMicroseconds();
        for (int i = 0; i < perBatch; ++i) call();
        times.push_back((cpuMicroseconds() - start) / perBatch);
    }
    return median(times);
}

GLUquadric* sphereQuadric() {
    static GLUquadric* quadric = gluNewQuadric();
    return quadric;
}

void drawSphere() { gluSphere(sphereQuadric(), 1.0, 96, 96); }

void setUpView(int width, int height) {
    const double halfWidth = kHalfHeight * width / height;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-halfWidth, halfWidth, -kHalfHeight, kHalfHeight, -kDepth, kDepth);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
}

// Holds one reference to a shape the builder returned.
struct Held {
    QM::IShape* shape = nullptr;
    explicit Held(QM::IShape* s) : shape(s) {
        if (shape != nullptr) shape->addReference();
    }
    ~Held() {
        if (shape != nullptr) shape->releaseReference();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

// Milliseconds.
struct CaptureTimes {
    double end = 0;  // end() alone, the drawing finished first
    double endWall = 0;
    double whole = 0;  // begin, draw, end
    double wholeWall = 0;
};

CaptureTimes timeCapture(QM::IShapeBuilder& builder, QM::IState& state, int rounds) {
    std::vector<double> ends, endWalls, wholes, wholeWalls;
    for (int r = 0; r < rounds; ++r) {
        glClear(GL_DEPTH_BUFFER_BIT);
        glFinish();
        const Clock::time_point start = Clock::now();
        const double cpuStart = cpuMicroseconds();
        builder.begin(1, state);
        drawSphere();
        glFinish();
        const Clock::time_point endStart = Clock::now();
        const double cpuEndStart = cpuMicroseconds();
        Held shape(builder.end(state));
        const double cpuDone = cpuMicroseconds();
        endWalls.push_back(microsecondsSince(endStart));
        wholeWalls.push_back(microsecondsSince(start));
        ends.push_back(cpuDone - cpuEndStart);
        wholes.push_back(cpuDone - cpuStart);
    }
    return {median(ends) / 1000.0, median(endWalls) / 1000.0, median(wholes) / 1000.0, median(wholeWalls) / 1000.0};
}

struct Queries {
    double across = 0;
    double step = 0;
    double closest = 0;
    bool acrossHit = false;
    bool stepHit = false;
    zvuVector3Dd acrossPoint{};
};

Queries timeQueries(QM::IShape& shape, double halfWidth) {
    Queries q;
    const zvuLineSegmentd across({-halfWidth, -0.3, 1.5}, {halfWidth, 0.2, -1.5});
    const zvuLineSegmentd step({0.3, 0.2, 0.94}, {0.3, 0.2, 0.92});
    zvuVector3Dd point;
    zvuVector3Dd normal;
    QMenum face = nullptr;
    q.acrossHit = shape.intersectSegment(across, QM_FRONT, point, normal, face);
    q.acrossPoint = point;
    q.stepHit = shape.intersectSegment(step, QM_FRONT, point, normal, face);
    q.across = timePerCall(9, 50, [&] { shape.intersectSegment(across, QM_FRONT, point, normal, face); });
    q.step = timePerCall(9, 2000, [&] { shape.intersectSegment(step, QM_FRONT, point, normal, face); });
    const zvuLineSegmentd query({0.3, 0.2, 0.96}, {0.3, 0.2, 0.9});
    q.closest = timePerCall(9, 1000, [&] {
        QM::LocalFeatureSet features;
        shape.closestFeatures(query, features, point);
    });
    return q;
}

}  // namespace

int main() {
    if (!makeHeadlessContext()) {
        std::fprintf(stderr, "bench_depth: no headless OpenGL context\n");
        return 1;
    }
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::printf("scene: a sphere of about %d triangles, orthographic view\n\n", 2 * 96 * 95);
    struct Size {
        int width;
        int height;
    };
    const Size sizes[] = {{256, 256}, {1024, 768}};
    std::printf("%-10s %-28s %12s %12s %10s\n", "image", "figure", "depth", "feedback", "depth/fb");
    for (const Size& size : sizes) {
        setUpView(size.width, size.height);
        QM::State state;
        QM::DepthBufferShapeBuilder depthBuilder;
        QM::FeedbackBufferShapeBuilder feedbackBuilder;
        const CaptureTimes depthCapture = timeCapture(depthBuilder, state, 15);
        const CaptureTimes feedbackCapture = timeCapture(feedbackBuilder, state, 5);

        glClear(GL_DEPTH_BUFFER_BIT);
        depthBuilder.begin(1, state);
        drawSphere();
        Held depth(depthBuilder.end(state));
        feedbackBuilder.begin(1, state);
        drawSphere();
        Held feedback(feedbackBuilder.end(state));
        const double halfWidth = kHalfHeight * size.width / size.height;
        const Queries dq = timeQueries(*depth.shape, halfWidth);
        const Queries fq = timeQueries(*feedback.shape, halfWidth);

        char label[32];
        std::snprintf(label, sizeof label, "%dx%d", size.width, size.height);
        auto row = [&](const char* figure, double d, double f, const char* unit) {
            std::printf("%-10s %-28s %9.3f %-2s %9.3f %-2s %9.2f\n", label, figure, d, unit, f, unit, d / f);
        };
        row("end of capture (read), cpu", depthCapture.end, feedbackCapture.end, "ms");
        row("end of capture (read), wall", depthCapture.endWall, feedbackCapture.endWall, "ms");
        row("whole capture, cpu", depthCapture.whole, feedbackCapture.whole, "ms");
        row("whole capture, wall", depthCapture.wholeWall, feedbackCapture.wholeWall, "ms");
        row("intersectSegment across", dq.across, fq.across, "us");
        row("intersectSegment step", dq.step, fq.step, "us");
        row("closestFeatures", dq.closest, fq.closest, "us");
        if (!dq.acrossHit || !fq.acrossHit || !dq.stepHit || !fq.stepHit) {
            std::printf("%-10s warning: a query missed (depth %d %d, feedback %d %d)\n", label, dq.acrossHit,
                        dq.stepHit, fq.acrossHit, fq.stepHit);
        } else {
            std::printf("%-10s across hit: depth (%.4f %.4f %.4f), feedback (%.4f %.4f %.4f)\n", label,
                        dq.acrossPoint.x, dq.acrossPoint.y, dq.acrossPoint.z, fq.acrossPoint.x, fq.acrossPoint.y,
                        fq.acrossPoint.z);
        }
    }
    return 0;
}
