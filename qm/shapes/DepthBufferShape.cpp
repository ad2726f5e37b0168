#include "qm/shapes/DepthBufferShape.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "qm/api/QMException.h"
#include "qm/api/Symbols.h"
#include "qm/collision/LocalFeature.h"
#include "qm/shapes/FeedbackBufferShape.h"
#include "qm/state/State.h"
#include "zvu/Triangle.h"

namespace QM {

namespace {

using zvu::zvuLineSegmentd;
using zvu::zvuMatrix;
using zvu::zvuVector3Dd;

// Face codes of the triangle tests: 1 crossing from the front, 2 from the
// back; a mask of both accepts either.
constexpr int kFront = 1;
constexpr int kBack = 2;
constexpr int kBoth = kFront | kBack;

bool is(QMenum value, QMenum symbol) { return symbol != nullptr && value == symbol; }

bool finite(const zvuVector3Dd& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Whether OpenGL maps normalised depth onto the whole of [0, 1]: the image
// transform reads window depth as that.
bool defaultDepthRange() {
    GLdouble range[2] = {0.0, 1.0};
    glGetDoublev(GL_DEPTH_RANGE, range);
    return range[0] == 0.0 && range[1] == 1.0;
}

}  // namespace

struct DepthBufferShape::Hit {
    double t = 0.0;
    int code = 0;
    zvuVector3Dd vertices[3];
};

DepthBufferShape::DepthBufferShape(unsigned id, int width, int height, std::vector<float> depths)
    : BaseShape(id), width_(width), height_(height), depths_(std::move(depths)) {}

QMenum DepthBufferShape::getType() const { return QM_SHAPE_DEPTH_BUFFER; }

double DepthBufferShape::depth(int i, int j) const {
    const float raw = rawDepth(i, j);
    // Out-of-range values are clamped; a NaN counts as the near plane.
    const double d = raw > 1.0f ? 1.0 : (raw >= 0.0f ? raw : 0.0);
    return d * scale_;
}

// The segment is cut to the image box (0..width-1, 0..height-1, 0..s)
// before anything else. A segment with an end inside the box keeps its part
// inside; one with both ends outside is cut to the stretch it crosses the
// box on, if any, so that a long stroke across the surface within one step
// still meets it. The cut is made in homogeneous image coordinates
// (x w, y w, z w, w), which vary linearly along the workspace segment even
// through a perspective projection: each face of the box is a linear
// inequality there, so the part inside is one parameter interval, found as
// for clipping to a view volume. This also cuts away the part of the
// segment behind the eye (w <= 0), which a division by w would fold back
// into the image.
bool DepthBufferShape::clipToImage(const zvuLineSegmentd& segment, zvuVector3Dd& from, zvuVector3Dd& to) const {
    // The box grown by this much, as the box tests elsewhere allow.
    constexpr double kGrow = 1e-10;
    const zvuVector3Dd start = segment.start();
    const zvuVector3Dd end = segment.end();
    const double* m = imageFromWorkspace_.data();
    auto homogeneous = [m](const zvuVector3Dd& p, double(&h)[4]) {
        for (int r = 0; r < 4; ++r) {
            h[r] = m[r] * p.x + m[4 + r] * p.y + m[8 + r] * p.z + m[12 + r];
        }
    };
    double a[4];
    double b[4];
    homogeneous(start, a);
    homogeneous(end, b);
    // Each g(h) >= 0 holds inside the box.
    const double upper[3] = {width_ - 1.0 + kGrow, height_ - 1.0 + kGrow, scale_ + kGrow};
    double ga[7];
    double gb[7];
    for (int axis = 0; axis < 3; ++axis) {
        ga[2 * axis] = a[axis] + kGrow * a[3];
        gb[2 * axis] = b[axis] + kGrow * b[3];
        ga[2 * axis + 1] = upper[axis] * a[3] - a[axis];
        gb[2 * axis + 1] = upper[axis] * b[3] - b[axis];
    }
    ga[6] = a[3];
    gb[6] = b[3];
    double t0 = 0.0;
    double t1 = 1.0;
    for (int k = 0; k < 7; ++k) {
        if (!std::isfinite(ga[k]) || !std::isfinite(gb[k])) {
            return false;
        }
        if (ga[k] < 0.0 && gb[k] < 0.0) {
            return false;
        }
        if (ga[k] < 0.0) {
            t0 = std::max(t0, ga[k] / (ga[k] - gb[k]));
        } else if (gb[k] < 0.0) {
            t1 = std::min(t1, ga[k] / (ga[k] - gb[k]));
        }
    }
    if (!(t0 < t1)) {
        return false;
    }
    from = toImage(start + (end - start) * t0);
    to = toImage(start + (end - start) * t1);
    return finite(from) && finite(to);
}

// Only the cells near the segment are tried: for each column of cells
// under the segment (and one more on either side), the rows the segment
// passes over in that column and its neighbours, widened by one row, in
// columns then rows. A cell whose four samples all lie well away from the
// depths the segment has over those columns cannot be crossed and is
// skipped before its triangles are built. A later hit replaces an earlier
// one only with a strictly smaller parameter. Columns are visited in the
// order the segment passes over them, so once a hit is found the search
// stops at the first column band that begins beyond it: a cell's crossing
// lies inside its own column, strictly after the start of the band around
// it.
bool DepthBufferShape::intersectImage(const zvuVector3Dd& from, const zvuVector3Dd& to, int faceCode, Hit& hit) const {
    const zvuLineSegmentd segment(from, to);
    const zvuVector3Dd d = to - from;
    const double margin = 1e-5 * (1.0 + scale_);
    const int lastCell = width_ - 2;
    const int lastRow = height_ - 2;
    const int i0 = std::clamp(static_cast<int>(std::floor(std::min(from.x, to.x))) - 1, 0, lastCell);
    const int i1 = std::clamp(static_cast<int>(std::ceil(std::max(from.x, to.x))) + 1, 0, lastCell);
    const int stepX = d.x < 0.0 ? -1 : 1;
    const int first = stepX > 0 ? i0 : i1;
    const int count = i1 - i0 + 1;
    bool found = false;
    for (int n = 0, i = first; n < count; ++n, i += stepX) {
        double ta = 0.0;
        double tb = 1.0;
        if (std::fabs(d.x) > 1e-12) {
            ta = (i - 1.0 - from.x) / d.x;
            tb = (i + 2.0 - from.x) / d.x;
            if (ta > tb) {
                std::swap(ta, tb);
            }
            ta = std::max(ta, 0.0);
            tb = std::min(tb, 1.0);
            if (ta > tb) {
                continue;
            }
            if (found && ta > hit.t) {
                break;
            }
        }
        const zvuVector3Dd pa = from + d * ta;
        const zvuVector3Dd pb = from + d * tb;
        const int j0 = std::clamp(static_cast<int>(std::floor(std::min(pa.y, pb.y))) - 1, 0, lastRow);
        const int j1 = std::clamp(static_cast<int>(std::ceil(std::max(pa.y, pb.y))) + 1, 0, lastRow);
        const double zLow = std::min(pa.z, pb.z) - margin;
        const double zHigh = std::max(pa.z, pb.z) + margin;
        for (int j = j0; j <= j1; ++j) {
            const double f = depth(i, j);
            const double h = depth(i + 1, j);
            const double k = depth(i + 1, j + 1);
            const double m = depth(i, j + 1);
            if (std::max({f, h, k, m}) < zLow || std::min({f, h, k, m}) > zHigh) {
                continue;
            }
            const zvuVector3Dd vf{static_cast<double>(i), static_cast<double>(j), f};
            const zvuVector3Dd vh{i + 1.0, static_cast<double>(j), h};
            const zvuVector3Dd vk{i + 1.0, j + 1.0, k};
            const zvuVector3Dd vm{static_cast<double>(i), j + 1.0, m};
            const zvu::DepthTriangle triangles[2] = {
                zvu::DepthTriangle(zvu::DepthTriangleStorage(vf, vh, vk), 0),
                zvu::DepthTriangle(zvu::DepthTriangleStorage(vf, vk, vm), 0),
            };
            for (const zvu::DepthTriangle& triangle : triangles) {
                double t = 0.0;
                int code = 0;
                if (faceCode == kFront) {
                    code = triangle.intersectSegmentFront(segment, t, kEps);
                } else if (faceCode == kBack) {
                    code = triangle.intersectSegmentBack(segment, t, kEps);
                } else {
                    code = triangle.intersectSegment(segment, t, kEps);
                }
                if (code != 0 && (!found || t < hit.t)) {
                    found = true;
                    hit.t = t;
                    hit.code = code;
                    hit.vertices[0] = triangle.v0();
                    hit.vertices[1] = triangle.v1();
                    hit.vertices[2] = triangle.v2();
                }
            }
        }
    }
    return found;
}

bool DepthBufferShape::intersectSegment(const zvuLineSegmentd& segment, QMenum touchableFace, zvuVector3Dd& point,
                                        zvuVector3Dd& normal, QMenum& face) {
    if (!usable_) {
        return false;
    }
    int faceCode = 0;
    if (is(touchableFace, QM_FRONT_AND_BACK)) {
        faceCode = kBoth;
    } else if (is(touchableFace, QM_FRONT)) {
        faceCode = flipped_ ? kBack : kFront;
    } else if (is(touchableFace, QM_BACK)) {
        faceCode = flipped_ ? kFront : kBack;
    } else {
        return false;
    }
    zvuVector3Dd from;
    zvuVector3Dd to;
    if (!clipToImage(segment, from, to)) {
        return false;
    }
    Hit hit;
    if (!intersectImage(from, to, faceCode, hit)) {
        return false;
    }
    point = toWorkspace(from + (to - from) * hit.t);
    // The plane of the triangle in the workspace, turned to face the side
    // the segment came from. (Image space mirrors the eye's handedness, and
    // a modelview may mirror again, so the vertex order alone does not say
    // which way the workspace normal points.)
    const zvuVector3Dd w0 = toWorkspace(hit.vertices[0]);
    zvuVector3Dd n = (toWorkspace(hit.vertices[1]) - w0).cross(toWorkspace(hit.vertices[2]) - w0).normalized();
    const zvuVector3Dd motion = segment.unitDirection();
    if (!finite(n) || n.lengthSquared() == 0.0) {
        n = -motion;
    } else if (n.dot(motion) > 0.0) {
        n = -n;
    }
    normal = n;
    const bool front = (hit.code == kFront) != flipped_;
    face = front ? QM_FRONT : QM_BACK;
    return true;
}

bool DepthBufferShape::closestFeatures(const zvuLineSegmentd& querySegment, LocalFeatureSet& features,
                                       zvuVector3Dd& closestPoint) {
    if (!usable_) {
        return false;
    }
    const zvuVector3Dd query = querySegment.start();
    const zvuVector3Dd q = toImage(query);
    if (!finite(q)) {
        return false;
    }
    struct Probe {
        bool hit = false;
        zvuVector3Dd point{};
        zvuVector3Dd normal{};
    };
    auto probe = [&](double z) {
        Probe p;
        QMenum face = QM_FRONT;
        p.hit = intersectSegment(zvuLineSegmentd(query, toWorkspace({q.x, q.y, z})), QM_FRONT_AND_BACK, p.point,
                                 p.normal, face);
        return p;
    };
    const Probe towards = probe(0.0);
    const Probe away = probe(scale_);
    const Probe* chosen = nullptr;
    if (away.hit && towards.hit) {
        chosen = (away.point - query).lengthSquared() <= (towards.point - query).lengthSquared() ? &away : &towards;
    } else if (away.hit) {
        chosen = &away;
    } else if (towards.hit) {
        chosen = &towards;
    } else {
        return false;
    }
    features.insert(std::make_unique<LocalFeaturePlane>(zvu::zvuPlane<double>(chosen->normal, chosen->point)));
    closestPoint = chosen->point;
    return true;
}

DepthBufferShapeBuilder::DepthBufferShapeBuilder() = default;

DepthBufferShapeBuilder::~DepthBufferShapeBuilder() = default;

zvuMatrix DepthBufferShapeBuilder::imageMatrix(const zvuMatrix& modelview, const zvuMatrix& projection,
                                               const PixelRect& viewport, const PixelRect& read, double depthScale) {
    const int vp[4] = {viewport.x, viewport.y, viewport.width, viewport.height};
    // OpenGL samples a pixel's depth at its centre, half a pixel in from
    // its corner: the sample (i, j) belongs at window (x + i + 0.5,
    // y + j + 0.5), or a sloped surface would sit half a pixel off.
    zvuMatrix shift;
    shift[12] = -static_cast<double>(read.x) - 0.5;
    shift[13] = -static_cast<double>(read.y) - 0.5;
    return shift * FeedbackBufferShapeBuilder::imageMatrix(modelview, projection, vp, depthScale);
}

void DepthBufferShapeBuilder::restoreGl() {
    for (; pushedAttributes_ > 0; --pushedAttributes_) {
        glPopAttrib();
    }
    camera_.reset();
}

void DepthBufferShapeBuilder::begin(unsigned id, IState& state) {
    restoreGl();
    if (!defaultDepthRange()) {
        throw QMException(QM_INVALID_OPERATION);
    }
    const IStackedAttributeMap& attributes = state.getAttributes();
    ITransformManager& transforms = state.getTransforms();
    useCameraView_ = transforms.cameraViewEnabled(attributes);
    useAdaptiveViewport_ = transforms.adaptiveViewportEnabled(attributes);
    if (useCameraView_) {
        camera_ = std::make_unique<DepthBufferHapticCameraView>(state);
        camera_->apply();
        // Only the touchable side of the surface is rendered (both sides
        // for constraints), so that the nearer, untouchable side does not
        // hide it from the camera.
        QMenum face = QM_FRONT;
        QMenum model = QM_CONTACT;
        attributes.get<QMenum>(QM_TOUCHABLE_FACE, face);
        attributes.get<QMenum>(QM_TOUCH_MODEL, model);
        glPushAttrib(GL_ENABLE_BIT | GL_POLYGON_BIT);
        ++pushedAttributes_;
        if (!is(model, QM_CONSTRAINT) && is(face, QM_FRONT)) {
            glCullFace(GL_BACK);
            glEnable(GL_CULL_FACE);
        } else if (!is(model, QM_CONSTRAINT) && is(face, QM_BACK)) {
            glCullFace(GL_FRONT);
            glEnable(GL_CULL_FACE);
        } else {
            glDisable(GL_CULL_FACE);
        }
        glPushAttrib(GL_ENABLE_BIT);
        ++pushedAttributes_;
        glDisable(GL_LIGHTING);
    }
    setId(id);
    setModelview(captureModelview(state));
    glGetDoublev(GL_PROJECTION_MATRIX, projection_.data());
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    viewport_ = {viewport[0], viewport[1], viewport[2], viewport[3]};
    // Window coordinates below zero are outside every framebuffer. Under
    // the camera view the camera's viewport may be larger than the
    // application's (it is at least 64 pixels a side): only the pixels the
    // application's viewport has are read, none for a minimised window.
    const PixelRect framebuffer{0, 0, INT_MAX, INT_MAX};
    read_ = viewport_.intersection(framebuffer);
    if (camera_ != nullptr) {
        read_ = read_.intersection(camera_->applicationViewport());
    }
}

IShape* DepthBufferShapeBuilder::end(IState& state) {
    const bool cameraView = useCameraView_;
    restoreGl();
    useCameraView_ = false;
    if (!defaultDepthRange()) {
        throw QMException(QM_INVALID_OPERATION);
    }
    if (useAdaptiveViewport_ && !cameraView) {
        const IStackedAttributeMap& attributes = state.getAttributes();
        ITransformManager& transforms = state.getTransforms();
        double golden[3] = {0.0, 0.0, 0.0};
        double radius = 30.0;
        attributes.getArray<double>(QM_GOLDEN_POSITION, golden);
        attributes.get<double>(QM_GOLDEN_RADIUS, radius);
        const PixelRect adaptive = adaptiveReadRect(
            {golden[0], golden[1], golden[2]}, radius, transforms.getWorkspaceToModel(),
            transforms.workspaceToModelScale(), transforms.getFrameModelview(), projection_, viewport_);
        read_ = adaptive.intersection(read_);
    }

    std::vector<float> depths;
    if (!read_.empty()) {
        depths.resize(static_cast<std::size_t>(read_.width) * static_cast<std::size_t>(read_.height));
        // Depths are read as plain floats, packed, whatever the
        // application's pixel-store and transfer state; that state is
        // restored afterwards.
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        glPushAttrib(GL_PIXEL_MODE_BIT);
        const GLenum zeroed[] = {GL_PACK_SWAP_BYTES,  GL_PACK_LSB_FIRST,    GL_PACK_ROW_LENGTH,  GL_PACK_SKIP_ROWS,
                                 GL_PACK_SKIP_PIXELS, GL_UNPACK_SWAP_BYTES, GL_UNPACK_LSB_FIRST, GL_UNPACK_ROW_LENGTH,
                                 GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS};
        for (GLenum name : zeroed) {
            glPixelStorei(name, 0);
        }
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelTransferf(GL_DEPTH_SCALE, 1.0f);
        glPixelTransferf(GL_DEPTH_BIAS, 0.0f);
        glReadPixels(read_.x, read_.y, read_.width, read_.height, GL_DEPTH_COMPONENT, GL_FLOAT, depths.data());
        glFinish();
        glPopAttrib();
        glPopClientAttrib();
    }
    const PixelRect read = read_.empty() ? PixelRect{} : read_;

    auto* shape = new DepthBufferShape(getId(), read.width, read.height, std::move(depths));
    return finishOrDestroy(shape, [&](DepthBufferShape& s) {
        finishShape(s, state, kCopyCapturedShape);
        QMenum face = QM_FRONT;
        s.getAttributes().get<QMenum>(QM_TOUCHABLE_FACE, face);
        s.flipped_ = cameraView && is(face, QM_BACK);
        if (read.width < 2 || read.height < 2) {
            return;
        }
        s.scale_ = FeedbackBufferShapeBuilder::depthScale(projection_, read.width, read.height);
        s.imageFromShape_ = imageMatrix(modelview(), projection_, viewport_, read, s.scale_);
        s.imageFromWorkspace_ = s.imageFromShape_ * s.workspaceToShape();
        s.usable_ = s.imageFromWorkspace_.inverse(s.workspaceFromImage_);
    });
}

}  // namespace QM
