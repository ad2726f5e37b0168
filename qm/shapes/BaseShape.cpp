#include "qm/shapes/BaseShape.h"

#include <GL/gl.h>

#include <memory>

#include "qm/api/QMException.h"
#include "qm/api/Symbols.h"
#include "qm/state/AttributeGroups.h"
#include "qm/state/State.h"

namespace QM {

namespace {

struct CopyGroup {
    unsigned bit;
    const QMenum* const* keys;
    int count;
};

// The symbols are variables filled when the library loads, so the table
// holds their addresses.
const QMenum* const kMaterialKeys[] = {
    &QM_INT_FRONT_FACE_STIFFNESS,        &QM_INT_FRONT_FACE_DAMPING,        &QM_INT_FRONT_FACE_STATIC_FRICTION,
    &QM_INT_FRONT_FACE_DYNAMIC_FRICTION, &QM_INT_FRONT_FACE_POPTHROUGH,     &QM_INT_BACK_FACE_STIFFNESS,
    &QM_INT_BACK_FACE_DAMPING,           &QM_INT_BACK_FACE_STATIC_FRICTION, &QM_INT_BACK_FACE_DYNAMIC_FRICTION,
    &QM_INT_BACK_FACE_POPTHROUGH,
};
const QMenum* const kTransformKeys[] = {&QM_INT_SHAPEWORKSPACE_MATRIX, &QM_INT_WORKSPACESHAPE_MATRIX,
                                        &QM_HAPTIC_CAMERA_VIEW, &QM_ADAPTIVE_VIEWPORT};
const QMenum* const kTouchKeys[] = {&QM_TOUCHABLE_FACE, &QM_TOUCH_MODEL, &QM_SNAP_DISTANCE, &QM_REACTION_FORCE};
const QMenum* const kCallbackKeys[] = {&QM_SHAPE_INTERSECT_LS, &QM_SHAPE_CLOSEST_FEATURES,
                                       &QM_INT_SHAPE_INTERSECT_LS_USER_DATA, &QM_INT_SHAPE_CLOSEST_FEATURES_USER_DATA};
const QMenum* const kHintKeys[] = {&QM_SHAPE_FEEDBACK_BUFFER_VERTICES, &QM_SHAPE_DYNAMIC_SURFACE_CHANGE,
                                   &QM_SHAPE_PERSISTENCE};
const QMenum* const kCollisionKeys[] = {&QM_INT_USE_IN_FAST_LOOP, &QM_INT_REPORT_COLLISIONS};

template <std::size_t N>
constexpr CopyGroup group(unsigned bit, const QMenum* const (&keys)[N]) {
    return {bit, keys, static_cast<int>(N)};
}

const CopyGroup kCopyGroups[] = {
    group(1, kMaterialKeys), group(2, kTransformKeys), group(4, kTouchKeys),
    group(8, kCallbackKeys), group(16, kHintKeys),     group(32, kCollisionKeys),
};

void putMatrix(AttributeMap& map, QMenum key, const zvu::zvuMatrix& m) { map.setArray<double>(key, m.data()); }

}  // namespace

void copyShapeAttributes(IAttributeMap& target, const IAttributeMap& source, unsigned mask) {
    for (const CopyGroup& g : kCopyGroups) {
        if ((mask & g.bit) == 0) {
            continue;
        }
        for (int i = 0; i < g.count; ++i) {
            target.copyFrom(*g.keys[i], source);
        }
    }
}

BaseShape::BaseShape(unsigned id) : id_(id) { declareShapeGroups(attributes_, 255, true); }

bool BaseShape::intersectSegment(const zvu::zvuLineSegmentd& segment, zvu::zvuVector3Dd& point,
                                 zvu::zvuVector3Dd& normal, QMenum& face) {
    QMenum touchable = QM_FRONT;
    attributes_.get<QMenum>(QM_TOUCHABLE_FACE, touchable);
    return intersectSegment(segment, touchable, point, normal, face);
}

bool BaseShape::intersectSegment(const zvu::zvuLineSegmentd&, QMenum, zvu::zvuVector3Dd&, zvu::zvuVector3Dd&, QMenum&) {
    return false;
}

bool BaseShape::closestFeatures(const zvu::zvuLineSegmentd&, LocalFeatureSet&, zvu::zvuVector3Dd&) { return false; }

QMenum BaseShape::getType() const { return QM_INT_SHAPE_BASE; }

void BaseShape::setTransforms(const zvu::zvuMatrix& shapeToWorkspace, const zvu::zvuMatrix& workspaceToShape) {
    shapeToWorkspace_ = shapeToWorkspace;
    workspaceToShape_ = workspaceToShape;
    putMatrix(attributes_, QM_INT_SHAPEWORKSPACE_MATRIX, shapeToWorkspace);
    putMatrix(attributes_, QM_INT_WORKSPACESHAPE_MATRIX, workspaceToShape);
}

zvu::zvuMatrix captureModelview(IState& state) {
    bool useGl = true;
    state.getAttributes().get<bool>(QM_USE_GL_MODELVIEW, useGl);
    if (!useGl) {
        return state.getTransforms().getModelview();
    }
    zvu::zvuMatrix m;
    glGetDoublev(GL_MODELVIEW_MATRIX, m.data());
    return m;
}

void BaseShapeBuilder::begin(unsigned id, IState& state) {
    id_ = id;
    modelview_ = captureModelview(state);
}

IShape* BaseShapeBuilder::end(IState& state) {
    return finishOrDestroy(new BaseShape(id_), [&](BaseShape& shape) { finishShape(shape, state, kCopyAll); });
}

void BaseShapeBuilder::finishShape(BaseShape& shape, IState& state, unsigned mask) const {
    copyShapeAttributes(shape.getAttributes(), state.getAttributes(), mask);
    ITransformManager& transforms = state.getTransforms();
    const bool camera = transforms.cameraViewEnabled(shape.getAttributes());
    const zvu::zvuMatrix& view = camera ? transforms.getCameraModelview() : transforms.getFrameModelview();
    zvu::zvuMatrix viewInverse;
    if (!view.inverse(viewInverse)) {
        throw QMException(QM_INVALID_OPERATION);
    }
    const zvu::zvuMatrix shapeToWorkspace = transforms.getModelToWorkspace() * viewInverse * modelview_;
    zvu::zvuMatrix workspaceToShape;
    if (!shapeToWorkspace.inverse(workspaceToShape)) {
        throw QMException(QM_INVALID_OPERATION);
    }
    shape.setTransforms(shapeToWorkspace, workspaceToShape);
}

}  // namespace QM
