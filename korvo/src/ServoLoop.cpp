#include "ServoLoop.h"

#include <algorithm>

#include "korvo/korvo_sim.h"

namespace korvo::sim {

namespace {

constexpr int kRealtimePriority = 80;
// At most this many periods of physics are caught up after missed ticks; a
// longer stall (a debugger, a suspended process) is not replayed.
constexpr unsigned kMaxCatchUpSteps = 100;

// The sleep before a deadline ends this margin early and the rest is spun,
// because a sleeping thread wakes up late by the scheduler's latency. The
// margin follows the wake-up latency actually seen (a slowly decaying
// maximum) within fixed bounds, so that a quiet machine spins little.
constexpr std::uint64_t kMinSpinMarginNs = 50'000;
constexpr std::uint64_t kMaxSpinMarginNs = 500'000;
constexpr std::uint64_t kSpinSafetyNs = 20'000;

bool sanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

}  // namespace

ServoLoop::~ServoLoop() { stop(); }

// Preparing the process: memory is pinned where the process may do so, so
// that page faults cannot stall a tick. Sanitizer builds skip this: their
// shadow memory is far too large to pin.
int ServoLoop::initialise() noexcept {
    if (initialised_.exchange(true)) return KORVO_SERVO_OK;
    if (!sanitizedBuild()) plat::lockProcessMemory();
    return KORVO_SERVO_OK;
}

void ServoLoop::setPreCallback(KorvoServoCallback callback, void* context) noexcept {
    std::lock_guard lock(callbackMutex_);
    callbacks_.pre = callback;
    callbacks_.preContext = callback ? context : nullptr;
}

void ServoLoop::setPostCallback(KorvoServoCallback callback, void* context) noexcept {
    std::lock_guard lock(callbackMutex_);
    callbacks_.post = callback;
    callbacks_.postContext = callback ? context : nullptr;
}

void ServoLoop::setErrorCallback(KorvoServoErrorCallback callback, void* context) noexcept {
    std::lock_guard lock(callbackMutex_);
    callbacks_.error = callback;
    callbacks_.errorContext = callback ? context : nullptr;
}

bool ServoLoop::onServoThread() const noexcept {
    return servoThread_.load(std::memory_order_acquire) == plat::currentThreadId();
}

bool ServoLoop::running() const noexcept { return active_.load(std::memory_order_acquire); }

bool ServoLoop::manualClock() const noexcept { return manual_.load(std::memory_order_acquire); }

// A loop whose stop was requested from its own thread is joined by the next
// start, stop or clock change made on another thread.
void ServoLoop::joinFinished() noexcept {
    if (thread_.joinable()) thread_.join();
    thread_ = plat::Thread();
}

int ServoLoop::start(KorvoServoCallback callback, void* context) noexcept {
    if (!initialised()) return KORVO_SERVO_NOT_INITIALISED;
    if (callback == nullptr) return KORVO_SERVO_NO_CALLBACK;
    if (onServoThread()) return KORVO_SERVO_ALREADY_RUNNING;
    std::lock_guard life(lifeMutex_);
    if (active_.load(std::memory_order_acquire)) return KORVO_SERVO_ALREADY_RUNNING;
    joinFinished();
    {
        std::lock_guard lock(callbackMutex_);
        callbacks_.servo = callback;
        callbacks_.servoContext = context;
    }
    {
        std::lock_guard lock(tickMutex_);
        requested_ = 0;
        completed_ = 0;
        threadAlive_ = true;
    }
    timeStamp_.store(0.0);
    instantRate_.store(0.0);
    lateness_.store(0.0);
    simulatedTime_.store(0.0);
    ticks_.store(0);
    overrunPending_ = false;
    timeBase_ = 0.0;
    timePeriod_ = 0.0;
    periodsSinceBase_ = 0;
    stopRequested_.store(false, std::memory_order_release);
    active_.store(true, std::memory_order_release);
    const bool manual = manual_.load(std::memory_order_acquire);
    try {
        thread_ = plat::Thread("KorvoServo", [this, manual] { body(manual); });
    } catch (...) {
        active_.store(false, std::memory_order_release);
        {
            std::lock_guard lock(tickMutex_);
            threadAlive_ = false;
            settleWaiters(true);
        }
        tickCv_.notify_all();
        return KORVO_SERVO_THREAD_FAILED;
    }
    return KORVO_SERVO_OK;
}

int ServoLoop::stop() noexcept {
    if (onServoThread()) {
        if (!active_.exchange(false)) return KORVO_SERVO_NOT_RUNNING;
        stopRequested_.store(true, std::memory_order_release);
        return KORVO_SERVO_OK;
    }
    std::lock_guard life(lifeMutex_);
    if (!thread_.joinable()) return KORVO_SERVO_NOT_RUNNING;
    active_.store(false, std::memory_order_release);
    {
        std::lock_guard lock(tickMutex_);
        stopRequested_.store(true, std::memory_order_release);
    }
    tickCv_.notify_all();
    joinFinished();
    return KORVO_SERVO_OK;
}

int ServoLoop::setRate(unsigned rate) noexcept {
    if (rate < KORVO_MIN_SERVO_RATE || rate > KORVO_MAX_SERVO_RATE) return KORVO_SERVO_BAD_RATE;
    rate_.store(rate, std::memory_order_relaxed);
    return KORVO_SERVO_OK;
}

ServoTiming ServoLoop::timing() const noexcept {
    return {timeStamp_.load(), instantRate_.load(), lateness_.load(), simulatedTime_.load(), ticks_.load()};
}

int ServoLoop::setManualClock(bool on) noexcept {
    if (onServoThread()) return KORVO_SIM_E_BUSY;
    std::lock_guard life(lifeMutex_);
    if (active_.load(std::memory_order_acquire)) return KORVO_SIM_E_BUSY;
    joinFinished();
    manual_.store(on, std::memory_order_release);
    return KORVO_OK;
}

// Manual clock: callers add to the total of requested ticks and wait until
// the servo thread's count of completed ticks reaches their target, so
// several callers can request ticks at once.
int ServoLoop::runTicks(unsigned count) noexcept {
    if (onServoThread()) return KORVO_SIM_E_WRONG_THREAD;
    if (!active_.load(std::memory_order_acquire)) return KORVO_SIM_E_NOT_RUNNING;
    if (!manual_.load(std::memory_order_acquire)) return KORVO_SIM_E_NOT_MANUAL;
    std::unique_lock lock(tickMutex_);
    if (!threadAlive_ || stopRequested_.load(std::memory_order_acquire)) return KORVO_SIM_E_NOT_RUNNING;
    requested_ += count;
    TickWaiter waiter;
    waiter.target = requested_;
    if (completed_ >= waiter.target) return KORVO_OK;
    waiter.next = waiters_;
    waiters_ = &waiter;
    tickCv_.notify_all();
    tickCv_.wait(lock, [&] { return waiter.settled; });
    return waiter.ran ? static_cast<int>(KORVO_OK) : static_cast<int>(KORVO_SIM_E_NOT_RUNNING);
}

void ServoLoop::settleWaiters(bool loopEnded) noexcept {
    for (TickWaiter** link = &waiters_; *link != nullptr;) {
        TickWaiter* waiter = *link;
        const bool ran = completed_ >= waiter->target;
        if (ran || loopEnded) {
            waiter->ran = ran;
            waiter->settled = true;
            *link = waiter->next;
        } else {
            link = &waiter->next;
        }
    }
}

int ServoLoop::reset() noexcept {
    if (onServoThread()) return KORVO_SIM_E_BUSY;
    std::lock_guard life(lifeMutex_);
    if (active_.load(std::memory_order_acquire)) return KORVO_SIM_E_BUSY;
    joinFinished();
    manual_.store(false);
    rate_.store(KORVO_DEFAULT_SERVO_RATE);
    injectedError_.store(0);
    {
        std::lock_guard lock(callbackMutex_);
        callbacks_ = Callbacks{};
    }
    timeStamp_.store(0.0);
    instantRate_.store(0.0);
    lateness_.store(0.0);
    simulatedTime_.store(0.0);
    ticks_.store(0);
    overrunTolerance_.store(kDefaultOverrunTolerance);
    return KORVO_OK;
}

void ServoLoop::body(bool manual) noexcept {
    servoThread_.store(plat::currentThreadId(), std::memory_order_release);
    if (manual)
        runManual();
    else
        runRealTime();
    client_.loopEnded();
    servoThread_.store(0, std::memory_order_release);
    std::lock_guard lock(tickMutex_);
    threadAlive_ = false;
    settleWaiters(true);
    tickCv_.notify_all();
}

// One tick: servo-loop errors due (an injected code, an overrun of the last
// tick) go to the error callback first; then pre, servo and post; then the
// tick is recorded and the world advances by one period, during which the
// force commanded in this tick acts.
void ServoLoop::tick(double timeStamp) noexcept {
    Callbacks cb;
    {
        std::lock_guard lock(callbackMutex_);
        cb = callbacks_;
    }
    const double period = 1.0 / rate_.load(std::memory_order_relaxed);
    timeStamp_.store(timeStamp, std::memory_order_relaxed);
    const int injected = injectedError_.exchange(0, std::memory_order_acq_rel);
    if (cb.error != nullptr) {
        if (injected != 0) cb.error(injected, cb.errorContext);
        if (overrunPending_) cb.error(KORVO_SERVO_OVERRUN, cb.errorContext);
    }
    overrunPending_ = false;
    if (cb.pre != nullptr) cb.pre(cb.preContext);
    if (cb.servo != nullptr) cb.servo(cb.servoContext);
    if (cb.post != nullptr) cb.post(cb.postContext);
    const double now = simulatedTime_.load(std::memory_order_relaxed);
    client_.afterCallbacks(now);
    advanceWorld(period, 1);
    ticks_.fetch_add(1, std::memory_order_relaxed);
}

void ServoLoop::advanceWorld(double period, unsigned steps) noexcept {
    client_.advance(period, steps);
    if (period != timePeriod_) {
        timeBase_ += static_cast<double>(periodsSinceBase_) * timePeriod_;
        periodsSinceBase_ = 0;
        timePeriod_ = period;
    }
    periodsSinceBase_ += steps;
    simulatedTime_.store(timeBase_ + static_cast<double>(periodsSinceBase_) * timePeriod_, std::memory_order_relaxed);
}

void ServoLoop::runManual() noexcept {
    std::unique_lock lock(tickMutex_);
    while (!stopRequested_.load(std::memory_order_acquire)) {
        tickCv_.wait(lock, [&] { return stopRequested_.load(std::memory_order_acquire) || requested_ > completed_; });
        const std::uint64_t todo = requested_ - completed_;
        lock.unlock();
        std::uint64_t done = 0;
        const double rate = rate_.load(std::memory_order_relaxed);
        instantRate_.store(rate, std::memory_order_relaxed);
        while (done < todo && !stopRequested_.load(std::memory_order_acquire)) {
            tick(simulatedTime_.load(std::memory_order_relaxed));
            ++done;
        }
        lock.lock();
        completed_ += done;
        settleWaiters(false);
        tickCv_.notify_all();
    }
}

// Real time: deadlines lie on a fixed grid from the start of the loop
// (absolute deadlines, so no error accumulates). Each wait sleeps until a
// margin before the deadline and spins the rest. A tick that ends after the
// next deadline is an overrun: the deadlines that have passed are skipped, and
// the physics catches up on the skipped periods at once, so that simulated
// time keeps pace with real time. Those periods passed while the motors held
// the force of the tick that overran, so they are run with that force, not
// with the force of the next tick, which is computed only after them (and
// which may differ: the overrun error it receives may make a program drop
// its force for a tick). An overrun that misses more deadlines than the
// tolerance is reported at the next tick; shorter ones show only in the
// lateness figures.
void ServoLoop::runRealTime() noexcept {
    plat::setCurrentThreadRealtime(kRealtimePriority);
    const std::uint64_t start = plat::counter();
    std::uint64_t deadline = start;
    std::uint64_t previousStart = 0;
    std::uint64_t margin = kMaxSpinMarginNs;
    while (!stopRequested_.load(std::memory_order_acquire)) {
        const std::uint64_t periodNs = 1'000'000'000ULL / rate_.load(std::memory_order_relaxed);
        std::uint64_t now = plat::counter();
        if (deadline > now + margin) {
            const std::uint64_t wake = deadline - margin;
            plat::sleepUntil(wake);
            now = plat::counter();
            const std::uint64_t latency = now > wake ? now - wake : 0;
            margin = std::clamp(std::max(latency + kSpinSafetyNs, margin - margin / 1000), kMinSpinMarginNs,
                                kMaxSpinMarginNs);
        }
        while (now < deadline) {
            if (stopRequested_.load(std::memory_order_relaxed)) return;
            plat::cpuRelax();
            now = plat::counter();
        }
        if (stopRequested_.load(std::memory_order_acquire)) return;
        lateness_.store(static_cast<double>(now - deadline) * 1e-9, std::memory_order_relaxed);
        if (previousStart != 0)
            instantRate_.store(1e9 / static_cast<double>(now - previousStart), std::memory_order_relaxed);
        previousStart = now;
        tick(static_cast<double>(now - start) * 1e-9);
        deadline += periodNs;
        const std::uint64_t finished = plat::counter();
        if (finished > deadline) {
            const std::uint64_t missed = (finished - deadline) / periodNs + 1;
            if (missed > overrunTolerance_.load(std::memory_order_relaxed)) overrunPending_ = true;
            deadline += missed * periodNs;
            advanceWorld(1.0 / rate_.load(std::memory_order_relaxed),
                         static_cast<unsigned>(std::min<std::uint64_t>(missed, kMaxCatchUpSteps)));
        }
    }
}

}  // namespace korvo::sim
