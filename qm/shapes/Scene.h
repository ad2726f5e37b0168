// The shapes and effects of one frame.
#pragma once

#include "qm/effects/IEffect.h"
#include "qm/shapes/IShape.h"
#include "qm/state/IDMap.h"

namespace QM {

using ShapeMap = IIDMap<IShape*>;
using EffectMap = IIDMap<IEffect*>;

// Each entry holds one reference to its shape or effect.
class IScene {
public:
    virtual ~IScene() = default;
    // Releases every shape and effect and empties both maps.
    virtual void clear() = 0;
    virtual const ShapeMap& getShapes() const = 0;
    virtual ShapeMap& getShapes() = 0;
    virtual const EffectMap& getEffects() const = 0;
    virtual EffectMap& getEffects() = 0;
    // Takes a reference and stores the shape under its identifier, replacing
    // (and releasing) another shape stored there; null is ignored.
    virtual void addShape(IShape* shape) = 0;
    // Drops the entry and the scene's reference; false when there was none.
    virtual bool removeShape(unsigned id) = 0;
    // Exchanges the entries under the identifier between the two scenes (an
    // entry on one side only moves to the other); each scene keeps one
    // reference per entry it holds.
    virtual void swapShape(IScene& other, unsigned id) = 0;
    virtual void addEffect(IEffect* effect) = 0;
    virtual bool removeEffect(unsigned id) = 0;
    virtual void swapEffect(IScene& other, unsigned id) = 0;
};

class Scene final : public IScene {
public:
    Scene() = default;
    ~Scene() override { clear(); }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    void clear() override;
    const ShapeMap& getShapes() const override { return shapes_; }
    ShapeMap& getShapes() override { return shapes_; }
    const EffectMap& getEffects() const override { return effects_; }
    EffectMap& getEffects() override { return effects_; }
    void addShape(IShape* shape) override;
    bool removeShape(unsigned id) override;
    void swapShape(IScene& other, unsigned id) override;
    void addEffect(IEffect* effect) override;
    bool removeEffect(unsigned id) override;
    void swapEffect(IScene& other, unsigned id) override;

private:
    IDMap<IShape*> shapes_;
    IDMap<IEffect*> effects_;
};

}  // namespace QM
