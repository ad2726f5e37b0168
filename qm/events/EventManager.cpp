#include "qm/events/EventManager.h"

#include <cmath>
#include <functional>

#include "qm/api/Symbols.h"

namespace QM {

namespace {

bool same(QMenum a, QMenum b) { return a != nullptr && a == b; }

std::unique_ptr<StateCache> snapshotOf(const IStateCache& cache, sched::Lock& cacheLock) {
    auto copy = std::make_unique<StateCache>();
    sched::LockGuard guard(cacheLock);
    copy->copyFrom(cache);
    return copy;
}

// Decrements a counter under a lock when the dispatch ends, however it ends.
class CountGuard {
public:
    CountGuard(sched::Lock& lock, int& counter, bool active) : lock_(lock), counter_(counter), active_(active) {
        if (active_) {
            sched::LockGuard guard(lock_);
            ++counter_;
        }
    }
    ~CountGuard() {
        if (active_) {
            sched::LockGuard guard(lock_);
            --counter_;
        }
    }
    CountGuard(const CountGuard&) = delete;
    CountGuard& operator=(const CountGuard&) = delete;

private:
    sched::Lock& lock_;
    int& counter_;
    bool active_;
};

}  // namespace

// ---------------------------------------------------------------- motion

bool MotionEventCondition::holds(EventCallback, QMenum, unsigned, QMenum thread, IAttributeMap& subscription) const {
    if (!same(thread, thread_)) {
        return false;
    }
    double linear = 1.0;
    double angular = 0.02;
    subscription.get<double>(QM_EVENT_MOTION_LINEAR_TOLERANCE, linear);
    subscription.get<double>(QM_EVENT_MOTION_ANGULAR_TOLERANCE, angular);
    bool moved = false;
    double last[3];
    if (subscription.getArray<double>(QM_INT_EVENT_LAST_MOTION_POSITION, last)) {
        const double dx = proxy_.position[0] - last[0];
        const double dy = proxy_.position[1] - last[1];
        const double dz = proxy_.position[2] - last[2];
        if (std::sqrt(dx * dx + dy * dy + dz * dz) >= linear) {
            subscription.setArray<double>(QM_INT_EVENT_LAST_MOTION_POSITION, proxy_.position);
            moved = true;
        }
    }
    double lastRotation[4];
    if (subscription.getArray<double>(QM_INT_EVENT_LAST_MOTION_ROTATION, lastRotation)) {
        if (rotationAngle(lastRotation, proxy_.rotation) >= angular) {
            subscription.setArray<double>(QM_INT_EVENT_LAST_MOTION_ROTATION, proxy_.rotation);
            moved = true;
        }
    }
    return moved;
}

std::unique_ptr<AttributeMap> MotionEventCondition::initialValues(double linearTolerance, double angularTolerance,
                                                                  const ProxySample& proxy) {
    auto values = std::make_unique<AttributeMap>();
    values->declare<double>(QM_EVENT_MOTION_LINEAR_TOLERANCE);
    values->declare<double>(QM_EVENT_MOTION_ANGULAR_TOLERANCE);
    values->declareArray<double>(QM_INT_EVENT_LAST_MOTION_POSITION, 3);
    values->declareArray<double>(QM_INT_EVENT_LAST_MOTION_ROTATION, 4);
    values->set<double>(QM_EVENT_MOTION_LINEAR_TOLERANCE, linearTolerance);
    values->set<double>(QM_EVENT_MOTION_ANGULAR_TOLERANCE, angularTolerance);
    values->setArray<double>(QM_INT_EVENT_LAST_MOTION_POSITION, proxy.position);
    values->setArray<double>(QM_INT_EVENT_LAST_MOTION_ROTATION, proxy.rotation);
    return values;
}

// d = conj(from) * to, normalised; its angle is 2 atan2(|v|, |w|). Taking
// |w| measures the shorter way round, so a quaternion that flipped sign
// (the same rotation) has not turned at all.
double MotionEventCondition::rotationAngle(const double from[4], const double to[4]) {
    const double aw = from[0];
    const double ax = -from[1];
    const double ay = -from[2];
    const double az = -from[3];
    const double bw = to[0];
    const double bx = to[1];
    const double by = to[2];
    const double bz = to[3];
    const double w = aw * bw - ax * bx - ay * by - az * bz;
    const double x = aw * bx + ax * bw + ay * bz - az * by;
    const double y = aw * by - ax * bz + ay * bw + az * bx;
    const double z = aw * bz + ax * by - ay * bx + az * bw;
    const double vector = std::sqrt(x * x + y * y + z * z);
    if (!(vector > 0.0) || !std::isfinite(vector) || !std::isfinite(w)) {
        return 0.0;
    }
    return 2.0 * std::atan2(vector, std::fabs(w));
}

// ---------------------------------------------------------------- subscriptions

bool EventManager::Key::operator<(const Key& other) const {
    const std::less<const char*> before;
    if (event != other.event) {
        return before(event, other.event);
    }
    if (object != other.object) {
        return object < other.object;
    }
    return sequence < other.sequence;
}

// Sequence numbers start at 1, so {event, object, 0} is the first key of
// the run of (event, object).
EventManager::Map::iterator EventManager::findLocked(EventCallback callback, QMenum event, unsigned object,
                                                     QMenum thread) {
    for (auto it = subscriptions_.lower_bound(Key{event, object, 0});
         it != subscriptions_.end() && it->first.event == event && it->first.object == object; ++it) {
        if (it->second.callback == callback && it->second.thread == thread) {
            return it;
        }
    }
    return subscriptions_.end();
}

EventManager::Map::const_iterator EventManager::findLocked(EventCallback callback, QMenum event, unsigned object,
                                                           QMenum thread) const {
    return const_cast<EventManager*>(this)->findLocked(callback, event, object, thread);
}

void EventManager::add(EventCallback callback, QMenum event, unsigned object, QMenum thread, void* userData,
                       std::unique_ptr<AttributeMap> values) {
    if (values == nullptr) {
        values = std::make_unique<AttributeMap>();
    }
    sched::LockGuard guard(lock_);
    const auto old = findLocked(callback, event, object, thread);
    if (old != subscriptions_.end()) {
        subscriptions_.erase(old);
    }
    subscriptions_.emplace(Key{event, object, ++sequence_},
                           Subscription{callback, thread, userData, std::move(values)});
}

void EventManager::remove(EventCallback callback, QMenum event, unsigned object, QMenum thread) {
    sched::LockGuard guard(lock_);
    const auto it = findLocked(callback, event, object, thread);
    if (it != subscriptions_.end()) {
        subscriptions_.erase(it);
    }
}

bool EventManager::contains(EventCallback callback, QMenum event, unsigned object, QMenum thread) const {
    sched::LockGuard guard(lock_);
    return findLocked(callback, event, object, thread) != subscriptions_.end();
}

std::size_t EventManager::count(QMenum event, unsigned object) const {
    sched::LockGuard guard(lock_);
    std::size_t n = 0;
    for (auto it = subscriptions_.lower_bound(Key{event, object, 0});
         it != subscriptions_.end() && it->first.event == event && it->first.object == object; ++it) {
        ++n;
    }
    return n;
}

// ---------------------------------------------------------------- raising and dispatching

// The run is read under the lock and the callbacks are called after it is
// released: a callback may then add or remove subscriptions, and one that
// takes library locks cannot meet a thread that holds those and waits for
// this lock. A subscription removed by an earlier callback of the same run
// is not called.
int EventManager::trigger(QMenum event, unsigned object, unsigned shape, const IStateCache& cache,
                          sched::Lock& cacheLock, QMenum callingThread, const ITriggerCondition* condition) {
    struct Due {
        EventCallback callback;
        QMenum thread;
    };
    std::vector<Due> due;
    {
        sched::LockGuard guard(lock_);
        for (auto it = subscriptions_.lower_bound(Key{event, object, 0});
             it != subscriptions_.end() && it->first.event == event && it->first.object == object; ++it) {
            Subscription& s = it->second;
            if (condition != nullptr && !condition->holds(s.callback, event, object, s.thread, *s.values)) {
                continue;
            }
            due.push_back({s.callback, s.thread});
        }
    }
    int dispatched = 0;
    for (const Due& d : due) {
        Pending pending{d.callback, event, object, shape, d.thread, snapshotOf(cache, cacheLock)};
        if (same(d.thread, QM_COLLISION_THREAD) && same(callingThread, QM_COLLISION_THREAD)) {
            if (const std::optional<void*> userData = liveUserData(pending)) {
                call(pending, *userData);
                ++dispatched;
            }
            continue;
        }
        sched::LockGuard guard(lock_);
        std::deque<Pending>* queue = queueFor(d.thread);
        if (queue == nullptr) {
            continue;
        }
        if (queue->size() >= kMaxQueued) {
            ++dropped_;
            continue;
        }
        queue->push_back(std::move(pending));
        ++dispatched;
    }
    return dispatched;
}

int EventManager::dispatchQueued(QMenum thread) {
    std::deque<Pending> taken;
    {
        sched::LockGuard guard(lock_);
        std::deque<Pending>* queue = queueFor(thread);
        if (queue == nullptr || queue->empty()) {
            return 0;
        }
        taken.swap(*queue);
    }
    CountGuard counting(lock_, clientDispatches_, same(thread, QM_CLIENT_THREAD));
    int ran = 0;
    for (const Pending& pending : taken) {
        if (const std::optional<void*> userData = liveUserData(pending)) {
            call(pending, *userData);
            ++ran;
        }
    }
    return ran;
}

std::optional<void*> EventManager::liveUserData(const Pending& event) const {
    sched::LockGuard guard(lock_);
    const auto it = findLocked(event.callback, event.event, event.object, event.thread);
    if (it == subscriptions_.end()) {
        return std::nullopt;
    }
    return it->second.userData;
}

std::deque<EventManager::Pending>* EventManager::queueFor(QMenum thread) {
    if (same(thread, QM_CLIENT_THREAD)) {
        return &clientQueue_;
    }
    if (same(thread, QM_COLLISION_THREAD)) {
        return &collisionQueue_;
    }
    return nullptr;
}

// Callbacks are the application's C functions; should one throw all the
// same (a C++ application), the exception ends with this call so that the
// other subscriptions, and the collision step around them, carry on.
void EventManager::call(const Pending& event, void* userData) noexcept {
    try {
        IStateCache* cache = event.snapshot.get();
        event.callback(event.event, event.shape, event.thread, reinterpret_cast<QMcache>(cache), userData);
    } catch (...) {
    }
}

std::size_t EventManager::queued(QMenum thread) const {
    sched::LockGuard guard(lock_);
    if (same(thread, QM_CLIENT_THREAD)) {
        return clientQueue_.size();
    }
    if (same(thread, QM_COLLISION_THREAD)) {
        return collisionQueue_.size();
    }
    return 0;
}

bool EventManager::isDispatchingClientEvents() const {
    sched::LockGuard guard(lock_);
    return clientDispatches_ > 0;
}

std::uint64_t EventManager::dropped() const {
    sched::LockGuard guard(lock_);
    return dropped_;
}

void EventManager::setStepResult(const std::vector<unsigned>& touched, int calibrationStatus) {
    sched::LockGuard guard(lock_);
    touched_ = touched;
    calibrationStatus_ = calibrationStatus;
}

std::vector<unsigned> EventManager::touchedShapes() const {
    sched::LockGuard guard(lock_);
    return touched_;
}

int EventManager::calibrationStatus() const {
    sched::LockGuard guard(lock_);
    return calibrationStatus_;
}

}  // namespace QM
