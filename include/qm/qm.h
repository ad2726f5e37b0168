/*
 * qm: the rendering library of the force-feedback SDK.
 *
 * Overview
 *  - Contexts. Every function works on a rendering context: one object per
 *    device connection that owns the attribute state, the matrix stacks, the
 *    shape and effect identifiers and an error store. qmCreateContext builds
 *    one on a device opened with the device library (zv.h); qmMakeCurrent
 *    makes it the calling thread's current context. Each thread has its own
 *    current context (none at first).
 *  - Enumerants. Parameters, modes, capabilities and error codes are named by
 *    QMenum symbols: each is the address of a text owned by the library that
 *    holds the symbol's name, exported as a variable (QM_STIFFNESS, ...).
 *    The variables receive their values when the library is loaded; compare
 *    symbols by pointer, never by text (a string literal "QM_STIFFNESS" is
 *    not the symbol QM_STIFFNESS). The variables are read-only for
 *    applications. The attribute group bits of qmPushAttrib and QM_OBJECT_ANY
 *    are plain unsigned integers.
 *  - Errors. No function returns an error code. A failing call changes
 *    nothing (unless its description says otherwise), returns 0, false, NULL
 *    or ZV_INVALID_HANDLE, and records the error in the current context's
 *    error store, which qmGetError pops newest first. An error equal to the
 *    newest stored one is stored once. Without a current context a failing
 *    call cannot record anything.
 *  - Attributes. Material, touch model, hints and capabilities live in an
 *    attribute stack; qmPushAttrib saves groups of them and qmPopAttrib
 *    restores them.
 *  - Transforms. Three matrix stacks in the manner of OpenGL's (view-touch,
 *    modelview and touch-workspace) map the application's model coordinates
 *    into the device workspace; qmOrtho fits a view volume into the workspace
 *    box and qmWorkspace chooses the usable part of the device's workspace.
 *    Matrices are 16 values in OpenGL element order (column-major,
 *    translation in elements 12 to 14).
 *
 * Threads: a context's functions are called from the thread on which it is
 * current (normally the application's thread). They do not lock the context
 * against other threads, so one context must not be used from two threads at
 * the same time; the error store and the identifier pools are the exceptions
 * and may be used from any thread. Functions marked "any thread" need no
 * current context.
 */
#ifndef QM_QM_H
#define QM_QM_H

#include <stdint.h>

#include "zv/zv.h"

#if defined(__GNUC__)
#define QM_API __attribute__((visibility("default")))
#else
#define QM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ types */

/* A symbol: compare by pointer. Its text is the enumerant's name. */
typedef const char* QMenum;
typedef unsigned char QMboolean;
typedef int QMint;
typedef unsigned int QMuint;
typedef float QMfloat;
typedef double QMdouble;
typedef unsigned int QMbitfield;
/* An integer wide enough for a symbol: the output type of qmGetIntegerv. */
typedef intptr_t QMintptr;

/* A rendering context (opaque). */
typedef struct QMRenderingContext* HQMRC;
/* A snapshot of device and proxy state handed to event and effect
 * callbacks; read it with qmCacheGetBooleanv and qmCacheGetDoublev. */
typedef struct QMStateCacheRecord* QMcache;

/* The feature set a closest-features callback describes the surface into,
 * with the qmLocalFeature* calls (opaque; valid only during that call). */
typedef struct QMGeometryRecord* QMgeometry;

/* The generic callback type of qmCallback: cast the application's function
 * to it. The function must have the signature of the callback type it is
 * registered for (below); points and vectors are three doubles. */
typedef void (*QMcallback)(void);
/* QM_SHAPE_INTERSECT_LS: whether the directed segment from start to end
 * crosses the surface; fills the first crossing point, the surface normal
 * there and the face crossed (QM_FRONT or QM_BACK). Shape coordinates;
 * called on the collision thread. */
typedef QMboolean (*QMshapeIntersectProc)(const QMdouble* start, const QMdouble* end, QMdouble* point, QMdouble* normal,
                                          QMenum* face, void* userData);
/* QM_SHAPE_CLOSEST_FEATURES: describes the surface near queryPoint by adding
 * local features through `geometry` and fills the closest surface point;
 * false when it described nothing. Shape coordinates; collision thread. */
typedef QMboolean (*QMshapeClosestFeaturesProc)(const QMdouble* queryPoint, const QMdouble* targetPoint,
                                                QMgeometry geometry, QMdouble* closestPoint, void* userData);
/* QM_EFFECT_COMPUTE_FORCE: adds the effect's force (newtons, workspace
 * coordinates) to the accumulator of the tick; servo thread. */
typedef void (*QMeffectComputeForceProc)(QMdouble* force, QMcache cache, void* userData);
/* QM_EFFECT_START and QM_EFFECT_STOP: servo thread. */
typedef void (*QMeffectStartStopProc)(QMcache cache, void* userData);
/* An event callback (qmAddEventCallback): the event, the shape it concerns
 * (QM_OBJECT_ANY for events about the proxy or the device), the thread it
 * runs on (the one named at registration), a snapshot of the device and
 * proxy state owned by the library and valid only during the call, and the
 * user data given at registration. */
typedef void (*QMeventCallback)(QMenum event, QMuint shapeId, QMenum thread, QMcache cache, void* userData);

/* An error record. errorInfo holds the device library's record when
 * errorCode is QM_DEVICE_ERROR; for the other codes it holds error code 0,
 * internal error code 0 and device handle ZV_INVALID_HANDLE. */
typedef struct QMerror {
    QMenum errorCode;
    ZVErrorInfo errorInfo;
} QMerror;

#define QM_TRUE 1
#define QM_FALSE 0

/* ------------------------------------------------------------------ enumerants */
/* Error codes */
QM_API extern QMenum QM_NO_ERROR;
QM_API extern QMenum QM_INVALID_ENUM;
QM_API extern QMenum QM_INVALID_VALUE;
QM_API extern QMenum QM_INVALID_OPERATION;
QM_API extern QMenum QM_STACK_OVERFLOW;
QM_API extern QMenum QM_STACK_UNDERFLOW;
QM_API extern QMenum QM_OUT_OF_MEMORY;
QM_API extern QMenum QM_DEVICE_ERROR;

/* Material properties */
QM_API extern QMenum QM_STIFFNESS;
QM_API extern QMenum QM_DAMPING;
QM_API extern QMenum QM_STATIC_FRICTION;
QM_API extern QMenum QM_DYNAMIC_FRICTION;
QM_API extern QMenum QM_POPTHROUGH;

/* Faces and winding */
QM_API extern QMenum QM_FRONT;
QM_API extern QMenum QM_BACK;
QM_API extern QMenum QM_FRONT_AND_BACK;
QM_API extern QMenum QM_CW;
QM_API extern QMenum QM_CCW;

/* Touch state and model */
QM_API extern QMenum QM_TOUCHABLE_FACE;
QM_API extern QMenum QM_TOUCHED_FACE;
QM_API extern QMenum QM_TOUCH_MODEL;
QM_API extern QMenum QM_CONTACT;
QM_API extern QMenum QM_CONSTRAINT;
QM_API extern QMenum QM_SNAP_DISTANCE;

/* Capabilities */
QM_API extern QMenum QM_PROXY_RESOLUTION;
QM_API extern QMenum QM_HAPTIC_CAMERA_VIEW;
QM_API extern QMenum QM_ADAPTIVE_VIEWPORT;
QM_API extern QMenum QM_USE_GL_MODELVIEW;

/* Shape types */
QM_API extern QMenum QM_SHAPE_FEEDBACK_BUFFER;
QM_API extern QMenum QM_SHAPE_DEPTH_BUFFER;
QM_API extern QMenum QM_SHAPE_CALLBACK;
QM_API extern QMenum QM_SHAPE_PRIMITIVE;

/* Hints */
QM_API extern QMenum QM_SHAPE_FEEDBACK_BUFFER_VERTICES;
QM_API extern QMenum QM_SHAPE_DYNAMIC_SURFACE_CHANGE;
QM_API extern QMenum QM_SHAPE_PERSISTENCE;

/* Shape callbacks and local features */
QM_API extern QMenum QM_SHAPE_INTERSECT_LS;
QM_API extern QMenum QM_SHAPE_CLOSEST_FEATURES;
QM_API extern QMenum QM_LOCAL_FEATURE_POINT;
QM_API extern QMenum QM_LOCAL_FEATURE_LINE;
QM_API extern QMenum QM_LOCAL_FEATURE_PLANE;

/* Primitive types */
QM_API extern QMenum QM_TRIANGLES;
QM_API extern QMenum QM_TRIANGLE_STRIP;
QM_API extern QMenum QM_QUADS;
QM_API extern QMenum QM_QUAD_STRIP;
QM_API extern QMenum QM_POLYGON;
QM_API extern QMenum QM_LINES;
QM_API extern QMenum QM_LINE_STRIP;
QM_API extern QMenum QM_LINE_LOOP;
QM_API extern QMenum QM_POINTS;

/* Proxy and shape results */
QM_API extern QMenum QM_PROXY_IS_TOUCHING;
QM_API extern QMenum QM_PROXY_TOUCH_NORMAL;
QM_API extern QMenum QM_REACTION_FORCE;

/* Matrix modes, matrices and workspace */
QM_API extern QMenum QM_VIEWTOUCH;
QM_API extern QMenum QM_TOUCHWORKSPACE;
QM_API extern QMenum QM_MODELVIEW;
QM_API extern QMenum QM_VIEWTOUCH_MATRIX;
QM_API extern QMenum QM_TOUCHWORKSPACE_MATRIX;
QM_API extern QMenum QM_MODELVIEW_MATRIX;
QM_API extern QMenum QM_WORKSPACE;
QM_API extern QMenum QM_MAX_WORKSPACE_DIMS;

/* Proxy and device state */
QM_API extern QMenum QM_PROXY_POSITION;
QM_API extern QMenum QM_PROXY_ROTATION;
QM_API extern QMenum QM_PROXY_TRANSFORM;
QM_API extern QMenum QM_DEVICE_POSITION;
QM_API extern QMenum QM_DEVICE_ROTATION;
QM_API extern QMenum QM_DEVICE_TRANSFORM;
QM_API extern QMenum QM_DEVICE_FORCE;
QM_API extern QMenum QM_DEVICE_TORQUE;
QM_API extern QMenum QM_GOLDEN_POSITION;
QM_API extern QMenum QM_GOLDEN_RADIUS;

/* Switch state */
QM_API extern QMenum QM_BUTTON1_STATE;
QM_API extern QMenum QM_BUTTON2_STATE;
QM_API extern QMenum QM_BUTTON3_STATE;
QM_API extern QMenum QM_SAFETY_STATE;
QM_API extern QMenum QM_INKWELL_STATE;

/* Events and their parameters */
QM_API extern QMenum QM_EVENT_MOTION;
QM_API extern QMenum QM_EVENT_1BUTTONDOWN;
QM_API extern QMenum QM_EVENT_1BUTTONUP;
QM_API extern QMenum QM_EVENT_2BUTTONDOWN;
QM_API extern QMenum QM_EVENT_2BUTTONUP;
QM_API extern QMenum QM_EVENT_3BUTTONDOWN;
QM_API extern QMenum QM_EVENT_3BUTTONUP;
QM_API extern QMenum QM_EVENT_SAFETYDOWN;
QM_API extern QMenum QM_EVENT_SAFETYUP;
QM_API extern QMenum QM_EVENT_INKWELLDOWN;
QM_API extern QMenum QM_EVENT_INKWELLUP;
QM_API extern QMenum QM_EVENT_TOUCH;
QM_API extern QMenum QM_EVENT_UNTOUCH;
QM_API extern QMenum QM_EVENT_CALIBRATION_UPDATE;
QM_API extern QMenum QM_EVENT_CALIBRATION_INPUT;
QM_API extern QMenum QM_EVENT_MOTION_LINEAR_TOLERANCE;
QM_API extern QMenum QM_EVENT_MOTION_ANGULAR_TOLERANCE;

/* Threads */
QM_API extern QMenum QM_CLIENT_THREAD;
QM_API extern QMenum QM_COLLISION_THREAD;

/* Effect types, callbacks and properties */
QM_API extern QMenum QM_EFFECT_CALLBACK;
QM_API extern QMenum QM_EFFECT_CONSTANT;
QM_API extern QMenum QM_EFFECT_SPRING;
QM_API extern QMenum QM_EFFECT_VISCOUS;
QM_API extern QMenum QM_EFFECT_FRICTION;
QM_API extern QMenum QM_EFFECT_COMPUTE_FORCE;
QM_API extern QMenum QM_EFFECT_START;
QM_API extern QMenum QM_EFFECT_STOP;
QM_API extern QMenum QM_EFFECT_PROPERTY_TYPE;
QM_API extern QMenum QM_EFFECT_PROPERTY_GAIN;
QM_API extern QMenum QM_EFFECT_PROPERTY_MAGNITUDE;
QM_API extern QMenum QM_EFFECT_PROPERTY_FREQUENCY;
QM_API extern QMenum QM_EFFECT_PROPERTY_DURATION;
QM_API extern QMenum QM_EFFECT_PROPERTY_POSITION;
QM_API extern QMenum QM_EFFECT_PROPERTY_DIRECTION;
QM_API extern QMenum QM_EFFECT_PROPERTY_ACTIVE;

/* Strings */
QM_API extern QMenum QM_VERSION;
QM_API extern QMenum QM_VENDOR;

/* Reserved names: exported, but never given a value (they stay NULL), and no
 * function accepts them. */
QM_API extern QMenum QM_DYNAMIC_PROXY_POSITION;
QM_API extern QMenum QM_DYNAMIC_PROXY_ROTATION;
QM_API extern QMenum QM_DYNAMIC_PROXY_TRANSFORM;
QM_API extern QMenum QM_EFFECT_INERTIA;
QM_API extern QMenum QM_EFFECT_RAMP;
QM_API extern QMenum QM_EFFECT_SAWTOOTHDOWN;
QM_API extern QMenum QM_EFFECT_SAWTOOTHUP;
QM_API extern QMenum QM_EFFECT_SINE;
QM_API extern QMenum QM_EFFECT_SQUARE;
QM_API extern QMenum QM_EFFECT_TRIANGLE;
QM_API extern QMenum QM_FLAT;
QM_API extern QMenum QM_SMOOTH;
QM_API extern QMenum QM_REACTION_TORQUE;
QM_API extern QMenum QM_TIME;

/* Attribute group bits of qmPushAttrib (1, 2, 4, 8, 16, 32) and the object
 * identifier that stands for every object (0). */
QM_API extern QMbitfield QM_HINT_BIT;
QM_API extern QMbitfield QM_MATERIAL_BIT;
QM_API extern QMbitfield QM_TOUCH_BIT;
QM_API extern QMbitfield QM_TRANSFORM_BIT;
QM_API extern QMbitfield QM_EFFECT_BIT;
QM_API extern QMbitfield QM_EVENTS_BIT;
QM_API extern QMuint QM_OBJECT_ANY;

/* ------------------------------------------------------------------ contexts, errors, strings */

/* Creates a rendering context on a device opened with zvInitDevice and
 * returns it; the calling thread's current context is not changed. The
 * context's workspace box (QM_WORKSPACE and QM_MAX_WORKSPACE_DIMS) is read
 * from the device: the midpoint, component by component, of its maximum and
 * its usable workspace boxes. Work that the library queues for the client
 * thread will run on the calling thread. ZV_INVALID_HANDLE gives a context
 * without a device. Returns NULL when the context cannot be created.
 * Errors: none recorded (there is no context to record them in).
 * Threads: the application's thread. */
QM_API HQMRC qmCreateContext(HZV hDevice);

/* Destroys a context and everything it owns. NULL does nothing. If the
 * context is current on the calling thread, the calling thread is left
 * without a current context; other threads on which it is current must make
 * another context (or none) current before their next call.
 * Errors: none. Threads: the application's thread. */
QM_API void qmDeleteContext(HQMRC hRC);

/* Makes a context (or none, with NULL) current on the calling thread. The
 * handle is not checked. Errors: none. Threads: any thread. */
QM_API void qmMakeCurrent(HQMRC hRC);

/* The calling thread's current context, or NULL. Errors: none.
 * Threads: any thread. */
QM_API HQMRC qmGetCurrentContext(void);

/* Binds the current context to another device (ZV_INVALID_HANDLE: none).
 * Errors: QM_INVALID_OPERATION without a current context or between
 * qmBeginFrame and qmEndFrame (nothing changes). Threads: the context's. */
QM_API void qmContextDevice(HZV hDevice);

/* The device of the current context; ZV_INVALID_HANDLE when it has none.
 * Errors: QM_INVALID_OPERATION without a current context (returns
 * ZV_INVALID_HANDLE). Threads: the context's. */
QM_API HZV qmGetCurrentDevice(void);

/* Pops the newest error of the current context. With nothing stored it
 * returns {QM_NO_ERROR, {0, 0, ZV_INVALID_HANDLE}}. Without a current
 * context it returns the fixed record {QM_INVALID_OPERATION, {0, -1
 * (0xFFFFFFFF), 0}} and records nothing. Errors: none.
 * Besides the errors of the calls themselves, the collision steps store
 * QM_DEVICE_ERROR records, and the collision recorder (switched by the
 * qm_recorder tool) stores QM_INVALID_OPERATION when its file
 * CollisionFile.dat cannot be read, created or written (or another context
 * of the process is recording it) and QM_INVALID_VALUE for the part of a
 * file that is malformed or cut short, when playback reaches it.
 * Threads: any thread (the store is locked). */
QM_API QMerror qmGetError(void);

/* QM_VERSION: "2.00.23"; QM_VENDOR: "Orvell Technologies, Inc.". Any other
 * symbol returns NULL. The texts are owned by the library. Errors: none (not
 * even for an unknown symbol). Threads: any thread. */
QM_API const char* qmGetString(QMenum name);

/* ------------------------------------------------------------------ attributes */

/* Common to every function of this section: QM_INVALID_OPERATION without a
 * current context. Threads: the context's. A getter whose output pointer is
 * NULL records QM_INVALID_VALUE after its name checks and writes nothing. */

/* Sets a material property of a face: face QM_FRONT, QM_BACK or
 * QM_FRONT_AND_BACK; property QM_STIFFNESS, QM_DAMPING, QM_STATIC_FRICTION,
 * QM_DYNAMIC_FRICTION or QM_POPTHROUGH; value in [0, 1] (defaults: stiffness
 * 0.8, the others 0). Errors: QM_INVALID_VALUE when the value is outside
 * [0, 1] or not a number (checked first); QM_INVALID_ENUM for another face or
 * property. */
QM_API void qmMaterialf(QMenum face, QMenum pname, QMfloat param);

/* Reads a material property of QM_FRONT or QM_BACK into params[0].
 * Errors: QM_INVALID_ENUM for another face (QM_FRONT_AND_BACK included) or
 * property. */
QM_API void qmGetMaterialfv(QMenum face, QMenum pname, QMfloat* params);

/* Which faces can be touched: QM_FRONT (default), QM_BACK or
 * QM_FRONT_AND_BACK. Errors: QM_INVALID_ENUM otherwise. */
QM_API void qmTouchableFace(QMenum face);

/* The touch model: QM_CONTACT (default) or QM_CONSTRAINT.
 * Errors: QM_INVALID_ENUM otherwise. */
QM_API void qmTouchModel(QMenum model);

/* Sets QM_SNAP_DISTANCE (default: the largest finite float); any value is
 * accepted. Errors: QM_INVALID_ENUM for another name. */
QM_API void qmTouchModelf(QMenum pname, QMfloat param);

/* The winding of front faces, QM_CW or QM_CCW (default). The argument is
 * stored as given, without a check. Errors: none beyond the context check. */
QM_API void qmFrontFace(QMenum mode);

/* Sets QM_SHAPE_FEEDBACK_BUFFER_VERTICES (default 65536).
 * Errors: QM_INVALID_ENUM for another name; then QM_INVALID_VALUE when the
 * value is negative. */
QM_API void qmHinti(QMenum target, QMint value);

/* Sets QM_SHAPE_DYNAMIC_SURFACE_CHANGE or QM_SHAPE_PERSISTENCE (both false
 * by default); any non-zero value is true. Errors: QM_INVALID_ENUM for
 * another name. */
QM_API void qmHintb(QMenum target, QMboolean value);

/* Switch a capability on or off: QM_PROXY_RESOLUTION (default on),
 * QM_HAPTIC_CAMERA_VIEW (off), QM_ADAPTIVE_VIEWPORT (off),
 * QM_USE_GL_MODELVIEW (on). Errors: QM_INVALID_OPERATION for
 * QM_HAPTIC_CAMERA_VIEW and QM_ADAPTIVE_VIEWPORT between qmBeginShape and
 * qmEndShape, and for any other symbol. */
QM_API void qmEnable(QMenum cap);
QM_API void qmDisable(QMenum cap);

/* Whether one of the four capabilities above is on. Errors: QM_INVALID_ENUM
 * for any other symbol (returns false). */
QM_API QMboolean qmIsEnabled(QMenum cap);

/* Saves attribute groups: QM_MATERIAL_BIT (material of both faces),
 * QM_TOUCH_BIT (touchable face, touch model, snap distance, front-face
 * winding), QM_HINT_BIT (the three hints), QM_EFFECT_BIT (effect
 * properties), QM_TRANSFORM_BIT (matrix mode, workspace box, the camera-view
 * capabilities and QM_USE_GL_MODELVIEW), QM_EVENTS_BIT (motion tolerances,
 * proxy resolution, published device and proxy state). Until the matching
 * qmPopAttrib, changes to the saved attributes are discarded at the pop while
 * the values in force stay readable. Other bits are ignored; the stack has no
 * depth limit. Errors: QM_INVALID_VALUE when no known bit is given (nothing
 * is saved). */
QM_API void qmPushAttrib(QMbitfield mask);

/* Restores the groups saved by the last qmPushAttrib. With nothing saved it
 * does nothing. Errors: none beyond the context check. */
QM_API void qmPopAttrib(void);

/* Reads a boolean: QM_BUTTON1_STATE, QM_BUTTON2_STATE, QM_BUTTON3_STATE,
 * QM_SAFETY_STATE, QM_INKWELL_STATE or QM_PROXY_IS_TOUCHING, as last
 * published to the client thread. Errors: QM_INVALID_ENUM for another name or
 * when the value is not available. */
QM_API void qmGetBooleanv(QMenum pname, QMboolean* params);

/* Reads an integer: QM_SHAPE_FEEDBACK_BUFFER_VERTICES (a count), or
 * QM_TOUCHABLE_FACE and QM_TOUCH_MODEL (the symbol itself, to be compared as
 * (QMintptr)QM_FRONT and the like). Errors: QM_INVALID_ENUM for another
 * name. */
QM_API void qmGetIntegerv(QMenum pname, QMintptr* params);

/* Reads doubles, in model coordinates where the value is a place or a
 * direction:
 *  - QM_VIEWTOUCH_MATRIX, QM_MODELVIEW_MATRIX, QM_TOUCHWORKSPACE_MATRIX: the
 *    top of that stack (16);
 *  - QM_WORKSPACE, QM_MAX_WORKSPACE_DIMS: the box (6: minimum x, y, z,
 *    maximum x, y, z);
 *  - QM_PROXY_POSITION, QM_DEVICE_POSITION, QM_GOLDEN_POSITION (3),
 *    QM_PROXY_ROTATION, QM_DEVICE_ROTATION (4, a unit quaternion w, x, y, z),
 *    QM_PROXY_TRANSFORM, QM_DEVICE_TRANSFORM (16, rotation and translation),
 *    QM_DEVICE_FORCE, QM_DEVICE_TORQUE, QM_PROXY_TOUCH_NORMAL (3, directions
 *    keeping their length), QM_GOLDEN_RADIUS (1): converted from the device
 *    workspace into model coordinates through the inverse of the composed
 *    modelview, view-touch and touch-workspace transform;
 *  - QM_EVENT_MOTION_LINEAR_TOLERANCE, QM_EVENT_MOTION_ANGULAR_TOLERANCE (1);
 *  - any other name that holds an array of doubles (QM_REACTION_FORCE, 3).
 * Errors: QM_INVALID_ENUM when the name holds no doubles;
 * QM_INVALID_OPERATION for a value converted to model coordinates while the
 * composed transform has no inverse (a zero scale, a degenerate view volume,
 * values that are not finite), and nothing is written. */
QM_API void qmGetDoublev(QMenum pname, QMdouble* params);

/* ------------------------------------------------------------------ transforms and workspace */

/* Common to every function of this section: QM_INVALID_OPERATION without a
 * current context. Threads: the context's. A matrix operation acts on the
 * top M of the current stack; "A then M" means the transform A applies to a
 * point first (M = M x A, as with OpenGL's glMultMatrix). The composed
 * transform uses the modelview captured at the start of each frame, so
 * changes to the modelview stack take effect at the next frame. */

/* Selects the current stack: QM_VIEWTOUCH (default; 32 deep), QM_MODELVIEW
 * (32 deep) or QM_TOUCHWORKSPACE (2 deep). The mode belongs to the
 * QM_TRANSFORM_BIT attribute group. Errors: QM_INVALID_ENUM otherwise. */
QM_API void qmMatrixMode(QMenum mode);

/* Pushes a copy of M. Errors: QM_STACK_OVERFLOW when the stack is full
 * (nothing changes). */
QM_API void qmPushMatrix(void);

/* Pops M. Errors: QM_STACK_UNDERFLOW when it is the only matrix. */
QM_API void qmPopMatrix(void);

/* M = identity. */
QM_API void qmLoadIdentity(void);

/* M = the 16 given values. */
QM_API void qmLoadMatrixd(const QMdouble* m);
QM_API void qmLoadMatrixf(const QMfloat* m);

/* M = the given matrix then M. */
QM_API void qmMultMatrixd(const QMdouble* m);
QM_API void qmMultMatrixf(const QMfloat* m);

/* M = translation by (x, y, z) then M. */
QM_API void qmTranslated(QMdouble x, QMdouble y, QMdouble z);
QM_API void qmTranslatef(QMfloat x, QMfloat y, QMfloat z);

/* M = rotation by angle degrees about the axis (x, y, z) then M. The axis is
 * normalised unless it is zero. */
QM_API void qmRotated(QMdouble angle, QMdouble x, QMdouble y, QMdouble z);
QM_API void qmRotatef(QMfloat angle, QMfloat x, QMfloat y, QMfloat z);

/* M = scaling by (x, y, z) then M. */
QM_API void qmScaled(QMdouble x, QMdouble y, QMdouble z);
QM_API void qmScalef(QMfloat x, QMfloat y, QMfloat z);

/* M = O then M, where O fits the view volume (left, right, bottom, top,
 * -zNear, -zFar) into the workspace box: the volume's centre
 * ((left + right) / 2, (bottom + top) / 2, -(zNear + zFar) / 2) goes to the
 * box's centre and each axis is scaled by the box's extent over the volume's
 * (right - left, top - bottom, zFar - zNear). Equal bounds give infinite
 * elements; nothing is checked. */
QM_API void qmOrtho(QMdouble left, QMdouble right, QMdouble bottom, QMdouble top, QMdouble zNear, QMdouble zFar);

/* Sets the workspace box QM_WORKSPACE, clamped into the device's box
 * QM_MAX_WORKSPACE_DIMS. Errors: QM_INVALID_VALUE when a bound is not a
 * number, when a minimum exceeds its maximum, or when the box lies outside
 * the device's box on some axis (nothing changes). */
QM_API void qmWorkspace(QMdouble minX, QMdouble minY, QMdouble minZ, QMdouble maxX, QMdouble maxY, QMdouble maxZ);

/* ------------------------------------------------------------------ identifiers */

/* Common to every function of this section: QM_INVALID_OPERATION without a
 * current context. Threads: any thread on which the context is current (the
 * pools are locked). Identifiers are handed out in increasing order and never
 * twice, even after they were freed; 0 is never an identifier. A new context
 * keeps shape identifier 1 for itself. */

/* Reserves n consecutive shape identifiers and returns the first; 0 for
 * n = 0. Errors: QM_INVALID_VALUE when n is negative; QM_INVALID_OPERATION
 * between qmBeginShape and qmEndShape; QM_OUT_OF_MEMORY when the identifiers
 * are exhausted (returns 0). */
QM_API QMuint qmGenShapes(QMint range);

/* Frees the shape identifiers first .. first + n - 1 and forgets the shapes
 * defined under them. Identifiers that are not reserved are ignored.
 * Errors: QM_INVALID_VALUE when n is negative; QM_INVALID_OPERATION between
 * qmBeginShape and qmEndShape. */
QM_API void qmDeleteShapes(QMuint shapeId, QMint range);

/* Whether the identifier is a reserved shape identifier. Errors:
 * QM_INVALID_OPERATION between qmBeginShape and qmEndShape (returns false). */
QM_API QMboolean qmIsShape(QMuint shapeId);

/* As qmGenShapes, for the effect pool (a new context reserves none itself).
 * Errors: QM_INVALID_VALUE when n is negative; QM_OUT_OF_MEMORY when the
 * identifiers are exhausted. */
QM_API QMuint qmGenEffects(QMint range);

/* As qmDeleteShapes, for effect identifiers and the effects started under
 * them: those of the open frame are dropped, and those of the last completed
 * frame stop as qmStopEffect stops them. Errors: QM_INVALID_VALUE when n is
 * negative. */
QM_API void qmDeleteEffects(QMuint effectId, QMint range);

/* Whether the identifier is a reserved effect identifier. */
QM_API QMboolean qmIsEffect(QMuint effectId);

/* ------------------------------------------------------------------ effects */

/* Effects are forces that do not come from touching shapes. Each one is
 * built from the current effect properties (qmEffect*) when it is started,
 * triggered or updated inside a frame; qmEndFrame compares the frame's
 * effects with the running ones, and the change reaches the servo loop at
 * the next collision step. A running effect stays running from frame to
 * frame until it is stopped (or, when triggered, until its duration has
 * passed); it need not be started again in every frame.
 *
 * Types with a force: QM_EFFECT_CONSTANT (a push along
 * QM_EFFECT_PROPERTY_DIRECTION, as long as the direction is, of
 * min(3, the device's nominal maximum force) x QM_EFFECT_PROPERTY_MAGNITUDE);
 * QM_EFFECT_SPRING (a pull toward QM_EFFECT_PROPERTY_POSITION of the device's
 * nominal maximum stiffness x QM_EFFECT_PROPERTY_GAIN per unit of distance,
 * no more than the magnitude's force); QM_EFFECT_VISCOUS (a drag against the
 * device's velocity of its nominal maximum damping x gain, no more than the
 * magnitude's force); QM_EFFECT_FRICTION (a spring as above toward an anchor
 * that starts where the device is and is dragged along when the pull exceeds
 * the magnitude's force); QM_EFFECT_CALLBACK (the application's
 * QM_EFFECT_COMPUTE_FORCE, QM_EFFECT_START and QM_EFFECT_STOP callbacks, set
 * with qmCallback before the effect is started, run on the servo thread).
 * Gain and magnitude count between 0 and 1 (values outside are taken as the
 * nearer bound). Positions and directions are in workspace coordinates. No
 * effect adds a force that is not finite or is longer than the device's
 * nominal maximum. QM_EFFECT_SINE, QM_EFFECT_SQUARE, QM_EFFECT_TRIANGLE,
 * QM_EFFECT_SAWTOOTHUP, QM_EFFECT_SAWTOOTHDOWN, QM_EFFECT_RAMP and
 * QM_EFFECT_INERTIA have no implementation and are refused.
 *
 * Common to the functions of this section: QM_INVALID_OPERATION without a
 * current context. Threads: the thread on which the context is current;
 * callbacks on the collision thread may set the effect properties
 * (qmEffect*) but not start, trigger, update, stop or read effects
 * (QM_INVALID_OPERATION). */

/* Starts an effect of the type under a reserved effect identifier, with the
 * current effect properties. Started again under an identifier whose effect
 * runs, it updates that effect instead (same as qmUpdateEffect, but with the
 * new type's properties only). Errors: QM_INVALID_OPERATION outside a
 * frame; QM_INVALID_VALUE when the identifier is not reserved
 * (qmGenEffects); QM_INVALID_ENUM for a type without an implementation
 * (nothing changes). */
QM_API void qmStartEffect(QMenum type, QMuint effectId);

/* Marks the effect of the last completed frame under the identifier as
 * done; it stops at the next frame end and collision step. Errors:
 * QM_INVALID_OPERATION outside a frame; QM_INVALID_VALUE when the
 * identifier is not reserved; QM_INVALID_OPERATION when the last completed
 * frame has no effect under it. */
QM_API void qmStopEffect(QMuint effectId);

/* Starts a one-shot effect of the type, with the current effect properties,
 * under a new identifier of its own; it stops by itself once
 * QM_EFFECT_PROPERTY_DURATION (milliseconds) has passed. Its identifier is
 * freed again at the second qmBeginFrame after this frame. Errors:
 * QM_INVALID_OPERATION outside a frame; QM_INVALID_ENUM for a type without
 * an implementation (nothing changes); QM_OUT_OF_MEMORY when the effect
 * identifiers are exhausted. */
QM_API void qmTriggerEffect(QMenum type);

/* Gives the running effect under the identifier the current effect
 * properties (all of those its type uses; its type, and for a friction
 * effect its anchor, stay). Errors: QM_INVALID_OPERATION outside a frame;
 * QM_INVALID_VALUE when the last completed frame has no effect under the
 * identifier. */
QM_API void qmUpdateEffect(QMuint effectId);

/* Set a current effect property, used by the effects started, triggered or
 * updated from then on and saved with QM_EFFECT_BIT by qmPushAttrib:
 * QM_EFFECT_PROPERTY_GAIN, QM_EFFECT_PROPERTY_MAGNITUDE (0 to 1),
 * QM_EFFECT_PROPERTY_DURATION (milliseconds, default 1000),
 * QM_EFFECT_PROPERTY_FREQUENCY (kept, used by no type); QM_EFFECT_PROPERTY_TYPE
 * is accepted and changes nothing. qmEffecti converts to double. Errors:
 * QM_INVALID_ENUM for another name; QM_INVALID_VALUE for a value that is not
 * finite. */
QM_API void qmEffectd(QMenum pname, QMdouble param);
QM_API void qmEffecti(QMenum pname, QMint param);

/* Set QM_EFFECT_PROPERTY_POSITION (default 0, 0, 0) or
 * QM_EFFECT_PROPERTY_DIRECTION (default 0, 1, 0), three values. qmEffectiv
 * converts to double. Errors: QM_INVALID_ENUM for another name;
 * QM_INVALID_VALUE for NULL or a value that is not finite. */
QM_API void qmEffectdv(QMenum pname, const QMdouble* params);
QM_API void qmEffectiv(QMenum pname, const QMint* params);

/* Read a property of the effect that the last completed frame holds under
 * the identifier: QM_EFFECT_PROPERTY_GAIN, QM_EFFECT_PROPERTY_MAGNITUDE,
 * QM_EFFECT_PROPERTY_FREQUENCY, QM_EFFECT_PROPERTY_DURATION (one value),
 * QM_EFFECT_PROPERTY_POSITION, QM_EFFECT_PROPERTY_DIRECTION (three values;
 * a friction effect's position is its anchor as of the last collision
 * step), or QM_EFFECT_PROPERTY_TYPE, a symbol, of which qmGetEffectiv writes
 * the low 32 bits and qmGetEffectdv nothing. qmGetEffectiv rounds to the
 * nearest integer (halves up). Errors: QM_INVALID_ENUM for another name;
 * QM_INVALID_VALUE when there is no such effect, for a property the effect's
 * type does not have, for NULL, and for an integer result out of range. */
QM_API void qmGetEffectdv(QMuint effectId, QMenum pname, QMdouble* params);
QM_API void qmGetEffectiv(QMuint effectId, QMenum pname, QMint* params);

/* QM_EFFECT_PROPERTY_ACTIVE: whether the last completed frame holds an
 * effect under the identifier (a running effect stays in every frame until
 * it stops). Errors: QM_INVALID_ENUM for another name; QM_INVALID_VALUE for
 * NULL. */
QM_API void qmGetEffectbv(QMuint effectId, QMenum pname, QMboolean* params);

/* ------------------------------------------------------------------ frames */

/* Common to every function of this section and the next: QM_INVALID_OPERATION
 * without a current context. A frame is the span between qmBeginFrame and
 * qmEndFrame; draw the touchable shapes of one graphics frame inside it.
 * Threads: the thread on which the context is current; a callback running on
 * the library's collision thread may not begin or end frames or shapes
 * (QM_INVALID_OPERATION). See docs/threading.md. */

/* Starts a frame: takes the frame modelview (OpenGL's modelview when
 * QM_USE_GL_MODELVIEW is enabled, else the top of the library's modelview
 * stack), copies the device and proxy state published by the collision side
 * into the context (values never published keep their defaults) and the
 * touch results of the shapes of the last frame into the per-shape results,
 * moves QM_GOLDEN_POSITION to the proxy, releases the identifiers of
 * one-shot effects triggered two frames ago, and clears the frame's scene.
 * Errors: QM_INVALID_OPERATION inside a frame. */
QM_API void qmBeginFrame(void);

/* Ends a frame: the shapes specified in it become the scene handed to the
 * collision side. A shape of the previous frame that is not specified again
 * is kept only when it was built with QM_SHAPE_PERSISTENCE and has not been
 * deleted since; a shape re-submitted with qmCallShape keeps its geometry and
 * takes the current attributes. The frame is left even when the call fails.
 * Errors: QM_INVALID_OPERATION outside a frame or while a shape is open. */
QM_API void qmEndFrame(void);

/* Asks for a calibration update: at the next collision step the device is
 * calibrated in the best style it supports (automatic, then inkwell, then
 * encoder reset) and the proxies restart at the device. Errors: none beyond
 * the context check. Threads: the context's, or a collision-thread callback. */
QM_API void qmUpdateCalibration(void);

/* ------------------------------------------------------------------ shapes */

/* Opens a shape of a type with an identifier from qmGenShapes, with the
 * current attributes (material, touchable face, touch model, snap distance,
 * hints, transforms):
 *  - QM_SHAPE_FEEDBACK_BUFFER: what is drawn with OpenGL until qmEndShape
 *    is captured through OpenGL's feedback buffer (points, lines and
 *    polygons; bitmaps and pixel rectangles add nothing). OpenGL must be in
 *    GL_RENDER mode, and stays in GL_FEEDBACK mode until qmEndShape. Size
 *    the buffer with qmHinti(QM_SHAPE_FEEDBACK_BUFFER_VERTICES, n);
 *  - QM_SHAPE_DEPTH_BUFFER: what is rendered with OpenGL until qmEndShape
 *    is read back from the depth buffer at qmEndShape, as the surface the
 *    camera sees (pixels left at depth 1 form a surface at the far plane).
 *    Depth testing must be on and the depth buffer cleared as for drawing.
 *    The viewport is read whole, or with QM_ADAPTIVE_VIEWPORT only the part
 *    around the golden sphere; with QM_HAPTIC_CAMERA_VIEW the shape is
 *    rendered through a small camera at the proxy instead (projection,
 *    modelview, viewport and face culling are replaced until qmEndShape and
 *    then restored), and only the pixels of the application's viewport are
 *    read. A minimised window (empty viewport) gives a shape that is never
 *    touched. OpenGL's depth range must be [0, 1];
 *  - QM_SHAPE_PRIMITIVE: geometry given with qmBegin, qmVertex3* and qmEnd,
 *    in the coordinates of the current modelview;
 *  - QM_SHAPE_CALLBACK: a surface the application describes itself with the
 *    QM_SHAPE_INTERSECT_LS and QM_SHAPE_CLOSEST_FEATURES functions set with
 *    qmCallback (the ones current at qmEndShape), called on the collision
 *    thread in the coordinates of the current modelview. An intersection
 *    counts only with a face of QM_FRONT or QM_BACK that the shape's
 *    touchable face allows, a finite point and a finite, non-zero normal;
 *    any other answer is no hit. Without functions it is never touched.
 * Shapes may be opened outside a frame; they are then kept for qmCallShape
 * but not touched until called. Errors: QM_INVALID_OPERATION while a shape
 * is open, when OpenGL is not in GL_RENDER mode (feedback shapes) or when
 * OpenGL's depth range is not [0, 1] (depth-buffer shapes);
 * QM_INVALID_VALUE for an identifier not reserved with qmGenShapes;
 * QM_INVALID_ENUM for a type that has no builder (nothing is opened);
 * QM_OUT_OF_MEMORY when the capture buffer cannot be made. */
QM_API void qmBeginShape(QMenum type, QMuint shapeId);

/* Finishes the open shape and adds it to the frame (and keeps it as the
 * latest shape of its identifier). The shape is closed even when the call
 * fails, and then nothing is added. Errors: QM_INVALID_OPERATION when no
 * shape is open, when OpenGL left feedback mode during the capture, when
 * the depth range was set to other than [0, 1] during a depth-buffer capture,
 * or when the shape's transform to the workspace has no inverse (a zero
 * scale, a degenerate view volume, values that are not finite);
 * QM_OUT_OF_MEMORY when the captured geometry overflowed the buffer (raise
 * QM_SHAPE_FEEDBACK_BUFFER_VERTICES). */
QM_API void qmEndShape(void);

/* Re-submits in this frame the shape last defined under the identifier,
 * keeping its geometry and taking the current attributes and transforms.
 * Errors: QM_INVALID_OPERATION outside a frame, or when the shape's
 * transform to the workspace has no inverse (as qmEndShape);
 * QM_INVALID_VALUE when the identifier is not reserved or no shape was
 * defined under it. */
QM_API void qmCallShape(QMuint shapeId);

/* Starts a primitive inside an open QM_SHAPE_PRIMITIVE shape: QM_POINTS,
 * QM_LINES, QM_LINE_STRIP, QM_LINE_LOOP, QM_TRIANGLES, QM_TRIANGLE_STRIP,
 * QM_QUADS, QM_QUAD_STRIP or QM_POLYGON, assembled as OpenGL assembles them
 * (a quad strip's quads are (v0, v1, v3, v2), (v2, v3, v5, v4), ...).
 * Another mode produces nothing. The winding set with qmFrontFace when the
 * shape ends decides which side of its triangles is the front. Errors:
 * QM_INVALID_OPERATION when no primitive shape is open or a primitive is
 * already started. */
QM_API void qmBegin(QMenum mode);

/* Adds a vertex to the started primitive (float forms are widened).
 * Incomplete primitives are dropped at qmEnd. Errors: QM_INVALID_OPERATION
 * when no primitive is started; QM_INVALID_VALUE for a null array. */
QM_API void qmVertex3d(QMdouble x, QMdouble y, QMdouble z);
QM_API void qmVertex3f(QMfloat x, QMfloat y, QMfloat z);
QM_API void qmVertex3dv(const QMdouble* v);
QM_API void qmVertex3fv(const QMfloat* v);

/* Ends the started primitive (closes a line loop, triangulates a polygon as
 * a fan). Errors: QM_INVALID_OPERATION when no primitive is started. */
QM_API void qmEnd(void);

/* Whether the proxy touched the shape (QM_PROXY_IS_TOUCHING), as of the
 * last qmBeginFrame. Errors: QM_INVALID_VALUE when the identifier has no
 * shape in the scene or params is NULL; QM_INVALID_ENUM for another name. */
QM_API void qmGetShapeBooleanv(QMuint shapeId, QMenum pname, QMboolean* params);

/* The reaction force of the shape (QM_REACTION_FORCE, 3 doubles), as of the
 * last qmBeginFrame, as a direction in model coordinates. Errors: as
 * qmGetShapeBooleanv. */
QM_API void qmGetShapeDoublev(QMuint shapeId, QMenum pname, QMdouble* params);

/* Sets a callback and its user data in the attribute state: a shape
 * callback (QM_SHAPE_INTERSECT_LS, QM_SHAPE_CLOSEST_FEATURES), which applies
 * to the callback shapes specified from then on, or an effect callback
 * (QM_EFFECT_COMPUTE_FORCE, QM_EFFECT_START, QM_EFFECT_STOP), which applies
 * to the callback effects started from then on. A null function unsets it.
 * The values are saved and restored by qmPushAttrib/qmPopAttrib with their
 * attribute group. Client thread, inside a frame. Errors:
 * QM_INVALID_OPERATION without a current context or outside a frame, and for
 * a shape callback outside qmBeginShape ... qmEndShape; QM_INVALID_ENUM for
 * any other type. */
QM_API void qmCallback(QMenum type, QMcallback function, void* userData);

/* Local features of a callback shape, added from inside its
 * QM_SHAPE_CLOSEST_FEATURES function through the geometry handle that
 * function was given. Vectors are in shape coordinates (float forms are
 * widened to double); the features are mapped to the workspace with the
 * shape's transform (points as points, plane normals so that they stay
 * perpendicular to the plane) and are kept only when the function returns
 * true.
 *  - qmLocalFeature1fv, qmLocalFeature1dv: QM_LOCAL_FEATURE_POINT at v.
 *  - qmLocalFeature2fv, qmLocalFeature2dv: QM_LOCAL_FEATURE_LINE, the
 *    segment from v1 to v2; QM_LOCAL_FEATURE_PLANE, the plane with normal
 *    v1 (need not be unit) through the point v2.
 * Errors (recorded in the current context; nothing is added):
 * QM_INVALID_ENUM for another type; QM_INVALID_VALUE when `geometry` is not
 * the handle of the function running now on the calling thread (a handle
 * kept from an earlier call is refused without being used), for a NULL
 * vector, a vector that is not finite, or a plane normal that is zero.
 * Threads: the collision thread, inside the shape's closest-features
 * function. */
QM_API void qmLocalFeature1fv(QMgeometry geometry, QMenum type, const QMfloat* v);
QM_API void qmLocalFeature1dv(QMgeometry geometry, QMenum type, const QMdouble* v);
QM_API void qmLocalFeature2fv(QMgeometry geometry, QMenum type, const QMfloat* v1, const QMfloat* v2);
QM_API void qmLocalFeature2dv(QMgeometry geometry, QMenum type, const QMdouble* v1, const QMdouble* v2);

/* Writes the scene of the last completed frame, with every attribute of
 * every shape, as XML to the file (created or truncated). Errors:
 * QM_INVALID_OPERATION when the file cannot be written. */
QM_API void qmDumpScene(const char* fileName);

/* ------------------------------------------------------------------ state caches and the proxy */

/* Read a state cache handed to a callback, without a current context and
 * without locking (the callback owns the snapshot while it runs). Booleans:
 * QM_BUTTON1_STATE, QM_BUTTON2_STATE, QM_BUTTON3_STATE, QM_SAFETY_STATE,
 * QM_INKWELL_STATE, QM_PROXY_IS_TOUCHING. Doubles, converted to model
 * coordinates with the cache's own matrices as qmGetDoublev converts them:
 * QM_PROXY_POSITION, QM_DEVICE_POSITION, QM_DEVICE_FORCE, QM_DEVICE_TORQUE,
 * QM_PROXY_TOUCH_NORMAL, QM_PROXY_ROTATION, QM_DEVICE_ROTATION,
 * QM_PROXY_TRANSFORM, QM_DEVICE_TRANSFORM. Errors (recorded in the current
 * context, if any): QM_INVALID_ENUM for another name or a value the cache
 * does not hold; QM_INVALID_VALUE for a NULL cache or output. Threads: the
 * callback's. */
QM_API void qmCacheGetBooleanv(QMcache cache, QMenum pname, QMboolean* params);
QM_API void qmCacheGetDoublev(QMcache cache, QMenum pname, QMdouble* params);

/* Sets the proxy's QM_STIFFNESS or QM_DAMPING. Errors: QM_INVALID_OPERATION
 * for another name; QM_INVALID_VALUE for a value that is not finite.
 * Threads: the context's, or a collision-thread callback. */
QM_API void qmProxyf(QMenum pname, QMfloat param);

/* Sets the proxy pose in model coordinates: QM_PROXY_POSITION (3 doubles)
 * or QM_PROXY_ROTATION (4 doubles, a quaternion w, x, y, z). The pose is
 * read back by qmGetDoublev until the next qmBeginFrame. While
 * QM_PROXY_RESOLUTION is disabled it moves the proxy: from a collision-thread
 * callback at once, from the client thread at the next qmEndFrame. Errors:
 * QM_INVALID_OPERATION for another name; QM_INVALID_VALUE for NULL or a
 * value that is not finite. */
QM_API void qmProxydv(QMenum pname, const QMdouble* params);

/* ------------------------------------------------------------------ events */

/* Common to every function of this section: QM_INVALID_OPERATION without a
 * current context.
 *
 * Events report what the library sees at haptic rate. The collision thread
 * looks for them at every collision step:
 *  - QM_EVENT_TOUCH, QM_EVENT_UNTOUCH: the proxy began or stopped touching a
 *    shape (also when a frame end carried the proxy onto or off a shape: the
 *    event follows at the next step). Raised for the shape's identifier and
 *    for QM_OBJECT_ANY, both with the shape's identifier as shapeId;
 *  - QM_EVENT_1BUTTONDOWN/UP, QM_EVENT_2BUTTONDOWN/UP,
 *    QM_EVENT_3BUTTONDOWN/UP, QM_EVENT_SAFETYDOWN/UP,
 *    QM_EVENT_INKWELLDOWN/UP: the state read at this step differs from the
 *    one read at the step before (a press and release between two steps is
 *    not seen);
 *  - QM_EVENT_MOTION, for QM_COLLISION_THREAD subscriptions: the proxy has
 *    moved by the subscription's linear tolerance (device workspace units)
 *    or turned by its angular tolerance (radians) since the subscription
 *    last fired, or since it was made. Position and rotation are measured
 *    separately.
 * Button, switch and motion events go to QM_OBJECT_ANY (shapeId
 * QM_OBJECT_ANY) and then to every shape the proxy touches (shapeId that
 * shape). qmCheckEvents looks for QM_EVENT_MOTION for QM_CLIENT_THREAD
 * subscriptions, and raises QM_EVENT_CALIBRATION_UPDATE or
 * QM_EVENT_CALIBRATION_INPUT (for QM_OBJECT_ANY) at every call while the
 * device reported at the last step that it needs that calibration.
 *
 * A QM_COLLISION_THREAD callback runs on the collision thread: inside the
 * collision step for the events the step finds, at the start of the next
 * step for calibration events. It may call the getters, qmCacheGet*,
 * qmProxyf, qmProxydv, qmEnable, qmDisable, the attribute setters,
 * qmUpdateCalibration, qmAddEventCallback and qmRemoveEventCallback; the
 * frame and shape calls, qmContextDevice, qmDeleteContext and qmCheckEvents
 * are refused there (QM_INVALID_OPERATION). It must not wait for the
 * application's thread. A QM_CLIENT_THREAD callback is queued and runs
 * inside the application's next qmCheckEvents, where it may call anything
 * but qmDeleteContext on its own context. At most 1000 events wait for
 * each thread; later ones are dropped until the queue is served. An event
 * whose subscription was removed before it ran is not delivered. Exceptions
 * thrown by a callback are discarded. */

/* Subscribes callback to an event for a shape identifier or QM_OBJECT_ANY,
 * to run on QM_CLIENT_THREAD or QM_COLLISION_THREAD with userData.
 * Subscribing the same callback to the same event, shape and thread again
 * replaces the subscription (one subscription, the new user data, served
 * after the others). A QM_EVENT_MOTION subscription takes the current
 * tolerances (qmEventd) and is measured from the proxy pose the context
 * holds now (as of the last qmBeginFrame or qmCheckEvents). Errors:
 * QM_INVALID_ENUM for another event or thread; QM_INVALID_VALUE for a NULL
 * callback. Threads: the context's, or a collision-thread callback. */
QM_API void qmAddEventCallback(QMenum event, QMuint shapeId, QMenum thread, QMeventCallback callback, void* userData);

/* Removes that subscription; nothing happens when there is none. Events of
 * it still waiting are not delivered. Errors: QM_INVALID_ENUM for another
 * event or thread. Threads: as qmAddEventCallback. */
QM_API void qmRemoveEventCallback(QMenum event, QMuint shapeId, QMenum thread, QMeventCallback callback);

/* Copies the state published by the collision side into the context (as
 * qmBeginFrame does, without the per-shape results), raises the client
 * thread's motion events and the calibration events, then runs on the
 * calling thread every QM_CLIENT_THREAD callback waiting for this context,
 * and the other work queued for the client thread. Errors:
 * QM_INVALID_OPERATION on the collision thread. Threads: the context's. */
QM_API void qmCheckEvents(void);

/* Sets QM_EVENT_MOTION_LINEAR_TOLERANCE (device workspace units) or
 * QM_EVENT_MOTION_ANGULAR_TOLERANCE (radians) for the motion subscriptions
 * made afterwards (default 1 and 0.02; saved by QM_EVENTS_BIT). Errors:
 * QM_INVALID_ENUM for another name; QM_INVALID_VALUE for a negative or
 * non-finite value. Threads: the context's, or a collision-thread
 * callback. */
QM_API void qmEventd(QMenum pname, QMdouble param);

#ifdef __cplusplus
}
#endif

#endif /* QM_QM_H */
