// The rendering context.
#pragma once

#include <memory>

#include "qm/api/ErrorManager.h"
#include "qm/collision/SceneRenderer.h"
#include "qm/effects/IEffect.h"
#include "qm/qm.h"
#include "qm/shapes/IShapeBuilder.h"
#include "qm/shapes/Scene.h"
#include "qm/state/IDGenerator.h"
#include "qm/state/State.h"

namespace QM {

// One object per device connection that owns all rendering state. HQMRC is a
// pointer to it. Its members are reached directly by the exported functions;
// two flags gate them: inFrame (between qmBeginFrame and qmEndFrame) and
// openShape (the builder of the shape between qmBeginShape and qmEndShape).
// Both are written only under the state lock (docs/threading.md), as are the
// three scenes, which only the client thread touches.
class Context {
public:
    // Builds a context bound to no device: binds the client-thread operation
    // scheduler to the calling thread, creates the error store, the
    // identifier pools, the attribute state with every default, the three
    // scenes and the builder registries, and reserves one shape identifier
    // for the scene renderer.
    Context();
    // Stops the renderer and destroys the members (state, renderer, scenes,
    // registries, identifiers, errors, in this order).
    virtual ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // Stops the renderer, rebinds it to a device and starts it again unless
    // the device is ZV_INVALID_HANDLE. No frame check (the API does that).
    void attachDevice(HZV device);

    // Adds a finished shape: to the frame scene when in a frame; then to the
    // persistent scene, replacing an older shape of the same identifier
    // unless the new one is a placeholder (QM_INT_SHAPE_BASE), which leaves
    // the older one in place. A shape that ends up nowhere is destroyed.
    void addShape(IShape* shape);
    // The same for effects, with QM_INT_EFFECT_BASE as the placeholder.
    void addEffect(IEffect* effect);

    static Context* fromHandle(HQMRC handle) { return reinterpret_cast<Context*>(handle); }
    HQMRC handle() { return reinterpret_cast<HQMRC>(this); }

    std::unique_ptr<IState> state;
    std::unique_ptr<IScene> lastScene;
    std::unique_ptr<IScene> frameScene;
    std::unique_ptr<IScene> persistentScene;
    std::unique_ptr<IShapeBuilderRegistry> shapeBuilders;
    std::unique_ptr<IEffectBuilderRegistry> effectBuilders;
    std::unique_ptr<ISceneRenderer> sceneRenderer;
    std::unique_ptr<IErrorManager> errors;
    IShapeBuilder* openShape = nullptr;
    std::unique_ptr<IIDGenerator> ids;
    bool inFrame = false;
};

}  // namespace QM
