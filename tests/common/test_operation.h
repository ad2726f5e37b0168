// Helpers for driving the scheduler classes without a device I/O library.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "common/Scheduler.h"

namespace sched::test {

// An operation whose body decides when it is done; counts its destruction.
class TestOperation : public ContinualSchedulerOperation {
public:
    explicit TestOperation(std::function<bool()> body, std::atomic<int>* destroyed = nullptr)
        : ContinualSchedulerOperation(&SchedulerThreadImp::servoLoopThread()),
          body_(std::move(body)),
          destroyed_(destroyed) {}
    ~TestOperation() override {
        if (destroyed_ != nullptr) {
            destroyed_->fetch_add(1);
        }
    }
    void execute() override {
        if (body_()) {
            markDone();
        }
    }
    bool isDone() const override { return done_.load(); }
    void markDone() override { done_.store(true); }
    void idleTick() override { idleTicks.fetch_add(1); }

    std::atomic<int> idleTicks{0};

private:
    std::function<bool()> body_;
    std::atomic<int>* destroyed_;
    std::atomic<bool> done_{false};
};

// One tick as the servo loop runs it: pre-servo, servo, post-servo.
inline void tick(ServoScheduler& servo) {
    ServoScheduler::preServoHandler(&servo);
    ServoScheduler::servoHandler(&servo);
    ServoScheduler::postServoHandler(&servo);
}

// Runs `count` ticks on a thread of their own, as a servo loop does.
inline void runTicks(ServoScheduler& servo, int count) {
    std::thread loop([&] {
        for (int i = 0; i < count; ++i) {
            tick(servo);
        }
    });
    loop.join();
}

// A servo loop that ticks continuously on its own thread until stopped.
class RunningLoop {
public:
    explicit RunningLoop(ServoScheduler& servo) : servo_(servo) {
        servo_.setLoopActive(true);
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                tick(servo_);
                ticks_.fetch_add(1);
                std::this_thread::yield();
            }
        });
    }
    ~RunningLoop() { stop(); }
    void stop() {
        if (thread_.joinable()) {
            stop_.store(true);
            thread_.join();
            servo_.setLoopActive(false);
        }
    }
    long ticks() const { return ticks_.load(); }

private:
    ServoScheduler& servo_;
    std::atomic<bool> stop_{false};
    std::atomic<long> ticks_{0};
    std::thread thread_;
};

}  // namespace sched::test
