// The effect manager of a rendering context: which effects start, change
// and stop, and when each thread does its part.
//
//  - compare (client thread, qmEndFrame, renderer lock): the new frame's
//    effects against the running ones; fills the start, update and stop
//    queues, and carries running effects over into the new scene; an
//    effect done (stopped, deleted or finished) leaves the scene there,
//    and one the servo side has not started yet never starts;
//  - advanceClocks (collision thread, each step, renderer lock): effect
//    clocks, and triggered effects whose duration has passed become done;
//  - prepareApply / apply / finishApply (collision thread, servo thread in
//    the proxy exchange, collision thread): the queued changes are taken
//    over, made on the pipeline, and what they release is released. Every
//    allocation and every release that may free happens on the collision
//    thread, so the servo thread neither allocates nor frees.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "qm/effects/IEffect.h"
#include "qm/shapes/Scene.h"

namespace QM {

class Pipeline;

class IEffectManager {
public:
    virtual ~IEffectManager() = default;
    // Takes the time of the clocks' next advance from now.
    virtual void resetClock() = 0;
    // Adds the time since the last advance to every effect of the scene.
    virtual void advanceClocks(const IScene& scene) = 0;
    // `previous` is null when no scene was handed over before.
    virtual void compare(const IScene* previous, IScene& next) = 0;
    virtual void prepareApply(const Pipeline& pipeline) = 0;
    virtual void apply(Pipeline& pipeline) noexcept = 0;
    virtual void finishApply() = 0;
    virtual bool isRunning(const IForceShader* shader) const = 0;
};

class EffectManager final : public IEffectManager {
public:
    // Seconds of a monotonic clock.
    using Clock = double (*)(void* context);

    EffectManager();
    ~EffectManager() override;
    EffectManager(const EffectManager&) = delete;
    EffectManager& operator=(const EffectManager&) = delete;

    void resetClock() override;
    void advanceClocks(const IScene& scene) override;
    void compare(const IScene* previous, IScene& next) override;
    void prepareApply(const Pipeline& pipeline) override;
    void apply(Pipeline& pipeline) noexcept override;
    void finishApply() override;
    bool isRunning(const IForceShader* shader) const override;

    // Replaces the clock (tests drive it by hand); null restores the
    // performance counter. Collision thread, or while no step runs.
    void setClock(Clock clock, void* context);
    // How many effects run on the servo side (renderer lock).
    std::size_t runningCount() const { return running_.size(); }

private:
    using Update = std::pair<IEffect*, IEffect*>;
    using ShaderEntry = std::pair<IForceShader*, void*>;

    double now() const;
    void queueUpdate(IEffect* running, IEffect* next);
    // Drops the queued start of an effect that has not reached the servo
    // side (client thread, renderer lock: no exchange runs meanwhile).
    void withdrawStart(IEffect* effect);
    static void releaseAll(std::vector<IEffect*>& effects);
    static void releaseAll(std::vector<Update>& updates);

    // Filled by compare; each entry holds a reference.
    std::vector<IEffect*> starts_;
    std::vector<Update> updates_;
    std::vector<IEffect*> stops_;
    // Taken over by prepareApply for one exchange.
    std::vector<IEffect*> batchStarts_;
    std::vector<Update> batchUpdates_;
    std::vector<IEffect*> batchStops_;
    bool batchApplied_ = false;
    // The effects whose shaders are in the pipeline, each with a reference;
    // changed only in apply, with room made beforehand.
    std::vector<IEffect*> running_;
    // Stopped effects, released after the exchange.
    std::vector<IEffect*> retired_;
    // Larger storage for the pipeline's force shaders, swapped in by apply;
    // afterwards it holds the old storage, freed by finishApply.
    std::vector<ShaderEntry> shaderStorage_;

    Clock clock_ = nullptr;
    void* clockContext_ = nullptr;
    double lastAdvance_ = 0.0;
};

}  // namespace QM
