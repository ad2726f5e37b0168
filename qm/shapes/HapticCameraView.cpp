#include "qm/shapes/HapticCameraView.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "qm/api/Symbols.h"
#include "qm/shapes/FeedbackBufferShape.h"
#include "qm/state/State.h"

namespace QM {

namespace {

using zvu::zvuMatrix;
using zvu::zvuVector3Dd;

zvuVector3Dd readVector(const IAttributeMap& map, QMenum key) {
    double v[3] = {0.0, 0.0, 0.0};
    map.getArray<double>(key, v);
    return {v[0], v[1], v[2]};
}

void writeVector(IAttributeMap& map, QMenum key, const zvuVector3Dd& v) {
    const double values[3] = {v.x, v.y, v.z};
    map.setArray<double>(key, values);
}

bool finite(const zvuVector3Dd& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Keeps OpenGL's matrix mode as the caller had it around a change of
// another mode's matrix.
class KeepMatrixMode {
public:
    KeepMatrixMode() { glPushAttrib(GL_TRANSFORM_BIT); }
    ~KeepMatrixMode() { glPopAttrib(); }
    KeepMatrixMode(const KeepMatrixMode&) = delete;
    KeepMatrixMode& operator=(const KeepMatrixMode&) = delete;
};

}  // namespace

PixelRect PixelRect::intersection(const PixelRect& other) const {
    if (empty() || other.empty()) {
        return {x, y, 0, 0};
    }
    // In 64 bits: a rectangle's far edge may lie beyond INT_MAX.
    const long long x0 = std::max<long long>(x, other.x);
    const long long y0 = std::max<long long>(y, other.y);
    const long long x1 =
        std::min<long long>(static_cast<long long>(x) + width, static_cast<long long>(other.x) + other.width);
    const long long y1 =
        std::min<long long>(static_cast<long long>(y) + height, static_cast<long long>(other.y) + other.height);
    if (x1 <= x0 || y1 <= y0) {
        return {static_cast<int>(x0), static_cast<int>(y0), 0, 0};
    }
    return {static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0)};
}

HapticCameraView::~HapticCameraView() { restore(); }

void HapticCameraView::apply() {
    if (applied_) {
        return;
    }
    pushModelview();
    pushProjection();
    pushViewport();
    applied_ = true;
}

void HapticCameraView::restore() {
    if (!applied_) {
        return;
    }
    popViewport();
    popProjection();
    popModelview();
    applied_ = false;
}

// Object coordinates reach the haptic camera through the application's
// modelview (object to eye), the inverse of the frame's modelview (eye back
// to model coordinates) and the camera matrix (model to the haptic camera).
// The camera matrix is kept as the transforms' camera modelview, which
// shapes captured through the camera use in place of the frame modelview.
void HapticCameraView::pushModelview() {
    ITransformManager& transforms = state_.getTransforms();
    const zvuMatrix view = computeViewMatrix();
    zvuMatrix current;
    glGetDoublev(GL_MODELVIEW_MATRIX, current.data());
    zvuMatrix eyeToModel;
    transforms.getFrameModelview().inverse(eyeToModel);
    const zvuMatrix modelview = view * eyeToModel * current;
    transforms.setCameraModelview(view);
    KeepMatrixMode keep;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadMatrixd(modelview.data());
}

void HapticCameraView::popModelview() {
    KeepMatrixMode keep;
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void HapticCameraView::pushProjection() {
    double radius = 30.0;
    state_.getAttributes().get<double>(QM_GOLDEN_RADIUS, radius);
    const double d = state_.getTransforms().workspaceToModelScale() * radius;
    KeepMatrixMode keep;
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    loadProjection(d);
}

void HapticCameraView::popProjection() {
    KeepMatrixMode keep;
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
}

void HapticCameraView::loadProjection(double d) const { glOrtho(-d, d, -d, d, -d, d); }

void DepthBufferHapticCameraView::loadProjection(double d) const { glOrtho(-d, d, -d, d, -d / 2.0, d); }

void HapticCameraView::pushViewport() {
    glPushAttrib(GL_VIEWPORT_BIT);
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    applicationViewport_ = {viewport[0], viewport[1], viewport[2], viewport[3]};
    const PixelRect camera = cameraViewport(applicationViewport_);
    glViewport(camera.x, camera.y, camera.width, camera.height);
}

void HapticCameraView::popViewport() { glPopAttrib(); }

PixelRect HapticCameraView::cameraViewport(const PixelRect& application) {
    return {application.x, application.y, std::clamp(application.width, kMinViewport, kMaxViewport),
            std::clamp(application.height, kMinViewport, kMaxViewport)};
}

zvuMatrix HapticCameraView::computeViewMatrix() {
    IStackedAttributeMap& attributes = state_.getAttributes();
    const zvuVector3Dd golden = readVector(attributes, QM_GOLDEN_POSITION);
    zvuVector3Dd last = readVector(attributes, QM_INT_HAPTIC_CAMERA_VIEW_LAST_POSITION);
    zvuVector3Dd direction = readVector(attributes, QM_INT_HAPTIC_CAMERA_VIEW_DIRECTION);
    double threshold = 0.0;
    attributes.get<double>(QM_INT_HAPTIC_CAMERA_VIEW_MOTION_THRESHOLD, threshold);
    bool touching = false;
    attributes.get<bool>(QM_PROXY_IS_TOUCHING, touching);

    const double moved = (golden - last).length();
    if (touching) {
        if (moved > 2.0) {
            const zvuVector3Dd normal = readVector(attributes, QM_PROXY_TOUCH_NORMAL);
            if (normal.lengthSquared() > 0.0 && finite(normal)) {
                direction = normal.normalized();
            }
            last = golden;
        }
        threshold = 10.0;
    } else if (moved > threshold) {
        const zvuVector3Dd back = last - golden;
        if (back.lengthSquared() > 0.0 && finite(back)) {
            direction = back.normalized();
        }
        last = golden;
        threshold = 2.0;
    }
    writeVector(attributes, QM_INT_HAPTIC_CAMERA_VIEW_POSITION, golden);
    writeVector(attributes, QM_INT_HAPTIC_CAMERA_VIEW_LAST_POSITION, last);
    writeVector(attributes, QM_INT_HAPTIC_CAMERA_VIEW_DIRECTION, direction);
    attributes.set<double>(QM_INT_HAPTIC_CAMERA_VIEW_MOTION_THRESHOLD, threshold);

    const zvuMatrix& workspaceToModel = state_.getTransforms().getWorkspaceToModel();
    const zvuMatrix frame =
        buildFrame(workspaceToModel.transformPoint(golden), workspaceToModel.transformDirection(direction));
    zvuMatrix view;
    frame.inverse(view);
    return view;
}

zvuMatrix HapticCameraView::buildFrame(const zvuVector3Dd& position, const zvuVector3Dd& direction) {
    constexpr double kTiny = 1e-10;
    zvuVector3Dd z{0.0, 0.0, 1.0};
    if (std::fabs(direction.x) >= kTiny || std::fabs(direction.y) >= kTiny || std::fabs(direction.z) >= kTiny) {
        z = direction.normalized();
    }
    const zvuVector3Dd unitY{0.0, 1.0, 0.0};
    zvuVector3Dd x;
    zvuVector3Dd y;
    if (std::fabs(std::fabs(z.dot(unitY)) - 1.0) <= kTiny) {
        // Looking straight up or down: the side axis comes from the x axis.
        y = z.cross(zvuVector3Dd{1.0, 0.0, 0.0}).normalized();
        x = y.cross(z).normalized();
    } else {
        x = unitY.cross(z).normalized();
        y = z.cross(x).normalized();
    }
    zvuMatrix m;
    const zvuVector3Dd columns[4] = {x, y, z, position};
    for (int c = 0; c < 4; ++c) {
        m.at(0, c) = columns[c].x;
        m.at(1, c) = columns[c].y;
        m.at(2, c) = columns[c].z;
        m.at(3, c) = c == 3 ? 1.0 : 0.0;
    }
    return m;
}

// The golden sphere's radius in pixels is the radius in model units over
// the model length of one pixel at the golden position (measured along a
// pixel's diagonal, hence the square root of two).
PixelRect adaptiveReadRect(const zvuVector3Dd& goldenPosition, double goldenRadius, const zvuMatrix& workspaceToModel,
                           double workspaceToModelScale, const zvuMatrix& frameModelview, const zvuMatrix& projection,
                           const PixelRect& viewport) {
    if (viewport.empty()) {
        return {viewport.x, viewport.y, 0, 0};
    }
    const int vp[4] = {viewport.x, viewport.y, viewport.width, viewport.height};
    const zvuMatrix window = FeedbackBufferShapeBuilder::imageMatrix(frameModelview, projection, vp, 1.0);
    zvuMatrix unwindow;
    const zvuVector3Dd golden = workspaceToModel.transformPoint(goldenPosition);
    const zvuVector3Dd w = window.transformPoint(golden);
    if (!window.inverse(unwindow) || !finite(w)) {
        return viewport;
    }
    const double delta = (unwindow.transformPoint({w.x + 1.0, w.y + 1.0, w.z}) - golden).length();
    const double rho = std::sqrt(2.0) / delta * workspaceToModelScale * goldenRadius;
    if (!std::isfinite(rho)) {
        return viewport;
    }
    // At least 32 pixels each way, but never more than the viewport has: a
    // viewport under 64 pixels is read whole.
    const double hw = std::min(std::max(rho, 32.0), viewport.width / 2.0);
    const double hh = std::min(std::max(rho, 32.0), viewport.height / 2.0);
    PixelRect rect;
    rect.width = static_cast<int>(2.0 * hw);
    rect.height = static_cast<int>(2.0 * hh);
    // Shifted inwards where it would leave the viewport. The far bound is
    // computed in double: the corner is far outside for a golden position
    // off screen.
    const double x = std::clamp(w.x - hw, static_cast<double>(viewport.x),
                                static_cast<double>(viewport.x) + viewport.width - rect.width);
    const double y = std::clamp(w.y - hh, static_cast<double>(viewport.y),
                                static_cast<double>(viewport.y) + viewport.height - rect.height);
    rect.x = static_cast<int>(x);
    rect.y = static_cast<int>(y);
    return rect;
}

}  // namespace QM
