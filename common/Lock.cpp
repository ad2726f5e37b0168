#include "common/Lock.h"

#include <cstdio>
#include <cstdlib>

namespace sched {

CriticalSectionLock::CriticalSectionLock() : section_(kSpinCount) {}

CriticalSectionLock::~CriticalSectionLock() = default;

void CriticalSectionLock::lock() { section_.lock(); }

void CriticalSectionLock::unlock() {
    if (!section_.heldByCurrentThread()) {
        std::fputs("CriticalSectionLock: unlock by a thread that does not own the lock\n", stderr);
        std::abort();
    }
    section_.unlock();
}

bool CriticalSectionLock::tryLock() { return section_.tryLock(); }

bool CriticalSectionLock::heldByCurrentThread() const { return section_.heldByCurrentThread(); }

}  // namespace sched
