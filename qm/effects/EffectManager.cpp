#include "qm/effects/EffectManager.h"

#include <algorithm>

#include "platform/Platform.h"
#include "qm/api/Symbols.h"
#include "qm/effects/IForceShader.h"
#include "qm/servo/Pipeline.h"
#include "qm/state/AttributeMap.h"

namespace QM {

namespace {

std::vector<unsigned> effectIds(const IScene& scene) {
    std::vector<unsigned> ids;
    ids.reserve(scene.getEffects().size());
    for (auto it = scene.getEffects().iterator(); !it->atEnd(); it->advance()) {
        ids.push_back(it->current());
    }
    return ids;
}

bool flag(const IEffect& effect, QMenum key) {
    bool value = false;
    effect.getProperties().get<bool>(key, value);
    return value;
}

IEffect* referenced(IEffect* effect) {
    effect->addReference();
    return effect;
}

}  // namespace

EffectManager::EffectManager() { lastAdvance_ = now(); }

EffectManager::~EffectManager() {
    releaseAll(starts_);
    releaseAll(updates_);
    releaseAll(stops_);
    releaseAll(batchStarts_);
    releaseAll(batchUpdates_);
    releaseAll(batchStops_);
    releaseAll(running_);
    releaseAll(retired_);
}

void EffectManager::releaseAll(std::vector<IEffect*>& effects) {
    for (IEffect* effect : effects) {
        effect->releaseReference();
    }
    effects.clear();
}

void EffectManager::releaseAll(std::vector<Update>& updates) {
    for (auto& [running, next] : updates) {
        running->releaseReference();
        next->releaseReference();
    }
    updates.clear();
}

double EffectManager::now() const {
    if (clock_ != nullptr) {
        return clock_(clockContext_);
    }
    return static_cast<double>(plat::counter()) / static_cast<double>(plat::counterFrequency());
}

void EffectManager::setClock(Clock clock, void* context) {
    clock_ = clock;
    clockContext_ = context;
    lastAdvance_ = now();
}

void EffectManager::resetClock() { lastAdvance_ = now(); }

// A triggered effect ends by itself once its clock has passed its duration
// (milliseconds); the others run until they are stopped.
void EffectManager::advanceClocks(const IScene& scene) {
    const double time = now();
    const double elapsed = time - lastAdvance_;
    lastAdvance_ = time;
    const EffectMap& effects = scene.getEffects();
    for (auto it = effects.iterator(); !it->atEnd(); it->advance()) {
        AttributeMap& properties = effects.find(it->current())->getProperties();
        double clock = 0.0;
        double duration = 0.0;
        properties.get<double>(QM_INT_EFFECT_TIME, clock);
        properties.get<double>(QM_EFFECT_PROPERTY_DURATION, duration);
        clock += elapsed;
        properties.set<double>(QM_INT_EFFECT_TIME, clock);
        bool triggered = false;
        properties.get<bool>(QM_INT_EFFECT_WAS_TRIGGERED, triggered);
        if (triggered && clock > duration / 1000.0) {
            properties.set<bool>(QM_INT_EFFECT_IS_DONE, true);
        }
    }
}

// A new effect under an identifier that already has one updates the
// running effect, which then stays in the scene under its identifier: so
// effects keep their identity from frame to frame without being started
// again, and a done effect leaves both scenes once its shader is queued to
// stop. The running effect takes the new properties here at once (its own
// map is the client's), and its shader at the next exchange.
void EffectManager::compare(const IScene* previous, IScene& next) {
    if (previous == nullptr) {
        for (const unsigned id : effectIds(next)) {
            IEffect* effect = next.getEffects().find(id);
            if (effect->getForceShader() != nullptr) {
                starts_.push_back(referenced(effect));
            }
        }
        return;
    }
    for (const unsigned id : effectIds(next)) {
        IEffect* effect = next.getEffects().find(id);
        IEffect* running = previous->getEffects().find(id);
        if (running == effect) {
            continue;
        }
        if (running != nullptr) {
            running->copyAllProperties(effect->getProperties());
            queueUpdate(running, effect);
        } else if (effect->getForceShader() != nullptr) {
            starts_.push_back(referenced(effect));
        }
    }
    for (const unsigned id : effectIds(*previous)) {
        IEffect* running = previous->getEffects().find(id);
        if (flag(*running, QM_INT_EFFECT_IS_DONE)) {
            // Done before the servo side started it (no step since its
            // start): it must never start, so its start is withdrawn.
            if (isRunning(running->getForceShader())) {
                stops_.push_back(referenced(running));
            } else {
                withdrawStart(running);
            }
            next.removeEffect(id);
        } else if (next.getEffects().find(id) != running) {
            next.removeEffect(id);
            next.addEffect(running);
        }
    }
}

void EffectManager::withdrawStart(IEffect* effect) {
    for (std::vector<IEffect*>* queue : {&starts_, &batchStarts_}) {
        const auto at = std::find(queue->begin(), queue->end(), effect);
        if (at != queue->end()) {
            queue->erase(at);
            effect->releaseReference();
        }
    }
}

// One pending update per running effect, the latest: frames that end while
// no collision step runs (no device) do not pile updates up.
void EffectManager::queueUpdate(IEffect* running, IEffect* next) {
    for (Update& pending : updates_) {
        if (pending.first == running) {
            referenced(next);
            pending.second->releaseReference();
            pending.second = next;
            return;
        }
    }
    updates_.emplace_back(referenced(running), referenced(next));
}

// Everything apply needs is made here: room for the effects it starts and
// stops, and pipeline storage for the new shaders.
void EffectManager::prepareApply(const Pipeline& pipeline) {
    batchStarts_.insert(batchStarts_.end(), starts_.begin(), starts_.end());
    starts_.clear();
    batchUpdates_.insert(batchUpdates_.end(), updates_.begin(), updates_.end());
    updates_.clear();
    batchStops_.insert(batchStops_.end(), stops_.begin(), stops_.end());
    stops_.clear();
    running_.reserve(running_.size() + batchStarts_.size());
    retired_.reserve(retired_.size() + batchStops_.size());
    const std::size_t needed = pipeline.forceShaderCount() + batchStarts_.size();
    if (pipeline.forceShaderCapacity() < needed) {
        shaderStorage_.reserve(needed * 2);
    }
    for (IEffect* effect : batchStarts_) {
        effect->prepareServoProperties();
    }
    batchApplied_ = false;
}

// Servo thread, inside the proxy exchange: only pointer moves within room
// made beforehand, the shaders' start, update and stop, and reference
// counts that never reach zero here.
void EffectManager::apply(Pipeline& pipeline) noexcept {
    if (shaderStorage_.capacity() > pipeline.forceShaderCapacity()) {
        pipeline.adoptForceShaderStorage(shaderStorage_);
    }
    for (IEffect* effect : batchStarts_) {
        IForceShader* shader = effect->getForceShader();
        AttributeMap* properties = effect->getServoProperties();
        if (shader == nullptr || properties == nullptr || isRunning(shader) || running_.size() == running_.capacity()) {
            continue;
        }
        pipeline.addForceShader(shader, properties);
        running_.push_back(referenced(effect));
    }
    for (auto& [running, next] : batchUpdates_) {
        if (isRunning(running->getForceShader())) {
            pipeline.updateForceShader(running->getForceShader(), &next->getProperties());
        }
    }
    for (IEffect* effect : batchStops_) {
        auto at = std::find(running_.begin(), running_.end(), effect);
        if (at == running_.end() || retired_.size() == retired_.capacity()) {
            continue;
        }
        pipeline.removeForceShader(effect->getForceShader());
        running_.erase(at);
        retired_.push_back(effect);
    }
    // A friction effect drags its anchor along; the client reads where.
    for (IEffect* effect : running_) {
        if (effect->getType() == QM_EFFECT_FRICTION) {
            effect->getProperties().copyFrom(QM_EFFECT_PROPERTY_POSITION, *effect->getServoProperties());
        }
    }
    batchApplied_ = true;
}

// When the exchange did not run (the servo loop stopped), the batch waits
// for the next one.
void EffectManager::finishApply() {
    if (!batchApplied_) {
        return;
    }
    releaseAll(batchStarts_);
    releaseAll(batchUpdates_);
    releaseAll(batchStops_);
    releaseAll(retired_);
    std::vector<ShaderEntry>().swap(shaderStorage_);
}

bool EffectManager::isRunning(const IForceShader* shader) const {
    if (shader == nullptr) {
        return false;
    }
    return std::any_of(running_.begin(), running_.end(),
                       [shader](const IEffect* effect) { return effect->getForceShader() == shader; });
}

}  // namespace QM
