// Locks shared by the scheduler classes.
#pragma once

#include "platform/Platform.h"

namespace sched {

// An abstract lock, so that classes can expose "the lock that guards me"
// without naming its kind.
class Lock {
public:
    virtual ~Lock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

// A recursive critical section that spins briefly before it blocks. It knows
// its owner: an unlock from a thread that does not hold it is a programming
// error and aborts the process rather than corrupting the lock state.
class CriticalSectionLock : public Lock {
public:
    static constexpr unsigned kSpinCount = 1000;

    CriticalSectionLock();
    ~CriticalSectionLock() override;
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

    void lock() override;
    void unlock() override;
    bool tryLock();
    bool heldByCurrentThread() const;

private:
    plat::RecursiveLock section_;
};

// Scoped ownership of any Lock.
class LockGuard {
public:
    explicit LockGuard(Lock& lock) : lock_(lock) { lock_.lock(); }
    ~LockGuard() { lock_.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& lock_;
};

}  // namespace sched
