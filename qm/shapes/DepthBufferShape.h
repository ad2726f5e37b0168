// Depth-buffer shapes: whatever the application renders between
// qmBeginShape and qmEndShape, read back from OpenGL's depth buffer as a
// height field seen from the camera (the application's, or the haptic
// camera). Only the surface the camera sees exists for the shape.
//
// Image space: x and y are pixel positions inside the read rectangle (the
// sample (i, j), taken at the centre of its pixel, sits at x = i, y = j), z is the window depth times the depth
// scale s, so that depth is measured in units comparable to pixels. The
// shape never builds a mesh: a query turns the pixel cells near the motion
// segment into two triangles each, on the stack. The front of those
// triangles faces the camera (towards smaller depth); background pixels
// (depth 1) form a surface at the far plane, z = s, touchable like any
// other.
#pragma once

#include <memory>
#include <vector>

#include "qm/shapes/BaseShape.h"
#include "qm/shapes/HapticCameraView.h"

namespace QM {

class DepthBufferShape final : public BaseShape {
public:
    // Tolerance of the triangle tests, in image units.
    static constexpr double kEps = 1.1920928955078125e-6;

    // An image of width x height window depths, row by row from the bottom
    // row up, as OpenGL reads them.
    DepthBufferShape(unsigned id, int width, int height, std::vector<float> depths);

    QMenum getType() const override;
    double getProxyOffset() const override { return 0.01; }

    using BaseShape::intersectSegment;
    // The first crossing of the segment with the depth surface. The
    // segment is first cut to the image's box (0..width-1, 0..height-1,
    // 0..s), whether or not its ends lie inside it, so a fast stroke across
    // the surface is still met. With `flipped`, front and back are swapped
    // in the test and in the face reported. The normal faces the side the
    // segment came from.
    bool intersectSegment(const zvu::zvuLineSegmentd& segment, QMenum touchableFace, zvu::zvuVector3Dd& point,
                          zvu::zvuVector3Dd& normal, QMenum& face) override;
    // Probes the surface straight towards and straight away from the camera
    // from the query point (the segment's start), whichever face is met,
    // and adds the plane of the nearer hit (the far one on a tie).
    bool closestFeatures(const zvu::zvuLineSegmentd& querySegment, LocalFeatureSet& features,
                         zvu::zvuVector3Dd& closestPoint) override;

    int width() const { return width_; }
    int height() const { return height_; }
    double depthScale() const { return scale_; }
    // Set when the shape was captured through the haptic camera with the
    // back face touchable: the camera then looked at the back of the
    // surface, so the face the camera sees counts as the back.
    bool flipped() const { return flipped_; }
    // The window depth of a sample as read (not clamped, not scaled).
    float rawDepth(int i, int j) const { return depths_[static_cast<std::size_t>(j) * width_ + i]; }
    // The sample in image units: clamped to [0, 1] and scaled by s.
    double depth(int i, int j) const;
    const zvu::zvuMatrix& imageFromShape() const { return imageFromShape_; }
    // Workspace to image space and back (with perspective division).
    zvu::zvuVector3Dd toImage(const zvu::zvuVector3Dd& workspace) const {
        return imageFromWorkspace_.transformPoint(workspace);
    }
    zvu::zvuVector3Dd toWorkspace(const zvu::zvuVector3Dd& image) const {
        return workspaceFromImage_.transformPoint(image);
    }

private:
    friend class DepthBufferShapeBuilder;
    ~DepthBufferShape() override = default;

    struct Hit;
    // Cuts the workspace segment to the image box, in image space; false
    // when nothing of it is inside.
    bool clipToImage(const zvu::zvuLineSegmentd& segment, zvu::zvuVector3Dd& from, zvu::zvuVector3Dd& to) const;
    bool intersectImage(const zvu::zvuVector3Dd& from, const zvu::zvuVector3Dd& to, int faceCode, Hit& hit) const;

    const int width_;
    const int height_;
    std::vector<float> depths_;
    double scale_ = 1.0;
    bool flipped_ = false;
    // False when the image cannot be queried (fewer than two pixels in a
    // direction, or singular image matrices): every query then misses.
    bool usable_ = false;
    zvu::zvuMatrix imageFromShape_;
    zvu::zvuMatrix imageFromWorkspace_;
    zvu::zvuMatrix workspaceFromImage_;
};

// Reads the depth image at the end of the capture. With the haptic camera
// view the shape is rendered through the camera, with culling set for the
// touchable face; with the adaptive viewport (and no camera view) only the
// rectangle around the golden sphere is read.
class DepthBufferShapeBuilder final : public BaseShapeBuilder {
public:
    DepthBufferShapeBuilder();
    ~DepthBufferShapeBuilder() override;

    // QMException(QM_INVALID_OPERATION) when OpenGL's depth range is not
    // [0, 1] (the image transform assumes it); nothing is changed then.
    void begin(unsigned id, IState& state) override;
    // QMException(QM_INVALID_OPERATION) when the depth range was changed to
    // other than [0, 1] during the capture (no shape). A read rectangle that
    // is empty (a minimised window) gives a shape that is never touched.
    IShape* end(IState& state) override;

    // The rectangle the next end() reads (the viewport unless the adaptive
    // viewport changes it at end()).
    const PixelRect& readRect() const { return read_; }
    // Shape coordinates to image space for a capture through `viewport`
    // read at `read`: the window transform, then the depth scale, then the
    // centre of the read rectangle's first pixel moved to the origin.
    static zvu::zvuMatrix imageMatrix(const zvu::zvuMatrix& modelview, const zvu::zvuMatrix& projection,
                                      const PixelRect& viewport, const PixelRect& read, double depthScale);

private:
    // Undoes what begin() did to OpenGL.
    void restoreGl();

    bool useCameraView_ = false;
    bool useAdaptiveViewport_ = false;
    int pushedAttributes_ = 0;
    std::unique_ptr<DepthBufferHapticCameraView> camera_;
    zvu::zvuMatrix projection_;
    PixelRect viewport_;
    PixelRect read_;
};

}  // namespace QM
