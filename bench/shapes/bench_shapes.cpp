// Captured spheres as touchable shapes.
//
// For spheres of about 1k, 10k, 100k and 1M triangles, drawn with GLU into
// an OpenGL feedback buffer (GL_3D, orthographic projection, 1024 x 768
// viewport) on a headless context, the benchmark prints:
//  - capture, parse and hierarchy build time per shape (median of several),
//    and the memory the touch geometry holds;
//  - intersect() and closest() per query, through the hierarchy and through
//    the linear scan (a few hundred linear queries only at 1M), and the
//    ratio;
//  - when built with them, the same segment queries as first-hit ray queries
//    of a ray tracing kernel library (Embree, rtcIntersect1 with tfar the
//    segment length) and of a physics library (Bullet, performRaycast on a
//    btBvhTriangleMeshShape), on the same float triangles, with how often
//    all three report the same first triangle;
//  - a verdict on each target at 100k triangles.
//
// Queries are segments crossing the sphere's surface at random places and
// angles, from outside to inside, and points near the surface. Depths are
// scaled to pixels so that the captured sphere is round.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "qm/shapes/FeedbackStream.h"
#include "qm/shapes/TouchGeometry.h"

#ifdef ZV_BENCH_EMBREE
#include <embree3/rtcore.h>
#endif
#ifdef ZV_BENCH_BULLET
#include <BulletCollision/NarrowPhaseCollision/btRaycastCallback.h>
#include <btBulletCollisionCommon.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using QM::FaceMode;
using QM::TouchGeometry;
using QM::TouchHit;
using zvu::zvuLineSegmentd;
using zvu::zvuVector3Dd;

constexpr double kEps = 1.1920928955078125e-6;
constexpr int kWidth = 1024;
constexpr int kHeight = 768;
// World units: the sphere has radius 1; the orthographic volume is
// +-kHalfHeight high and +-kDepth deep.
constexpr double kHalfHeight = 1.3;
constexpr double kDepth = 2.0;
constexpr double kPixelsPerUnit = kHeight / (2 * kHalfHeight);
constexpr double kRadiusPixels = kPixelsPerUnit;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Processor time of the process, in ms. The machine the figures come from
// is shared, so wall-clock times include waiting for a processor; the
// processor time of this single-threaded code does not. (The OpenGL driver
// may use helper threads; its capture is reported both ways.)
double cpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// ------------------------------------------------------------------ context

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
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                       EGL_PBUFFER_BIT,
                                       EGL_RENDERABLE_TYPE,
                                       EGL_OPENGL_BIT,
                                       EGL_RED_SIZE,
                                       8,
                                       EGL_GREEN_SIZE,
                                       8,
                                       EGL_BLUE_SIZE,
                                       8,
                                       EGL_DEPTH_SIZE,
                                       24,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &count) || count < 1) return false;
    const EGLint surfaceAttributes[] = {EGL_WIDTH, kWidth, EGL_HEIGHT, kHeight, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    const EGLint compatibility[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                    EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, compatibility);
    if (context == EGL_NO_CONTEXT) context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    return surface != EGL_NO_SURFACE && context != EGL_NO_CONTEXT &&
           eglMakeCurrent(display, surface, surface, context) == EGL_TRUE;
}

// ------------------------------------------------------------------ capture

struct Timings {
    double capture = 0, parse = 0, build = 0, total = 0;  // processor time
    double wallCapture = 0, wallTotal = 0;
};

// Draws `grid` x `grid` spheres side by side: GLU caps a sphere's slices
// and stacks (at 240 in the Debian build), so a shape of a million
// triangles takes several spheres.
class SphereCapture {
public:
    SphereCapture(int slices, int stacks, int grid)
        : slices_(slices),
          stacks_(stacks),
          grid_(grid),
          buffer_(static_cast<std::size_t>(slices) * stacks * grid * grid * 2 * 16 + 4096),
          quadric_(gluNewQuadric()) {}
    ~SphereCapture() { gluDeleteQuadric(quadric_); }
    SphereCapture(const SphereCapture&) = delete;
    SphereCapture& operator=(const SphereCapture&) = delete;

    // Captures, scales depths to pixels, parses and builds into a fresh
    // geometry; false when the feedback buffer overflowed.
    bool run(TouchGeometry& geometry, Timings& timings) {
        geometry = TouchGeometry();
        const auto start = Clock::now();
        const double cpuStart = cpuMs();
        glFeedbackBuffer(static_cast<GLsizei>(buffer_.size()), GL_3D, buffer_.data());
        glRenderMode(GL_FEEDBACK);
        for (int i = 0; i < grid_; ++i) {
            for (int j = 0; j < grid_; ++j) {
                glPushMatrix();
                const zvuVector3Dd c = centre(i, j);
                glTranslated(c.x, c.y, 0.0);
                gluSphere(quadric_, 1.0 / grid_, slices_, stacks_);
                glPopMatrix();
            }
        }
        const GLint count = glRenderMode(GL_RENDER);
        timings.wallCapture = msSince(start);
        const double cpuParse = cpuMs();
        timings.capture = cpuParse - cpuStart;
        if (count < 0) return false;
        QM::scaleDepths(buffer_.data(), count, static_cast<float>(2 * kDepth * kPixelsPerUnit));
        const QM::FeedbackParseResult parsed = QM::parseFeedbackStream(buffer_.data(), count, true, geometry);
        const double cpuBuild = cpuMs();
        timings.parse = cpuBuild - cpuParse;
        geometry.build();
        const double cpuEnd = cpuMs();
        timings.build = cpuEnd - cpuBuild;
        timings.total = cpuEnd - cpuStart;
        timings.wallTotal = msSince(start);
        return parsed.complete();
    }

    // Centre of sphere (i, j) in world units (x, y).
    zvuVector3Dd centre(int i, int j) const {
        const double step = 2.0 / grid_;
        return {-1.0 + step * (i + 0.5), -1.0 + step * (j + 0.5), 0.0};
    }
    int grid() const { return grid_; }

private:
    int slices_;
    int stacks_;
    int grid_;
    std::vector<float> buffer_;
    GLUquadric* quadric_;
};

void setUpView() {
    glViewport(0, 0, kWidth, kHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const double halfWidth = kHalfHeight * kWidth / kHeight;
    glOrtho(-halfWidth, halfWidth, -kHalfHeight, kHalfHeight, -kDepth, kDepth);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_CULL_FACE);
}

// A world point (x, y at depth 0) in window coordinates with depths in
// pixels.
zvuVector3Dd toWindow(const zvuVector3Dd& world) {
    return {kWidth / 2.0 + world.x * kPixelsPerUnit, kHeight / 2.0 + world.y * kPixelsPerUnit,
            0.5 * 2 * kDepth * kPixelsPerUnit};
}

// ------------------------------------------------------------------ queries

zvuVector3Dd randomUnit(std::mt19937& rng) {
    std::normal_distribution<double> n(0.0, 1.0);
    zvuVector3Dd v{n(rng), n(rng), n(rng)};
    return v.normalized();
}

// Segments of 0.2 radius crossing the surface of a random sphere of the
// capture at their middle, entering at up to about 60 degrees from the
// inward normal.
std::vector<zvuLineSegmentd> makeSegments(const SphereCapture& capture, int count, std::mt19937& rng) {
    std::uniform_int_distribution<int> cell(0, capture.grid() - 1);
    const double radius = kRadiusPixels / capture.grid();
    std::vector<zvuLineSegmentd> out;
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const zvuVector3Dd c = toWindow(capture.centre(cell(rng), cell(rng)));
        const zvuVector3Dd n = randomUnit(rng);
        const zvuVector3Dd p = c + n * radius;
        const zvuVector3Dd w = (n + randomUnit(rng) * 0.8).normalized();
        const double half = 0.1 * radius;
        out.emplace_back(p + w * half, p - w * half);
    }
    return out;
}

// Points within a tenth of the radius of a random sphere's surface.
std::vector<zvuVector3Dd> makePoints(const SphereCapture& capture, int count, std::mt19937& rng) {
    std::uniform_int_distribution<int> cell(0, capture.grid() - 1);
    std::uniform_real_distribution<double> radial(0.9, 1.1);
    const double radius = kRadiusPixels / capture.grid();
    std::vector<zvuVector3Dd> out;
    for (int i = 0; i < count; ++i) {
        const zvuVector3Dd c = toWindow(capture.centre(cell(rng), cell(rng)));
        out.push_back(c + randomUnit(rng) * (radius * radial(rng)));
    }
    return out;
}

volatile long gSink = 0;

// Median over rounds of the processor time per call of `query` over the
// inputs.
template <typename Input, typename Query>
double nsPerQuery(const std::vector<Input>& inputs, std::size_t count, int rounds, Query query) {
    count = std::min(count, inputs.size());
    std::vector<double> perCall;
    for (int r = 0; r < rounds; ++r) {
        long sink = 0;
        const double start = cpuMs();
        for (std::size_t i = 0; i < count; ++i) sink += query(inputs[i]);
        const double ns = 1e6 * (cpuMs() - start);
        gSink = gSink + sink;
        perCall.push_back(ns / static_cast<double>(count));
    }
    return median(perCall);
}

// ------------------------------------------------------------------ other libraries

#ifdef ZV_BENCH_EMBREE
class EmbreeMesh {
public:
    explicit EmbreeMesh(const TouchGeometry& g) : device_(rtcNewDevice(nullptr)), scene_(rtcNewScene(device_)) {
        const std::size_t n = g.triangleCount();
        RTCGeometry geometry = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
        auto* vertices = static_cast<float*>(
            rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), 3 * n));
        auto* indices = static_cast<unsigned*>(
            rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), n));
        for (std::size_t i = 0; i < n; ++i) {
            for (int k = 0; k < 3; ++k) {
                const auto& v = g.triangle(i).vertices[k];
                vertices[9 * i + 3 * k] = v.x;
                vertices[9 * i + 3 * k + 1] = v.y;
                vertices[9 * i + 3 * k + 2] = v.z;
                indices[3 * i + k] = static_cast<unsigned>(3 * i + k);
            }
        }
        rtcCommitGeometry(geometry);
        rtcAttachGeometry(scene_, geometry);
        rtcReleaseGeometry(geometry);
        rtcCommitScene(scene_);
    }
    ~EmbreeMesh() {
        rtcReleaseScene(scene_);
        rtcReleaseDevice(device_);
    }
    EmbreeMesh(const EmbreeMesh&) = delete;
    EmbreeMesh& operator=(const EmbreeMesh&) = delete;

    int firstHit(const zvuLineSegmentd& s) const {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        RTCRayHit rh{};
        const zvuVector3Dd o = s.start();
        const zvuVector3Dd d = s.unitDirection();
        rh.ray.org_x = static_cast<float>(o.x);
        rh.ray.org_y = static_cast<float>(o.y);
        rh.ray.org_z = static_cast<float>(o.z);
        rh.ray.dir_x = static_cast<float>(d.x);
        rh.ray.dir_y = static_cast<float>(d.y);
        rh.ray.dir_z = static_cast<float>(d.z);
        rh.ray.tnear = 0.0f;
        rh.ray.tfar = static_cast<float>(s.getLength());
        rh.ray.mask = 0xffffffffu;
        rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene_, &context, &rh);
        return rh.hit.geomID == RTC_INVALID_GEOMETRY_ID ? -1 : static_cast<int>(rh.hit.primID);
    }

private:
    RTCDevice device_;
    RTCScene scene_;
};
#endif

#ifdef ZV_BENCH_BULLET
class BulletMesh {
public:
    explicit BulletMesh(const TouchGeometry& g) {
        const std::size_t n = g.triangleCount();
        vertices_.resize(9 * n);
        indices_.resize(3 * n);
        for (std::size_t i = 0; i < n; ++i) {
            for (int k = 0; k < 3; ++k) {
                const auto& v = g.triangle(i).vertices[k];
                vertices_[9 * i + 3 * k] = v.x;
                vertices_[9 * i + 3 * k + 1] = v.y;
                vertices_[9 * i + 3 * k + 2] = v.z;
                indices_[3 * i + k] = static_cast<int>(3 * i + k);
            }
        }
        array_ = new btTriangleIndexVertexArray(static_cast<int>(n), indices_.data(), 3 * sizeof(int),
                                                static_cast<int>(3 * n), vertices_.data(), 3 * sizeof(btScalar));
        shape_ = new btBvhTriangleMeshShape(array_, true, true);
    }
    ~BulletMesh() {
        delete shape_;
        delete array_;
    }
    BulletMesh(const BulletMesh&) = delete;
    BulletMesh& operator=(const BulletMesh&) = delete;

    int firstHit(const zvuLineSegmentd& s) const {
        const zvuVector3Dd a = s.start(), b = s.end();
        const btVector3 from(static_cast<btScalar>(a.x), static_cast<btScalar>(a.y), static_cast<btScalar>(a.z));
        const btVector3 to(static_cast<btScalar>(b.x), static_cast<btScalar>(b.y), static_cast<btScalar>(b.z));
        FirstHit callback(from, to);
        shape_->performRaycast(&callback, from, to);
        return callback.triangle;
    }

private:
    // Keeps the nearest triangle: a later report is always nearer, since the
    // callback only reports hits before the current fraction.
    struct FirstHit : btTriangleRaycastCallback {
        FirstHit(const btVector3& from, const btVector3& to) : btTriangleRaycastCallback(from, to) {}
        btScalar reportHit(const btVector3&, btScalar fraction, int, int triangleIndex) override {
            triangle = triangleIndex;
            return fraction;
        }
        int triangle = -1;
    };

    std::vector<btScalar> vertices_;
    std::vector<int> indices_;
    btTriangleIndexVertexArray* array_ = nullptr;
    btBvhTriangleMeshShape* shape_ = nullptr;
};
#endif

// ------------------------------------------------------------------ main

struct Size {
    const char* label;
    int slices;
    int stacks;
    int grid;
    int captureRounds;
    std::size_t linearQueries;
};

struct Figures {
    std::size_t triangles = 0;
    std::size_t alwaysTested = 0;
    Timings timings;
    double memoryMB = 0;
    double intersectTree = 0, intersectLinear = 0, closestTree = 0, closestLinear = 0;
    double embree = NAN, bullet = NAN, embreeBuild = NAN, bulletBuild = NAN;
    int agreeAll = 0, agreeEmbree = 0, agreeBullet = 0, queries = 0;
};

const char* verdict(bool ok) { return ok ? "MET" : "NOT MET"; }

}  // namespace

int main() {
    if (!makeHeadlessContext()) {
        std::fprintf(stderr, "bench_shapes: no headless OpenGL context\n");
        return 1;
    }
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    setUpView();

    const Size sizes[] = {
        {"1k", 23, 22, 1, 15, 5000},
        {"10k", 71, 70, 1, 11, 2000},
        {"100k", 224, 224, 1, 11, 500},
        {"1M", 236, 236, 3, 3, 200},

    };
    constexpr int kQueries = 20000;
    std::mt19937 rng(2026);

    std::vector<Figures> all;
    for (const Size& size : sizes) {
        Figures fig;
        TouchGeometry geometry;
        SphereCapture capture(size.slices, size.stacks, size.grid);
        const std::vector<zvuLineSegmentd> segments = makeSegments(capture, kQueries, rng);
        const std::vector<zvuVector3Dd> points = makePoints(capture, kQueries, rng);
        std::vector<Timings> runs;
        for (int r = 0; r < size.captureRounds; ++r) {
            Timings t;
            if (!capture.run(geometry, t)) {
                std::fprintf(stderr, "bench_shapes: capture of %s failed\n", size.label);
                return 1;
            }
            runs.push_back(t);
        }
        auto pick = [&runs](double Timings::*field) {
            std::vector<double> v;
            for (const Timings& t : runs) v.push_back(t.*field);
            return median(v);
        };
        fig.timings = {pick(&Timings::capture), pick(&Timings::parse),       pick(&Timings::build),
                       pick(&Timings::total),   pick(&Timings::wallCapture), pick(&Timings::wallTotal)};
        fig.alwaysTested = geometry.triangleHierarchy().always.size();
        fig.triangles = geometry.triangleCount();
        fig.memoryMB = static_cast<double>(geometry.memoryBytes()) / (1024.0 * 1024.0);

        auto intersectTree = [&geometry](const zvuLineSegmentd& s) {
            return geometry.intersect(s, FaceMode::FrontAndBack, kEps, true).index;
        };
        auto intersectLinear = [&geometry](const zvuLineSegmentd& s) {
            return geometry.intersect(s, FaceMode::FrontAndBack, kEps, false).index;
        };
        auto closestTree = [&geometry](const zvuVector3Dd& q) { return geometry.closest(q, kEps, true).triangle; };
        auto closestLinear = [&geometry](const zvuVector3Dd& q) { return geometry.closest(q, kEps, false).triangle; };
        fig.intersectTree = nsPerQuery(segments, segments.size(), 5, intersectTree);
        fig.intersectLinear = nsPerQuery(segments, size.linearQueries, 1, intersectLinear);
        fig.closestTree = nsPerQuery(points, points.size(), 5, closestTree);
        fig.closestLinear = nsPerQuery(points, size.linearQueries, 1, closestLinear);

        // The two paths must agree; checked here on the linear sample.
        for (std::size_t i = 0; i < size.linearQueries; ++i) {
            if (intersectTree(segments[i]) != intersectLinear(segments[i]) ||
                closestTree(points[i]) != closestLinear(points[i])) {
                std::fprintf(stderr, "bench_shapes: hierarchy and scan disagree at %s, query %zu\n", size.label, i);
                return 1;
            }
        }

#ifdef ZV_BENCH_EMBREE
        {
            const auto start = Clock::now();
            EmbreeMesh embree(geometry);
            fig.embreeBuild = msSince(start);
            fig.embree = nsPerQuery(segments, segments.size(), 5,
                                    [&embree](const zvuLineSegmentd& s) { return embree.firstHit(s); });
            for (const auto& s : segments) fig.agreeEmbree += embree.firstHit(s) == intersectTree(s);
        }
#endif
#ifdef ZV_BENCH_BULLET
        {
            const auto start = Clock::now();
            BulletMesh bullet(geometry);
            fig.bulletBuild = msSince(start);
            fig.bullet = nsPerQuery(segments, segments.size(), 5,
                                    [&bullet](const zvuLineSegmentd& s) { return bullet.firstHit(s); });
            for (const auto& s : segments) fig.agreeBullet += bullet.firstHit(s) == intersectTree(s);
#ifdef ZV_BENCH_EMBREE
            EmbreeMesh embree(geometry);
            for (const auto& s : segments) {
                const int ours = intersectTree(s);
                fig.agreeAll += ours == embree.firstHit(s) && ours == bullet.firstHit(s);
            }
#endif
        }
#endif
        fig.queries = static_cast<int>(segments.size());
        all.push_back(fig);
        std::printf("%-5s %8zu triangles captured\n", size.label, fig.triangles);
        std::fflush(stdout);
    }

    std::printf(
        "\nCapture of GLU spheres into a touch geometry (median; ms of processor time, wall clock in"
        " brackets)\n");
    std::printf("%-6s %10s %17s %8s %8s %17s %9s %7s\n", "shape", "triangles", "capture", "parse", "build", "total",
                "memory MB", "apart");
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Figures& f = all[i];
        std::printf("%-6s %10zu %7.2f (%7.2f) %8.2f %8.2f %7.2f (%7.2f) %9.1f %7zu\n", sizes[i].label, f.triangles,
                    f.timings.capture, f.timings.wallCapture, f.timings.parse, f.timings.build, f.timings.total,
                    f.timings.wallTotal, f.memoryMB, f.alwaysTested);
    }
    std::printf("(apart: triangles tested by every query instead of through the hierarchy)\n");
    std::printf("\nQueries (ns of processor time per query; linear scan on a sample of queries)\n");
    std::printf("%-6s %12s %12s %9s %12s %12s %9s\n", "shape", "intersect", "linear", "speed-up", "closest", "linear",
                "speed-up");
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Figures& f = all[i];
        std::printf("%-6s %12.0f %12.0f %8.0fx %12.0f %12.0f %8.0fx\n", sizes[i].label, f.intersectTree,
                    f.intersectLinear, f.intersectLinear / f.intersectTree, f.closestTree, f.closestLinear,
                    f.closestLinear / f.closestTree);
    }
    std::printf(
        "\nFirst hit along a segment, same segments and triangles (ns of processor time per query; build ms"
        " of wall clock, Embree builds on all processors)\n");
    std::printf("%-6s %9s %9s %9s %10s %10s %10s %10s %8s %8s %8s\n", "shape", "ours", "Embree", "Bullet", "ours/Embr",
                "ours/Bull", "Embr build", "Bull build", "=Embree", "=Bullet", "=all");
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Figures& f = all[i];
        std::printf("%-6s %9.0f %9.0f %9.0f %10.2f %10.2f %10.2f %10.2f %7.1f%% %7.1f%% %7.1f%%\n", sizes[i].label,
                    f.intersectTree, f.embree, f.bullet, f.intersectTree / f.embree, f.intersectTree / f.bullet,
                    f.embreeBuild, f.bulletBuild, 100.0 * f.agreeEmbree / f.queries, 100.0 * f.agreeBullet / f.queries,
                    100.0 * f.agreeAll / f.queries);
    }
#ifndef ZV_BENCH_EMBREE
    std::printf("(Embree comparison not built: package not found)\n");
#endif
#ifndef ZV_BENCH_BULLET
    std::printf("(Bullet comparison not built: package not found)\n");
#endif

    const Figures& f = all[2];
    std::printf("\nTargets at %zu triangles\n", f.triangles);
    std::printf("  query <= 20 us: intersect %.2f us, closest %.2f us: %s\n", f.intersectTree / 1000.0,
                f.closestTree / 1000.0, verdict(f.intersectTree <= 20000.0 && f.closestTree <= 20000.0));
    std::printf("  >= 100x faster than the linear scan: intersect %.0fx, closest %.0fx: %s\n",
                f.intersectLinear / f.intersectTree, f.closestLinear / f.closestTree,
                verdict(f.intersectLinear >= 100.0 * f.intersectTree && f.closestLinear >= 100.0 * f.closestTree));
    if (!std::isnan(f.bullet))
        std::printf("  faster than Bullet: %.2fx Bullet's time: %s\n", f.intersectTree / f.bullet,
                    verdict(f.intersectTree < f.bullet));
    if (!std::isnan(f.embree))
        std::printf("  within 2x of Embree: %.2fx Embree's time: %s\n", f.intersectTree / f.embree,
                    verdict(f.intersectTree <= 2.0 * f.embree));
    std::printf("  capture + build <= 30 ms: %.2f ms of processor time (%.2f ms wall clock on this machine): %s\n",
                f.timings.total, f.timings.wallTotal, verdict(f.timings.total <= 30.0));
    return 0;
}
