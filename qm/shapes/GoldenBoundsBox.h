// The golden bounds box: while shapes are captured around the proxy only
// (through the haptic camera, or in the adaptive viewport), their geometry
// is valid only inside the golden sphere around the proxy. A box inscribed
// in that sphere, touched from inside, keeps the collision proxy there until
// the next frame captures the geometry around its new position.
#pragma once

#include <atomic>

#include "qm/shapes/BoxShape.h"
#include "qm/shapes/Scene.h"
#include "zvu/BoundBox.h"

namespace QM {

// Builds the box of each frame that needs one, and remembers what the next
// frame's box depends on. The client thread builds it at frame end under
// the renderer lock; the servo thread reports the proxy exchanges.
class GoldenBoundsBox {
public:
    // The margin by which the cube stays inside the golden sphere.
    static constexpr double kMargin = 0.001;

    // Whether a scene needs the box: some shape was captured through the
    // haptic camera or in the adaptive viewport.
    static bool needed(const ShapeMap& shapes);
    // Whether the shape is a golden bounds box (it carries
    // QM_INT_GOLDEN_BOUNDS_CHECKER).
    static bool isGoldenBox(const IShape& shape);
    // The half-size of the cube inscribed in a golden sphere of `radius`.
    static double halfSize(double radius) { return radius / 1.7320508075688772 - kMargin; }
    // The region of a frame's box, in workspace coordinates: the cube of
    // half-size `half` around `current`, or, with `intersect`, its
    // intersection with the cube around `previous`. When the proxy moved so
    // far that the two cubes do not meet (more than twice the half-size on
    // some axis: about 35 units for the default radius), the intersection is
    // empty and the single cube around `current` is used.
    static zvu::BoundBox3 region(const zvu::zvuVector3Dd& previous, const zvu::zvuVector3Dd& current, double half,
                                 bool intersect) noexcept;

    // The box of this frame, around the golden position `golden` in a golden
    // sphere of `radius` (workspace units), under the reserved identifier:
    // touched from inside (QM_TOUCHABLE_FACE QM_BACK), used neither in the
    // servo loop nor for touch reports. Once the servo side has run a proxy
    // exchange with a box, the box is the intersection of the cubes around
    // the last box's golden position and this one (see region). The shape is
    // returned unreferenced. Throws only std::bad_alloc.
    BoxShape* build(unsigned id, const zvu::zvuVector3Dd& golden, double radius);
    // A frame without the box: the next box starts again as a single cube.
    void forget() noexcept;
    // Servo side: a proxy exchange ran. It counts once the collision side's
    // scene holds a box.
    void exchanged() noexcept;
    // Whether a proxy exchange has run with a box since the box appeared.
    bool ready() const noexcept { return ready_.load(std::memory_order_acquire); }

private:
    zvu::zvuVector3Dd last_{};
    bool hasLast_ = false;
    std::atomic<bool> inScene_{false};
    std::atomic<bool> ready_{false};
};

}  // namespace QM
