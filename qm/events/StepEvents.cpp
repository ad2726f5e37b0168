#include "qm/events/StepEvents.h"

#include <new>
#include <optional>

#include "qm/api/ErrorManager.h"
#include "qm/api/QMException.h"
#include "qm/api/Symbols.h"

namespace QM {

namespace {

// The proxy pose published in a cache, when it has been.
std::optional<ProxySample> proxyIn(const IStateCache& cache, sched::Lock& cacheLock) {
    ProxySample sample;
    sched::LockGuard guard(cacheLock);
    const IAttributeMap& values = cache.getValues();
    if (!values.isSet(QM_PROXY_POSITION) || !values.isSet(QM_PROXY_ROTATION)) {
        return std::nullopt;
    }
    values.getArray<double>(QM_PROXY_POSITION, sample.position);
    values.getArray<double>(QM_PROXY_ROTATION, sample.rotation);
    return sample;
}

// An event about the proxy rather than a shape goes to QM_OBJECT_ANY and
// then to every shape touched when it happened.
void raiseForTouched(IEventManager& events, QMenum event, const std::vector<unsigned>& touched,
                     const IStateCache& cache, sched::Lock& cacheLock, QMenum thread,
                     const IEventManager::ITriggerCondition* condition = nullptr) {
    events.trigger(event, QM_OBJECT_ANY, QM_OBJECT_ANY, cache, cacheLock, thread, condition);
    for (const unsigned id : touched) {
        events.trigger(event, id, id, cache, cacheLock, thread, condition);
    }
}

void raiseTouches(IEventManager& events, const std::vector<TouchChange>& changes, const IStateCache& cache,
                  sched::Lock& cacheLock) {
    for (const TouchChange& change : changes) {
        const QMenum event = change.touched ? QM_EVENT_TOUCH : QM_EVENT_UNTOUCH;
        events.trigger(event, change.shapeId, change.shapeId, cache, cacheLock, QM_COLLISION_THREAD);
        events.trigger(event, QM_OBJECT_ANY, change.shapeId, cache, cacheLock, QM_COLLISION_THREAD);
    }
}

void raiseSwitches(IEventManager& events, const StepChanges& changes, const IStateCache& cache,
                   sched::Lock& cacheLock) {
    struct Switch {
        bool before;
        bool now;
        QMenum down;
        QMenum up;
    };
    const SwitchState& b = changes.before;
    const SwitchState& n = changes.now;
    const Switch switches[] = {
        {(b.buttons & 1) != 0, (n.buttons & 1) != 0, QM_EVENT_1BUTTONDOWN, QM_EVENT_1BUTTONUP},
        {(b.buttons & 2) != 0, (n.buttons & 2) != 0, QM_EVENT_2BUTTONDOWN, QM_EVENT_2BUTTONUP},
        {(b.buttons & 4) != 0, (n.buttons & 4) != 0, QM_EVENT_3BUTTONDOWN, QM_EVENT_3BUTTONUP},
        {b.safety, n.safety, QM_EVENT_SAFETYDOWN, QM_EVENT_SAFETYUP},
        {b.inkwell, n.inkwell, QM_EVENT_INKWELLDOWN, QM_EVENT_INKWELLUP},
    };
    for (const Switch& s : switches) {
        if (s.before != s.now) {
            raiseForTouched(events, s.now ? s.down : s.up, changes.touched, cache, cacheLock, QM_COLLISION_THREAD);
        }
    }
}

void raiseMotion(IEventManager& events, QMenum thread, const std::vector<unsigned>& touched, const IStateCache& cache,
                 sched::Lock& cacheLock) {
    const std::optional<ProxySample> proxy = proxyIn(cache, cacheLock);
    if (!proxy) {
        return;
    }
    const MotionEventCondition moved(thread, *proxy);
    raiseForTouched(events, QM_EVENT_MOTION, touched, cache, cacheLock, thread, &moved);
}

}  // namespace

void raiseStepStart(IEventManager& events, const IStateCache& collisionCache, sched::Lock& cacheLock,
                    IErrorManager& errors) noexcept {
    recordingFailures(errors, [&] {
        events.trigger(QM_INT_EVENT_COLLISION_TICK, QM_OBJECT_ANY, QM_OBJECT_ANY, collisionCache, cacheLock,
                       QM_COLLISION_THREAD);
        events.dispatchQueued(QM_COLLISION_THREAD);
    });
}

void raiseStepEvents(IEventManager& events, const StepChanges& changes, const IStateCache& collisionCache,
                     sched::Lock& cacheLock, IErrorManager& errors) noexcept {
    recordingFailures(errors, [&] {
        events.setStepResult(changes.touched, changes.calibrationStatus);
        raiseTouches(events, changes.carriedTouches, collisionCache, cacheLock);
        raiseTouches(events, changes.stepTouches, collisionCache, cacheLock);
        raiseSwitches(events, changes, collisionCache, cacheLock);
        raiseMotion(events, QM_COLLISION_THREAD, changes.touched, collisionCache, cacheLock);
    });
}

void raiseClientChecks(IEventManager& events, const IStateCache& clientCache, sched::Lock& cacheLock) {
    raiseMotion(events, QM_CLIENT_THREAD, events.touchedShapes(), clientCache, cacheLock);
    const int status = events.calibrationStatus();
    QMenum event = nullptr;
    if (status == ZV_CALIBRATION_NEEDS_UPDATE) {
        event = QM_EVENT_CALIBRATION_UPDATE;
    } else if (status == ZV_CALIBRATION_NEEDS_MANUAL_INPUT) {
        event = QM_EVENT_CALIBRATION_INPUT;
    }
    if (event != nullptr) {
        events.trigger(event, QM_OBJECT_ANY, QM_OBJECT_ANY, clientCache, cacheLock, QM_CLIENT_THREAD);
    }
}

void carryTouchChanges(std::vector<TouchChange>& waiting, const std::vector<TouchChange>& found) {
    waiting.insert(waiting.end(), found.begin(), found.end());
    if (waiting.size() > kMaxCarriedTouches) {
        waiting.erase(waiting.begin(), waiting.end() - static_cast<std::ptrdiff_t>(kMaxCarriedTouches));
    }
}

}  // namespace QM
