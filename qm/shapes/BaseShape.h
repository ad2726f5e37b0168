// The common base of every shape and of every shape builder.
#pragma once

#include "common/ReferenceCounter.h"
#include "qm/shapes/IShape.h"
#include "qm/shapes/IShapeBuilder.h"
#include "qm/state/AttributeMap.h"
#include "zvu/Matrix.h"

namespace QM {

class IState;

// The groups of attribute keys a shape copies from the context's state (the
// mask bits select groups):
//   1  the ten front- and back-face material keys;
//   2  the shape's two matrices and the camera-view flags;
//   4  touchable face, touch model, snap distance and reaction force;
//   8  the shape callbacks and their user data;
//   16 feedback buffer size, dynamic surface change and persistence;
//   32 the internal collision flags.
// Group 4 is deliberately not the attribute state's touch group: that one
// also holds the context-wide published touch state (QM_PROXY_IS_TOUCHING,
// QM_PROXY_TOUCH_NORMAL, ...), which must not become every new shape's own.
enum ShapeCopyMask : unsigned {
    kCopyAll = 255,
    kCopyCallbackShape = 31,
    kCopyCapturedShape = 23,  // feedback-buffer, depth-buffer and primitive shapes
};

// Copies the keys of the selected groups from `source` to `target` (values
// that are not set in the source are not copied).
void copyShapeAttributes(IAttributeMap& target, const IAttributeMap& source, unsigned mask);

// A shape without geometry: what the base builder makes, and the placeholder
// that qmCallShape puts in a frame to re-use an earlier shape's geometry with
// new attributes. Every concrete shape derives from it.
class BaseShape : public sched::ReferenceCounter<IShape> {
public:
    // A shape whose map holds every shape attribute at its default (the
    // touch results the collision side writes included: untouched).
    explicit BaseShape(unsigned id);

    // Reads QM_TOUCHABLE_FACE (QM_FRONT when unset) and asks the overload
    // below.
    bool intersectSegment(const zvu::zvuLineSegmentd& segment, zvu::zvuVector3Dd& point, zvu::zvuVector3Dd& normal,
                          QMenum& face) override;
    // A shape without geometry is never met.
    bool intersectSegment(const zvu::zvuLineSegmentd& segment, QMenum touchableFace, zvu::zvuVector3Dd& point,
                          zvu::zvuVector3Dd& normal, QMenum& face) override;
    bool closestFeatures(const zvu::zvuLineSegmentd& querySegment, LocalFeatureSet& features,
                         zvu::zvuVector3Dd& closestPoint) override;
    double getProxyOffset() const override { return 0.0; }
    const AttributeMap& getAttributes() const override { return attributes_; }
    AttributeMap& getAttributes() override { return attributes_; }
    void setAttributes(const IAttributeMap& source) override { copyShapeAttributes(attributes_, source, kCopyAll); }
    QMenum getType() const override;
    unsigned getId() const override { return id_; }

    // The shape's transforms, read from its attributes when it is finished
    // (identity until then).
    const zvu::zvuMatrix& shapeToWorkspace() const { return shapeToWorkspace_; }
    const zvu::zvuMatrix& workspaceToShape() const { return workspaceToShape_; }
    // Stores the transforms in the attributes and in the cached copies.
    void setTransforms(const zvu::zvuMatrix& shapeToWorkspace, const zvu::zvuMatrix& workspaceToShape);

protected:
    ~BaseShape() override = default;

private:
    const unsigned id_;
    AttributeMap attributes_;
    zvu::zvuMatrix shapeToWorkspace_;
    zvu::zvuMatrix workspaceToShape_;
};

// Runs `finish` on a new shape, which has no reference yet, and returns it
// still unreferenced; when `finish` throws, the shape is destroyed and the
// exception passes on.
template <typename Shape, typename Finish>
Shape* finishOrDestroy(Shape* shape, Finish&& finish) {
    try {
        finish(*shape);
    } catch (...) {
        shape->addReference();
        shape->releaseReference();
        throw;
    }
    return shape;
}

// The modelview a shape is captured with: OpenGL's when QM_USE_GL_MODELVIEW
// is set, else the library's modelview stack top.
zvu::zvuMatrix captureModelview(IState& state);

// The common part of the builders: the identifier and the modelview
// captured at begin. `finishShape` gives a new shape its attributes and its
// transforms: shape-to-workspace applies the captured modelview, then the
// inverse of the frame modelview (or of the camera modelview for a shape
// seen through the haptic camera), then the model-to-workspace matrix.
class BaseShapeBuilder : public IShapeBuilder {
public:
    void begin(unsigned id, IState& state) override;
    IShape* end(IState& state) override;
    unsigned getId() const override { return id_; }

protected:
    void finishShape(BaseShape& shape, IState& state, unsigned mask) const;
    void setId(unsigned id) { id_ = id; }
    const zvu::zvuMatrix& modelview() const { return modelview_; }
    void setModelview(const zvu::zvuMatrix& m) { modelview_ = m; }

private:
    unsigned id_ = 0;
    zvu::zvuMatrix modelview_;
};

}  // namespace QM
