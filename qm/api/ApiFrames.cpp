// Exported functions: frames, the state caches and the application-set
// proxy.
#include <GL/gl.h>

#include <cmath>

#include "qm/api/CallFrame.h"
#include "qm/api/Symbols.h"
#include "qm/state/Conversions.h"
#include "zvu/Quaternion.h"

namespace QM {

// The public cache handle is the internal cache interface.
inline IStateCache* cacheFromHandle(QMcache cache) { return reinterpret_cast<IStateCache*>(cache); }

namespace {

// The locks of a frame boundary, in the documented order.
class FrameLocks {
public:
    explicit FrameLocks(Context& context)
        : renderer_(context.sceneRenderer->getRendererLock()), state_(context.state->getLock()) {}

private:
    sched::LockGuard renderer_;
    sched::LockGuard state_;
};

// The frame modelview: OpenGL's modelview when QM_USE_GL_MODELVIEW is set,
// else the top of the library's modelview stack.
void captureFrameModelview(Context& context) {
    IState& state = *context.state;
    bool useGl = true;
    state.getAttributes().get<bool>(QM_USE_GL_MODELVIEW, useGl);
    zvu::zvuMatrix m;
    if (useGl) {
        glGetDoublev(GL_MODELVIEW_MATRIX, m.data());
    } else {
        m = state.getTransforms().getModelview();
    }
    state.getTransforms().setFrameModelview(m);
}

// One-shot effects of the scene of two frames ago give their identifiers
// back to the pool, and the persistent scene forgets them: nobody can name
// them again, and an application that triggers an effect every frame would
// otherwise keep every one it ever triggered.
void releaseTriggeredEffects(Context& context) {
    const EffectMap& effects = context.frameScene->getEffects();
    for (auto it = effects.iterator(); !it->atEnd(); it->advance()) {
        const unsigned id = it->current();
        IEffect* effect = effects.find(id);
        bool triggered = false;
        effect->getProperties().get<bool>(QM_INT_EFFECT_WAS_TRIGGERED, triggered);
        if (triggered) {
            context.ids->release(IDGenerator::kEffectPool, id, 1);
            if (context.persistentScene->getEffects().find(id) == effect) {
                context.persistentScene->removeEffect(id);
            }
        }
    }
}

zvu::zvuMatrix poseTransform(const double rotation[4], const double position[3]) {
    zvu::zvuMatrix m = zvu::zvuQuaternion{rotation[0], rotation[1], rotation[2], rotation[3]}.toMatrix();
    m[12] = position[0];
    m[13] = position[1];
    m[14] = position[2];
    return m;
}

// Gives the pose to the renderer at once; only the collision thread does,
// since its callbacks run inside a step and the proxy must follow now.
void handPoseToRenderer(Context& context, const double rotation[4], const double position[3]) {
    if (!onCollisionThread()) {
        return;
    }
    ProxyPose pose;
    for (int i = 0; i < 3; ++i) {
        pose.position[i] = position[i];
    }
    for (int i = 0; i < 4; ++i) {
        pose.rotation[i] = rotation[i];
    }
    context.sceneRenderer->setApplicationProxyPose(pose);
}

bool allFinite(const double* v, int n) {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace QM

using namespace QM;

extern "C" {

QM_API void qmBeginFrame(void) {
    callInContext(CallLocks::None, [&](Context& context) {
        require(!onCollisionThread() && !context.inFrame, QM_INVALID_OPERATION);
        FrameLocks locks(context);
        captureFrameModelview(context);
        IStackedAttributeMap& attributes = context.state->getAttributes();
        context.sceneRenderer->refreshClient(*context.state, true);
        // The golden sphere follows the proxy.
        double proxy[3];
        if (attributes.getArray<double>(QM_PROXY_POSITION, proxy)) {
            attributes.setArray<double>(QM_GOLDEN_POSITION, proxy);
        }
        releaseTriggeredEffects(context);
        context.frameScene->clear();
        context.inFrame = true;
    });
}

// The frame is left even when the call fails (a shape still open).
QM_API void qmEndFrame(void) {
    callInContext(CallLocks::None, [&](Context& context) {
        require(!onCollisionThread(), QM_INVALID_OPERATION);
        FrameLocks locks(context);
        const bool wasInFrame = context.inFrame;
        context.inFrame = false;
        require(wasInFrame && context.openShape == nullptr, QM_INVALID_OPERATION);
        context.lastScene.swap(context.frameScene);
        context.sceneRenderer->submitFrame(*context.lastScene, *context.state, *context.persistentScene);
    });
}

// The request is taken at the next collision step, inside its synchronous
// copy from the servo side.
QM_API void qmUpdateCalibration(void) {
    callInContext(CallLocks::RendererAndState,
                  [&](Context& context) { context.sceneRenderer->requestCalibrationUpdate(); });
}

QM_API void qmCacheGetBooleanv(QMcache cache, QMenum pname, QMboolean* params) {
    callWithoutContext(0, [&] {
        require(isSymbol(pname, QM_BUTTON1_STATE) || isSymbol(pname, QM_BUTTON2_STATE) ||
                    isSymbol(pname, QM_BUTTON3_STATE) || isSymbol(pname, QM_SAFETY_STATE) ||
                    isSymbol(pname, QM_INKWELL_STATE) || isSymbol(pname, QM_PROXY_IS_TOUCHING),
                QM_INVALID_ENUM);
        require(cache != nullptr && params != nullptr, QM_INVALID_VALUE);
        bool value = false;
        require(cacheFromHandle(cache)->getValues().get<bool>(pname, value), QM_INVALID_ENUM);
        params[0] = value ? QM_TRUE : QM_FALSE;
        return 0;
    });
}

QM_API void qmCacheGetDoublev(QMcache cache, QMenum pname, QMdouble* params) {
    callWithoutContext(0, [&] {
        require(cache != nullptr, QM_INVALID_VALUE);
        const IStateCache& c = *cacheFromHandle(cache);
        double value[16];
        int written = 0;
        const StateRead read = readConvertedState(c.getValues(), pname, c.getWorkspaceToModel(),
                                                  c.getModelToWorkspace(), false, value, written);
        require(read == StateRead::Done, QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        for (int i = 0; i < written; ++i) {
            params[i] = value[i];
        }
        return 0;
    });
}

QM_API void qmProxyf(QMenum pname, QMfloat param) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) {
        require(isSymbol(pname, QM_STIFFNESS) || isSymbol(pname, QM_DAMPING), QM_INVALID_OPERATION);
        require(std::isfinite(param), QM_INVALID_VALUE);
        context.sceneRenderer->getRendererParameters().set<float>(pname, param);
    });
}

QM_API void qmProxydv(QMenum pname, const QMdouble* params) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) {
        const bool position = isSymbol(pname, QM_PROXY_POSITION);
        require(position || isSymbol(pname, QM_PROXY_ROTATION), QM_INVALID_OPERATION);
        require(params != nullptr && allFinite(params, position ? 3 : 4), QM_INVALID_VALUE);
        IStackedAttributeMap& attributes = context.state->getAttributes();
        ITransformManager& transforms = context.state->getTransforms();
        double rotation[4] = {1, 0, 0, 0};
        double point[3] = {0, 0, 0};
        attributes.getArray<double>(QM_PROXY_ROTATION, rotation);
        attributes.getArray<double>(QM_PROXY_POSITION, point);
        if (position) {
            const zvu::zvuVector3Dd p =
                transforms.getModelToWorkspace().transformPoint({params[0], params[1], params[2]});
            point[0] = p.x;
            point[1] = p.y;
            point[2] = p.z;
        } else {
            const zvu::zvuQuaternion r = zvu::zvuQuaternion::fromMatrix(transforms.getModelToWorkspace());
            const zvu::zvuQuaternion q = zvu::zvuQuaternion{params[0], params[1], params[2], params[3]} * r;
            rotation[0] = q.w;
            rotation[1] = q.x;
            rotation[2] = q.y;
            rotation[3] = q.z;
        }
        handPoseToRenderer(context, rotation, point);
        attributes.setArray<double>(position ? QM_PROXY_POSITION : QM_PROXY_ROTATION, position ? point : rotation);
        attributes.setArray<double>(QM_PROXY_TRANSFORM, poseTransform(rotation, point).data());
    });
}

}  // extern "C"
