#include "qm/state/AttributeGroups.h"

#include <cfloat>

#include "qm/api/Symbols.h"

namespace QM {

namespace {

template <AttribScalar T>
void scalar(IAttributeMap& map, QMenum key, bool defaults, T value) {
    map.declare<T>(key);
    if (defaults) {
        map.set<T>(key, value);
    }
}

template <AttribElement T, std::size_t N>
void array(IAttributeMap& map, QMenum key, bool defaults, const T (&values)[N]) {
    map.declareArray<T>(key, static_cast<int>(N));
    if (defaults) {
        map.setArray<T>(key, values);
    }
}

constexpr double kZero3[3] = {0.0, 0.0, 0.0};
constexpr double kIdentityRotation[4] = {1.0, 0.0, 0.0, 0.0};
constexpr double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
constexpr double kUnboundedBox[6] = {-DBL_MAX, -DBL_MAX, -DBL_MAX, DBL_MAX, DBL_MAX, DBL_MAX};

}  // namespace

void declareShapeGroups(IAttributeMap& map, unsigned mask, bool defaults) {
    if (mask & kShapeMaterial) {
        scalar<float>(map, QM_INT_FRONT_FACE_STIFFNESS, defaults, 0.8f);
        scalar<float>(map, QM_INT_FRONT_FACE_DAMPING, defaults, 0.0f);
        scalar<float>(map, QM_INT_FRONT_FACE_STATIC_FRICTION, defaults, 0.0f);
        scalar<float>(map, QM_INT_FRONT_FACE_DYNAMIC_FRICTION, defaults, 0.0f);
        scalar<float>(map, QM_INT_FRONT_FACE_POPTHROUGH, defaults, 0.0f);
        scalar<float>(map, QM_INT_BACK_FACE_STIFFNESS, defaults, 0.8f);
        scalar<float>(map, QM_INT_BACK_FACE_DAMPING, defaults, 0.0f);
        scalar<float>(map, QM_INT_BACK_FACE_STATIC_FRICTION, defaults, 0.0f);
        scalar<float>(map, QM_INT_BACK_FACE_DYNAMIC_FRICTION, defaults, 0.0f);
        scalar<float>(map, QM_INT_BACK_FACE_POPTHROUGH, defaults, 0.0f);
    }
    if (mask & kShapeTransform) {
        // The shape's matrices have no default: a shape gets them when built.
        map.declareArray<double>(QM_INT_SHAPEWORKSPACE_MATRIX, 16);
        map.declareArray<double>(QM_INT_WORKSPACESHAPE_MATRIX, 16);
        scalar<bool>(map, QM_HAPTIC_CAMERA_VIEW, defaults, false);
        scalar<bool>(map, QM_ADAPTIVE_VIEWPORT, defaults, false);
    }
    if (mask & kShapeTouch) {
        scalar<bool>(map, QM_PROXY_IS_TOUCHING, defaults, false);
        array<double>(map, QM_PROXY_TOUCH_NORMAL, defaults, kZero3);
        array<double>(map, QM_REACTION_FORCE, defaults, kZero3);
        scalar<QMenum>(map, QM_TOUCHABLE_FACE, defaults, QM_FRONT);
        scalar<QMenum>(map, QM_TOUCHED_FACE, defaults, QM_FRONT);
        scalar<QMenum>(map, QM_TOUCH_MODEL, defaults, QM_CONTACT);
        scalar<float>(map, QM_SNAP_DISTANCE, defaults, FLT_MAX);
        scalar<QMenum>(map, QM_INT_FRONT_FACE, defaults, QM_CCW);
    }
    if (mask & kShapeCallbacks) {
        scalar<AttribCallback>(map, QM_SHAPE_INTERSECT_LS, defaults, nullptr);
        scalar<AttribCallback>(map, QM_SHAPE_CLOSEST_FEATURES, defaults, nullptr);
        scalar<void*>(map, QM_INT_SHAPE_INTERSECT_LS_USER_DATA, defaults, nullptr);
        scalar<void*>(map, QM_INT_SHAPE_CLOSEST_FEATURES_USER_DATA, defaults, nullptr);
    }
    if (mask & kShapeHints) {
        scalar<std::int32_t>(map, QM_SHAPE_FEEDBACK_BUFFER_VERTICES, defaults, 65536);
        scalar<bool>(map, QM_SHAPE_DYNAMIC_SURFACE_CHANGE, defaults, false);
        scalar<bool>(map, QM_SHAPE_PERSISTENCE, defaults, false);
    }
    if (mask & kShapeCollision) {
        scalar<bool>(map, QM_INT_USE_IN_FAST_LOOP, defaults, true);
        scalar<bool>(map, QM_INT_REPORT_COLLISIONS, defaults, true);
    }
}

void declareEffectGroups(IAttributeMap& map, unsigned mask, bool defaults) {
    if (mask & kEffectBase) {
        // The type belongs to the group, so that a pushed and popped effect
        // type comes back; the state's own has no type (null).
        scalar<QMenum>(map, QM_EFFECT_PROPERTY_TYPE, defaults, nullptr);
        scalar<double>(map, QM_EFFECT_PROPERTY_GAIN, defaults, 0.0);
        scalar<double>(map, QM_EFFECT_PROPERTY_MAGNITUDE, defaults, 0.0);
        scalar<double>(map, QM_EFFECT_PROPERTY_DURATION, defaults, 1000.0);
        scalar<bool>(map, QM_INT_EFFECT_IS_DONE, defaults, false);
        scalar<bool>(map, QM_INT_EFFECT_WAS_TRIGGERED, defaults, false);
        scalar<double>(map, QM_INT_EFFECT_TIME, defaults, 0.0);
    }
    if (mask & kEffectGeometry) {
        constexpr double kUp[3] = {0.0, 1.0, 0.0};
        array<double>(map, QM_EFFECT_PROPERTY_POSITION, defaults, kZero3);
        array<double>(map, QM_EFFECT_PROPERTY_DIRECTION, defaults, kUp);
    }
    if (mask & kEffectFrequency) {
        scalar<double>(map, QM_EFFECT_PROPERTY_FREQUENCY, defaults, 0.0);
    }
    if (mask & kEffectCallbacks) {
        scalar<AttribCallback>(map, QM_EFFECT_COMPUTE_FORCE, defaults, nullptr);
        scalar<AttribCallback>(map, QM_EFFECT_START, defaults, nullptr);
        scalar<AttribCallback>(map, QM_EFFECT_STOP, defaults, nullptr);
        scalar<void*>(map, QM_INT_EFFECT_COMPUTE_FORCE_USER_DATA, defaults, nullptr);
        scalar<void*>(map, QM_INT_EFFECT_START_USER_DATA, defaults, nullptr);
        scalar<void*>(map, QM_INT_EFFECT_STOP_USER_DATA, defaults, nullptr);
    }
}

void declareViewGroup(IAttributeMap& map, unsigned mask, bool defaults) {
    if (mask == 0) {
        return;
    }
    scalar<bool>(map, QM_HAPTIC_CAMERA_VIEW, defaults, false);
    scalar<bool>(map, QM_ADAPTIVE_VIEWPORT, defaults, false);
    scalar<bool>(map, QM_USE_GL_MODELVIEW, defaults, true);
    array<double>(map, QM_INT_HAPTIC_CAMERA_VIEW_POSITION, defaults, kZero3);
    array<double>(map, QM_INT_HAPTIC_CAMERA_VIEW_LAST_POSITION, defaults, kZero3);
    array<double>(map, QM_INT_HAPTIC_CAMERA_VIEW_DIRECTION, defaults, kZero3);
    scalar<double>(map, QM_INT_HAPTIC_CAMERA_VIEW_MOTION_THRESHOLD, defaults, 0.0);
    // The workspace box comes from the device when a context is created.
    map.declareArray<double>(QM_WORKSPACE, 6);
    scalar<std::int32_t>(map, QM_INT_MATRIX_MODE, defaults, 0);
}

void declareStateGroup(IAttributeMap& map, unsigned mask, bool defaults) {
    if (mask == 0) {
        return;
    }
    array<double>(map, QM_PROXY_POSITION, defaults, kZero3);
    array<double>(map, QM_DEVICE_POSITION, defaults, kZero3);
    array<double>(map, QM_PROXY_ROTATION, defaults, kIdentityRotation);
    array<double>(map, QM_DEVICE_ROTATION, defaults, kIdentityRotation);
    array<double>(map, QM_PROXY_TRANSFORM, defaults, kIdentity);
    array<double>(map, QM_DEVICE_TRANSFORM, defaults, kIdentity);
    array<double>(map, QM_MAX_WORKSPACE_DIMS, defaults, kUnboundedBox);
    array<double>(map, QM_DEVICE_FORCE, defaults, kZero3);
    array<double>(map, QM_DEVICE_TORQUE, defaults, kZero3);
    scalar<bool>(map, QM_BUTTON1_STATE, defaults, false);
    scalar<bool>(map, QM_BUTTON2_STATE, defaults, false);
    scalar<bool>(map, QM_BUTTON3_STATE, defaults, false);
    scalar<bool>(map, QM_SAFETY_STATE, defaults, false);
    scalar<bool>(map, QM_INKWELL_STATE, defaults, false);
    scalar<double>(map, QM_EVENT_MOTION_LINEAR_TOLERANCE, defaults, 1.0);
    scalar<double>(map, QM_EVENT_MOTION_ANGULAR_TOLERANCE, defaults, 0.02);
    array<double>(map, QM_GOLDEN_POSITION, defaults, kZero3);
    scalar<double>(map, QM_GOLDEN_RADIUS, defaults, 30.0);
    scalar<bool>(map, QM_PROXY_RESOLUTION, defaults, true);
}

QMenum materialKey(QMenum face, QMenum property) {
    const bool front = face != nullptr && face == QM_FRONT;
    const bool back = face != nullptr && face == QM_BACK;
    if (!front && !back) {
        return nullptr;
    }
    if (property == nullptr) {
        return nullptr;
    }
    if (property == QM_STIFFNESS) return front ? QM_INT_FRONT_FACE_STIFFNESS : QM_INT_BACK_FACE_STIFFNESS;
    if (property == QM_DAMPING) return front ? QM_INT_FRONT_FACE_DAMPING : QM_INT_BACK_FACE_DAMPING;
    if (property == QM_STATIC_FRICTION)
        return front ? QM_INT_FRONT_FACE_STATIC_FRICTION : QM_INT_BACK_FACE_STATIC_FRICTION;
    if (property == QM_DYNAMIC_FRICTION)
        return front ? QM_INT_FRONT_FACE_DYNAMIC_FRICTION : QM_INT_BACK_FACE_DYNAMIC_FRICTION;
    if (property == QM_POPTHROUGH) return front ? QM_INT_FRONT_FACE_POPTHROUGH : QM_INT_BACK_FACE_POPTHROUGH;
    return nullptr;
}

}  // namespace QM
