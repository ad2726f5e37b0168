// Priority-inheriting mutex, and a recursive lock with an owner check.
//
// The owner and the recursion depth are kept beside a plain mutex, so that
// unlock can tell a foreign thread from the owner and abort on it instead of
// corrupting the lock. lock() first spins on tryLock for a short while, which
// is cheaper than a sleep when the holder is about to release (the servo
// thread holds such locks only briefly).
#include "platform/Platform.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace plat {

struct PiMutex::Impl {
    pthread_mutex_t mutex;
};

PiMutex::PiMutex() : impl_(std::make_unique<Impl>()) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    // Without priority inheritance (not supported by the system) the mutex
    // still works as a plain one.
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    if (pthread_mutex_init(&impl_->mutex, &attributes) != 0) {
        pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_NONE);
        pthread_mutex_init(&impl_->mutex, &attributes);
    }
    pthread_mutexattr_destroy(&attributes);
}

PiMutex::~PiMutex() { pthread_mutex_destroy(&impl_->mutex); }

void PiMutex::lock() noexcept {
    if (pthread_mutex_lock(&impl_->mutex) != 0) {
        std::fputs("fatal: a mutex could not be locked\n", stderr);
        std::abort();
    }
}

bool PiMutex::try_lock() noexcept { return pthread_mutex_trylock(&impl_->mutex) == 0; }

void PiMutex::unlock() noexcept { pthread_mutex_unlock(&impl_->mutex); }

struct RecursiveLock::Impl {
    explicit Impl(unsigned spins) : spinCount(spins) {}
    PiMutex mutex;
    std::atomic<ThreadId> owner{0};
    unsigned depth = 0;  // touched by the owner only
    unsigned spinCount;
};

RecursiveLock::RecursiveLock(unsigned spinCount) : impl_(std::make_unique<Impl>(spinCount)) {}
RecursiveLock::~RecursiveLock() = default;

bool RecursiveLock::tryLock() noexcept {
    const ThreadId self = currentThreadId();
    if (impl_->owner.load(std::memory_order_relaxed) == self) {
        ++impl_->depth;
        return true;
    }
    if (!impl_->mutex.try_lock()) return false;
    impl_->owner.store(self, std::memory_order_relaxed);
    impl_->depth = 1;
    return true;
}

void RecursiveLock::lock() noexcept {
    for (unsigned i = 0; i < impl_->spinCount; ++i) {
        if (tryLock()) return;
        cpuRelax();
    }
    const ThreadId self = currentThreadId();
    if (impl_->owner.load(std::memory_order_relaxed) == self) {
        ++impl_->depth;
        return;
    }
    impl_->mutex.lock();
    impl_->owner.store(self, std::memory_order_relaxed);
    impl_->depth = 1;
}

void RecursiveLock::unlock() noexcept {
    if (impl_->owner.load(std::memory_order_relaxed) != currentThreadId()) {
        std::fputs("fatal: a lock was released by a thread that does not own it\n", stderr);
        std::abort();
    }
    if (--impl_->depth == 0) {
        impl_->owner.store(0, std::memory_order_relaxed);
        impl_->mutex.unlock();
    }
}

bool RecursiveLock::heldByCurrentThread() const noexcept {
    return impl_->owner.load(std::memory_order_relaxed) == currentThreadId();
}

}  // namespace plat
