// Exported functions: event subscriptions, qmCheckEvents and the motion
// tolerances. The work is the event manager's (qm/events).
#include <cmath>

#include "qm/api/CallFrame.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"
#include "qm/events/StepEvents.h"

namespace QM {

namespace {

bool isEvent(QMenum event) {
    for (QMenum accepted : {QM_EVENT_MOTION, QM_EVENT_1BUTTONDOWN, QM_EVENT_1BUTTONUP, QM_EVENT_2BUTTONDOWN,
                            QM_EVENT_2BUTTONUP, QM_EVENT_3BUTTONDOWN, QM_EVENT_3BUTTONUP, QM_EVENT_SAFETYDOWN,
                            QM_EVENT_SAFETYUP, QM_EVENT_INKWELLDOWN, QM_EVENT_INKWELLUP, QM_EVENT_UNTOUCH,
                            QM_EVENT_TOUCH, QM_EVENT_CALIBRATION_UPDATE, QM_EVENT_CALIBRATION_INPUT}) {
        if (isSymbol(event, accepted)) {
            return true;
        }
    }
    return false;
}

bool isThread(QMenum thread) { return isSymbol(thread, QM_CLIENT_THREAD) || isSymbol(thread, QM_COLLISION_THREAD); }

bool isTolerance(QMenum pname) {
    return isSymbol(pname, QM_EVENT_MOTION_LINEAR_TOLERANCE) || isSymbol(pname, QM_EVENT_MOTION_ANGULAR_TOLERANCE);
}

// A motion subscription starts from the tolerances set now and the proxy
// pose the context holds (workspace coordinates). Caller holds the state
// lock.
std::unique_ptr<AttributeMap> motionValues(Context& context) {
    const IStackedAttributeMap& attributes = context.state->getAttributes();
    double linear = 1.0;
    double angular = 0.02;
    attributes.get<double>(QM_EVENT_MOTION_LINEAR_TOLERANCE, linear);
    attributes.get<double>(QM_EVENT_MOTION_ANGULAR_TOLERANCE, angular);
    ProxySample proxy;
    attributes.getArray<double>(QM_PROXY_POSITION, proxy.position);
    attributes.getArray<double>(QM_PROXY_ROTATION, proxy.rotation);
    return MotionEventCondition::initialValues(linear, angular, proxy);
}

}  // namespace

}  // namespace QM

using namespace QM;

extern "C" {

QM_API void qmAddEventCallback(QMenum event, QMuint shapeId, QMenum thread, QMeventCallback callback, void* userData) {
    callInContext([&](Context& context) {
        require(isEvent(event) && isThread(thread), QM_INVALID_ENUM);
        require(callback != nullptr, QM_INVALID_VALUE);
        std::unique_ptr<AttributeMap> values;
        if (isSymbol(event, QM_EVENT_MOTION)) {
            values = motionValues(context);
        }
        context.sceneRenderer->getEventManager().add(callback, event, shapeId, thread, userData, std::move(values));
    });
}

QM_API void qmRemoveEventCallback(QMenum event, QMuint shapeId, QMenum thread, QMeventCallback callback) {
    callInContext(CallLocks::None, [&](Context& context) {
        require(isEvent(event) && isThread(thread), QM_INVALID_ENUM);
        context.sceneRenderer->getEventManager().remove(callback, event, shapeId, thread);
    });
}

// The refresh holds the state lock (and the cache lock while copying);
// everything after it runs with no library lock held, since a client
// callback may call any function, frame calls included.
QM_API void qmCheckEvents(void) {
    callInContext(CallLocks::None, [&](Context& context) {
        require(!onCollisionThread(), QM_INVALID_OPERATION);
        ISceneRenderer& renderer = *context.sceneRenderer;
        {
            sched::LockGuard state(context.state->getLock());
            renderer.refreshClient(*context.state, false);
        }
        IEventManager& events = renderer.getEventManager();
        raiseClientChecks(events, renderer.getClientCache(), renderer.getCacheLock());
        events.dispatchQueued(QM_CLIENT_THREAD);
        if (OperationScheduler* client = operationScheduler(QM_CLIENT_THREAD)) {
            client->runPending();
        }
    });
}

QM_API void qmEventd(QMenum pname, QMdouble param) {
    callInContext([&](Context& context) {
        require(isTolerance(pname), QM_INVALID_ENUM);
        require(std::isfinite(param) && param >= 0.0, QM_INVALID_VALUE);
        require(context.state->getAttributes().set<double>(pname, param), QM_INVALID_ENUM);
    });
}

}  // extern "C"
