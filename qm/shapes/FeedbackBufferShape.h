// Feedback-buffer shapes: geometry drawn with OpenGL between qmBeginShape
// and qmEndShape, captured through OpenGL's feedback mode. OpenGL returns
// window coordinates instead of pixels; the shape keeps its points, lines
// and triangles in that image space (window x and y in pixels, depth scaled
// into comparable units) with the matrices between image space and the
// workspace.
#pragma once

#include <memory>

#include "qm/shapes/MeshShape.h"

namespace QM {

class HapticCameraView;

class FeedbackBufferShape final : public MeshShape {
public:
    FeedbackBufferShape(unsigned id, int frontFace) : MeshShape(id), frontFace_(frontFace) {}
    QMenum getType() const override;
    // GL_CW or GL_CCW, as OpenGL had it at the end of the capture.
    int getFrontFace() const { return frontFace_; }
    const zvu::zvuMatrix& imageFromShape() const { return imageFromShape_; }
    // Whether the whole stream was parsed (false when OpenGL's stream ended
    // inside a primitive).
    bool complete() const { return complete_; }

private:
    friend class FeedbackBufferShapeBuilder;
    ~FeedbackBufferShape() override = default;

    int frontFace_;
    zvu::zvuMatrix imageFromShape_;
    bool complete_ = true;
};

// Switches OpenGL into feedback mode at begin and parses the stream at end.
class FeedbackBufferShapeBuilder final : public BaseShapeBuilder {
public:
    // The buffer for a hint of n vertices holds 30 n floats; without a hint
    // it holds 1,966,080 floats (n = 65536).
    static constexpr long long kFloatsPerVertex = 30;
    static constexpr int kDefaultVertices = 65536;

    FeedbackBufferShapeBuilder();
    ~FeedbackBufferShapeBuilder() override;

    // QMException(QM_INVALID_OPERATION) unless OpenGL is in GL_RENDER mode;
    // QMException(QM_OUT_OF_MEMORY) when the buffer cannot be made.
    void begin(unsigned id, IState& state) override;
    // QMException(QM_INVALID_OPERATION) unless OpenGL is still in feedback
    // mode; QMException(QM_OUT_OF_MEMORY) when the buffer overflowed.
    IShape* end(IState& state) override;

    // The number of floats of the buffer for a vertex hint; 0 when the hint
    // asks for more than an int can count.
    static int capacityFor(int hintedVertices);
    // The depth scale s that makes one unit of scaled depth span about as
    // much eye-space distance as one pixel at the far plane (1 when the
    // projection gives none).
    static double depthScale(const zvu::zvuMatrix& projection, int viewportWidth, int viewportHeight);
    // Shape coordinates to image space: modelview, projection, viewport,
    // then the depth scale.
    static zvu::zvuMatrix imageMatrix(const zvu::zvuMatrix& modelview, const zvu::zvuMatrix& projection,
                                      const int viewport[4], double depthScale);

private:
    std::unique_ptr<float[]> buffer_;
    int capacity_ = 0;
    // The haptic camera the capture is rendered through, when enabled;
    // restored (and dropped) at end.
    std::unique_ptr<HapticCameraView> camera_;
    bool capturing_ = false;
    zvu::zvuMatrix projection_;
    int viewport_[4] = {0, 0, 0, 0};
};

}  // namespace QM
