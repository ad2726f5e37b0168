// The scene renderer of a rendering context: the part of the context that
// works with the device, on the collision and servo threads.
#pragma once

#include <atomic>

#include "common/Lock.h"
#include "qm/qm.h"
#include "qm/state/AttributeMap.h"

namespace QM {

class IErrorManager;

class ISceneRenderer {
public:
    virtual ~ISceneRenderer() = default;
    // Starts rendering on the current device; true when running afterwards.
    // Does nothing when already running.
    virtual bool start() = 0;
    // Stops rendering; does nothing when not running.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    // The device rendered to; ZV_INVALID_HANDLE for none. Changed only while
    // stopped.
    virtual void setDevice(HZV device) = 0;
    virtual HZV getDevice() const = 0;
    // The shape identifier the renderer reserved for its own shape.
    virtual unsigned getReservedShapeId() const = 0;
    // Serialises frame boundaries, calibration requests and collision steps.
    virtual sched::Lock& getRendererLock() = 0;
    // Guards the state caches; taken after the renderer lock when both are
    // needed.
    virtual sched::Lock& getCacheLock() = 0;
    // The renderer's own parameters (proxy settings).
    virtual const IAttributeMap& getRendererParameters() const = 0;
    virtual IAttributeMap& getRendererParameters() = 0;
    // Takes a proxy-resolution change at once (used on the collision thread;
    // other threads' changes are taken over at the next frame end).
    virtual void setProxyResolution(bool enabled) = 0;
};

class SceneRenderer final : public ISceneRenderer {
public:
    SceneRenderer(IErrorManager& errors, unsigned reservedShapeId);
    ~SceneRenderer() override;
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;

    bool start() override;
    void stop() override;
    bool isRunning() const override { return running_.load(std::memory_order_acquire); }
    void setDevice(HZV device) override;
    HZV getDevice() const override { return device_.load(std::memory_order_acquire); }
    unsigned getReservedShapeId() const override { return reservedShapeId_; }
    sched::Lock& getRendererLock() override { return rendererLock_; }
    sched::Lock& getCacheLock() override { return cacheLock_; }
    const IAttributeMap& getRendererParameters() const override { return parameters_; }
    IAttributeMap& getRendererParameters() override { return parameters_; }
    void setProxyResolution(bool enabled) override;

private:
    IErrorManager& errors_;
    const unsigned reservedShapeId_;
    std::atomic<HZV> device_{ZV_INVALID_HANDLE};
    std::atomic<bool> running_{false};
    sched::CriticalSectionLock rendererLock_;
    sched::CriticalSectionLock cacheLock_;
    AttributeMap parameters_;
};

}  // namespace QM
