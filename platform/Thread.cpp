// Named threads, thread ids, real-time scheduling and thread-local slots.
#include "platform/Platform.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <system_error>
#include <thread>

namespace plat {

// The kernel thread id is unique among live threads and cheap to read once.
// A forked child's only thread starts with its parent's cached id, which is
// not its own (and may later be reused by one of the child's threads once the
// parent thread is gone), so the cache is cleared in the child.
namespace {
thread_local ThreadId tThreadId = 0;
void forgetThreadIdInChild() { tThreadId = 0; }
}  // namespace

ThreadId currentThreadId() noexcept {
    if (tThreadId == 0) {
        static const bool forkHook = pthread_atfork(nullptr, nullptr, forgetThreadIdInChild) == 0;
        (void)forkHook;
        tThreadId = static_cast<ThreadId>(syscall(SYS_gettid));
    }
    return tThreadId;
}

void setCurrentThreadName(const char* name) noexcept {
    if (name == nullptr) return;
    char shortName[16] = {};
    for (std::size_t i = 0; i < sizeof shortName - 1 && name[i] != '\0'; ++i) shortName[i] = name[i];
    pthread_setname_np(pthread_self(), shortName);
}

bool setCurrentThreadRealtime(int priority) noexcept {
    sched_param param{};
    param.sched_priority = priority < 1 ? 1 : (priority > 99 ? 99 : priority);
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

bool setCurrentThreadIdle() noexcept {
    sched_param param{};
    param.sched_priority = 0;
    return pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) == 0;
}

int currentCpu() noexcept { return sched_getcpu(); }

bool pinCurrentThread(int cpu) noexcept {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (cpu >= CPU_SETSIZE) return false;
    if (cpu >= 0) {
        CPU_SET(cpu, &set);
    } else {
        for (int i = 0; i < CPU_SETSIZE; ++i) CPU_SET(i, &set);
    }
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

bool lockProcessMemory() noexcept { return mlockall(MCL_CURRENT | MCL_FUTURE) == 0; }

struct Thread::State {
    std::thread thread;
    std::atomic<ThreadId> id{0};
};

Thread::Thread() noexcept = default;

Thread::Thread(std::string name, std::function<void()> body) : state_(std::make_unique<State>()) {
    State* state = state_.get();
    state->thread = std::thread([state, name = std::move(name), body = std::move(body)] {
        setCurrentThreadName(name.c_str());
        state->id.store(currentThreadId(), std::memory_order_release);
        body();
    });
}

Thread::Thread(Thread&&) noexcept = default;

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        if (joinable()) join();
        state_ = std::move(other.state_);
    }
    return *this;
}

Thread::~Thread() {
    if (joinable()) join();
}

bool Thread::joinable() const noexcept { return state_ && state_->thread.joinable(); }

void Thread::join() {
    if (joinable()) state_->thread.join();
}

ThreadId Thread::id() const noexcept { return state_ ? state_->id.load(std::memory_order_acquire) : 0; }

// Thread-local slots map onto pthread keys: the key destructor runs on each
// exiting thread whose value is non-null, which is what replaces per-thread
// detach notifications.
ThreadSlot::ThreadSlot(void (*destroy)(void*)) {
    pthread_key_t key{};
    valid_ = pthread_key_create(&key, destroy) == 0;
    key_ = static_cast<unsigned>(key);
}

ThreadSlot::~ThreadSlot() {
    if (valid_) pthread_key_delete(static_cast<pthread_key_t>(key_));
}

bool ThreadSlot::valid() const noexcept { return valid_; }

void* ThreadSlot::get() const noexcept {
    return valid_ ? pthread_getspecific(static_cast<pthread_key_t>(key_)) : nullptr;
}

void ThreadSlot::set(void* value) const noexcept {
    if (valid_) pthread_setspecific(static_cast<pthread_key_t>(key_), value);
}

}  // namespace plat
