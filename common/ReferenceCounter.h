// Intrusive reference counting for objects shared between threads.
#pragma once

#include <atomic>
#include <cstdint>

namespace sched {

class IReferenceCounter {
public:
    virtual void addReference() = 0;
    // Drops one reference; the object deletes itself when none is left.
    virtual void releaseReference() = 0;
    virtual std::int32_t referenceCount() const = 0;

protected:
    virtual ~IReferenceCounter() = default;
};

// Implements the count over any interface derived from IReferenceCounter. The
// count starts at 0: the creator takes the first reference.
template <class Base = IReferenceCounter>
class ReferenceCounter : public Base {
public:
    void addReference() override { count_.fetch_add(1, std::memory_order_relaxed); }

    void releaseReference() override {
        // acq_rel: every write made under another reference happens before
        // the delete.
        if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

    std::int32_t referenceCount() const override { return count_.load(std::memory_order_acquire); }

protected:
    ReferenceCounter() = default;
    ~ReferenceCounter() override = default;

private:
    std::atomic<std::int32_t> count_{0};
};

}  // namespace sched
