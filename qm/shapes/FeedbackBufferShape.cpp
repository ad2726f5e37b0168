#include "qm/shapes/FeedbackBufferShape.h"

#include <GL/gl.h>

#include <climits>
#include <cmath>
#include <new>

#include "qm/api/QMException.h"
#include "qm/api/Symbols.h"
#include "qm/shapes/FeedbackStream.h"
#include "qm/shapes/HapticCameraView.h"
#include "qm/state/State.h"

namespace QM {

QMenum FeedbackBufferShape::getType() const { return QM_SHAPE_FEEDBACK_BUFFER; }

FeedbackBufferShapeBuilder::FeedbackBufferShapeBuilder() = default;

FeedbackBufferShapeBuilder::~FeedbackBufferShapeBuilder() = default;

int FeedbackBufferShapeBuilder::capacityFor(int hintedVertices) {
    const long long vertices = hintedVertices > 0 ? hintedVertices : kDefaultVertices;
    const long long floats = vertices * kFloatsPerVertex;
    return floats > INT_MAX ? 0 : static_cast<int>(floats);
}

double FeedbackBufferShapeBuilder::depthScale(const zvu::zvuMatrix& projection, int viewportWidth, int viewportHeight) {
    zvu::zvuMatrix inverse;
    if (!projection.inverse(inverse)) {
        return 1.0;
    }
    const zvu::zvuVector3Dd nearCorner = inverse.transformPoint({-1, -1, -1});
    const zvu::zvuVector3Dd farCorner = inverse.transformPoint({-1, -1, 1});
    const zvu::zvuVector3Dd farRight = inverse.transformPoint({1, -1, 1});
    const zvu::zvuVector3Dd farTop = inverse.transformPoint({-1, 1, 1});
    const double dz = nearCorner.z - farCorner.z;
    const double dx = farRight.x - farCorner.x;
    const double dy = farTop.y - farCorner.y;
    double s = 0.0;
    if (dx > 0.0) {
        s = dz / dx * viewportWidth;
    } else if (dy > 0.0) {
        s = dz / dy * viewportHeight;
    }
    // A projection without depth extent (or a degenerate one) would flatten
    // every depth to zero and make image space singular: keep depths as they
    // are instead.
    return std::isfinite(s) && s > 0.0 ? s : 1.0;
}

zvu::zvuMatrix FeedbackBufferShapeBuilder::imageMatrix(const zvu::zvuMatrix& modelview,
                                                       const zvu::zvuMatrix& projection, const int viewport[4],
                                                       double depthScale) {
    // x_w = (x_ndc + 1) w / 2 + x, y_w = (y_ndc + 1) h / 2 + y,
    // z_w = (z_ndc + 1) / 2, scaled by s. Applied to clip coordinates, the
    // perspective division comes after, which gives the same point.
    zvu::zvuMatrix window;
    const double w = viewport[2];
    const double h = viewport[3];
    window[0] = w / 2.0;
    window[5] = h / 2.0;
    window[10] = depthScale / 2.0;
    window[12] = viewport[0] + w / 2.0;
    window[13] = viewport[1] + h / 2.0;
    window[14] = depthScale / 2.0;
    return window * projection * modelview;
}

void FeedbackBufferShapeBuilder::begin(unsigned id, IState& state) {
    GLint mode = 0;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    if (mode != GL_RENDER) {
        throw QMException(QM_INVALID_OPERATION);
    }
    std::int32_t hint = 0;
    state.getAttributes().get<std::int32_t>(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, hint);
    const int capacity = capacityFor(hint);
    if (capacity == 0) {
        throw QMException(QM_OUT_OF_MEMORY);
    }
    std::unique_ptr<float[]> buffer(new (std::nothrow) float[static_cast<std::size_t>(capacity)]);
    if (buffer == nullptr) {
        throw QMException(QM_OUT_OF_MEMORY);
    }
    buffer_ = std::move(buffer);
    capacity_ = capacity;
    camera_.reset();
    if (state.getTransforms().cameraViewEnabled(state.getAttributes())) {
        camera_ = std::make_unique<HapticCameraView>(state);
        camera_->apply();
    }
    setId(id);
    setModelview(captureModelview(state));
    glGetDoublev(GL_PROJECTION_MATRIX, projection_.data());
    glGetIntegerv(GL_VIEWPORT, viewport_);

    glFeedbackBuffer(capacity_, GL_3D, buffer_.get());
    glRenderMode(GL_FEEDBACK);
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    capturing_ = true;
}

IShape* FeedbackBufferShapeBuilder::end(IState& state) {
    if (capturing_) {
        glPopAttrib();
        capturing_ = false;
    }
    camera_.reset();
    GLint frontFace = GL_CCW;
    glGetIntegerv(GL_FRONT_FACE, &frontFace);
    // The buffer goes with this capture whatever happens below.
    std::unique_ptr<float[]> buffer = std::move(buffer_);
    GLint mode = 0;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    if (mode != GL_FEEDBACK || buffer == nullptr) {
        throw QMException(QM_INVALID_OPERATION);
    }
    const GLint count = glRenderMode(GL_RENDER);
    if (count < 0) {
        throw QMException(QM_OUT_OF_MEMORY);
    }

    auto* shape = new FeedbackBufferShape(getId(), frontFace);
    return finishOrDestroy(shape, [&](FeedbackBufferShape& s) {
        finishShape(s, state, kCopyCapturedShape);
        const double scale = depthScale(projection_, viewport_[2], viewport_[3]);
        s.imageFromShape_ = imageMatrix(modelview(), projection_, viewport_, scale);
        zvu::zvuMatrix shapeFromImage;
        if (!s.imageFromShape_.inverse(shapeFromImage)) {
            throw QMException(QM_INVALID_OPERATION);
        }
        scaleDepths(buffer.get(), count, static_cast<float>(scale));
        s.complete_ = parseFeedbackStream(buffer.get(), count, frontFace == GL_CCW, s.mutableGeometry()).complete();
        // The geometry now holds its own copy of every vertex: the capture
        // buffer is not kept.
        buffer.reset();
        s.mutableGeometry().build();
        s.setLocalFrame(s.imageFromShape_ * s.workspaceToShape(), s.shapeToWorkspace() * shapeFromImage);
    });
}

}  // namespace QM
