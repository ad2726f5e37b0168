#include "qm/collision/SceneRenderer.h"

#include <vector>

#include "qm/api/ErrorManager.h"
#include "qm/api/Symbols.h"
#include "qm/state/State.h"

namespace QM {

namespace {

std::vector<unsigned> shapeIds(const IScene& scene)
{
    std::vector<unsigned> ids;
    ids.reserve(scene.getShapes().size());
    for (auto it = scene.getShapes().iterator(); !it->atEnd(); it->advance()) {
        ids.push_back(it->current());
    }
    return ids;
}

std::vector<unsigned> effectIds(const IScene& scene)
{
    std::vector<unsigned> ids;
    ids.reserve(scene.getEffects().size());
    for (auto it = scene.getEffects().iterator(); !it->atEnd(); it->advance()) {
        ids.push_back(it->current());
    }
    return ids;
}

bool isPlaceholder(const IShape& shape) { return shape.getType() == QM_INT_SHAPE_BASE; }

}  // namespace

SceneRenderer::SceneRenderer(IErrorManager& errors, unsigned reservedShapeId)
    : errors_(errors), reservedShapeId_(reservedShapeId)
{
    parameters_.declare<bool>(QM_PROXY_RESOLUTION);
    parameters_.set<bool>(QM_PROXY_RESOLUTION, true);
    parameters_.declare<float>(QM_STIFFNESS);
    parameters_.declare<float>(QM_DAMPING);
}

SceneRenderer::~SceneRenderer() { stop(); }

bool SceneRenderer::start()
{
    sched::LockGuard guard(rendererLock_);
    if (!isRunning()) {
        running_.store(true, std::memory_order_release);
    }
    return true;
}

void SceneRenderer::stop()
{
    sched::LockGuard guard(rendererLock_);
    if (isRunning()) {
        running_.store(false, std::memory_order_release);
    }
}

void SceneRenderer::setDevice(HZV device)
{
    sched::LockGuard guard(rendererLock_);
    device_.store(device, std::memory_order_release);
}

void SceneRenderer::setProxyResolution(bool enabled)
{
    sched::LockGuard guard(rendererLock_);
    parameters_.set<bool>(QM_PROXY_RESOLUTION, enabled);
}

void SceneRenderer::refreshClient(IState& state, bool withResults)
{
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
void SceneRenderer::mergeScenes(IScene& scene, IState& state, const IScene& persistent)
{
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

void SceneRenderer::submitFrame(IScene& scene, IState& state, const IScene& persistent)
{
    mergeScenes(scene, state, persistent);

    IStackedAttributeMap& attributes = state.getAttributes();
    bool resolution = true;
    attributes.get<bool>(QM_PROXY_RESOLUTION, resolution);
    parameters_.set<bool>(QM_PROXY_RESOLUTION, resolution);

    ITransformManager& transforms = state.getTransforms();
    {
        sched::LockGuard cache(cacheLock_);
        for (IStateCache* c : {static_cast<IStateCache*>(&collisionCache_), static_cast<IStateCache*>(&clientCache_)}) {
            c->setWorkspaceToModel(transforms.getWorkspaceToModel());
            c->setModelToWorkspace(transforms.getModelToWorkspace());
        }
    }

    if (!resolution) {
        ProxyPose pose;
        attributes.getArray<double>(QM_PROXY_POSITION, pose.position);
        attributes.getArray<double>(QM_PROXY_ROTATION, pose.rotation);
        applicationPose_ = pose;
    }

    publishState(attributes);

    // The renderer's own references: whatever the client does with its
    // scenes from now on, these shapes live until the next frame end.
    submitted_.clear();
    for (const unsigned id : shapeIds(scene)) {
        submitted_.addShape(scene.getShapes().find(id));
    }
    for (const unsigned id : effectIds(scene)) {
        submitted_.addEffect(scene.getEffects().find(id));
    }
}

void SceneRenderer::publishState(IAttributeMap& target) const
{
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

}  // namespace QM
