// Callback shapes: surfaces the application describes itself, through two
// functions registered with qmCallback while the shape is specified. Both
// collision queries are handed to them in shape coordinates (the
// coordinates of the application's drawing inside the shape) and their
// answers are mapped back to the workspace with the shape's transform.
#pragma once

#include "qm/collision/LocalFeature.h"
#include "qm/shapes/BaseShape.h"

namespace QM {

// The application's functions run on the collision thread. What they return
// is checked before it reaches collision detection: an intersection counts
// only with a face of QM_FRONT or QM_BACK, a finite point and a finite,
// non-zero normal (after mapping); closest features count only with a
// finite closest point. Anything else is no hit.
class CallbackShape final : public BaseShape {
public:
    explicit CallbackShape(unsigned id) : BaseShape(id) {}

    using BaseShape::intersectSegment;
    bool intersectSegment(const zvu::zvuLineSegmentd& segment, QMenum touchableFace, zvu::zvuVector3Dd& point,
                          zvu::zvuVector3Dd& normal, QMenum& face) override;
    // The features the function adds through its geometry handle are kept
    // only when it returns true.
    bool closestFeatures(const zvu::zvuLineSegmentd& querySegment, LocalFeatureSet& features,
                         zvu::zvuVector3Dd& closestPoint) override;
    double getProxyOffset() const override { return 0.001; }
    QMenum getType() const override;

private:
    ~CallbackShape() override = default;
};

class CallbackShapeBuilder final : public BaseShapeBuilder {
public:
    IShape* end(IState& state) override;
};

// The geometry handle of the closest-features function running on the
// calling thread: set for the duration of the call, null otherwise.
// qmLocalFeature* accept only this handle, so a stale, forged or foreign
// handle is compared, never dereferenced.
ShapeFeatureSet* activeGeometry() noexcept;

}  // namespace QM
