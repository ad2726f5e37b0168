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
class IEffect : public virtual sched::IReferenceCounter {
public:
    virtual const IForceShader* getForceShader() const = 0;
    virtual IForceShader* getForceShader() = 0;
    virtual const AttributeMap& getProperties() const = 0;
    virtual AttributeMap& getProperties() = 0;
    virtual QMenum getType() const = 0;
    virtual unsigned getId() const = 0;
    // Copies every property from another map into the effect's map.
    virtual void copyAllProperties(const IAttributeMap& source) = 0;

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

}  // namespace QM
