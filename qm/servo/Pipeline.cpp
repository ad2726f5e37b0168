#include "qm/servo/Pipeline.h"

#include <algorithm>
#include <cmath>

#include "qm/api/Symbols.h"
#include "zvu/Quaternion.h"

namespace QM {

namespace {

// The process's pipeline scheduler and the lock that creates and destroys
// it.
std::mutex gSchedulerLock;
PipelineScheduler* gScheduler = nullptr;

// The stage callbacks: user data is the stage number.
ZVCallbackCode stageCallback(void* data) {
    const int stage = static_cast<int>(reinterpret_cast<std::intptr_t>(data));
    // Read without the lock: the scheduler outlives its callbacks (it
    // unschedules them before it goes) and the pointer does not change while
    // they are scheduled.
    PipelineScheduler* scheduler = gScheduler;
    if (scheduler != nullptr) {
        for (IPipelineStages* pipeline : scheduler->pipelines()) {
            pipeline->runStage(stage);
        }
    }
    return ZV_CALLBACK_CONTINUE;
}

struct ListChange {
    PipelineScheduler* scheduler;
    IPipelineStages* pipeline;
};

ZVCallbackCode appendPipeline(void* data) {
    auto* change = static_cast<ListChange*>(data);
    auto& list = change->scheduler->pipelines();
    if (std::find(list.begin(), list.end(), change->pipeline) == list.end()) {
        list.push_back(change->pipeline);
        change->pipeline->initialise();
    }
    return ZV_CALLBACK_DONE;
}

ZVCallbackCode erasePipeline(void* data) {
    auto* change = static_cast<ListChange*>(data);
    auto& list = change->scheduler->pipelines();
    auto at = std::find(list.begin(), list.end(), change->pipeline);
    if (at != list.end()) {
        change->pipeline->stopAllForceShaders();
        list.erase(at);
    }
    return ZV_CALLBACK_DONE;
}

zvu::zvuVector3Dd lerp(const zvu::zvuVector3Dd& a, const zvu::zvuVector3Dd& b, double t) {
    return a * (1.0 - t) + b * t;
}

}  // namespace

// ---------------------------------------------------------------- scheduler

PipelineScheduler& PipelineScheduler::acquire() {
    std::lock_guard<std::mutex> guard(gSchedulerLock);
    if (gScheduler == nullptr) {
        gScheduler = new PipelineScheduler();
    }
    ++gScheduler->references_;
    return *gScheduler;
}

void PipelineScheduler::release() {
    std::lock_guard<std::mutex> guard(gSchedulerLock);
    if (--references_ == 0) {
        gScheduler = nullptr;
        delete this;
    }
}

PipelineScheduler::PipelineScheduler() {
    pipelines_.reserve(16);
    for (int i = 0; i < Pipeline::kStageCount; ++i) {
        handles_[static_cast<std::size_t>(i)] = zvScheduleAsynchronous(
            stageCallback, reinterpret_cast<void*>(static_cast<std::intptr_t>(i)), kStagePriority[i]);
    }
}

PipelineScheduler::~PipelineScheduler() {
    for (ZVSchedulerHandle handle : handles_) {
        if (handle != ZV_INVALID_HANDLE) {
            zvUnschedule(handle);
        }
    }
}

bool PipelineScheduler::addPipeline(IPipelineStages* pipeline, IHapticDevice* device) {
    std::lock_guard<std::mutex> guard(lock_);
    DeviceScope scope(device->getHandle());
    if (!started_) {
        if (!zvIsSchedulerRunning()) {
            zvStartScheduler();
            if (!zvIsSchedulerRunning()) {
                device->collectErrors();
                return false;
            }
            ownsScheduler_ = true;
        }
        started_ = true;
    }
    ListChange change{this, pipeline};
    zvScheduleSynchronous(appendPipeline, &change, ZV_MAX_SCHEDULER_PRIORITY);
    return true;
}

bool PipelineScheduler::removePipeline(IPipelineStages* pipeline, IHapticDevice* device) {
    std::lock_guard<std::mutex> guard(lock_);
    DeviceScope scope(device->getHandle());
    ListChange change{this, pipeline};
    zvScheduleSynchronous(erasePipeline, &change, ZV_MAX_SCHEDULER_PRIORITY);
    // A pipeline the stopped loop still lists is taken out here: no tick
    // can run any more, so nothing races with it.
    erasePipeline(&change);
    if (started_ && pipelines_.empty()) {
        if (ownsScheduler_) {
            zvStopScheduler();
            ownsScheduler_ = false;
        }
        started_ = false;
    }
    return true;
}

// ---------------------------------------------------------------- pipeline

Pipeline::Pipeline() {
    proxyShaders_.reserve(4);
    forceShaders_.reserve(16);
}

Pipeline::~Pipeline() { stop(); }

bool Pipeline::start() {
    std::lock_guard<std::mutex> guard(lock_);
    if (isRunning()) {
        return true;
    }
    if (device_ == nullptr || current_ == nullptr || previous_ == nullptr || target_ == nullptr) {
        return false;
    }
    PipelineScheduler& scheduler = PipelineScheduler::acquire();
    if (!scheduler.addPipeline(this, device_)) {
        scheduler.release();
        return false;
    }
    scheduler_ = &scheduler;
    running_.store(true, std::memory_order_release);
    return true;
}

bool Pipeline::stop() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!isRunning()) {
        return true;
    }
    if (!scheduler_->removePipeline(this, device_)) {
        return false;
    }
    running_.store(false, std::memory_order_release);
    scheduler_->release();
    scheduler_ = nullptr;
    return true;
}

void Pipeline::addProxyShader(const IProxyShader* shader) {
    if (shader != nullptr && std::find(proxyShaders_.begin(), proxyShaders_.end(), shader) == proxyShaders_.end()) {
        proxyShaders_.push_back(shader);
    }
}

void Pipeline::removeProxyShader(const IProxyShader* shader) {
    proxyShaders_.erase(std::remove(proxyShaders_.begin(), proxyShaders_.end(), shader), proxyShaders_.end());
}

void Pipeline::addForceShader(IForceShader* shader, void* data) {
    if (shader == nullptr) {
        return;
    }
    auto at =
        std::find_if(forceShaders_.begin(), forceShaders_.end(), [&](const auto& e) { return e.first == shader; });
    if (at != forceShaders_.end()) {
        at->second = data;
    } else {
        forceShaders_.emplace_back(shader, data);
    }
    if (target_ != nullptr) {
        shader->start(*target_, output_, data);
    }
}

void Pipeline::removeForceShader(IForceShader* shader) {
    auto at =
        std::find_if(forceShaders_.begin(), forceShaders_.end(), [&](const auto& e) { return e.first == shader; });
    if (at == forceShaders_.end()) {
        return;
    }
    if (target_ != nullptr) {
        shader->stop(*target_, output_, at->second);
    }
    forceShaders_.erase(at);
}

void Pipeline::updateForceShader(IForceShader* shader, void* argument) {
    auto at =
        std::find_if(forceShaders_.begin(), forceShaders_.end(), [&](const auto& e) { return e.first == shader; });
    if (at != forceShaders_.end() && target_ != nullptr) {
        shader->update(*target_, output_, argument, at->second);
    }
}

void Pipeline::adoptForceShaderStorage(std::vector<std::pair<IForceShader*, void*>>& storage) noexcept {
    if (storage.capacity() < forceShaders_.size()) {
        return;
    }
    storage.assign(forceShaders_.begin(), forceShaders_.end());
    forceShaders_.swap(storage);
}

void Pipeline::startAllForceShaders() noexcept {
    if (target_ == nullptr) {
        return;
    }
    for (auto& [shader, data] : forceShaders_) {
        shader->start(*target_, output_, data);
    }
}

void Pipeline::stopAllForceShaders() noexcept {
    if (target_ == nullptr) {
        return;
    }
    for (auto& [shader, data] : forceShaders_) {
        shader->stop(*target_, output_, data);
    }
}

void Pipeline::restartAllForceShaders() noexcept {
    stopAllForceShaders();
    startAllForceShaders();
}

void Pipeline::reset(bool withFrame) noexcept {
    if (current_ != nullptr) {
        current_->uninitialise();
    }
    if (previous_ != nullptr) {
        previous_->uninitialise();
    }
    if (withFrame && device_ != nullptr) {
        device_->beginFrame();
        device_->endFrame();
    }
    if (target_ != nullptr && device_ != nullptr) {
        device_->readState(*target_);
        target_->copyMotionState(output_);
    }
    proxyUpdated();
}

void Pipeline::initialise() noexcept {
    reset(true);
    startAllForceShaders();
}

void Pipeline::proxyUpdated() noexcept {
    const float average = ((kAveragingWindow - 1) * averageTicks_ + static_cast<float>(ticks_)) / kAveragingWindow;
    averageTicks_ = average < 1.0f ? 1.0f : average;
    ticks_ = 0;
}

void Pipeline::runStage(int stage) noexcept {
    if (device_ == nullptr || current_ == nullptr || previous_ == nullptr || target_ == nullptr) {
        return;
    }
    DeviceScope scope(device_->getHandle());
    switch (stage) {
    case 1: stage1(); break;
    case 2: stage2(); break;
    case 3: stage3(); break;
    case 4: stage4(); break;
    case 5: stage5(); break;
    case 6: stage6(); break;
    default: break;
    }
    // A new error of this device restarts the proxies from the device.
    if (device_->collectErrors() > 0) {
        reset(false);
        restartAllForceShaders();
    }
}

void Pipeline::stage1() noexcept {
    device_->beginFrame();
    device_->readState(*target_);
    if (!current_->isInitialised()) {
        current_->initialise(*target_);
        target_->copyMotionState(output_);
    }
    if (!previous_->isInitialised()) {
        previous_->initialise(*target_);
    }
    force_ = {0.0, 0.0, 0.0};
    torque_ = {0.0, 0.0, 0.0};
}

void Pipeline::stage2() noexcept {
    current_->update(*target_);
    previous_->update(*target_);
}

void Pipeline::stage3() noexcept {
    for (const IProxyShader* shader : proxyShaders_) {
        shader->shade(*target_, *current_);
        shader->shade(*target_, *previous_);
    }
}

void Pipeline::stage4() noexcept {
    interpolateOutput();
    const IImpedanceController& controller = device_->getImpedanceController();
    force_ = controller.computeForce(*target_, output_);
    torque_ = controller.computeTorque(*target_, output_);
}

void Pipeline::stage5() noexcept {
    for (auto& [shader, data] : forceShaders_) {
        shader->computeForce(*target_, output_, data, device_->getLimits(), force_, torque_);
    }
}

void Pipeline::stage6() noexcept {
    device_->addForceAndTorque(force_, torque_);
    device_->endFrame();
}

// Between two collision steps the output point glides from the previous
// proxy's rendered point to the current one's over the average number of
// ticks between steps, so the force does not jump at each step.
void Pipeline::interpolateOutput() noexcept {
    ++ticks_;
    double t = static_cast<double>(ticks_) / averageTicks_;
    t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
    const MotionTransform& from = *previous_->motionTransform(3);
    const MotionTransform& to = *current_->motionTransform(3);
    output_.set(lerp(from.position(), to.position(), t), zvu::slerp(from.rotation(), to.rotation(), t).normalized());
}

// The move is made as a proxy update toward a target shifted by the move,
// so that surfaces stop it; the proxy's contact position then keeps its
// place relative to the shift.
void Pipeline::moveProxy(const zvu::zvuVector3Dd& translation, const zvu::zvuQuaternion& rotation) noexcept {
    if (current_ == nullptr) {
        return;
    }
    MotionTransform& contact = *current_->motionTransform(0);
    const zvu::zvuVector3Dd p0 = contact.position();
    const zvu::zvuQuaternion r0 = contact.rotation();
    const zvu::zvuVector3Dd last = contact.lastPosition();
    const zvu::zvuQuaternion lastRotation = contact.lastRotation();
    HapticDeviceTarget moved;
    moved.place(last + translation, lastRotation * rotation);
    moved.setLinearVelocity(translation);
    current_->update(moved);
    const zvu::zvuVector3Dd p1 = contact.position();
    const zvu::zvuQuaternion r1 = contact.rotation();
    const zvu::zvuVector3Dd d = p1 - last;
    const zvu::zvuQuaternion delta = lastRotation.conjugate() * r1;
    contact.set(p0 - d, r0 * delta.conjugate());
    contact.setLastPosition(p1);
    contact.setLastRotation(r1);
    proxyMoved(d);
}

void Pipeline::proxyMoved(const zvu::zvuVector3Dd& displacement) noexcept {
    for (const IProxyShader* shader : proxyShaders_) {
        shader->proxyMoved(*current_, displacement);
    }
}

}  // namespace QM
