// Exported functions: effects. Starting, triggering, updating and stopping
// only build effects and mark them on the client thread; the frame end
// decides what changes and the servo side makes the change at the next
// collision step (qm/effects/EffectManager.h).
#include <cmath>
#include <cstdint>

#include "qm/api/CallFrame.h"
#include "qm/api/Symbols.h"
#include "qm/state/IDGenerator.h"

namespace QM {
namespace {

bool isScalarProperty(QMenum pname) {
    return isSymbol(pname, QM_EFFECT_PROPERTY_TYPE) || isSymbol(pname, QM_EFFECT_PROPERTY_GAIN) ||
           isSymbol(pname, QM_EFFECT_PROPERTY_MAGNITUDE) || isSymbol(pname, QM_EFFECT_PROPERTY_FREQUENCY) ||
           isSymbol(pname, QM_EFFECT_PROPERTY_DURATION);
}

bool isVectorProperty(QMenum pname) {
    return isSymbol(pname, QM_EFFECT_PROPERTY_POSITION) || isSymbol(pname, QM_EFFECT_PROPERTY_DIRECTION);
}

// The type passes the name check and changes nothing: an effect's type is
// the one it is started with.
void setScalar(Context& context, QMenum pname, double value) {
    require(isScalarProperty(pname), QM_INVALID_ENUM);
    require(std::isfinite(value), QM_INVALID_VALUE);
    if (isSymbol(pname, QM_EFFECT_PROPERTY_TYPE)) {
        return;
    }
    context.state->getAttributes().set<double>(pname, value);
}

void setVector(Context& context, QMenum pname, const double values[3]) {
    require(isVectorProperty(pname), QM_INVALID_ENUM);
    require(std::isfinite(values[0]) && std::isfinite(values[1]) && std::isfinite(values[2]), QM_INVALID_VALUE);
    context.state->getAttributes().setArray<double>(pname, values);
}

// The builder of a type that has one; QM_INVALID_ENUM for the others (the
// waveform types and anything else), before anything changes.
IEffectBuilder& builderFor(Context& context, QMenum type) {
    IEffectBuilder* builder = type != nullptr ? context.effectBuilders->find(type) : nullptr;
    require(builder != nullptr && type != QM_INT_EFFECT_BASE, QM_INVALID_ENUM);
    return *builder;
}

// Builds an effect from the current effect properties and adds it to the
// frame (and the persistent scene).
IEffect& buildEffect(Context& context, IEffectBuilder& builder, unsigned id) {
    IEffect* effect = builder.build(id, context.state->getAttributes());
    require(effect != nullptr, QM_OUT_OF_MEMORY);
    context.addEffect(effect);
    return *effect;
}

// The effect the last completed frame holds under the identifier.
IEffect* lastEffect(Context& context, QMuint id) { return context.lastScene->getEffects().find(id); }

// The client's scenes belong to the client thread: a collision-thread
// callback may not start, stop or read effects there.
void requireClientThread() { require(!onCollisionThread(), QM_INVALID_OPERATION); }

// An effect property as doubles (1 or 3); false for the type, which is a
// symbol.
int readEffect(Context& context, QMuint id, QMenum pname, double out[3]) {
    require(isScalarProperty(pname) || isVectorProperty(pname), QM_INVALID_ENUM);
    IEffect* effect = lastEffect(context, id);
    require(effect != nullptr, QM_INVALID_VALUE);
    const AttributeMap& properties = effect->getProperties();
    if (isVectorProperty(pname)) {
        require(properties.getArray<double>(pname, out), QM_INVALID_VALUE);
        return 3;
    }
    if (isSymbol(pname, QM_EFFECT_PROPERTY_TYPE)) {
        return 0;
    }
    require(properties.get<double>(pname, out[0]), QM_INVALID_VALUE);
    return 1;
}

}  // namespace
}  // namespace QM

using namespace QM;

extern "C" {

QM_API void qmStartEffect(QMenum type, QMuint effectId) {
    callInContext([&](Context& context) {
        requireClientThread();
        require(context.inFrame, QM_INVALID_OPERATION);
        require(context.ids->isReserved(IDGenerator::kEffectPool, effectId), QM_INVALID_VALUE);
        buildEffect(context, builderFor(context, type), effectId);
    });
}

QM_API void qmTriggerEffect(QMenum type) {
    callInContext([&](Context& context) {
        requireClientThread();
        require(context.inFrame, QM_INVALID_OPERATION);
        IEffectBuilder& builder = builderFor(context, type);
        const unsigned id = context.ids->generate(IDGenerator::kEffectPool, 1);
        require(id != 0, QM_OUT_OF_MEMORY);
        try {
            IEffect& effect = buildEffect(context, builder, id);
            effect.getProperties().set<bool>(QM_INT_EFFECT_WAS_TRIGGERED, true);
        } catch (...) {
            context.ids->release(IDGenerator::kEffectPool, id, 1);
            throw;
        }
    });
}

QM_API void qmUpdateEffect(QMuint effectId) {
    callInContext([&](Context& context) {
        requireClientThread();
        require(context.inFrame, QM_INVALID_OPERATION);
        require(lastEffect(context, effectId) != nullptr, QM_INVALID_VALUE);
        IEffectBuilder* builder = context.effectBuilders->find(QM_INT_EFFECT_BASE);
        require(builder != nullptr, QM_INVALID_OPERATION);
        buildEffect(context, *builder, effectId);
    });
}

// The collision thread reads and writes the effects of the handed-over
// scene under the renderer lock.
QM_API void qmStopEffect(QMuint effectId) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) {
        requireClientThread();
        require(context.inFrame, QM_INVALID_OPERATION);
        require(context.ids->isReserved(IDGenerator::kEffectPool, effectId), QM_INVALID_VALUE);
        IEffect* effect = lastEffect(context, effectId);
        require(effect != nullptr, QM_INVALID_OPERATION);
        effect->getProperties().set<bool>(QM_INT_EFFECT_IS_DONE, true);
    });
}

QM_API void qmEffectd(QMenum pname, QMdouble param) {
    callInContext([&](Context& context) { setScalar(context, pname, param); });
}

QM_API void qmEffecti(QMenum pname, QMint param) {
    callInContext([&](Context& context) { setScalar(context, pname, static_cast<double>(param)); });
}

QM_API void qmEffectdv(QMenum pname, const QMdouble* params) {
    callInContext([&](Context& context) {
        require(isVectorProperty(pname), QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        setVector(context, pname, params);
    });
}

QM_API void qmEffectiv(QMenum pname, const QMint* params) {
    callInContext([&](Context& context) {
        require(isVectorProperty(pname), QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        const double values[3] = {static_cast<double>(params[0]), static_cast<double>(params[1]),
                                  static_cast<double>(params[2])};
        setVector(context, pname, values);
    });
}

QM_API void qmGetEffectdv(QMuint effectId, QMenum pname, QMdouble* params) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) {
        requireClientThread();
        double values[3] = {0.0, 0.0, 0.0};
        const int count = readEffect(context, effectId, pname, values);
        require(params != nullptr, QM_INVALID_VALUE);
        for (int i = 0; i < count; ++i) {
            params[i] = values[i];
        }
    });
}

QM_API void qmGetEffectiv(QMuint effectId, QMenum pname, QMint* params) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) {
        requireClientThread();
        double values[3] = {0.0, 0.0, 0.0};
        const int count = readEffect(context, effectId, pname, values);
        require(params != nullptr, QM_INVALID_VALUE);
        if (count == 0) {
            QMenum type = nullptr;
            lastEffect(context, effectId)->getProperties().get<QMenum>(QM_EFFECT_PROPERTY_TYPE, type);
            params[0] = static_cast<QMint>(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(type)));
            return;
        }
        QMint rounded[3] = {0, 0, 0};
        for (int i = 0; i < count; ++i) {
            const double r = std::floor(values[i] + 0.5);
            require(r >= INT32_MIN && r <= INT32_MAX, QM_INVALID_VALUE);
            rounded[i] = static_cast<QMint>(r);
        }
        for (int i = 0; i < count; ++i) {
            params[i] = rounded[i];
        }
    });
}

QM_API void qmGetEffectbv(QMuint effectId, QMenum pname, QMboolean* params) {
    callInContext([&](Context& context) {
        requireClientThread();
        require(isSymbol(pname, QM_EFFECT_PROPERTY_ACTIVE), QM_INVALID_ENUM);
        require(params != nullptr, QM_INVALID_VALUE);
        params[0] = lastEffect(context, effectId) != nullptr ? QM_TRUE : QM_FALSE;
    });
}

}  // extern "C"
