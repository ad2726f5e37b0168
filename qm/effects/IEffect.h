// The effect interface and effect builders.
#pragma once

#include <map>
#include <memory>

#include "common/ReferenceCounter.h"
#include "qm/qm.h"

namespace QM {

class AttributeMap;
class IAttributeMap;
class IForceShader;

// An effect: a force shader and the property map it works on. Shared between
// the client, collision and servo threads and counted by reference
// (atomically; a new effect starts at 0).
//
// An effect keeps two property maps. The one getProperties() answers belongs
// to the client and collision threads (under the renderer lock once the
// effect has been handed over); the servo map is the running shader's own
// and is touched only on the servo thread, or before the effect starts.
class IEffect : public virtual sched::IReferenceCounter {
public:
    virtual const IForceShader* getForceShader() const = 0;
    virtual IForceShader* getForceShader() = 0;
    virtual const AttributeMap& getProperties() const = 0;
    virtual AttributeMap& getProperties() = 0;
    virtual QMenum getType() const = 0;
    virtual unsigned getId() const = 0;
    // Copies the properties another map holds into the effect's map (those
    // the effect declares). The type and the effect's life (done, triggered,
    // clock) stay the effect's own.
    virtual void copyAllProperties(const IAttributeMap& source) = 0;
    // The map the force shader works on; null for an effect that has no
    // shader and so never runs.
    virtual AttributeMap* getServoProperties() { return nullptr; }
    // Gives the servo map the values of the effect's map, before the effect
    // starts (it is not running, so no tick reads the servo map).
    virtual void prepareServoProperties() {}

protected:
    ~IEffect() override = default;
};

// Builds effects of one type from the context's current effect properties.
class IEffectBuilder {
public:
    virtual ~IEffectBuilder() = default;
    // The new effect, not yet referenced; null when it could not be made.
    virtual IEffect* build(unsigned id, const IAttributeMap& current) = 0;
    virtual void setId(unsigned id) = 0;
    virtual unsigned getId() const = 0;
};

class IEffectBuilderRegistry {
public:
    virtual ~IEffectBuilderRegistry() = default;
    // Registers a builder for a type, replacing (and destroying) an earlier
    // one.
    virtual void add(QMenum type, std::unique_ptr<IEffectBuilder> builder) = 0;
    virtual void remove(QMenum type) = 0;
    // The builder of a type, or null.
    virtual IEffectBuilder* find(QMenum type) const = 0;
    virtual bool isRegistered(QMenum type) const = 0;
};

// Types are compared by identity; destroying the registry destroys its
// builders.
class EffectBuilderRegistry final : public IEffectBuilderRegistry {
public:
    void add(QMenum type, std::unique_ptr<IEffectBuilder> builder) override;
    void remove(QMenum type) override { builders_.erase(type); }
    IEffectBuilder* find(QMenum type) const override;
    bool isRegistered(QMenum type) const override { return find(type) != nullptr; }

private:
    std::map<QMenum, std::unique_ptr<IEffectBuilder>> builders_;
};

// Registers the builders of every effect type that has one: callback,
// constant, viscous, friction, spring and the placeholder of qmUpdateEffect,
// in this order.
void registerEffectBuilders(IEffectBuilderRegistry& registry);

}  // namespace QM
