// The servo loop: a thread of its own that runs one tick per period, either
// against real-time deadlines or, on the manual clock, on request and as fast
// as possible.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "korvo/korvo.h"
#include "platform/Platform.h"

namespace korvo::sim {

// What the loop does for the simulated world in every tick, besides calling
// the client's callbacks.
class ITickClient {
public:
    virtual ~ITickClient() = default;
    // After the callbacks: record the tick (trace) at simulated time `time`.
    virtual void afterCallbacks(double time) noexcept = 0;
    // Advances every device by `steps` periods of dt (more than one after
    // ticks were missed in real time).
    virtual void advance(double dt, unsigned steps) noexcept = 0;
    // The loop has ended: outputs drop to zero.
    virtual void loopEnded() noexcept = 0;
};

struct ServoTiming {
    double timeStamp;      // start of the current or last tick, seconds since the loop started
    double instantRate;    // ticks per second measured over the last tick (0 before two ticks)
    double lateness;       // how late the last tick started after its deadline, seconds
    double simulatedTime;  // periods run since the loop started, seconds
    std::uint64_t ticks;   // ticks run since the loop started
};

// Deadlines a stall may miss before it counts as a failure to keep the
// timer: a shared machine preempts a thread for a few milliseconds now and
// then, and ending a program's servo callbacks for that would be wrong.
constexpr unsigned kDefaultOverrunTolerance = 10;
constexpr unsigned kMaxOverrunTolerance = 1000000;

class IServoLoop {
public:
    virtual ~IServoLoop() = default;
    virtual int initialise() noexcept = 0;
    virtual bool initialised() const noexcept = 0;
    virtual void setPreCallback(KorvoServoCallback callback, void* context) noexcept = 0;
    virtual void setPostCallback(KorvoServoCallback callback, void* context) noexcept = 0;
    virtual void setErrorCallback(KorvoServoErrorCallback callback, void* context) noexcept = 0;
    virtual int start(KorvoServoCallback callback, void* context) noexcept = 0;
    virtual int stop() noexcept = 0;
    virtual int setRate(unsigned rate) noexcept = 0;
    virtual unsigned rate() const noexcept = 0;
    virtual ServoTiming timing() const noexcept = 0;
    virtual bool running() const noexcept = 0;
    virtual bool onServoThread() const noexcept = 0;
    virtual int setManualClock(bool on) noexcept = 0;
    virtual bool manualClock() const noexcept = 0;
    virtual int runTicks(unsigned count) noexcept = 0;
    virtual void injectError(int code) noexcept = 0;
    // A stall is reported as KORVO_SERVO_OVERRUN only when the loop misses
    // more than this many deadlines in a row (0: every overrun).
    virtual void setOverrunTolerance(unsigned periods) noexcept = 0;
    // Back to defaults (rate, real-time clock, no callbacks, no pending
    // error); only while stopped (KORVO_SIM_E_BUSY otherwise).
    virtual int reset() noexcept = 0;
};

class ServoLoop final : public IServoLoop {
public:
    explicit ServoLoop(ITickClient& client) noexcept : client_(client) {}
    ~ServoLoop() override;

    int initialise() noexcept override;
    bool initialised() const noexcept override { return initialised_.load(std::memory_order_acquire); }
    void setPreCallback(KorvoServoCallback callback, void* context) noexcept override;
    void setPostCallback(KorvoServoCallback callback, void* context) noexcept override;
    void setErrorCallback(KorvoServoErrorCallback callback, void* context) noexcept override;
    int start(KorvoServoCallback callback, void* context) noexcept override;
    int stop() noexcept override;
    int setRate(unsigned rate) noexcept override;
    unsigned rate() const noexcept override { return rate_.load(std::memory_order_relaxed); }
    ServoTiming timing() const noexcept override;
    bool running() const noexcept override;
    bool onServoThread() const noexcept override;
    int setManualClock(bool on) noexcept override;
    bool manualClock() const noexcept override;
    int runTicks(unsigned count) noexcept override;
    void injectError(int code) noexcept override { injectedError_.store(code, std::memory_order_release); }
    void setOverrunTolerance(unsigned periods) noexcept override {
        overrunTolerance_.store(periods, std::memory_order_relaxed);
    }
    int reset() noexcept override;

private:
    struct Callbacks {
        KorvoServoCallback pre = nullptr;
        void* preContext = nullptr;
        KorvoServoCallback servo = nullptr;
        void* servoContext = nullptr;
        KorvoServoCallback post = nullptr;
        void* postContext = nullptr;
        KorvoServoErrorCallback error = nullptr;
        void* errorContext = nullptr;
    };

    void body(bool manual) noexcept;
    void runRealTime() noexcept;
    void runManual() noexcept;
    void tick(double timeStamp) noexcept;
    // Runs `steps` periods of physics with the force held now, and keeps
    // simulated time with them.
    void advanceWorld(double period, unsigned steps) noexcept;
    void joinFinished() noexcept;

    ITickClient& client_;
    std::atomic<bool> initialised_{false};
    std::atomic<unsigned> rate_{KORVO_DEFAULT_SERVO_RATE};

    // Taken by the servo thread every tick and by clients that change the
    // callbacks: it inherits priority, so a tick never waits behind a client
    // that cannot run.
    mutable plat::PiMutex callbackMutex_;
    Callbacks callbacks_;

    // Start, stop and clock changes are serialised by lifeMutex_; the thread
    // handle is only touched under it.
    std::mutex lifeMutex_;
    plat::Thread thread_;
    std::atomic<bool> manual_{false};
    std::atomic<bool> active_{false};  // a loop was started and not asked to stop
    std::atomic<bool> stopRequested_{false};
    std::atomic<plat::ThreadId> servoThread_{0};

    // A caller of runTicks, on its own stack, listed until the servo thread
    // settles it: when the ticks it waits for have run, or when its loop ends
    // without them. A waiter therefore learns of the stop of its own loop
    // even when it wakes only after a new loop has started (and the counters
    // have begun again).
    struct TickWaiter {
        std::uint64_t target = 0;
        bool settled = false;
        bool ran = false;
        TickWaiter* next = nullptr;
    };
    // Settles the waiters whose ticks have run, and, when the loop has
    // ended, all others. The caller holds tickMutex_.
    void settleWaiters(bool loopEnded) noexcept;

    // Manual clock hand-off: ticks requested and completed in total.
    mutable std::mutex tickMutex_;
    std::condition_variable tickCv_;
    std::uint64_t requested_ = 0;
    std::uint64_t completed_ = 0;
    bool threadAlive_ = false;
    TickWaiter* waiters_ = nullptr;

    std::atomic<int> injectedError_{0};
    std::atomic<unsigned> overrunTolerance_{kDefaultOverrunTolerance};
    bool overrunPending_ = false;  // servo thread only
    // Simulated time is a whole number of periods since the last change of
    // rate (servo thread only), so that N ticks make exactly N periods.
    double timeBase_ = 0.0;
    double timePeriod_ = 0.0;
    std::uint64_t periodsSinceBase_ = 0;

    std::atomic<double> timeStamp_{0.0};
    std::atomic<double> instantRate_{0.0};
    std::atomic<double> lateness_{0.0};
    std::atomic<double> simulatedTime_{0.0};
    std::atomic<std::uint64_t> ticks_{0};
};

}  // namespace korvo::sim
