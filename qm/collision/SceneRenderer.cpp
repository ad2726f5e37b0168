#include "qm/collision/SceneRenderer.h"

#include <vector>

#include <new>

#include "qm/api/CurrentContext.h"
#include "qm/api/ErrorManager.h"
#include "qm/api/QMException.h"
#include "qm/api/Symbols.h"
#include "qm/collision/SimulatorView.h"
#include "qm/events/StepEvents.h"
#include "qm/state/State.h"

namespace QM {

namespace {

std::vector<unsigned> shapeIds(const IScene& scene) {
    std::vector<unsigned> ids;
    ids.reserve(scene.getShapes().size());
    for (auto it = scene.getShapes().iterator(); !it->atEnd(); it->advance()) {
        ids.push_back(it->current());
    }
    return ids;
}

std::vector<unsigned> effectIds(const IScene& scene) {
    std::vector<unsigned> ids;
    ids.reserve(scene.getEffects().size());
    for (auto it = scene.getEffects().iterator(); !it->atEnd(); it->advance()) {
        ids.push_back(it->current());
    }
    return ids;
}

bool isPlaceholder(const IShape& shape) { return shape.getType() == QM_INT_SHAPE_BASE; }

}  // namespace

SceneRenderer::SceneRenderer(IErrorManager& errors, unsigned reservedShapeId, Context* owner)
    : errors_(errors), reservedShapeId_(reservedShapeId), owner_(owner) {
    parameters_.declare<bool>(QM_PROXY_RESOLUTION);
    parameters_.set<bool>(QM_PROXY_RESOLUTION, true);
    parameters_.declare<float>(QM_STIFFNESS);
    parameters_.declare<float>(QM_DAMPING);
    parameters_.set<float>(QM_STIFFNESS, 0.7f);
    parameters_.set<float>(QM_DAMPING, 0.1f);
    // The shaders' per-proxy values are declared once here, so that shading
    // on the servo thread never allocates.
    for (IProxy* proxy :
         {static_cast<IProxy*>(&current_), static_cast<IProxy*>(&previous_), static_cast<IProxy*>(&collision_),
          static_cast<IProxy*>(&application_), static_cast<IProxy*>(&previousApplication_)}) {
        friction_.prepare(*proxy);
        stiffness_.prepare(*proxy);
        damping_.prepare(*proxy);
    }
    pipeline_.setCurrentProxy(&current_);
    pipeline_.setPreviousProxy(&previous_);
    pipeline_.setTarget(&servoTarget_);
    pipeline_.addProxyShader(&friction_);
    pipeline_.addProxyShader(&stiffness_);
    pipeline_.addProxyShader(&damping_);
}

SceneRenderer::~SceneRenderer() { stop(); }

// Starting and stopping wait for the collision thread (it calls added() and
// removed()), so they never hold the renderer lock while they wait: the
// thread may be in a step that needs it.
bool SceneRenderer::start() {
    if (isRunning()) {
        return true;
    }
    if (device_ == nullptr) {
        return false;
    }
    if (!collisionScheduler().addClient(this)) {
        return false;
    }
    running_.store(true, std::memory_order_release);
    return true;
}

void SceneRenderer::stop() {
    if (!isRunning()) {
        return;
    }
    collisionScheduler().removeClient(this);
    running_.store(false, std::memory_order_release);
}

// Only while stopped: nothing on the collision or servo side uses the device
// then.
void SceneRenderer::setDevice(HZV device) {
    sched::LockGuard guard(rendererLock_);
    if (device == handle_.load(std::memory_order_acquire) && (device_ != nullptr || device == ZV_INVALID_HANDLE)) {
        return;
    }
    pipeline_.setDevice(nullptr);
    device_.reset();
    if (device != ZV_INVALID_HANDLE) {
        device_ = std::make_unique<HapticDevice>(device);
    }
    pipeline_.setDevice(device_.get());
    handle_.store(device, std::memory_order_release);
}

bool SceneRenderer::proxyResolution() const {
    bool enabled = true;
    parameters_.get<bool>(QM_PROXY_RESOLUTION, enabled);
    return enabled;
}

// Switching proxy resolution off starts the application's pose where the
// proxy is.
void SceneRenderer::setProxyResolution(bool enabled) {
    sched::LockGuard guard(rendererLock_);
    if (proxyResolution() && !enabled) {
        application_.copyTransforms(collision_);
        previousApplication_.copyTransforms(collision_);
    }
    parameters_.set<bool>(QM_PROXY_RESOLUTION, enabled);
}

void SceneRenderer::setApplicationProxyPose(const ProxyPose& pose) {
    sched::LockGuard guard(rendererLock_);
    applicationPose_ = pose;
    previousApplication_.copyTransforms(application_);
    const zvu::zvuVector3Dd position{pose.position[0], pose.position[1], pose.position[2]};
    const zvu::zvuQuaternion rotation{pose.rotation[0], pose.rotation[1], pose.rotation[2], pose.rotation[3]};
    for (int i = 0; i < 3; ++i) {
        application_.motionTransform(i)->set(position, rotation);
    }
}

void SceneRenderer::refreshClient(IState& state, bool withResults) {
    sched::LockGuard cache(cacheLock_);
    int count = 0;
    const QMenum* keys = publishedStateKeys(count);
    copySetValues(clientCache_.getValues(), collisionCache_.getValues(), keys, count);
    copySetValues(state.getAttributes(), collisionCache_.getValues(), keys, count);
    if (!withResults) {
        return;
    }
    for (auto it = submitted_.getShapes().iterator(); !it->atEnd(); it->advance()) {
        const unsigned id = it->current();
        AttributeMap* results = state.findResultMap(id);
        if (results == nullptr) {
            continue;
        }
        const AttributeMap& touch = submitted_.getShapes().find(id)->getAttributes();
        results->copyFrom(QM_PROXY_IS_TOUCHING, touch);
        results->copyFrom(QM_TOUCHED_FACE, touch);
        results->copyFrom(QM_REACTION_FORCE, touch);
    }
}

// The previous frame's scene is the renderer's own copy. Placeholders left
// by qmCallShape get the previous shape back, with the placeholder's
// attributes; shapes that were not drawn again are carried over only when
// they asked for persistence and the application has not deleted them since
// (the persistent scene no longer holds a deleted shape).
void SceneRenderer::mergeScenes(IScene& scene, IState& state, const IScene& persistent) {
    for (const unsigned id : shapeIds(scene)) {
        IShape* shape = scene.getShapes().find(id);
        IShape* previous = submitted_.getShapes().find(id);
        if (previous == nullptr) {
            state.resultMapFor(id);
        } else if (previous != shape && isPlaceholder(*shape)) {
            previous->setAttributes(shape->getAttributes());
            scene.swapShape(submitted_, id);
        }
    }
    for (const unsigned id : shapeIds(submitted_)) {
        if (scene.getShapes().find(id) != nullptr) {
            continue;
        }
        IShape* previous = submitted_.getShapes().find(id);
        bool persists = false;
        previous->getAttributes().get<bool>(QM_SHAPE_PERSISTENCE, persists);
        if (persists && persistent.getShapes().find(id) == previous) {
            scene.addShape(previous);
        } else {
            state.eraseResultMap(id);
        }
    }
}

// The box is built anew for every frame that needs it, around the golden
// position qmBeginFrame moved to the proxy.
void SceneRenderer::addGoldenBox(IScene& scene, IState& state) {
    if (!GoldenBoundsBox::needed(scene.getShapes())) {
        golden_.forget();
        return;
    }
    const IStackedAttributeMap& attributes = state.getAttributes();
    double position[3] = {0, 0, 0};
    double radius = 30.0;
    attributes.getArray<double>(QM_GOLDEN_POSITION, position);
    attributes.get<double>(QM_GOLDEN_RADIUS, radius);
    BoxShape* box = golden_.build(reservedShapeId_, {position[0], position[1], position[2]}, radius);
    if (box == nullptr) {
        return;
    }
    box->addReference();
    try {
        scene.addShape(box);
    } catch (...) {
        box->releaseReference();
        throw;
    }
    box->releaseReference();
}

void SceneRenderer::submitFrame(IScene& scene, IState& state, const IScene& persistent) {
    addGoldenBox(scene, state);
    mergeScenes(scene, state, persistent);

    IStackedAttributeMap& attributes = state.getAttributes();
    bool resolution = true;
    attributes.get<bool>(QM_PROXY_RESOLUTION, resolution);
    // Contacts follow shapes that moved or changed since the last frame;
    // the proxy's resulting move reaches the servo side once, at the next
    // exchange. Touch changes found here are left for the collision step:
    // nothing here may call back into the application.
    if (resolution && sceneSubmitted_ && device_ != nullptr) {
        CarriedContacts carried =
            carryContacts(submitted_.getShapes(), scene.getShapes(), collision_, clientTarget_, detector_, touched_);
        if (carried.move) {
            pendingMove_ = carried.move;
        }
        carryTouchChanges(carriedTouches_, carried.touchChanges);
    }
    setProxyResolution(resolution);

    // A composed transform without an inverse leaves the caches their last
    // good inverse and records nothing here: the frame itself is submitted,
    // and the failure is reported where a conversion is asked for.
    ITransformManager& transforms = state.getTransforms();
    const bool invertible = !transforms.inverseFailed();
    {
        sched::LockGuard cache(cacheLock_);
        for (IStateCache* c : {static_cast<IStateCache*>(&collisionCache_), static_cast<IStateCache*>(&clientCache_)}) {
            if (invertible) {
                c->setWorkspaceToModel(transforms.getWorkspaceToModel());
            }
            c->setModelToWorkspace(transforms.getModelToWorkspace());
        }
    }

    if (!resolution) {
        ProxyPose pose;
        attributes.getArray<double>(QM_PROXY_POSITION, pose.position);
        attributes.getArray<double>(QM_PROXY_ROTATION, pose.rotation);
        setApplicationProxyPose(pose);
    }

    publishState(attributes);

    // Running effects carry over into the new scene; what starts, changes or
    // stops reaches the servo side at the next exchange.
    effects_.compare(sceneSubmitted_ ? &submitted_ : nullptr, scene);

    // The renderer's own references: whatever the client does with its
    // scenes from now on, these shapes live until the next frame end.
    submitted_.clear();
    for (const unsigned id : shapeIds(scene)) {
        submitted_.addShape(scene.getShapes().find(id));
    }
    for (const unsigned id : effectIds(scene)) {
        submitted_.addEffect(scene.getEffects().find(id));
    }
    sceneSubmitted_ = true;
}

void SceneRenderer::publishState(IAttributeMap& target) const {
    const PublishedState& p = published_;
    if (p.deviceValid) {
        target.setArray<double>(QM_DEVICE_POSITION, p.devicePosition);
        target.setArray<double>(QM_DEVICE_ROTATION, p.deviceRotation);
        target.setArray<double>(QM_DEVICE_TRANSFORM, p.deviceTransform);
        target.setArray<double>(QM_DEVICE_FORCE, p.deviceForce);
        target.setArray<double>(QM_DEVICE_TORQUE, p.deviceTorque);
        target.set<bool>(QM_BUTTON1_STATE, (p.buttons & 1) != 0);
        target.set<bool>(QM_BUTTON2_STATE, (p.buttons & 2) != 0);
        target.set<bool>(QM_BUTTON3_STATE, (p.buttons & 4) != 0);
        target.set<bool>(QM_SAFETY_STATE, p.safetySwitch);
        target.set<bool>(QM_INKWELL_STATE, p.inkwellSwitch);
    }
    if (p.proxyValid) {
        bool resolution = true;
        parameters_.get<bool>(QM_PROXY_RESOLUTION, resolution);
        if (resolution) {
            target.setArray<double>(QM_PROXY_POSITION, p.proxyPosition);
            target.setArray<double>(QM_PROXY_ROTATION, p.proxyRotation);
            target.setArray<double>(QM_PROXY_TRANSFORM, p.proxyTransform);
        }
        target.set<bool>(QM_PROXY_IS_TOUCHING, p.touching);
        target.setArray<double>(QM_PROXY_TOUCH_NORMAL, p.touchNormal);
    }
}

// ---------------------------------------------------------------- collision side

void SceneRenderer::runOnServo(ZVCallbackCode (*operation)(void*)) {
    DeviceScope scope(device_->getHandle());
    zvScheduleSynchronous(operation, this, PipelineScheduler::priorityOf(0));
}

bool SceneRenderer::startPipeline() {
    if (pipeline_.isRunning()) {
        return true;
    }
    return pipeline_.start();
}

void SceneRenderer::added() noexcept {
    try {
        sched::LockGuard guard(rendererLock_);
        if (device_ == nullptr || !startPipeline()) {
            return;
        }
        runOnServo(copyFromServoOperation);
        reportDeviceErrors();
        collision_.initialise(clientTarget_);
        touched_.reset();
        effects_.resetClock();
    } catch (...) {
        // The next step tries again.
    }
}

void SceneRenderer::removed() noexcept {
    try {
        sched::LockGuard guard(rendererLock_);
        if (device_ != nullptr) SimulatorView::withdraw(this, device_->getHandle());
        pipeline_.stop();
        collision_.uninitialise();
    } catch (...) {
    }
}

// A step is its own error frame: what it throws is recorded in the
// context's error store and goes no further. The context is current on the
// collision thread only during its own step, so a deleted context is never
// used afterwards.
void SceneRenderer::step() noexcept {
    recordingFailures(errors_, [&] {
        setCurrentContext(owner_);
        collisionStep();
    });
    try {
        setCurrentContext(nullptr);
    } catch (...) {
    }
}

void SceneRenderer::collisionStep() {
    sched::LockGuard guard(rendererLock_);
    raiseStepStart(events_, collisionCache_, cacheLock_, errors_);
    if (device_ == nullptr || !startPipeline()) {
        return;
    }
    const SwitchState before{buttons_, safety_, inkwell_};
    runOnServo(copyFromServoOperation);
    reportDeviceErrors();
    recorder_.step(clientTarget_);
    const zvu::zvuVector3Dd lastForce{lastForce_[0], lastForce_[1], lastForce_[2]};
    {
        sched::LockGuard cache(cacheLock_);
        TouchState::storeReactionForces(submitted_.getShapes(), lastForce, clientTarget_.position(), collision_);
    }
    if (!collision_.isInitialised()) {
        collision_.initialise(clientTarget_);
    }
    std::vector<TouchChange> stepTouches;
    // The contact this step found. It is taken before the exchange, which
    // hands the collision proxy's sets to the servo side and gives the
    // collision proxy the sets of two steps ago.
    StepContact contact;
    if (sceneSubmitted_) {
        if (proxyResolution()) {
            detector_.detect(submitted_.getShapes(), clientTarget_, collision_);
            stepTouches = touched_.update(submitted_.getShapes(), collision_.collisionSet());
        } else {
            followApplicationPose();
        }
        contact = StepContact{collision_.isTouching(), collision_.collisionSet().touchNormal()};
        effects_.advanceClocks(submitted_);
        effects_.prepareApply(pipeline_);
        runOnServo(exchangeProxiesOperation);
        effects_.finishApply();
    } else {
        // Nothing to meet yet: the proxy follows the device, so that the
        // first scene is swept from where the device is then, not from where
        // it was when the context joined (possibly behind a surface the
        // device has long left).
        collision_.update(clientTarget_);
        contact = StepContact{collision_.isTouching(), collision_.collisionSet().touchNormal()};
    }
    publishStep(contact);
    // Events follow the publication, so that their snapshots show the
    // state that raised them.
    raiseStepEvents(events_,
                    StepChanges{carriedTouches_, stepTouches, before, SwitchState{buttons_, safety_, inkwell_},
                                touched_.touched(), static_cast<int>(calibrationStatus_)},
                    collisionCache_, cacheLock_, errors_);
    carriedTouches_.clear();
}

// While proxy resolution is off, a constraint line along the application's
// last move couples the device to the application's pose with the proxy
// stiffness and damping of qmProxyf.
void SceneRenderer::followApplicationPose() {
    float stiffness = 0.7f;
    float damping = 0.1f;
    parameters_.get<float>(QM_STIFFNESS, stiffness);
    parameters_.get<float>(QM_DAMPING, damping);
    const MotionTransform& contact = *collision_.motionTransform(0);
    auto line = std::make_unique<LocalFeatureLine>(zvu::zvuLineSegmentd(contact.lastPosition(), contact.position()));
    AttributeMap& a = line->getAttributes();
    a.declare<float>(QM_STIFFNESS);
    a.set<float>(QM_STIFFNESS, stiffness);
    a.declare<float>(QM_DAMPING);
    a.set<float>(QM_DAMPING, damping);
    a.declare<QMenum>(QM_TOUCH_MODEL);
    a.set<QMenum>(QM_TOUCH_MODEL, QM_CONSTRAINT);
    a.declare<bool>(QM_INT_REPORT_COLLISIONS);
    a.set<bool>(QM_INT_REPORT_COLLISIONS, true);
    LocalFeatureSet features;
    features.insert(std::move(line));
    detector_.distribute(features, collision_, clientTarget_);
    collision_.copyTransforms(application_);
}

void SceneRenderer::publishStep(const StepContact& contact) {
    PublishedState& p = published_;
    const zvu::zvuVector3Dd& position = clientTarget_.position();
    const zvu::zvuQuaternion& rotation = clientTarget_.rotation();
    const zvu::zvuMatrix transform = clientTarget_.motion().transform();
    p.devicePosition[0] = position.x;
    p.devicePosition[1] = position.y;
    p.devicePosition[2] = position.z;
    p.deviceRotation[0] = rotation.w;
    p.deviceRotation[1] = rotation.x;
    p.deviceRotation[2] = rotation.y;
    p.deviceRotation[3] = rotation.z;
    for (int i = 0; i < 16; ++i) {
        p.deviceTransform[i] = transform[i];
    }
    for (int i = 0; i < 3; ++i) {
        p.deviceForce[i] = lastForce_[i];
        p.deviceTorque[i] = lastTorque_[i];
    }
    p.buttons = buttons_;
    p.safetySwitch = safety_;
    p.inkwellSwitch = inkwell_;
    p.deviceValid = true;
    const MotionTransform& proxy = *collision_.motionTransform(2);
    const zvu::zvuMatrix proxyTransform = proxy.transform();
    p.proxyPosition[0] = proxy.position().x;
    p.proxyPosition[1] = proxy.position().y;
    p.proxyPosition[2] = proxy.position().z;
    p.proxyRotation[0] = proxy.rotation().w;
    p.proxyRotation[1] = proxy.rotation().x;
    p.proxyRotation[2] = proxy.rotation().y;
    p.proxyRotation[3] = proxy.rotation().z;
    for (int i = 0; i < 16; ++i) {
        p.proxyTransform[i] = proxyTransform[i];
    }
    p.touching = contact.touching;
    const zvu::zvuVector3Dd& normal = contact.normal;
    p.touchNormal[0] = normal.x;
    p.touchNormal[1] = normal.y;
    p.touchNormal[2] = normal.z;
    p.proxyValid = true;
    SimulatorView::publish(this, device_->getHandle(), proxy.position(), contact.touching, normal);
    sched::LockGuard cache(cacheLock_);
    publishState(collisionCache_.getValues());
}

void SceneRenderer::reportDeviceErrors() {
    for (std::size_t i = 0; i < errorCount_; ++i) {
        errors_.pushDeviceError(errorBuffer_[i]);
    }
    errorCount_ = 0;
}

// ---------------------------------------------------------------- servo side

ZVCallbackCode SceneRenderer::copyFromServoOperation(void* renderer) {
    static_cast<SceneRenderer*>(renderer)->copyFromServo();
    return ZV_CALLBACK_DONE;
}

void SceneRenderer::copyFromServo() noexcept {
    if (calibrationRequested_) {
        device_->updateCalibration();
        pipeline_.reset(true);
        collision_.uninitialise();
        calibrationRequested_ = false;
    }
    calibrationStatus_ = device_->checkCalibration();
    device_->readState(clientTarget_);
    device_->lastForceAndTorque(lastForce_, lastTorque_);
    buttons_ = device_->buttons();
    safety_ = device_->safetySwitch();
    inkwell_ = device_->inkwellSwitch();
    device_->collectErrors();
    errorCount_ = device_->takeErrors(errorBuffer_.data(), errorBuffer_.size());
}

ZVCallbackCode SceneRenderer::exchangeProxiesOperation(void* renderer) {
    static_cast<SceneRenderer*>(renderer)->exchangeProxies();
    return ZV_CALLBACK_DONE;
}

// The current proxy gets the new features and the collision proxy's pose,
// the previous proxy the current one's, and the collision proxy keeps the
// oldest features, which the next step clears. A dynamic move made at the
// last frame end is applied here once.
void SceneRenderer::exchangeProxies() noexcept {
    collision_.swapSets(current_);
    collision_.swapSets(previous_);
    for (QMenum key : {QM_PROXY_RESOLUTION, QM_INT_FRICTION_PROXY_POS, QM_INT_DAMPING_SMOOTHED_VELOCITY}) {
        previous_.controlParameters().copyFrom(key, current_.controlParameters());
    }
    previous_.copyTransforms(current_);
    if (pendingMove_) {
        pipeline_.moveProxy(pendingMove_->translation, pendingMove_->rotation);
        pendingMove_.reset();
    }
    current_.copyTransforms(collision_);
    pipeline_.proxyUpdated();
    golden_.exchanged();
    effects_.apply(pipeline_);
    current_.controlParameters().set<bool>(QM_PROXY_RESOLUTION, proxyResolution());
}

}  // namespace QM
