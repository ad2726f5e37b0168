// Operating-system services used by the SDK.
//
// Everything the libraries and the simulated device need from the operating
// system goes through this header: time, threads, locks, events, timers,
// thread-local slots, load hooks, loaded functions and console keys. There is exactly one
// implementation (POSIX, in this folder); no other part of the libraries calls
// the OS directly. (The samples are user programs on the public API and bring
// their own console code; the tests' child processes are in tests/support.)
//
// Waitable objects (events and periodic timers) are value-type handles: copying
// one duplicates the handle, and the underlying object lives until the last
// handle to it is destroyed. A waiter that holds its own copy can therefore
// never be left waiting on an object that another thread has destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace plat {

// ---------------------------------------------------------------- time

// Monotonic high-resolution counter, in ticks of counterFrequency() per second.
std::uint64_t counter() noexcept;
std::uint64_t counterFrequency() noexcept;
// Seconds between two counter readings (b - a; negative when b < a).
double counterSeconds(std::uint64_t a, std::uint64_t b) noexcept;

// Sleeps for a relative number of seconds (no-op for values <= 0).
void sleepFor(double seconds) noexcept;
// Sleeps until the counter reaches `deadline` (absolute; returns at once when
// it has already passed). Interrupted sleeps are resumed.
void sleepUntil(std::uint64_t deadline) noexcept;
// A hint to the CPU inside a spin-wait loop.
void cpuRelax() noexcept;

// ---------------------------------------------------------------- threads

using ThreadId = std::uint64_t;

// A nonzero id, unique among the live threads of the process.
ThreadId currentThreadId() noexcept;

// Names the calling thread (truncated to what the OS keeps, 15 characters).
void setCurrentThreadName(const char* name) noexcept;

// Moves the calling thread into a real-time scheduling class at the given
// priority (1..99) when the process is allowed one. Returns false, leaving the
// thread unchanged, when it is not.
bool setCurrentThreadRealtime(int priority) noexcept;

// Moves the calling thread into the idle scheduling class: it runs only when
// no thread of a normal class wants its CPU. Returns false when not allowed.
bool setCurrentThreadIdle() noexcept;

// The CPU the calling thread is running on, or -1 when unknown.
int currentCpu() noexcept;

// Restricts the calling thread to one CPU (cpu >= 0), or lets it run on every
// CPU again (cpu < 0). Returns false, leaving the thread unchanged, when the
// CPU is not available to the process.
bool pinCurrentThread(int cpu) noexcept;

// Pins the calling thread's memory (current and future) so that page faults do
// not stall a time-critical loop. Returns false when not permitted.
bool lockProcessMemory() noexcept;

// A joinable thread with a name. The body runs on the new thread; the Thread
// object must be joined (or the destructor joins) before it is destroyed.
class Thread {
public:
    Thread() noexcept;
    // Starts the thread. Throws std::system_error when it cannot be created.
    Thread(std::string name, std::function<void()> body);
    Thread(Thread&&) noexcept;
    Thread& operator=(Thread&&) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread();

    bool joinable() const noexcept;
    void join();
    // Id of the running thread as currentThreadId() reports it there; 0 when
    // no thread is attached or before the thread has started running.
    ThreadId id() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// ---------------------------------------------------------------- locks

// A mutex with priority inheritance: while a thread waits for it, the holder
// runs at the waiter's priority if that is higher, so a real-time thread never
// waits behind a low-priority holder that cannot get the CPU. Not recursive.
// Usable with std::lock_guard / std::unique_lock.
class PiMutex {
public:
    PiMutex();
    ~PiMutex();
    PiMutex(const PiMutex&) = delete;
    PiMutex& operator=(const PiMutex&) = delete;

    void lock() noexcept;
    bool try_lock() noexcept;
    void unlock() noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A recursive lock that knows its owner, with priority inheritance (it is
// built on a PiMutex). lock() spins up to spinCount times before it blocks. unlock() by a thread that does not own the
// lock is a programming error and aborts the process.
class RecursiveLock {
public:
    explicit RecursiveLock(unsigned spinCount = 0);
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void lock() noexcept;
    bool tryLock() noexcept;
    void unlock() noexcept;
    bool heldByCurrentThread() const noexcept;

    // Lets the lock be used with std::lock_guard / std::unique_lock.
    bool try_lock() noexcept { return tryLock(); }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------- waitables

constexpr double kWaitForever = -1.0;

// Result of waitAny when the timeout expired.
constexpr int kWaitTimeout = -1;

// All operations on waitable handles may be called from any thread, on the
// same object concurrently. Operations on an invalid handle do nothing (an
// invalid handle is never signalled, isSet() is false).

class Waitable {
public:
    struct Impl;
    Waitable() noexcept;
    explicit Waitable(std::shared_ptr<Impl> impl) noexcept;
    Waitable(const Waitable&) noexcept;
    Waitable& operator=(const Waitable&) noexcept;
    Waitable(Waitable&&) noexcept;
    Waitable& operator=(Waitable&&) noexcept;
    virtual ~Waitable();

    // True for a handle that refers to an object.
    bool valid() const noexcept;
    explicit operator bool() const noexcept { return valid(); }

    // Waits until the object is signalled or the timeout (seconds;
    // kWaitForever, or any negative value, for none) expires. Returns true
    // when signalled. Waiting on an auto-reset object consumes its signal.
    bool wait(double timeoutSeconds = kWaitForever) const;

    const std::shared_ptr<Impl>& impl() const noexcept { return impl_; }

protected:
    std::shared_ptr<Impl> impl_;
};

// Waits until one of the objects is signalled and returns the index of the
// first signalled one in array order (consuming its signal when it resets
// automatically), or kWaitTimeout. Invalid handles (and null pointers) in the
// array are never signalled; when there is no valid object, a finite timeout
// is slept out and an infinite one returns kWaitTimeout at once instead of
// blocking forever. A waiter released by a pulse returns the index of the
// pulsed event.
int waitAny(std::span<const Waitable* const> objects, double timeoutSeconds = kWaitForever);

enum class ResetMode { Manual, Auto };

// An event. A manual-reset event stays signalled until reset and releases every
// waiter; an auto-reset event releases one waiter and resets itself.
class Event : public Waitable {
public:
    Event() noexcept = default;  // an invalid handle
    // A process-local event. Throws std::system_error when the process is out
    // of descriptors.
    Event(ResetMode mode, bool initiallySet);

    // Creates (or, when it already exists, opens) an event that other
    // processes can open by name. Names are arbitrary text; they are encoded
    // safely, so no name can reach outside the event namespace, and names are
    // private to the user. An existing event keeps its reset mode and state
    // (mode and initiallySet apply only to a new one). Returns an invalid
    // handle when the event cannot be created or an existing entry of that
    // name is not the user's own. The state lives as long as some process
    // holds a handle: when the last handle anywhere is closed, the name
    // remains and later opens find the event reset.
    static Event createNamed(const std::string& name, ResetMode mode, bool initiallySet);
    // Opens an existing named event; an invalid handle when none exists.
    static Event openNamed(const std::string& name);
    // Removes a name so that later openNamed calls fail (objects already open
    // stay usable).
    static void unlinkNamed(const std::string& name);
    // Whether some process (this one included) holds a handle to the named
    // event now. A name that exists but that nobody holds open is left over
    // from a process that has gone: setting it would reach no one. False for
    // a name that does not exist or is not the user's own. Any thread.
    static bool namedInUse(const std::string& name);

    void set() const;
    void reset() const;
    // Releases the threads waiting now (all for manual reset, one for auto
    // reset) and leaves the event reset. Reliable for waiters in this process;
    // waiters in other processes on a named event see the pulse only if they
    // happen to examine the event during the instant it is set.
    void pulse() const;
    bool isSet() const;
    ResetMode mode() const;

private:
    explicit Event(std::shared_ptr<Impl> impl) noexcept : Waitable(std::move(impl)) {}
};

// The file-system entry that backs the named event `name` (for diagnostics and
// tests; the entry's layout is private to this layer). Any thread.
std::string namedEventPath(const std::string& name);

// A periodic timer that resets automatically: each period that elapses
// signals it once (expirations are not queued beyond one).
class PeriodicTimer : public Waitable {
public:
    PeriodicTimer() noexcept = default;  // an invalid handle
    // A new, disarmed timer; an invalid handle when none can be created.
    static PeriodicTimer create();
    // First expiry after dueSeconds (0: at once), then every periodSeconds (0: once).
    // Re-arming discards an expiry that has not been waited for yet.
    void arm(double dueSeconds, double periodSeconds) const;
    // Stops the timer and discards an expiry that has not been waited for.
    void disarm() const;

private:
    explicit PeriodicTimer(std::shared_ptr<Impl> impl) noexcept : Waitable(std::move(impl)) {}
};

// ---------------------------------------------------------------- thread-local slots

// A per-thread pointer. A value left in the slot when its thread exits is passed
// to the destructor function on that thread. Threads that existed before the
// slot was created see null until they set a value, so callers create their
// value on first use.
class ThreadSlot {
public:
    explicit ThreadSlot(void (*destroy)(void*) = nullptr);
    ~ThreadSlot();
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;

    bool valid() const noexcept;
    void* get() const noexcept;
    void set(void* value) const noexcept;

private:
    unsigned key_ = 0;
    bool valid_ = false;
};

// ---------------------------------------------------------------- load hooks

// Library load and unload hooks: functions that run when the shared object that
// contains them is loaded into a process and when it is unloaded (or the
// process exits). Use at namespace scope in a .cpp file.
#define PLAT_ON_LOAD(fn) \
    __attribute__((constructor)) static void plat_on_load_##fn() { fn(); }
#define PLAT_ON_UNLOAD(fn) \
    __attribute__((destructor)) static void plat_on_unload_##fn() { fn(); }

// ---------------------------------------------------------------- loaded libraries

// The address of a function that some library already loaded into the
// process exports under `name`, or null when none does. Nothing is loaded:
// this finds optional companions (the simulated device's extras) without
// linking them. Any thread.
void* findLoadedFunction(const char* name) noexcept;

// ---------------------------------------------------------------- console

// Key code returned by readKey() at end of input.
constexpr int kKeyEndOfInput = -1;

// Both calls may be used from any thread (they serialise on a lock; while one
// thread waits in readKey(), keyPressed() elsewhere reports no key). On a
// terminal each switches it to unechoed single-key input for its own duration
// and restores the settings afterwards (readKey also when the process is
// ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT during the read, or exits);
// keys typed between calls are echoed as usual. A process in the background
// leaves the terminal settings alone.
//
// True when a key is waiting on standard input. When standard input is not a
// terminal, end of input also counts as a waiting key, so a loop that waits for
// a key always ends.
bool keyPressed();
// Reads one key without echo, waiting for it. Returns the character (0..255)
// or kKeyEndOfInput when standard input has ended.
int readKey();

}  // namespace plat
