// Per-thread values on one thread-local-storage slot.
#pragma once

#include "platform/Platform.h"

namespace sched {

class ThreadDataBase {
public:
    virtual ~ThreadDataBase() = default;
    // True when the thread-local slot could be allocated.
    virtual bool isValid() const = 0;
    // Stores the calling thread's pointer.
    virtual void set(void* value) = 0;
};

// One heap-allocated T per thread. A thread's value is created the first time
// that thread asks for it, which also covers threads that already existed when
// the slot was created (they never see a "thread started" notification), and
// it is deleted when the thread exits.
template <class T>
class ThreadData : public ThreadDataBase {
public:
    ThreadData() : slot_(&destroy) {}

    bool isValid() const override { return slot_.valid(); }
    void set(void* value) override { slot_.set(value); }

    // The calling thread's value, or null when it has none yet.
    T* peek() const { return static_cast<T*>(slot_.get()); }

    // The calling thread's value, created on first use.
    T& local() {
        T* value = peek();
        if (value == nullptr) {
            value = new T();
            slot_.set(value);
        }
        return *value;
    }

    // Frees the calling thread's value now (the thread that unloads the
    // library gets no exit notification from the slot any more).
    void releaseLocal() {
        delete peek();
        slot_.set(nullptr);
    }

private:
    static void destroy(void* value) { delete static_cast<T*>(value); }

    plat::ThreadSlot slot_;
};

}  // namespace sched
