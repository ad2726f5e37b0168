// The scene renderer of a rendering context: the part of the context that
// works with the device, on the collision and servo threads, and the
// hand-over point between them and the client thread (docs/threading.md).
#pragma once

#include <atomic>

#include <memory>
#include <optional>

#include "common/Lock.h"
#include "qm/collision/CollisionRecorder.h"
#include "qm/collision/CollisionScheduler.h"
#include "qm/collision/LocalFeatureDetector.h"
#include "qm/collision/Proxy.h"
#include "qm/collision/TouchState.h"
#include "qm/effects/EffectManager.h"
#include "qm/events/EventManager.h"
#include "qm/qm.h"
#include "qm/servo/HapticDevice.h"
#include "qm/servo/Pipeline.h"
#include "qm/servo/ProxyShaders.h"
#include "qm/shapes/GoldenBoundsBox.h"
#include "qm/shapes/Scene.h"
#include "qm/state/AttributeMap.h"
#include "qm/state/StateCache.h"

namespace QM {

class Context;
class IErrorManager;
class IState;

// State published by the collision side: the servo snapshot of the device
// and the collision proxy's pose and touch state, in workspace coordinates.
// Each half is published only once it has been taken.
struct PublishedState {
    bool deviceValid = false;
    double devicePosition[3] = {0, 0, 0};
    double deviceRotation[4] = {1, 0, 0, 0};
    double deviceTransform[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    double deviceForce[3] = {0, 0, 0};
    double deviceTorque[3] = {0, 0, 0};
    int buttons = 0;
    bool safetySwitch = false;
    bool inkwellSwitch = false;

    bool proxyValid = false;
    double proxyPosition[3] = {0, 0, 0};
    double proxyRotation[4] = {1, 0, 0, 0};
    double proxyTransform[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    bool touching = false;
    double touchNormal[3] = {0, 0, 0};
};

// A proxy pose set by the application (workspace coordinates).
struct ProxyPose {
    double position[3] = {0, 0, 0};
    double rotation[4] = {1, 0, 0, 0};
};

class ISceneRenderer {
public:
    virtual ~ISceneRenderer() = default;
    // Starts rendering on the current device; true when running afterwards.
    // Does nothing when already running.
    virtual bool start() = 0;
    // Stops rendering; does nothing when not running.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    // The device rendered to; ZV_INVALID_HANDLE for none. Changed only while
    // stopped.
    virtual void setDevice(HZV device) = 0;
    virtual HZV getDevice() const = 0;
    // The shape identifier the renderer reserved for its own shape.
    virtual unsigned getReservedShapeId() const = 0;
    // Serialises frame boundaries, calibration requests and collision steps,
    // and guards everything below unless said otherwise.
    virtual sched::Lock& getRendererLock() = 0;
    // Guards the state caches; taken last, after the renderer and state
    // locks (docs/threading.md).
    virtual sched::Lock& getCacheLock() = 0;
    // The renderer's own parameters (proxy resolution, and the proxy
    // stiffness and damping of qmProxyf).
    virtual const IAttributeMap& getRendererParameters() const = 0;
    virtual IAttributeMap& getRendererParameters() = 0;
    // Takes a proxy-resolution change at once (used on the collision thread;
    // other threads' changes are taken over at the next frame end).
    virtual void setProxyResolution(bool enabled) = 0;

    // The cache written by the collision step and the one refreshed on the
    // client thread (cache lock).
    virtual IStateCache& getCollisionCache() = 0;
    virtual IStateCache& getClientCache() = 0;
    // The scene last handed over by a frame end: the renderer holds its own
    // reference to every shape and effect in it.
    virtual const IScene& getSubmittedScene() const = 0;
    // What the collision side has published so far.
    virtual const PublishedState& getPublishedState() const = 0;
    virtual PublishedState& getPublishedState() = 0;
    // The application-set proxy pose, used while proxy resolution is off.
    virtual void setApplicationProxyPose(const ProxyPose& pose) = 0;
    virtual const ProxyPose& getApplicationProxyPose() const = 0;
    virtual void requestCalibrationUpdate() = 0;
    virtual bool calibrationUpdateRequested() const = 0;
    // The context's event subscriptions and queues (their own lock).
    virtual IEventManager& getEventManager() = 0;

    // The client-side refresh of qmBeginFrame and qmCheckEvents: copies what
    // the collision side published into the client cache and the context's
    // attributes, and the touch results of the submitted shapes into the
    // context's result maps. Takes the cache lock; the caller holds the
    // state lock, and for the result maps the renderer lock.
    virtual void refreshClient(IState& state, bool withResults) = 0;
    // The renderer's part of qmEndFrame (the caller holds the renderer,
    // cache and state locks): merges `scene` with the scene submitted last
    // (placeholders take the previous shape's geometry, persistent shapes
    // are carried over while `persistent` still holds them, result maps are
    // created and erased), takes over the proxy settings and the transform
    // chain, publishes state into the context's attributes and keeps its own
    // references to the merged scene.
    virtual void submitFrame(IScene& scene, IState& state, const IScene& persistent) = 0;
    // Writes what has been published into an attribute map (the context's
    // attributes at frame end, the collision cache at a collision step).
    virtual void publishState(IAttributeMap& target) const = 0;

    // The effects' starts, updates and stops: compared at frame end, clocks
    // advanced at each step, applied in the proxy exchange.
    virtual IEffectManager& getEffectManager() = 0;

    // The servo side, for tests and tools.
    virtual const Pipeline& getPipeline() const = 0;
    virtual const IProxy& getCollisionProxy() const = 0;
    virtual const ITarget& getClientTarget() const = 0;
};

// The renderer is the context's client of the collision thread. Its
// collision step runs under the renderer lock; everything it hands to the
// servo side goes through synchronous servo operations at the priority of
// stage 0, while the collision thread waits (docs/threading.md).
class SceneRenderer final : public ISceneRenderer, public ICollisionClient {
public:
    // `owner` becomes the collision thread's current context during each of
    // this renderer's steps.
    SceneRenderer(IErrorManager& errors, unsigned reservedShapeId, Context* owner = nullptr);
    ~SceneRenderer() override;
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;

    bool start() override;
    void stop() override;
    bool isRunning() const override { return running_.load(std::memory_order_acquire); }
    void setDevice(HZV device) override;
    HZV getDevice() const override { return handle_.load(std::memory_order_acquire); }
    unsigned getReservedShapeId() const override { return reservedShapeId_; }
    sched::Lock& getRendererLock() override { return rendererLock_; }
    sched::Lock& getCacheLock() override { return cacheLock_; }
    const IAttributeMap& getRendererParameters() const override { return parameters_; }
    IAttributeMap& getRendererParameters() override { return parameters_; }
    void setProxyResolution(bool enabled) override;

    IStateCache& getCollisionCache() override { return collisionCache_; }
    IStateCache& getClientCache() override { return clientCache_; }
    const IScene& getSubmittedScene() const override { return submitted_; }
    const PublishedState& getPublishedState() const override { return published_; }
    PublishedState& getPublishedState() override { return published_; }
    void setApplicationProxyPose(const ProxyPose& pose) override;
    const ProxyPose& getApplicationProxyPose() const override { return applicationPose_; }
    void requestCalibrationUpdate() override { calibrationRequested_ = true; }
    bool calibrationUpdateRequested() const override { return calibrationRequested_; }
    IEventManager& getEventManager() override { return events_; }

    void refreshClient(IState& state, bool withResults) override;
    void submitFrame(IScene& scene, IState& state, const IScene& persistent) override;
    void publishState(IAttributeMap& target) const override;

    IEffectManager& getEffectManager() override { return effects_; }
    const Pipeline& getPipeline() const override { return pipeline_; }
    const IProxy& getCollisionProxy() const override { return collision_; }
    const ITarget& getClientTarget() const override { return clientTarget_; }

    // ICollisionClient (collision thread).
    void added() noexcept override;
    void step() noexcept override;
    void removed() noexcept override;
    ICollisionRecorder* collisionRecorder() noexcept override { return &recorder_; }

private:
    void mergeScenes(IScene& scene, IState& state, const IScene& persistent);
    // Adds this frame's golden bounds box to the scene when it needs one.
    void addGoldenBox(IScene& scene, IState& state);
    void collisionStep();
    // Wires the pipeline to this renderer's device, proxies and target and
    // starts it; false when it could not start.
    bool startPipeline();
    // The servo-synchronous copy of a step: device state to the collision
    // side, and a calibration update when one was asked for.
    void copyFromServo() noexcept;
    static ZVCallbackCode copyFromServoOperation(void* renderer);
    // The proxy exchange: the collision proxy's new features and pose go to
    // the pipeline's proxies.
    void exchangeProxies() noexcept;
    static ZVCallbackCode exchangeProxiesOperation(void* renderer);
    void runOnServo(ZVCallbackCode (*operation)(void*));
    // Hands the device errors taken in the last copy to the error store.
    void reportDeviceErrors();
    // While proxy resolution is off, the device is coupled to the pose the
    // application sets.
    void followApplicationPose();
    // The touch state a collision step found, published with the step.
    struct StepContact {
        bool touching = false;
        zvu::zvuVector3Dd normal{0, 0, 0};
    };
    void publishStep(const StepContact& contact);
    bool proxyResolution() const;

    static constexpr std::size_t kErrorBuffer = HapticDevice::kMaxPendingErrors;
    IErrorManager& errors_;
    const unsigned reservedShapeId_;
    std::atomic<HZV> handle_{ZV_INVALID_HANDLE};
    std::atomic<bool> running_{false};
    sched::CriticalSectionLock rendererLock_;
    sched::CriticalSectionLock cacheLock_;
    AttributeMap parameters_;
    StateCache collisionCache_;
    StateCache clientCache_;
    Scene submitted_;
    bool sceneSubmitted_ = false;
    PublishedState published_;
    ProxyPose applicationPose_;
    bool calibrationRequested_ = false;
    Context* owner_;
    EventManager events_;
    // Touch changes found by the last frame end, raised by the next step.
    std::vector<TouchChange> carriedTouches_;
    GoldenBoundsBox golden_;

    // Declared before the pipeline, so that the effects whose shaders it
    // lists outlive it.
    EffectManager effects_;

    // Servo side (changed only by the stages and synchronous operations).
    std::unique_ptr<HapticDevice> device_;
    HapticDeviceTarget servoTarget_;
    PointProxy current_;
    PointProxy previous_;
    Pipeline pipeline_;
    FrictionShader friction_;
    StiffnessShader stiffness_;
    DampingShader damping_;
    std::optional<DynamicMove> pendingMove_;
    bool exchangeResolution_ = true;

    // Collision side.
    HapticDeviceTarget clientTarget_;
    PointProxy collision_;
    PointProxy application_;
    PointProxy previousApplication_;
    LocalFeatureDetector detector_;
    TouchState touched_;
    double lastForce_[3] = {0, 0, 0};
    double lastTorque_[3] = {0, 0, 0};
    int buttons_ = 0;
    bool safety_ = false;
    bool inkwell_ = false;
    unsigned calibrationStatus_ = 0;
    std::array<DeviceError, kErrorBuffer> errorBuffer_{};
    std::size_t errorCount_ = 0;
    // Records or replays the client-side target at every step.
    CollisionRecorder recorder_{errors_, CollisionRecorder::kFileName, CollisionRecorder::standardOutput()};
};

}  // namespace QM
