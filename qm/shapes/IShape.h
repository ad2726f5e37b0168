// The shape interface: everything the proxy can touch.
#pragma once

#include "common/ReferenceCounter.h"
#include "qm/qm.h"
#include "zvu/Line.h"
#include "zvu/Vector3D.h"

namespace QM {

class AttributeMap;
class IAttributeMap;
class LocalFeatureSet;

// Shapes are shared between the scenes of the client thread and the
// collision thread and counted by reference (atomically; a new shape starts
// at 0 and belongs to whoever takes the first reference). Geometry never
// changes after a shape is built; only its attribute map does.
class IShape : public virtual sched::IReferenceCounter {
public:
    // Intersects a directed motion segment (workspace coordinates) with the
    // touchable surface: the first crossing point, the unit normal there
    // (towards the side the segment came from) and the face crossed
    // (QM_FRONT or QM_BACK).
    virtual bool intersectSegment(const zvu::zvuLineSegmentd& segment, zvu::zvuVector3Dd& point,
                                  zvu::zvuVector3Dd& normal, QMenum& face) = 0;
    // The same with the touchable face given (QM_FRONT, QM_BACK or
    // QM_FRONT_AND_BACK) instead of read from the shape's attributes, so
    // that collision detection can narrow or widen it without writing to a
    // shape that other threads read. The four-argument form is this one with
    // the shape's own QM_TOUCHABLE_FACE.
    virtual bool intersectSegment(const zvu::zvuLineSegmentd& segment, QMenum touchableFace, zvu::zvuVector3Dd& point,
                                  zvu::zvuVector3Dd& normal, QMenum& face) = 0;
    // Adds the local features nearest to the segment's start to the set and
    // reports the nearest surface point.
    virtual bool closestFeatures(const zvu::zvuLineSegmentd& querySegment, LocalFeatureSet& features,
                                 zvu::zvuVector3Dd& closestPoint) = 0;
    // How far collision detection backs a hit off along the motion.
    virtual double getProxyOffset() const = 0;
    virtual const AttributeMap& getAttributes() const = 0;
    virtual AttributeMap& getAttributes() = 0;
    // Copies every attribute group from the source into the shape's map.
    virtual void setAttributes(const IAttributeMap& source) = 0;
    virtual QMenum getType() const = 0;
    virtual unsigned getId() const = 0;

protected:
    ~IShape() override = default;
};

}  // namespace QM
