// Event subscriptions of a rendering context and the two queues through
// which events reach the thread a subscription names.
//
// Threads and locks (docs/threading.md): the subscriptions and both queues
// are guarded by the manager's own lock, a leaf lock: nothing else is taken
// while it is held, and no callback ever runs under it. Snapshots of a
// state cache are taken under that cache's lock, outside the manager's.
// Callbacks are called without any lock of the manager; the caller decides
// which of its own locks stay held (the collision step keeps the renderer
// lock, qmCheckEvents holds nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "common/Lock.h"
#include "qm/qm.h"
#include "qm/state/AttributeMap.h"
#include "qm/state/StateCache.h"

namespace QM {

// A callback as the library calls it: the public event callback type.
using EventCallback = QMeventCallback;

// The proxy pose a motion test compares against, in workspace coordinates.
struct ProxySample {
    double position[3] = {0, 0, 0};
    double rotation[4] = {1, 0, 0, 0};
};

class IEventManager {
public:
    // A test applied to each subscription of a run before it is dispatched.
    // It may update the subscription's own values (the manager's lock is
    // held while it runs, so it must take no lock and call nothing outside).
    class ITriggerCondition {
    public:
        virtual ~ITriggerCondition() = default;
        virtual bool holds(EventCallback callback, QMenum event, unsigned object, QMenum thread,
                           IAttributeMap& subscription) const = 0;
    };

    virtual ~IEventManager() = default;

    // Subscribes `callback` to (event, object) on `thread`, replacing any
    // subscription of the same callback to the same event, object and
    // thread (the new one goes to the end of the run). `values` becomes the
    // subscription's own attribute map (an empty one when null).
    virtual void add(EventCallback callback, QMenum event, unsigned object, QMenum thread, void* userData,
                     std::unique_ptr<AttributeMap> values = nullptr) = 0;
    // Removes that subscription; nothing happens when there is none.
    virtual void remove(EventCallback callback, QMenum event, unsigned object, QMenum thread) = 0;
    // Whether that subscription exists.
    virtual bool contains(EventCallback callback, QMenum event, unsigned object, QMenum thread) const = 0;
    // How many subscriptions (event, object) has.
    virtual std::size_t count(QMenum event, unsigned object) const = 0;

    // Raises `event` for the subscriptions of (event, object), in
    // registration order, skipping those for which `condition` does not
    // hold. Each dispatched subscription gets its own snapshot of `cache`
    // (taken under `cacheLock`). A subscription for the calling thread's
    // own thread, when that is the collision thread, is called at once;
    // every other one is queued for its thread. Returns how many were
    // dispatched.
    virtual int trigger(QMenum event, unsigned object, unsigned shape, const IStateCache& cache, sched::Lock& cacheLock,
                        QMenum callingThread, const ITriggerCondition* condition = nullptr) = 0;
    // Runs, on the calling thread, the events queued for `thread` so far.
    // An event whose subscription has been removed since it was queued is
    // dropped; one whose subscription was re-added gets the newest user
    // data. Returns how many callbacks ran.
    virtual int dispatchQueued(QMenum thread) = 0;
    // Events waiting for `thread`.
    virtual std::size_t queued(QMenum thread) const = 0;
    // Whether queued client-thread events are being dispatched (a callback
    // of this manager is running inside qmCheckEvents).
    virtual bool isDispatchingClientEvents() const = 0;

    // What the last collision step saw, for the checks of qmCheckEvents: the
    // shapes touched, in increasing order, and the device's calibration
    // status.
    virtual void setStepResult(const std::vector<unsigned>& touched, int calibrationStatus) = 0;
    virtual std::vector<unsigned> touchedShapes() const = 0;
    virtual int calibrationStatus() const = 0;
};

// The motion test: holds for subscriptions of `thread` (those of the other
// thread are skipped) once the proxy has moved by the subscription's linear
// tolerance from where the subscription last fired, or turned by its
// angular tolerance. The two parts are tested and remembered separately.
class MotionEventCondition final : public IEventManager::ITriggerCondition {
public:
    MotionEventCondition(QMenum thread, const ProxySample& proxy) : thread_(thread), proxy_(proxy) {}
    bool holds(EventCallback callback, QMenum event, unsigned object, QMenum thread,
               IAttributeMap& subscription) const override;

    // The values a motion subscription starts with: the two tolerances and
    // the pose it is measured from.
    static std::unique_ptr<AttributeMap> initialValues(double linearTolerance, double angularTolerance,
                                                       const ProxySample& proxy);
    // The angle of the rotation from `from` to `to` (w, x, y, z), in [0, pi]:
    // q and -q are the same rotation.
    static double rotationAngle(const double from[4], const double to[4]);

private:
    QMenum thread_;
    ProxySample proxy_;
};

class EventManager final : public IEventManager {
public:
    // Events waiting for one thread beyond this many are dropped, so that an
    // application that never calls qmCheckEvents does not grow without end.
    static constexpr std::size_t kMaxQueued = 1000;

    EventManager() = default;
    EventManager(const EventManager&) = delete;
    EventManager& operator=(const EventManager&) = delete;

    void add(EventCallback callback, QMenum event, unsigned object, QMenum thread, void* userData,
             std::unique_ptr<AttributeMap> values = nullptr) override;
    void remove(EventCallback callback, QMenum event, unsigned object, QMenum thread) override;
    bool contains(EventCallback callback, QMenum event, unsigned object, QMenum thread) const override;
    std::size_t count(QMenum event, unsigned object) const override;
    int trigger(QMenum event, unsigned object, unsigned shape, const IStateCache& cache, sched::Lock& cacheLock,
                QMenum callingThread, const ITriggerCondition* condition = nullptr) override;
    int dispatchQueued(QMenum thread) override;
    std::size_t queued(QMenum thread) const override;
    bool isDispatchingClientEvents() const override;
    void setStepResult(const std::vector<unsigned>& touched, int calibrationStatus) override;
    std::vector<unsigned> touchedShapes() const override;
    int calibrationStatus() const override;

    // Events dropped because a queue was full.
    std::uint64_t dropped() const;

private:
    // Subscriptions order by event symbol, then object, then registration;
    // the symbols are compared as addresses.
    struct Key {
        QMenum event;
        unsigned object;
        std::uint64_t sequence;
        bool operator<(const Key& other) const;
    };
    struct Subscription {
        EventCallback callback;
        QMenum thread;
        void* userData;
        std::unique_ptr<AttributeMap> values;
    };
    // An event on its way to its subscription's thread.
    struct Pending {
        EventCallback callback;
        QMenum event;
        unsigned object;
        unsigned shape;
        QMenum thread;
        std::unique_ptr<StateCache> snapshot;
    };
    using Map = std::map<Key, Subscription>;

    Map::iterator findLocked(EventCallback callback, QMenum event, unsigned object, QMenum thread);
    Map::const_iterator findLocked(EventCallback callback, QMenum event, unsigned object, QMenum thread) const;
    // The user data of the live subscription, if it still exists.
    std::optional<void*> liveUserData(const Pending& event) const;
    std::deque<Pending>* queueFor(QMenum thread);
    // Calls one event's callback; whatever it throws is dropped.
    static void call(const Pending& event, void* userData) noexcept;

    mutable sched::CriticalSectionLock lock_;
    Map subscriptions_;
    std::uint64_t sequence_ = 0;
    std::deque<Pending> clientQueue_;
    std::deque<Pending> collisionQueue_;
    std::uint64_t dropped_ = 0;
    int clientDispatches_ = 0;
    std::vector<unsigned> touched_;
    int calibrationStatus_ = ZV_CALIBRATION_OK;
};

}  // namespace QM
