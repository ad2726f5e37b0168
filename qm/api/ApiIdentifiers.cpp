// Exported functions: shape and effect identifiers.
#include <cstdint>
#include <vector>

#include "qm/api/CallFrame.h"
#include "qm/api/Symbols.h"

namespace QM {
namespace {

unsigned generate(Context& context, int pool, QMint range) {
    require(range >= 0, QM_INVALID_VALUE);
    if (range == 0) {
        return 0;
    }
    const unsigned first = context.ids->generate(pool, range);
    require(first != 0, QM_OUT_OF_MEMORY);
    return first;
}

// The identifiers of a map that lie in [first, first + range - 1]. Walking
// the map, not the range, keeps a huge range cheap.
template <typename T>
std::vector<unsigned> idsInRange(const IIDMap<T*>& map, unsigned first, QMint range) {
    const std::uint64_t last = std::uint64_t{first} + static_cast<std::uint64_t>(range) - 1;
    std::vector<unsigned> found;
    for (auto it = map.iterator(); !it->atEnd(); it->advance()) {
        const unsigned id = it->current();
        if (id >= first && id <= last) {
            found.push_back(id);
        }
    }
    return found;
}

}  // namespace
}  // namespace QM

using namespace QM;

extern "C" {

QM_API QMuint qmGenShapes(QMint range) {
    return callInContext<QMuint>(0, [&](Context& context) {
        require(range >= 0, QM_INVALID_VALUE);
        require(context.openShape == nullptr, QM_INVALID_OPERATION);
        return generate(context, IDGenerator::kShapePool, range);
    });
}

QM_API void qmDeleteShapes(QMuint shapeId, QMint range) {
    callInContext([&](Context& context) {
        require(range >= 0, QM_INVALID_VALUE);
        require(context.openShape == nullptr, QM_INVALID_OPERATION);
        if (range == 0) {
            return;
        }
        for (unsigned id : idsInRange(context.persistentScene->getShapes(), shapeId, range)) {
            context.persistentScene->removeShape(id);
        }
        context.ids->release(IDGenerator::kShapePool, shapeId, range);
    });
}

QM_API QMboolean qmIsShape(QMuint shapeId) {
    return callInContext<QMboolean>(QM_FALSE, [&](Context& context) {
        require(context.openShape == nullptr, QM_INVALID_OPERATION);
        return static_cast<QMboolean>(context.ids->isReserved(IDGenerator::kShapePool, shapeId) ? QM_TRUE : QM_FALSE);
    });
}

QM_API QMuint qmGenEffects(QMint range) {
    return callInContext<QMuint>(0,
                                 [&](Context& context) { return generate(context, IDGenerator::kEffectPool, range); });
}

// The effects started under the identifiers go with them: the open frame's
// are dropped, and the last frame's are marked done, as qmStopEffect does,
// so that they stop at the next frame end; nothing could stop them once
// their identifiers are free. The collision thread reads and writes the
// effects of the handed-over scene under the renderer lock.
QM_API void qmDeleteEffects(QMuint effectId, QMint range) {
    callInContext(CallLocks::RendererAndState, [&](Context& context) {
        require(range >= 0, QM_INVALID_VALUE);
        if (range == 0) {
            return;
        }
        for (unsigned id : idsInRange(context.persistentScene->getEffects(), effectId, range)) {
            context.persistentScene->removeEffect(id);
        }
        if (context.inFrame) {
            for (unsigned id : idsInRange(context.frameScene->getEffects(), effectId, range)) {
                context.frameScene->removeEffect(id);
            }
        }
        const EffectMap& last = context.lastScene->getEffects();
        for (unsigned id : idsInRange(last, effectId, range)) {
            last.find(id)->getProperties().set<bool>(QM_INT_EFFECT_IS_DONE, true);
        }
        context.ids->release(IDGenerator::kEffectPool, effectId, range);
    });
}

QM_API QMboolean qmIsEffect(QMuint effectId) {
    return callInContext<QMboolean>(QM_FALSE, [&](Context& context) {
        return static_cast<QMboolean>(context.ids->isReserved(IDGenerator::kEffectPool, effectId) ? QM_TRUE : QM_FALSE);
    });
}

}  // extern "C"
