#include "qm/api/Context.h"

#include "qm/api/CurrentContext.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"
#include "qm/shapes/BaseShape.h"
#include "qm/shapes/CallbackShape.h"
#include "qm/shapes/DepthBufferShape.h"
#include "qm/shapes/FeedbackBufferShape.h"
#include "qm/shapes/PrimitiveShape.h"

namespace QM {

namespace {

// The context's own subscription to the collision tick: the collision
// thread works in the context's name while it steps it.
void makeCurrentOnTick(QMenum, QMuint, QMenum thread, QMcache, void* context) {
    if (thread == QM_COLLISION_THREAD) {
        setCurrentContext(static_cast<Context*>(context));
    }
}

}  // namespace

Context::Context() {
    if (OperationScheduler* client = operationScheduler(QM_CLIENT_THREAD)) {
        client->bindToCurrentThread();
    }
    errors = std::make_unique<ErrorManager>();
    ids = std::make_unique<IDGenerator>();
    state = std::make_unique<State>();
    lastScene = std::make_unique<Scene>();
    frameScene = std::make_unique<Scene>();
    persistentScene = std::make_unique<Scene>();
    shapeBuilders = std::make_unique<ShapeBuilderRegistry>();
    shapeBuilders->registerBuilder(QM_SHAPE_CALLBACK, std::make_unique<CallbackShapeBuilder>());
    shapeBuilders->registerBuilder(QM_SHAPE_FEEDBACK_BUFFER, std::make_unique<FeedbackBufferShapeBuilder>());
    shapeBuilders->registerBuilder(QM_SHAPE_DEPTH_BUFFER, std::make_unique<DepthBufferShapeBuilder>());
    shapeBuilders->registerBuilder(QM_SHAPE_PRIMITIVE, std::make_unique<PrimitiveShapeBuilder>());
    shapeBuilders->registerBuilder(QM_INT_SHAPE_BASE, std::make_unique<BaseShapeBuilder>());
    effectBuilders = std::make_unique<EffectBuilderRegistry>();
    registerEffectBuilders(*effectBuilders);
    const unsigned rendererShape = ids->generate(IDGenerator::kShapePool, 1);
    sceneRenderer = std::make_unique<SceneRenderer>(*errors, rendererShape, this);
    sceneRenderer->getEventManager().add(makeCurrentOnTick, QM_INT_EVENT_COLLISION_TICK, QM_OBJECT_ANY,
                                         QM_COLLISION_THREAD, this);
}

Context::~Context() {
    if (sceneRenderer != nullptr && sceneRenderer->isRunning()) {
        sceneRenderer->stop();
    }
    openShape = nullptr;
    state.reset();
    sceneRenderer.reset();
    lastScene.reset();
    frameScene.reset();
    persistentScene.reset();
    shapeBuilders.reset();
    effectBuilders.reset();
    ids.reset();
    errors.reset();
}

void Context::attachDevice(HZV device) {
    if (sceneRenderer->isRunning()) {
        sceneRenderer->stop();
    }
    sceneRenderer->setDevice(device);
    if (device != ZV_INVALID_HANDLE) {
        sceneRenderer->start();
    }
}

namespace {

// Holds a reference for the duration of the add, so that an object no scene
// kept is destroyed instead of leaked.
template <typename T>
class Hold {
public:
    explicit Hold(T* object) : object_(object) { object_->addReference(); }
    ~Hold() { object_->releaseReference(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    T* object_;
};

}  // namespace

void Context::addShape(IShape* shape) {
    if (shape == nullptr) {
        return;
    }
    Hold<IShape> hold(shape);
    if (inFrame) {
        frameScene->addShape(shape);
    }
    const unsigned id = shape->getId();
    IShape* older = persistentScene->getShapes().find(id);
    if (older == shape) {
        return;
    }
    if (older != nullptr) {
        if (shape->getType() == QM_INT_SHAPE_BASE) {
            return;
        }
        persistentScene->removeShape(id);
    }
    persistentScene->addShape(shape);
}

void Context::addEffect(IEffect* effect) {
    if (effect == nullptr) {
        return;
    }
    Hold<IEffect> hold(effect);
    if (inFrame) {
        frameScene->addEffect(effect);
    }
    const unsigned id = effect->getId();
    IEffect* older = persistentScene->getEffects().find(id);
    if (older == effect) {
        return;
    }
    if (older != nullptr) {
        if (effect->getType() == QM_INT_EFFECT_BASE) {
            return;
        }
        persistentScene->removeEffect(id);
    }
    persistentScene->addEffect(effect);
}

}  // namespace QM
