// The collision thread: one per process, stepping every registered client
// (in practice every rendering context with a device) at a fixed rate.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace QM {

class ICollisionRecorder;

// What the collision thread calls on a client. Every call runs on the
// collision thread; none may throw (a client catches what its work throws).
class ICollisionClient {
public:
    virtual ~ICollisionClient() = default;
    // The client has joined: the first call it receives.
    virtual void added() noexcept = 0;
    virtual void step() noexcept = 0;
    // The client has left: the last call it receives.
    virtual void removed() noexcept = 0;
    // The recorder the outside recorder tool switches (RecorderControl.h);
    // null for a client without one.
    virtual ICollisionRecorder* collisionRecorder() noexcept { return nullptr; }
};

class ICollisionScheduler {
public:
    virtual ~ICollisionScheduler() = default;
    // Adds a client and returns once the collision thread has called its
    // added(); starts the thread for the first client. False for a null
    // client, one already added, or when the thread cannot be started.
    virtual bool addClient(ICollisionClient* client) = 0;
    // Removes a client and returns once the collision thread has called its
    // removed() (so the client may be destroyed at once); stops the thread
    // when no client is left. Must not be called on the collision thread.
    virtual void removeClient(ICollisionClient* client) = 0;
    virtual bool isRunning() const = 0;
    // Steps per second, clamped to [10, 1000]; the timer's period is the
    // whole number of milliseconds in 1000 / rate.
    virtual void setRate(unsigned rate) = 0;
    virtual unsigned getRate() const = 0;
    // One extra step as soon as the thread is free, whatever the timer does.
    virtual void stepNow() = 0;
    // In the stopped mode the timer runs no step; only stepNow does. Tests
    // and tools drive steps one at a time this way.
    virtual void setStopped(bool stopped) = 0;
    virtual bool isStopped() const = 0;
    // Steps taken since the thread started (every client stepped once per
    // step).
    virtual std::uint64_t stepCount() const = 0;
    // stepNow, then waits until a step that began after the call has
    // finished (a step already under way does not count); false when the
    // thread is not running or the timeout (seconds) expired first.
    virtual bool stepAndWait(double timeoutSeconds) = 0;
    // Whether the calling thread is the collision thread.
    virtual bool isCollisionThread() const = 0;
    // Appended to the names of the recorder tool's four named events from
    // the next start of the thread on (empty by default), so that tests and
    // side-by-side tools never meet other programs' events.
    virtual void setRecorderEventSuffix(const std::string& suffix) = 0;
};

class CollisionScheduler final : public ICollisionScheduler {
public:
    static constexpr unsigned kDefaultRate = 100;
    static constexpr unsigned kMinRate = 10;
    static constexpr unsigned kMaxRate = 1000;

    CollisionScheduler();
    ~CollisionScheduler() override;
    CollisionScheduler(const CollisionScheduler&) = delete;
    CollisionScheduler& operator=(const CollisionScheduler&) = delete;

    bool addClient(ICollisionClient* client) override;
    void removeClient(ICollisionClient* client) override;
    bool isRunning() const override { return running_.load(std::memory_order_acquire); }
    void setRate(unsigned rate) override;
    unsigned getRate() const override { return rate_.load(std::memory_order_relaxed); }
    void stepNow() override;
    void setStopped(bool stopped) override { stopped_.store(stopped, std::memory_order_release); }
    bool isStopped() const override { return stopped_.load(std::memory_order_acquire); }
    std::uint64_t stepCount() const override;
    bool stepAndWait(double timeoutSeconds) override;
    bool isCollisionThread() const override;
    void setRecorderEventSuffix(const std::string& suffix) override;

    // The period the timer is armed with, in seconds.
    static double periodFor(unsigned rate);

private:
    enum class Change { Add, Remove };
    struct Request {
        Change change;
        ICollisionClient* client;
        std::uint64_t ticket;
    };

    void loop();
    void step();
    // Applies the queued additions and removals (removals first).
    void applyRequests();
    void startThread();
    void stopThread();
    // Queues a change, wakes the thread and waits until it is applied.
    void request(Change change, ICollisionClient* client);

    // Held by client threads across starting, stopping and waiting for the
    // thread; never taken on the collision thread.
    std::mutex lifecycle_;
    // Guards everything below it and the condition.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ICollisionClient*> clients_;
    std::deque<Request> requests_;
    std::uint64_t nextTicket_ = 1;
    std::uint64_t appliedTicket_ = 0;
    std::uint64_t steps_ = 0;    // steps finished
    std::uint64_t started_ = 0;  // steps begun
    std::string recorderSuffix_;

    std::atomic<unsigned> rate_{kDefaultRate};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<plat::ThreadId> threadId_{0};
    plat::Event stopEvent_;
    plat::Event stepEvent_;
    plat::Event requestEvent_;
    plat::PeriodicTimer timer_;
    plat::Thread thread_;
};

// The process's collision scheduler (created with the library).
ICollisionScheduler& collisionScheduler();
// Creates it (at library load) and destroys it (at unload).
void initialiseCollisionScheduler();
void releaseCollisionScheduler();

}  // namespace QM
