// The effects of the rendering library: one class for every type, told
// apart by their type symbol, property groups and force shader.
#pragma once

#include <memory>

#include "qm/effects/IEffect.h"
#include "qm/effects/IForceShader.h"
#include "qm/state/AttributeGroups.h"
#include "qm/state/AttributeMap.h"

namespace QM {

// The property keys of the effect groups that are copied between maps. The
// type and the effect's life (done, triggered, clock) are not among them: a
// running effect keeps its own.
void copyEffectGroups(IAttributeMap& target, const IAttributeMap& source, unsigned groups);

// An effect of any type. Its maps declare the groups it was built with; the
// servo map of a callback effect also declares the proxy pose its callbacks
// read through their state cache.
class BaseEffect final : public sched::ReferenceCounter<IEffect> {
public:
    BaseEffect(QMenum type, unsigned id, unsigned groups, std::unique_ptr<IForceShader> shader);
    BaseEffect(const BaseEffect&) = delete;
    BaseEffect& operator=(const BaseEffect&) = delete;

    const IForceShader* getForceShader() const override { return shader_.get(); }
    IForceShader* getForceShader() override { return shader_.get(); }
    const AttributeMap& getProperties() const override { return properties_; }
    AttributeMap& getProperties() override { return properties_; }
    QMenum getType() const override { return type_; }
    unsigned getId() const override { return id_; }
    void copyAllProperties(const IAttributeMap& source) override;
    AttributeMap* getServoProperties() override { return shader_ != nullptr ? &servo_ : nullptr; }
    void prepareServoProperties() override;

private:
    ~BaseEffect() override = default;

    QMenum type_;
    unsigned id_;
    std::unique_ptr<IForceShader> shader_;
    AttributeMap properties_;
    AttributeMap servo_;
};

// Builds one effect type: a new effect takes the type's groups from the
// current effect properties.
class EffectBuilder final : public IEffectBuilder {
public:
    using ShaderFactory = std::unique_ptr<IForceShader> (*)();

    // `shader` is null for the placeholder type, which has none.
    EffectBuilder(QMenum type, unsigned groups, ShaderFactory shader) : type_(type), groups_(groups), shader_(shader) {}

    IEffect* build(unsigned id, const IAttributeMap& current) override;
    void setId(unsigned id) override { id_ = id; }
    unsigned getId() const override { return id_; }

private:
    QMenum type_;
    unsigned groups_;
    ShaderFactory shader_;
    unsigned id_ = 0;
};

}  // namespace QM
