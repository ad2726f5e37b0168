// The servo pipeline of a rendering context: seven stages that run every
// servo tick, from reading the device to commanding its force.
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "qm/collision/Proxy.h"
#include "qm/effects/IForceShader.h"
#include "qm/servo/HapticDevice.h"
#include "qm/servo/ProxyShaders.h"

namespace QM {

class PipelineScheduler;

// What the pipeline scheduler drives.
class IPipelineStages {
public:
    virtual ~IPipelineStages() = default;
    // Reset with a frame, then start every force shader.
    virtual void initialise() noexcept = 0;
    virtual void runStage(int stage) noexcept = 0;
    virtual void stopAllForceShaders() noexcept = 0;
};

// Stages (priorities in PipelineScheduler):
//  1 begin: begin the device frame, read the device into the target,
//    initialise proxies that are not, clear the force accumulators;
//  2 proxy: move the current and the previous proxy toward the device;
//  3 proxy shading: friction, stiffness, damping on both proxies;
//  4 impedance: interpolate the output point between the previous and the
//    current proxy's rendered points, and couple the device to it;
//  5 force shaders: the effects add their forces;
//  6 output: add the force and torque to the frame and end it.
// Client and collision threads change the pipeline only through
// synchronous servo operations, so the stages need no lock.
class Pipeline final : public IPipelineStages {
public:
    static constexpr int kStageCount = 7;
    static constexpr int kAveragingWindow = 5;

    Pipeline();
    ~Pipeline() override;
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Registers with the pipeline scheduler (starting the device library's
    // scheduler when it is not running). False when a collaborator is
    // missing or the scheduler could not start. Not on the servo thread.
    bool start();
    // Unregisters; false when the scheduler refused.
    bool stop();
    bool isRunning() const { return running_.load(std::memory_order_acquire); }

    // Wiring; only while stopped, or from a synchronous servo operation.
    void setDevice(IHapticDevice* device) { device_ = device; }
    IHapticDevice* getDevice() const { return device_; }
    void setCurrentProxy(IProxy* proxy) { current_ = proxy; }
    IProxy* getCurrentProxy() const { return current_; }
    void setPreviousProxy(IProxy* proxy) { previous_ = proxy; }
    IProxy* getPreviousProxy() const { return previous_; }
    void setTarget(HapticDeviceTarget* target) { target_ = target; }
    HapticDeviceTarget* getTarget() const { return target_; }
    void addProxyShader(const IProxyShader* shader);
    void removeProxyShader(const IProxyShader* shader);

    // Force shaders, in the order they were added (servo side only).
    void addForceShader(IForceShader* shader, void* data);
    void removeForceShader(IForceShader* shader);
    void updateForceShader(IForceShader* shader, void* argument);
    void startAllForceShaders() noexcept;
    void stopAllForceShaders() noexcept override;
    void restartAllForceShaders() noexcept;
    // Room for force shaders: adding one beyond the capacity would allocate
    // on the servo thread, so the effect manager makes larger storage on the
    // collision thread and hands it over in a synchronous operation, where
    // the entries move into it and `storage` receives the old storage to be
    // freed back on the collision thread. Nothing happens when `storage` is
    // too small for the entries.
    std::size_t forceShaderCount() const { return forceShaders_.size(); }
    std::size_t forceShaderCapacity() const { return forceShaders_.capacity(); }
    void adoptForceShaderStorage(std::vector<std::pair<IForceShader*, void*>>& storage) noexcept;

    // Uninitialises both proxies (they restart at the device at the next
    // tick); with a frame, opens and closes one device frame first.
    void reset(bool withFrame) noexcept;
    // After a proxy exchange: updates the average number of ticks between
    // two exchanges and restarts the count.
    void proxyUpdated() noexcept;
    // Moves the current proxy by a translation and rotation, as far as the
    // surfaces let it (a dynamic proxy move).
    void moveProxy(const zvu::zvuVector3Dd& translation, const zvu::zvuQuaternion& rotation) noexcept;
    const MotionTransform& getOutputMotion() const { return output_; }

    void initialise() noexcept override;
    void runStage(int stage) noexcept override;

    // The forces of the last stage 4 and 5, for tests and tools.
    const zvu::zvuVector3Dd& forceAccumulator() const { return force_; }
    float averageTicks() const { return averageTicks_; }

private:
    void stage1() noexcept;
    void stage2() noexcept;
    void stage3() noexcept;
    void stage4() noexcept;
    void stage5() noexcept;
    void stage6() noexcept;
    void interpolateOutput() noexcept;
    void proxyMoved(const zvu::zvuVector3Dd& displacement) noexcept;

    std::mutex lock_;
    std::atomic<bool> running_{false};
    PipelineScheduler* scheduler_ = nullptr;
    IHapticDevice* device_ = nullptr;
    IProxy* current_ = nullptr;
    IProxy* previous_ = nullptr;
    HapticDeviceTarget* target_ = nullptr;
    std::vector<const IProxyShader*> proxyShaders_;
    std::vector<std::pair<IForceShader*, void*>> forceShaders_;
    MotionTransform output_;
    zvu::zvuVector3Dd force_{};
    zvu::zvuVector3Dd torque_{};
    int ticks_ = 0;
    float averageTicks_ = 1.0f;
};

// Drives every pipeline of the process: seven servo callbacks, one per
// stage, each running that stage of every registered pipeline in order of
// registration. Created with the first pipeline, destroyed with the last.
class PipelineScheduler {
public:
    static constexpr unsigned kStagePriority[Pipeline::kStageCount] = {0xFF9B, 0xFF37, 0xFED3, 0xFE6F,
                                                                       0xFE0B, 0xFDA7, 0x0064};

    // The process's scheduler, created on first use, with a reference taken.
    static PipelineScheduler& acquire();
    // Drops a reference; the last one destroys the scheduler.
    void release();

    // Starts the device library's scheduler when it is not running (and then
    // remembers that it started it), and adds the pipeline at the next tick.
    // False when the scheduler could not be started.
    bool addPipeline(IPipelineStages* pipeline, IHapticDevice* device);
    // Removes the pipeline at the next tick; stops the device library's
    // scheduler when no pipeline is left and this library started it, so a
    // program that started it for its own callbacks keeps it running.
    bool removePipeline(IPipelineStages* pipeline, IHapticDevice* device);
    bool isStarted() const { return started_; }
    bool startedTheScheduler() const { return ownsScheduler_; }
    static unsigned priorityOf(int stage) { return kStagePriority[stage]; }

    // The pipeline list, for the stage callbacks (servo side).
    const std::vector<IPipelineStages*>& pipelines() const { return pipelines_; }
    std::vector<IPipelineStages*>& pipelines() { return pipelines_; }

private:
    PipelineScheduler();
    ~PipelineScheduler();

    std::mutex lock_;
    std::array<ZVSchedulerHandle, Pipeline::kStageCount> handles_{};
    std::vector<IPipelineStages*> pipelines_;
    bool started_ = false;
    bool ownsScheduler_ = false;
    int references_ = 0;
};

}  // namespace QM
