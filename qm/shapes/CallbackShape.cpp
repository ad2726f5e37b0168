#include "qm/shapes/CallbackShape.h"

#include <cmath>

#include "qm/api/Symbols.h"
#include "qm/state/Attrib.h"
#include "qm/state/State.h"

namespace QM {

namespace {

thread_local ShapeFeatureSet* t_activeGeometry = nullptr;

// Makes a handle the calling thread's active one for the lifetime of the
// scope, and restores the one before it afterwards.
class ActiveGeometryScope {
public:
    explicit ActiveGeometryScope(ShapeFeatureSet* handle) noexcept : saved_(t_activeGeometry) {
        t_activeGeometry = handle;
    }
    ~ActiveGeometryScope() { t_activeGeometry = saved_; }
    ActiveGeometryScope(const ActiveGeometryScope&) = delete;
    ActiveGeometryScope& operator=(const ActiveGeometryScope&) = delete;

private:
    ShapeFeatureSet* saved_;
};

bool finite(const zvu::zvuVector3Dd& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void toArray(const zvu::zvuVector3Dd& v, QMdouble out[3]) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

zvu::zvuVector3Dd fromArray(const QMdouble in[3]) { return {in[0], in[1], in[2]}; }

template <typename Function>
Function callback(const AttributeMap& attributes, QMenum key) {
    AttribCallback function = nullptr;
    attributes.get<AttribCallback>(key, function);
    return reinterpret_cast<Function>(function);
}

void* userData(const AttributeMap& attributes, QMenum key) {
    void* data = nullptr;
    attributes.get<void*>(key, data);
    return data;
}

}  // namespace

ShapeFeatureSet* activeGeometry() noexcept { return t_activeGeometry; }

QMenum CallbackShape::getType() const { return QM_SHAPE_CALLBACK; }

bool CallbackShape::intersectSegment(const zvu::zvuLineSegmentd& segment, QMenum touchableFace,
                                     zvu::zvuVector3Dd& point, zvu::zvuVector3Dd& normal, QMenum& face) {
    const AttributeMap& attributes = getAttributes();
    const auto intersect = callback<QMshapeIntersectProc>(attributes, QM_SHAPE_INTERSECT_LS);
    if (intersect == nullptr) {
        return false;
    }
    QMdouble start[3];
    QMdouble end[3];
    toArray(workspaceToShape().transformPoint(segment.start()), start);
    toArray(workspaceToShape().transformPoint(segment.end()), end);
    QMdouble hit[3] = {0, 0, 0};
    QMdouble hitNormal[3] = {0, 0, 0};
    QMenum crossed = QM_FRONT;
    if (!intersect(start, end, hit, hitNormal, &crossed, userData(attributes, QM_INT_SHAPE_INTERSECT_LS_USER_DATA))) {
        return false;
    }
    // The face is compared with the two symbols only: any other value,
    // null included, is no face of this surface.
    const bool front = crossed != nullptr && crossed == QM_FRONT;
    const bool back = crossed != nullptr && crossed == QM_BACK;
    if (!front && !back) {
        return false;
    }
    const bool both = touchableFace != nullptr && touchableFace == QM_FRONT_AND_BACK;
    if (!both && crossed != touchableFace) {
        return false;
    }
    // Normals go through the inverse transpose of the shape's transform (the
    // workspace-to-shape matrix applied to the normal as a row), so that
    // they stay perpendicular to the surface under a non-uniform scale.
    const zvu::zvuVector3Dd mappedPoint = shapeToWorkspace().transformPoint(fromArray(hit));
    const zvu::zvuVector3Dd mappedNormal = workspaceToShape().transposed().transformDirection(fromArray(hitNormal));
    const double length = mappedNormal.length();
    if (!finite(mappedPoint) || !finite(mappedNormal) || !(length > 0.0) || !std::isfinite(length)) {
        return false;
    }
    point = mappedPoint;
    normal = mappedNormal / length;
    face = crossed;
    return true;
}

bool CallbackShape::closestFeatures(const zvu::zvuLineSegmentd& querySegment, LocalFeatureSet& features,
                                    zvu::zvuVector3Dd& closestPoint) {
    const AttributeMap& attributes = getAttributes();
    const auto closest = callback<QMshapeClosestFeaturesProc>(attributes, QM_SHAPE_CLOSEST_FEATURES);
    if (closest == nullptr) {
        return false;
    }
    QMdouble query[3];
    QMdouble target[3];
    toArray(workspaceToShape().transformPoint(querySegment.start()), query);
    toArray(workspaceToShape().transformPoint(querySegment.end()), target);
    QMdouble found[3] = {0, 0, 0};
    // The features are collected apart and handed over only on success.
    LocalFeatureSet added;
    ShapeFeatureSet geometry(shapeToWorkspace(), added);
    bool described = false;
    {
        ActiveGeometryScope scope(&geometry);
        described = closest(query, target, reinterpret_cast<QMgeometry>(&geometry), found,
                            userData(attributes, QM_INT_SHAPE_CLOSEST_FEATURES_USER_DATA)) != QM_FALSE;
    }
    if (!described) {
        return false;
    }
    const zvu::zvuVector3Dd mapped = shapeToWorkspace().transformPoint(fromArray(found));
    if (!finite(mapped)) {
        return false;
    }
    features.takeAll(added);
    closestPoint = mapped;
    return true;
}

IShape* CallbackShapeBuilder::end(IState& state) {
    return finishOrDestroy(new CallbackShape(getId()), [&](CallbackShape& shape) {
        // The application describes the surface itself: nothing is seen
        // through the haptic camera, so the transform starts from the frame
        // modelview whatever the camera switch says.
        copyShapeAttributes(shape.getAttributes(), state.getAttributes(), kCopyCallbackShape);
        shape.getAttributes().set<bool>(QM_HAPTIC_CAMERA_VIEW, false);
        finishShape(shape, state, 0);
    });
}

}  // namespace QM
