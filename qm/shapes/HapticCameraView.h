// The haptic camera view and the adaptive viewport.
//
// Captured shapes see the scene through an OpenGL camera. The application's
// camera may not see the surface the device is about to touch, so with
// QM_HAPTIC_CAMERA_VIEW the builder renders the shape through a small
// orthographic camera of its own, placed at the golden position (the proxy)
// and looking along the proxy's motion, or into the surface it touches.
// With QM_ADAPTIVE_VIEWPORT a depth-buffer shape keeps the application's
// camera but reads back only the part of the viewport around the golden
// sphere. Client thread only, inside the application's OpenGL context.
#pragma once

#include "zvu/Matrix.h"
#include "zvu/Vector3D.h"

namespace QM {

class IState;

// A rectangle of window pixels.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool empty() const { return width <= 0 || height <= 0; }
    // The part of this rectangle inside `other` (empty when they do not
    // overlap).
    PixelRect intersection(const PixelRect& other) const;
    bool operator==(const PixelRect&) const = default;
};

// Replaces OpenGL's modelview, projection and viewport by the haptic
// camera's while it is applied. apply() and restore() are idempotent; the
// destructor restores a view still applied, so that a capture that fails
// half-way leaves OpenGL as it found it.
class HapticCameraView {
public:
    // The side of the camera viewport is kept within these bounds.
    static constexpr int kMinViewport = 64;
    static constexpr int kMaxViewport = 256;

    explicit HapticCameraView(IState& state) : state_(state) {}
    virtual ~HapticCameraView();
    HapticCameraView(const HapticCameraView&) = delete;
    HapticCameraView& operator=(const HapticCameraView&) = delete;

    void apply();
    void restore();
    bool applied() const { return applied_; }
    // The application's viewport as it was when the view was applied.
    const PixelRect& applicationViewport() const { return applicationViewport_; }

    // Places the camera from the state's golden position and touch state,
    // updating the camera attributes kept in the state, and returns the
    // matrix from model coordinates to the camera's eye coordinates:
    //  - touching: the camera looks into the surface along the touch normal,
    //    re-aimed once the golden position has moved more than 2 units from
    //    where it was last aimed; the motion threshold becomes 10;
    //  - moving freely: it looks along the motion once the golden position
    //    has moved more than the threshold from where it was last aimed;
    //    the threshold becomes 2.
    zvu::zvuMatrix computeViewMatrix();
    // The frame whose third axis is the direction (the unit z axis when
    // every component is under 1e-10) and whose origin is the position;
    // right-handed and orthonormal, its side axis taken from the y axis, or
    // from the x axis when the direction is vertical.
    static zvu::zvuMatrix buildFrame(const zvu::zvuVector3Dd& position, const zvu::zvuVector3Dd& direction);
    // The viewport the camera renders into: the application's corner with
    // each side clamped to 64..256 pixels.
    static PixelRect cameraViewport(const PixelRect& application);

protected:
    // Loads the camera's projection, d being the golden radius in model
    // units: a cube of half-side d around the camera.
    virtual void loadProjection(double d) const;
    IState& state() const { return state_; }

private:
    void pushModelview();
    void popModelview();
    void pushProjection();
    void popProjection();
    void pushViewport();
    void popViewport();

    IState& state_;
    bool applied_ = false;
    PixelRect applicationViewport_;
};

// The depth-buffer shapes' camera sees less behind it (half the radius) so
// that the depth range is spent mostly ahead of the proxy.
class DepthBufferHapticCameraView final : public HapticCameraView {
public:
    using HapticCameraView::HapticCameraView;

protected:
    void loadProjection(double d) const override;
};

// The part of the viewport a depth-buffer shape reads with the adaptive
// viewport: a square of about the golden sphere's projected diameter around
// its projected centre, at least 64 pixels a side where the viewport is
// that large, never larger than the viewport, and shifted inwards (not
// shrunk) where it would leave the viewport. `frameModelview` and
// `projection` are the application's camera; the golden position is in
// workspace coordinates and the radius in workspace units. The whole
// viewport when the golden position has no finite projection; empty for an
// empty viewport.
PixelRect adaptiveReadRect(const zvu::zvuVector3Dd& goldenPosition, double goldenRadius,
                           const zvu::zvuMatrix& workspaceToModel, double workspaceToModelScale,
                           const zvu::zvuMatrix& frameModelview, const zvu::zvuMatrix& projection,
                           const PixelRect& viewport);

}  // namespace QM
