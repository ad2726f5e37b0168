#include "qm/effects/Effects.h"

#include "qm/api/Symbols.h"
#include "qm/effects/ForceShaders.h"

namespace QM {

namespace {

// The keys of each group that describe what an effect does (as opposed to
// where it is in its life).
const QMenum* const kBaseKeys[] = {&QM_EFFECT_PROPERTY_GAIN, &QM_EFFECT_PROPERTY_MAGNITUDE,
                                   &QM_EFFECT_PROPERTY_DURATION};
const QMenum* const kGeometryKeys[] = {&QM_EFFECT_PROPERTY_POSITION, &QM_EFFECT_PROPERTY_DIRECTION};
const QMenum* const kFrequencyKeys[] = {&QM_EFFECT_PROPERTY_FREQUENCY};
const QMenum* const kCallbackKeys[] = {&QM_EFFECT_COMPUTE_FORCE,
                                       &QM_EFFECT_START,
                                       &QM_EFFECT_STOP,
                                       &QM_INT_EFFECT_COMPUTE_FORCE_USER_DATA,
                                       &QM_INT_EFFECT_START_USER_DATA,
                                       &QM_INT_EFFECT_STOP_USER_DATA};
const QMenum* const kLifeKeys[] = {&QM_INT_EFFECT_IS_DONE, &QM_INT_EFFECT_WAS_TRIGGERED, &QM_INT_EFFECT_TIME};

template <std::size_t N>
void copyKeys(IAttributeMap& target, const IAttributeMap& source, const QMenum* const (&keys)[N]) {
    for (const QMenum* key : keys) {
        if (target.has(*key) && source.has(*key)) {
            target.copyFrom(*key, source);
        }
    }
}

std::unique_ptr<IForceShader> makeCallbackShader() { return std::make_unique<CallbackForceShader>(); }
std::unique_ptr<IForceShader> makeConstantShader() { return std::make_unique<ConstantForceShader>(); }
std::unique_ptr<IForceShader> makeViscousShader() { return std::make_unique<ViscousForceShader>(); }
std::unique_ptr<IForceShader> makeFrictionShader() { return std::make_unique<FrictionForceShader>(); }
std::unique_ptr<IForceShader> makeSpringShader() { return std::make_unique<SpringForceShader>(); }

}  // namespace

// Copies only what the target declares, so a full placeholder can update an
// effect of any type; nothing here allocates (the attributes exist already
// and arrays keep their size), so the servo thread may call it.
void copyEffectGroups(IAttributeMap& target, const IAttributeMap& source, unsigned groups) {
    if (groups & kEffectBase) {
        copyKeys(target, source, kBaseKeys);
    }
    if (groups & kEffectGeometry) {
        copyKeys(target, source, kGeometryKeys);
    }
    if (groups & kEffectFrequency) {
        copyKeys(target, source, kFrequencyKeys);
    }
    if (groups & kEffectCallbacks) {
        copyKeys(target, source, kCallbackKeys);
    }
}

BaseEffect::BaseEffect(QMenum type, unsigned id, unsigned groups, std::unique_ptr<IForceShader> shader)
    : type_(type), id_(id), shader_(std::move(shader)) {
    for (AttributeMap* map : {&properties_, &servo_}) {
        declareEffectGroups(*map, groups, true);
        map->declare<QMenum>(QM_EFFECT_PROPERTY_TYPE);
        map->set<QMenum>(QM_EFFECT_PROPERTY_TYPE, type);
    }
    if (type == QM_EFFECT_CALLBACK) {
        servo_.declareArray<double>(QM_PROXY_POSITION, 3);
        servo_.declareArray<double>(QM_PROXY_ROTATION, 4);
        servo_.declareArray<double>(QM_PROXY_TRANSFORM, 16);
    }
}

void BaseEffect::copyAllProperties(const IAttributeMap& source) {
    copyEffectGroups(properties_, source, kEffectBase | kEffectGeometry | kEffectFrequency | kEffectCallbacks);
}

void BaseEffect::prepareServoProperties() {
    copyEffectGroups(servo_, properties_, kEffectBase | kEffectGeometry | kEffectFrequency | kEffectCallbacks);
    copyKeys(servo_, properties_, kLifeKeys);
}

IEffect* EffectBuilder::build(unsigned id, const IAttributeMap& current) {
    auto* effect = new BaseEffect(type_, id, groups_, shader_ != nullptr ? shader_() : nullptr);
    copyEffectGroups(effect->getProperties(), current, groups_);
    return effect;
}

void registerEffectBuilders(IEffectBuilderRegistry& registry) {
    registry.add(QM_EFFECT_CALLBACK, std::make_unique<EffectBuilder>(QM_EFFECT_CALLBACK, kEffectBase | kEffectCallbacks,
                                                                     makeCallbackShader));
    registry.add(QM_EFFECT_CONSTANT, std::make_unique<EffectBuilder>(QM_EFFECT_CONSTANT, kEffectBase | kEffectGeometry,
                                                                     makeConstantShader));
    registry.add(QM_EFFECT_VISCOUS, std::make_unique<EffectBuilder>(QM_EFFECT_VISCOUS, kEffectBase, makeViscousShader));
    registry.add(QM_EFFECT_FRICTION, std::make_unique<EffectBuilder>(QM_EFFECT_FRICTION, kEffectBase | kEffectGeometry,
                                                                     makeFrictionShader));
    registry.add(QM_EFFECT_SPRING,
                 std::make_unique<EffectBuilder>(QM_EFFECT_SPRING, kEffectBase | kEffectGeometry, makeSpringShader));
    registry.add(QM_INT_EFFECT_BASE,
                 std::make_unique<EffectBuilder>(
                     QM_INT_EFFECT_BASE, kEffectBase | kEffectGeometry | kEffectFrequency | kEffectCallbacks, nullptr));
}

}  // namespace QM
