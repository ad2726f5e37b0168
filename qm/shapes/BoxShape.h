// Box shapes: an axis-aligned box in the shape's own coordinates, placed in
// the workspace by the shape's transform. The library uses one as the
// golden bounds box (GoldenBoundsBox.h).
#pragma once

#include "qm/shapes/BaseShape.h"

namespace QM {

class BoxShape final : public BaseShape {
public:
    // Tolerance of the inside test and of the face crossings.
    static constexpr double kEps = 1e-10;

    // A box from (-0.5, -0.5, -0.5) to (0.5, 0.5, 0.5).
    explicit BoxShape(unsigned id) : BaseShape(id) {}

    // A point is inside when min - kEps < p < max + kEps on every axis.
    bool inside(const zvu::zvuVector3Dd& p) const;

    // A segment meets the box only when exactly one of its ends is inside:
    // entering, it crosses the front face (normal out of the box); leaving,
    // the back face (normal into the box). Of the six faces crossed by the
    // segment (run from its outside end to its inside end), within the
    // face's rectangle, the one with the smallest parameter is met; on a
    // tie the first in the order +x, -x, +y, -y, +z, -z.
    using BaseShape::intersectSegment;
    bool intersectSegment(const zvu::zvuLineSegmentd& segment, QMenum touchableFace, zvu::zvuVector3Dd& point,
                          zvu::zvuVector3Dd& normal, QMenum& face) override;
    double getProxyOffset() const override { return 0.001; }
    QMenum getType() const override;

    const zvu::zvuVector3Dd& min() const { return min_; }
    const zvu::zvuVector3Dd& max() const { return max_; }
    // Only while the shape is being made, before other threads see it.
    void setBounds(const zvu::zvuVector3Dd& min, const zvu::zvuVector3Dd& max) {
        min_ = min;
        max_ = max;
    }

private:
    ~BoxShape() override = default;
    zvu::zvuVector3Dd min_{-0.5, -0.5, -0.5};
    zvu::zvuVector3Dd max_{0.5, 0.5, 0.5};
};

}  // namespace QM
