// Exported functions: the attribute state and the state queries.
#include <cmath>

#include "qm/api/CallFrame.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"
#include "qm/state/AttributeGroups.h"
#include "qm/state/Conversions.h"

namespace QM {
namespace {

IStackedAttributeMap& attributes(Context& context) { return context.state->getAttributes(); }

bool isFace(QMenum face) {
    return isSymbol(face, QM_FRONT) || isSymbol(face, QM_BACK) || isSymbol(face, QM_FRONT_AND_BACK);
}

bool isMaterialProperty(QMenum property) {
    return isSymbol(property, QM_STIFFNESS) || isSymbol(property, QM_DAMPING) ||
           isSymbol(property, QM_STATIC_FRICTION) || isSymbol(property, QM_DYNAMIC_FRICTION) ||
           isSymbol(property, QM_POPTHROUGH);
}

bool isCapability(QMenum cap) {
    return isSymbol(cap, QM_PROXY_RESOLUTION) || isSymbol(cap, QM_HAPTIC_CAMERA_VIEW) ||
           isSymbol(cap, QM_ADAPTIVE_VIEWPORT) || isSymbol(cap, QM_USE_GL_MODELVIEW);
}

bool isSwitchState(QMenum name) {
    return isSymbol(name, QM_BUTTON1_STATE) || isSymbol(name, QM_BUTTON2_STATE) || isSymbol(name, QM_BUTTON3_STATE) ||
           isSymbol(name, QM_SAFETY_STATE) || isSymbol(name, QM_INKWELL_STATE) || isSymbol(name, QM_PROXY_IS_TOUCHING);
}

// qmEnable and qmDisable. A proxy-resolution change made on the collision
// thread reaches the renderer at once; made elsewhere, the renderer takes it
// over at the next frame end.
void setCapability(Context& context, QMenum cap, bool enabled) {
    if (isSymbol(cap, QM_HAPTIC_CAMERA_VIEW) || isSymbol(cap, QM_ADAPTIVE_VIEWPORT)) {
        require(context.openShape == nullptr, QM_INVALID_OPERATION);
    } else if (isSymbol(cap, QM_PROXY_RESOLUTION)) {
        if (onCollisionThread()) {
            context.sceneRenderer->setProxyResolution(enabled);
        }
    } else {
        require(isSymbol(cap, QM_USE_GL_MODELVIEW), QM_INVALID_OPERATION);
    }
    attributes(context).set<bool>(cap, enabled);
}

}  // namespace
}  // namespace QM

using namespace QM;

extern "C" {

QM_API void qmMaterialf(QMenum face, QMenum pname, QMfloat param) {
    callInContext([&](Context& context) {
        require(!std::isnan(param) && param >= 0.0f && param <= 1.0f, QM_INVALID_VALUE);
        require(isFace(face) && isMaterialProperty(pname), QM_INVALID_ENUM);
        IStackedAttributeMap& map = attributes(context);
        if (isSymbol(face, QM_FRONT_AND_BACK)) {
            if (map.set<float>(materialKey(QM_FRONT, pname), param)) {
                map.set<float>(materialKey(QM_BACK, pname), param);
            }
        } else {
            map.set<float>(materialKey(face, pname), param);
        }
    });
}

QM_API void qmGetMaterialfv(QMenum face, QMenum pname, QMfloat* params) {
    callInContext([&](Context& context) {
        const QMenum key = materialKey(face, pname);
        require(key != nullptr, QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        float value = 0.0f;
        require(attributes(context).get<float>(key, value), QM_INVALID_ENUM);
        params[0] = value;
    });
}

QM_API void qmTouchableFace(QMenum face) {
    callInContext([&](Context& context) {
        require(isFace(face), QM_INVALID_ENUM);
        attributes(context).set<QMenum>(QM_TOUCHABLE_FACE, face);
    });
}

QM_API void qmTouchModel(QMenum model) {
    callInContext([&](Context& context) {
        require(isSymbol(model, QM_CONTACT) || isSymbol(model, QM_CONSTRAINT), QM_INVALID_ENUM);
        attributes(context).set<QMenum>(QM_TOUCH_MODEL, model);
    });
}

QM_API void qmTouchModelf(QMenum pname, QMfloat param) {
    callInContext([&](Context& context) {
        require(isSymbol(pname, QM_SNAP_DISTANCE), QM_INVALID_ENUM);
        attributes(context).set<float>(QM_SNAP_DISTANCE, param);
    });
}

QM_API void qmFrontFace(QMenum mode) {
    callInContext([&](Context& context) { attributes(context).set<QMenum>(QM_INT_FRONT_FACE, mode); });
}

QM_API void qmHinti(QMenum target, QMint value) {
    callInContext([&](Context& context) {
        require(isSymbol(target, QM_SHAPE_FEEDBACK_BUFFER_VERTICES), QM_INVALID_ENUM);
        require(value >= 0, QM_INVALID_VALUE);
        attributes(context).set<std::int32_t>(target, value);
    });
}

QM_API void qmHintb(QMenum target, QMboolean value) {
    callInContext([&](Context& context) {
        require(isSymbol(target, QM_SHAPE_DYNAMIC_SURFACE_CHANGE) || isSymbol(target, QM_SHAPE_PERSISTENCE),
                QM_INVALID_ENUM);
        attributes(context).set<bool>(target, value != 0);
    });
}

QM_API void qmEnable(QMenum cap) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) { setCapability(context, cap, true); });
}

QM_API void qmDisable(QMenum cap) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) { setCapability(context, cap, false); });
}

QM_API QMboolean qmIsEnabled(QMenum cap) {
    return callInContext<QMboolean>(QM_FALSE, [&](Context& context) {
        require(isCapability(cap), QM_INVALID_ENUM);
        bool enabled = false;
        require(attributes(context).get<bool>(cap, enabled), QM_INVALID_ENUM);
        return static_cast<QMboolean>(enabled ? QM_TRUE : QM_FALSE);
    });
}

QM_API void qmPushAttrib(QMbitfield mask) {
    callInContext([&](Context& context) {
        const unsigned shapeMask = ((mask & QM_MATERIAL_BIT) ? kShapeMaterial : 0u) |
                                   ((mask & QM_TOUCH_BIT) ? kShapeTouch : 0u) |
                                   ((mask & QM_HINT_BIT) ? kShapeHints : 0u);
        const unsigned effectMask = (mask & QM_EFFECT_BIT) ? 0x7FFFFFFFu : 0u;
        const unsigned viewMask = (mask & QM_TRANSFORM_BIT) ? 1u : 0u;
        const unsigned stateMask = (mask & QM_EVENTS_BIT) ? 1u : 0u;
        require((shapeMask | effectMask | viewMask | stateMask) != 0, QM_INVALID_VALUE);
        auto map = std::make_unique<AttributeMap>();
        declareShapeGroups(*map, shapeMask, false);
        declareEffectGroups(*map, effectMask, false);
        declareViewGroup(*map, viewMask, false);
        declareStateGroup(*map, stateMask, false);
        context.state->pushAttributes(std::move(map));
    });
}

QM_API void qmPopAttrib(void) {
    callInContext([&](Context& context) { context.state->popAttributes(); });
}

QM_API void qmGetBooleanv(QMenum pname, QMboolean* params) {
    callInContext([&](Context& context) {
        require(isSwitchState(pname), QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        bool value = false;
        require(attributes(context).get<bool>(pname, value), QM_INVALID_ENUM);
        params[0] = value ? QM_TRUE : QM_FALSE;
    });
}

QM_API void qmGetIntegerv(QMenum pname, QMintptr* params) {
    callInContext([&](Context& context) {
        const bool count = isSymbol(pname, QM_SHAPE_FEEDBACK_BUFFER_VERTICES);
        const bool symbol = isSymbol(pname, QM_TOUCHABLE_FACE) || isSymbol(pname, QM_TOUCH_MODEL);
        require(count || symbol, QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        if (count) {
            std::int32_t value = 0;
            require(attributes(context).get<std::int32_t>(pname, value), QM_INVALID_ENUM);
            params[0] = value;
        } else {
            QMenum value = nullptr;
            require(attributes(context).get<QMenum>(pname, value), QM_INVALID_ENUM);
            params[0] = reinterpret_cast<QMintptr>(value);
        }
    });
}

// Matrices come from the stacks; published state is converted to model
// coordinates; the motion tolerances are single doubles; any other name is
// read as the array of doubles stored under it.
QM_API void qmGetDoublev(QMenum pname, QMdouble* params) {
    callInContext([&](Context& context) {
        ITransformManager& transforms = context.state->getTransforms();
        const IStackedAttributeMap& map = attributes(context);
        const zvu::zvuMatrix* matrix = nullptr;
        if (isSymbol(pname, QM_VIEWTOUCH_MATRIX)) {
            matrix = &transforms.getViewTouch();
        } else if (isSymbol(pname, QM_MODELVIEW_MATRIX)) {
            matrix = &transforms.getModelview();
        } else if (isSymbol(pname, QM_TOUCHWORKSPACE_MATRIX)) {
            matrix = &transforms.getTouchWorkspace();
        }
        if (matrix != nullptr) {
            require(params != nullptr, QM_INVALID_VALUE);
            for (int i = 0; i < 16; ++i) {
                params[i] = (*matrix)[i];
            }
            return;
        }
        if (isSymbol(pname, QM_EVENT_MOTION_LINEAR_TOLERANCE) || isSymbol(pname, QM_EVENT_MOTION_ANGULAR_TOLERANCE)) {
            double value = 0.0;
            require(map.get<double>(pname, value), QM_INVALID_ENUM);
            require(params != nullptr, QM_INVALID_VALUE);
            params[0] = value;
            return;
        }
        // Read into a scratch buffer first, so that a failed read writes
        // nothing and a null output is refused only for a known name. The
        // inverse transform is asked for only when it exists (asking records
        // the failure, which would be wrong for the names that need no
        // conversion); a converted value through a transform without an
        // inverse is refused and nothing is written.
        const bool singular = transforms.inverseFailed();
        const zvu::zvuMatrix unused = zvu::zvuMatrix::identity();
        double value[16];
        int written = 0;
        const StateRead state = readConvertedState(map, pname, singular ? unused : transforms.getWorkspaceToModel(),
                                                   transforms.getModelToWorkspace(), true, value, written);
        require(state != StateRead::Unavailable, QM_INVALID_ENUM);
        if (state == StateRead::Done) {
            require(params != nullptr, QM_INVALID_VALUE);
            require(!singular, QM_INVALID_OPERATION);
            for (int i = 0; i < written; ++i) {
                params[i] = value[i];
            }
            return;
        }
        const std::optional<AttributeDescription> description = map.describe(pname);
        require(description && description->kind == AttribKind::DoubleArray && map.isSet(pname), QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        require(map.getArray<double>(pname, params), QM_INVALID_ENUM);
    });
}

}  // extern "C"
