// The names of every symbol of the library, in the order in which they are
// interned when the library loads.
//
// Each list is an X-macro: QM_PUBLIC_SYMBOLS(X, XT) expands X(name) for every
// exported symbol whose text is its own name and XT(name, text) for the one
// whose text differs from its name. The reserved names are exported variables
// that never receive a value; the private names are internal attribute keys.
#pragma once

#define QM_PUBLIC_SYMBOLS(X, XT)                          \
    /* error codes */                                     \
    X(QM_NO_ERROR)                                        \
    X(QM_INVALID_ENUM)                                    \
    X(QM_INVALID_VALUE)                                   \
    X(QM_INVALID_OPERATION)                               \
    X(QM_STACK_OVERFLOW)                                  \
    X(QM_STACK_UNDERFLOW)                                 \
    X(QM_OUT_OF_MEMORY)                                   \
    X(QM_DEVICE_ERROR)                                    \
    /* material properties */                             \
    X(QM_STIFFNESS)                                       \
    X(QM_DAMPING)                                         \
    X(QM_STATIC_FRICTION)                                 \
    X(QM_DYNAMIC_FRICTION)                                \
    X(QM_POPTHROUGH)                                      \
    /* faces and winding */                               \
    X(QM_FRONT)                                           \
    X(QM_BACK)                                            \
    X(QM_FRONT_AND_BACK)                                  \
    X(QM_CW)                                              \
    X(QM_CCW)                                             \
    /* touch state and model */                           \
    X(QM_TOUCHABLE_FACE)                                  \
    X(QM_TOUCHED_FACE)                                    \
    X(QM_TOUCH_MODEL)                                     \
    X(QM_CONTACT)                                         \
    X(QM_CONSTRAINT)                                      \
    X(QM_SNAP_DISTANCE)                                   \
    /* capabilities */                                    \
    X(QM_PROXY_RESOLUTION)                                \
    X(QM_HAPTIC_CAMERA_VIEW)                              \
    X(QM_ADAPTIVE_VIEWPORT)                               \
    X(QM_USE_GL_MODELVIEW)                                \
    /* shape types */                                     \
    X(QM_SHAPE_FEEDBACK_BUFFER)                           \
    X(QM_SHAPE_DEPTH_BUFFER)                              \
    X(QM_SHAPE_CALLBACK)                                  \
    X(QM_SHAPE_PRIMITIVE)                                 \
    /* hints */                                           \
    X(QM_SHAPE_FEEDBACK_BUFFER_VERTICES)                  \
    X(QM_SHAPE_DYNAMIC_SURFACE_CHANGE)                    \
    X(QM_SHAPE_PERSISTENCE)                               \
    /* shape callbacks and local features */              \
    X(QM_SHAPE_INTERSECT_LS)                              \
    X(QM_SHAPE_CLOSEST_FEATURES)                          \
    X(QM_LOCAL_FEATURE_POINT)                             \
    X(QM_LOCAL_FEATURE_LINE)                              \
    X(QM_LOCAL_FEATURE_PLANE)                             \
    /* primitive types */                                 \
    X(QM_TRIANGLES)                                       \
    X(QM_TRIANGLE_STRIP)                                  \
    X(QM_QUADS)                                           \
    X(QM_QUAD_STRIP)                                      \
    X(QM_POLYGON)                                         \
    X(QM_LINES)                                           \
    X(QM_LINE_STRIP)                                      \
    X(QM_LINE_LOOP)                                       \
    X(QM_POINTS)                                          \
    /* proxy and shape results */                         \
    X(QM_PROXY_IS_TOUCHING)                               \
    X(QM_PROXY_TOUCH_NORMAL)                              \
    X(QM_REACTION_FORCE)                                  \
    /* matrix modes, matrices and workspace */            \
    X(QM_VIEWTOUCH)                                       \
    X(QM_TOUCHWORKSPACE)                                  \
    X(QM_MODELVIEW)                                       \
    X(QM_VIEWTOUCH_MATRIX)                                \
    X(QM_TOUCHWORKSPACE_MATRIX)                           \
    X(QM_MODELVIEW_MATRIX)                                \
    X(QM_WORKSPACE)                                       \
    X(QM_MAX_WORKSPACE_DIMS)                              \
    /* proxy and device state */                          \
    X(QM_PROXY_POSITION)                                  \
    X(QM_PROXY_ROTATION)                                  \
    X(QM_PROXY_TRANSFORM)                                 \
    X(QM_DEVICE_POSITION)                                 \
    X(QM_DEVICE_ROTATION)                                 \
    X(QM_DEVICE_TRANSFORM)                                \
    X(QM_DEVICE_FORCE)                                    \
    X(QM_DEVICE_TORQUE)                                   \
    X(QM_GOLDEN_POSITION)                                 \
    X(QM_GOLDEN_RADIUS)                                   \
    /* switch state */                                    \
    X(QM_BUTTON1_STATE)                                   \
    X(QM_BUTTON2_STATE)                                   \
    X(QM_BUTTON3_STATE)                                   \
    X(QM_SAFETY_STATE)                                    \
    X(QM_INKWELL_STATE)                                   \
    /* events and their parameters */                     \
    X(QM_EVENT_MOTION)                                    \
    X(QM_EVENT_1BUTTONDOWN)                               \
    X(QM_EVENT_1BUTTONUP)                                 \
    X(QM_EVENT_2BUTTONDOWN)                               \
    X(QM_EVENT_2BUTTONUP)                                 \
    X(QM_EVENT_3BUTTONDOWN)                               \
    X(QM_EVENT_3BUTTONUP)                                 \
    X(QM_EVENT_SAFETYDOWN)                                \
    X(QM_EVENT_SAFETYUP)                                  \
    X(QM_EVENT_INKWELLDOWN)                               \
    X(QM_EVENT_INKWELLUP)                                 \
    X(QM_EVENT_TOUCH)                                     \
    X(QM_EVENT_UNTOUCH)                                   \
    X(QM_EVENT_CALIBRATION_UPDATE)                        \
    X(QM_EVENT_CALIBRATION_INPUT)                         \
    X(QM_EVENT_MOTION_LINEAR_TOLERANCE)                   \
    X(QM_EVENT_MOTION_ANGULAR_TOLERANCE)                  \
    /* threads */                                         \
    X(QM_CLIENT_THREAD)                                   \
    X(QM_COLLISION_THREAD)                                \
    /* effect types, callbacks and properties */          \
    X(QM_EFFECT_CALLBACK)                                 \
    X(QM_EFFECT_CONSTANT)                                 \
    X(QM_EFFECT_SPRING)                                   \
    X(QM_EFFECT_VISCOUS)                                  \
    X(QM_EFFECT_FRICTION)                                 \
    X(QM_EFFECT_COMPUTE_FORCE)                            \
    X(QM_EFFECT_START)                                    \
    X(QM_EFFECT_STOP)                                     \
    XT(QM_EFFECT_PROPERTY_TYPE, "QM_EFFECT_PROPERTY_TYP") \
    X(QM_EFFECT_PROPERTY_GAIN)                            \
    X(QM_EFFECT_PROPERTY_MAGNITUDE)                       \
    X(QM_EFFECT_PROPERTY_FREQUENCY)                       \
    X(QM_EFFECT_PROPERTY_DURATION)                        \
    X(QM_EFFECT_PROPERTY_POSITION)                        \
    X(QM_EFFECT_PROPERTY_DIRECTION)                       \
    X(QM_EFFECT_PROPERTY_ACTIVE)                          \
    /* strings */                                         \
    X(QM_VERSION)                                         \
    X(QM_VENDOR)

#define QM_RESERVED_SYMBOLS(X)    \
    X(QM_DYNAMIC_PROXY_POSITION)  \
    X(QM_DYNAMIC_PROXY_ROTATION)  \
    X(QM_DYNAMIC_PROXY_TRANSFORM) \
    X(QM_EFFECT_INERTIA)          \
    X(QM_EFFECT_RAMP)             \
    X(QM_EFFECT_SAWTOOTHDOWN)     \
    X(QM_EFFECT_SAWTOOTHUP)       \
    X(QM_EFFECT_SINE)             \
    X(QM_EFFECT_SQUARE)           \
    X(QM_EFFECT_TRIANGLE)         \
    X(QM_FLAT)                    \
    X(QM_SMOOTH)                  \
    X(QM_REACTION_TORQUE)         \
    X(QM_TIME)

#define QM_PRIVATE_SYMBOLS(X)                     \
    X(QM_INT_FRONT_FACE_STIFFNESS)                \
    X(QM_INT_FRONT_FACE_DAMPING)                  \
    X(QM_INT_FRONT_FACE_STATIC_FRICTION)          \
    X(QM_INT_FRONT_FACE_DYNAMIC_FRICTION)         \
    X(QM_INT_FRONT_FACE_POPTHROUGH)               \
    X(QM_INT_BACK_FACE_STIFFNESS)                 \
    X(QM_INT_BACK_FACE_DAMPING)                   \
    X(QM_INT_BACK_FACE_STATIC_FRICTION)           \
    X(QM_INT_BACK_FACE_DYNAMIC_FRICTION)          \
    X(QM_INT_BACK_FACE_POPTHROUGH)                \
    X(QM_INT_FRONT_FACE)                          \
    X(QM_INT_SOURCE_SHAPE_ID)                     \
    X(QM_INT_SHAPEWORKSPACE_MATRIX)               \
    X(QM_INT_WORKSPACESHAPE_MATRIX)               \
    X(QM_INT_GOLDEN_BOUNDS_CHECKER)               \
    X(QM_INT_HAPTIC_CAMERA_VIEW_POSITION)         \
    X(QM_INT_HAPTIC_CAMERA_VIEW_LAST_POSITION)    \
    X(QM_INT_HAPTIC_CAMERA_VIEW_MOTION_THRESHOLD) \
    X(QM_INT_HAPTIC_CAMERA_VIEW_DIRECTION)        \
    X(QM_INT_SHAPE_INTERSECT_LS_USER_DATA)        \
    X(QM_INT_SHAPE_CLOSEST_FEATURES_USER_DATA)    \
    X(QM_INT_EFFECT_COMPUTE_FORCE_USER_DATA)      \
    X(QM_INT_EFFECT_START_USER_DATA)              \
    X(QM_INT_EFFECT_STOP_USER_DATA)               \
    X(QM_INT_EVENT_COLLISION_TICK)                \
    X(QM_INT_EVENT_LAST_MOTION_POSITION)          \
    X(QM_INT_EVENT_LAST_MOTION_ROTATION)          \
    X(QM_INT_EFFECT_WAS_TRIGGERED)                \
    X(QM_INT_EFFECT_IS_DONE)                      \
    X(QM_INT_EFFECT_TIME)                         \
    X(QM_INT_EFFECT_BASE)                         \
    X(QM_INT_FRICTION_PROXY_POS)                  \
    X(QM_INT_DAMPING_SMOOTHED_VELOCITY)           \
    X(QM_INT_SHAPE_SPHERE)                        \
    X(QM_INT_SHAPE_BOX)                           \
    X(QM_INT_SHAPE_BASE)                          \
    X(QM_INT_MATRIX_MODE)                         \
    X(QM_INT_USE_IN_FAST_LOOP)                    \
    X(QM_INT_REPORT_COLLISIONS)
