#include "qm/collision/CollisionScheduler.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"
#include "qm/collision/RecorderControl.h"

namespace QM {

namespace {

// Made at library load and destroyed at unload, by the library's own hooks
// (not by a static destructor, whose order against the unload hook is not
// fixed).
CollisionScheduler* gScheduler = nullptr;

}  // namespace

ICollisionScheduler& collisionScheduler() {
    if (gScheduler == nullptr) {
        gScheduler = new CollisionScheduler();
    }
    return *gScheduler;
}

void initialiseCollisionScheduler() { collisionScheduler(); }

void releaseCollisionScheduler() {
    delete gScheduler;
    gScheduler = nullptr;
}

CollisionScheduler::CollisionScheduler()
    : stopEvent_(plat::ResetMode::Manual, false),
      stepEvent_(plat::ResetMode::Auto, false),
      requestEvent_(plat::ResetMode::Auto, false),
      timer_(plat::PeriodicTimer::create()) {}

CollisionScheduler::~CollisionScheduler() {
    std::lock_guard<std::mutex> lifecycle(lifecycle_);
    stopThread();
}

double CollisionScheduler::periodFor(unsigned rate) {
    const unsigned clamped = std::clamp(rate, kMinRate, kMaxRate);
    return static_cast<double>(1000u / clamped) / 1000.0;
}

void CollisionScheduler::setRate(unsigned rate) {
    rate_.store(std::clamp(rate, kMinRate, kMaxRate), std::memory_order_relaxed);
    if (isRunning()) {
        timer_.arm(0.0, periodFor(rate));
    }
}

void CollisionScheduler::stepNow() { stepEvent_.set(); }

std::uint64_t CollisionScheduler::stepCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return steps_;
}

bool CollisionScheduler::stepAndWait(double timeoutSeconds) {
    if (!isRunning() || isCollisionThread()) {
        return false;
    }
    // Steps finish in the order they begin, so the first step begun after
    // this point is number started_ + 1; counting from steps_ would accept
    // the end of a step under way and leave this one queued behind it.
    std::unique_lock<std::mutex> guard(mutex_);
    const std::uint64_t target = started_ + 1;
    stepEvent_.set();
    return changed_.wait_for(guard, std::chrono::duration<double>(timeoutSeconds), [&] {
        return steps_ >= target || !isRunning();
    }) && steps_ >= target;
}

void CollisionScheduler::setRecorderEventSuffix(const std::string& suffix) {
    std::lock_guard<std::mutex> guard(mutex_);
    recorderSuffix_ = suffix;
}

bool CollisionScheduler::isCollisionThread() const {
    const plat::ThreadId id = threadId_.load(std::memory_order_acquire);
    return id != 0 && id == plat::currentThreadId();
}

bool CollisionScheduler::addClient(ICollisionClient* client) {
    if (client == nullptr || isCollisionThread()) {
        return false;
    }
    std::lock_guard<std::mutex> lifecycle(lifecycle_);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (std::find(clients_.begin(), clients_.end(), client) != clients_.end()) {
            return false;
        }
    }
    if (!isRunning()) {
        try {
            startThread();
        } catch (...) {
            return false;
        }
    }
    request(Change::Add, client);
    return true;
}

void CollisionScheduler::removeClient(ICollisionClient* client) {
    if (client == nullptr || isCollisionThread()) {
        return;
    }
    std::lock_guard<std::mutex> lifecycle(lifecycle_);
    if (!isRunning()) {
        return;
    }
    request(Change::Remove, client);
    bool empty = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        empty = clients_.empty() && requests_.empty();
    }
    if (empty) {
        stopThread();
    }
}

void CollisionScheduler::request(Change change, ICollisionClient* client) {
    std::unique_lock<std::mutex> guard(mutex_);
    const std::uint64_t ticket = nextTicket_++;
    requests_.push_back({change, client, ticket});
    requestEvent_.set();
    changed_.wait(guard, [&] { return appliedTicket_ >= ticket || !isRunning(); });
}

void CollisionScheduler::startThread() {
    stopEvent_.reset();
    running_.store(true, std::memory_order_release);
    try {
        thread_ = plat::Thread("Collision", [this] { loop(); });
    } catch (...) {
        running_.store(false, std::memory_order_release);
        throw;
    }
}

void CollisionScheduler::stopThread() {
    if (!thread_.joinable()) {
        return;
    }
    stopEvent_.set();
    thread_.join();
    thread_ = plat::Thread();
    stopEvent_.reset();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        running_.store(false, std::memory_order_release);
        // Clients still listed at the end are forgotten: they were removed
        // from their owners' side already (a context removes itself before
        // it goes).
        clients_.clear();
        requests_.clear();
        steps_ = 0;
        started_ = 0;
    }
    changed_.notify_all();
}

void CollisionScheduler::applyRequests() {
    std::deque<Request> pending;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        pending.swap(requests_);
    }
    // Removals first, so that a client removed and added again in one
    // batch ends up added.
    std::stable_partition(pending.begin(), pending.end(), [](const Request& r) { return r.change == Change::Remove; });
    std::uint64_t last = 0;
    for (const Request& r : pending) {
        std::vector<ICollisionClient*>::iterator at;
        bool listed = false;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            at = std::find(clients_.begin(), clients_.end(), r.client);
            listed = at != clients_.end();
            if (r.change == Change::Remove && listed) {
                clients_.erase(at);
            } else if (r.change == Change::Add && !listed) {
                clients_.push_back(r.client);
            }
        }
        if (r.change == Change::Remove && listed) {
            r.client->removed();
        } else if (r.change == Change::Add && !listed) {
            r.client->added();
        }
        last = std::max(last, r.ticket);
    }
    if (last != 0) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            appliedTicket_ = std::max(appliedTicket_, last);
        }
        changed_.notify_all();
    }
}

// Clients are stepped from a copy of the list: adding and removing happen
// only here on this thread (applyRequests), so the copy stays valid for the
// whole step.
void CollisionScheduler::step() {
    std::vector<ICollisionClient*> clients;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ++started_;
        clients = clients_;
    }
    for (ICollisionClient* client : clients) {
        client->step();
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ++steps_;
    }
    changed_.notify_all();
}

void CollisionScheduler::loop() {
    threadId_.store(plat::currentThreadId(), std::memory_order_release);
    OperationScheduler* operations = operationScheduler(QM_COLLISION_THREAD);
    if (operations != nullptr) {
        operations->bindToCurrentThread();
    }
    timer_.arm(0.0, periodFor(getRate()));
    std::string suffix;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        suffix = recorderSuffix_;
    }
    // Held while the thread runs, so that the recorder tool finds a
    // listener exactly while there is one.
    RecorderControl recorder(suffix);
    plat::Event noWake;
    const plat::Waitable* wake = operations != nullptr ? &operations->wakeUpEvent() : &noWake;
    constexpr int kFirstRecorderEvent = 5;
    const plat::Waitable* handles[] = {&stopEvent_,
                                       &timer_,
                                       &stepEvent_,
                                       wake,
                                       &requestEvent_,
                                       &recorder.event(RecorderControl::StartRecord),
                                       &recorder.event(RecorderControl::Stop),
                                       &recorder.event(RecorderControl::StartPlay),
                                       &recorder.event(RecorderControl::Step)};
    for (;;) {
        const int which = plat::waitAny(handles);
        if (which == 0) {
            break;
        }
        applyRequests();
        const bool recorderSignal = which >= kFirstRecorderEvent;
        const auto signal = static_cast<RecorderControl::Signal>(which - kFirstRecorderEvent);
        if ((which == 1 && !isStopped() && recorder.timerSteps()) || which == 2 ||
            (recorderSignal && signal == RecorderControl::Step)) {
            step();
        } else if (which == 3 && operations != nullptr) {
            operations->runPending();
        } else if (recorderSignal) {
            // Adding and removing happen only on this thread, so the copy
            // stays valid while the recorders are switched.
            std::vector<ICollisionClient*> clients;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                clients = clients_;
            }
            recorder.apply(signal, clients);
        }
        applyRequests();
    }
    // Whatever is still queued is answered, so that no caller waits for ever.
    applyRequests();
    timer_.disarm();
    if (operations != nullptr) {
        operations->unbind();
    }
    threadId_.store(0, std::memory_order_release);
}

}  // namespace QM
