// Events, periodic timers and waiting on several of them.
//
// Every waitable object is backed by a file descriptor that poll() reports
// readable while the object is signalled:
//   - local events: an eventfd whose counter is nonzero while set;
//   - periodic timers: a timerfd on the monotonic clock;
//   - named events: a FIFO, opened read-write and non-blocking, that holds at
//     least one byte while set.
// waitAny first takes an object that is signalled already (a single object
// without polling at all), and otherwise polls all descriptors at once.
// Auto-reset objects are consumed with a single non-blocking read once poll has
// reported them; when another waiter got there first the read finds nothing
// and the waiter polls again with what is left of its timeout. Manual-reset
// objects are never consumed by waiters; reset() drains them.
//
// A pulse cannot be carried by the descriptor alone: a set immediately followed
// by a reset may be missed by a poller that has not re-examined the descriptor
// in between. Waiters in this process therefore also register with every event
// they wait on, and a pulse hands its release directly to the registered
// waiters (all of them, or the first for auto reset) and wakes them through a
// per-thread wake descriptor that is part of every poll. Waiters in other
// processes only see a pulse of a named event if they happen to examine the
// FIFO during the instant it holds a byte.
//
// Named events live in a per-user directory entry under /dev/shm (or /tmp):
//   <base>/zv-event-<uid>-<encoded name>/fifo   the state
//   <base>/zv-event-<uid>-<encoded name>/mode   "auto" or "manual"
// The entry is assembled under a temporary name and published with one
// rename(), so an opener never sees a half-made event, and unlinking renames it
// away before removing its contents. Within a process, every handle to the
// same FIFO shares one object (found through a registry keyed by device and
// inode), so that in-process pulses reach every waiter on that event.
#include "platform/Platform.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

namespace plat {

namespace {

// A waiter's release word: kOpen while it may still be released by a pulse,
// kClosed while it is deciding on a signal it found itself, the index of the
// object whose pulse released it, or pulsedWhileClosed(index) when a pulse
// arrived while it was deciding (it takes that pulse only if its own attempt
// comes to nothing).
constexpr int kOpen = -1;
constexpr int kClosed = -2;
constexpr int pulsedWhileClosed(int index) { return -3 - index; }
constexpr int indexOfPulsedWhileClosed(int state) { return -3 - state; }

struct Waiter {
    std::atomic<int> release{kOpen};
    int wakeFd = -1;
};

struct Registration {
    Waiter* waiter;
    int index;
};

// Counts forks, so that a forked child notices that its thread's wake
// descriptor is shared with the parent.
std::atomic<unsigned> gForkGeneration{0};
void onForkInChild() { gForkGeneration.fetch_add(1, std::memory_order_relaxed); }

// The calling thread's wake descriptor, an eventfd that a pulse writes to.
// Recreated in a forked child, which must not share its parent's (a pulse in
// one process would wake a waiter in the other).
class WakeDescriptor {
public:
    ~WakeDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() {
        const unsigned generation = gForkGeneration.load(std::memory_order_relaxed);
        if (fd_ >= 0 && generation_ != generation) {
            ::close(fd_);
            fd_ = -1;
        }
        if (fd_ < 0) {
            static const bool forkHook = pthread_atfork(nullptr, nullptr, onForkInChild) == 0;
            (void)forkHook;
            fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            generation_ = generation;
        }
        return fd_;
    }

private:
    int fd_ = -1;
    unsigned generation_ = 0;
};

thread_local WakeDescriptor tWake;

ssize_t readRetry(int fd, void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t writeRetry(int fd, const void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::write(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

void closeDescriptor(int fd) {
    // close() must not be retried on Linux: the descriptor is gone even when
    // it reports EINTR.
    if (fd >= 0) ::close(fd);
}

void wakeWaiter(const Waiter& w) {
    if (w.wakeFd < 0) return;
    const std::uint64_t one = 1;
    writeRetry(w.wakeFd, &one, sizeof one);
}

void drainWake(int fd) {
    if (fd < 0) return;
    std::uint64_t value;
    readRetry(fd, &value, sizeof value);
}

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & POLLIN) != 0;
}

timespec toTimespec(double seconds) {
    timespec ts{};
    if (!(seconds > 0.0)) return ts;
    if (seconds > 1e9) seconds = 1e9;  // ~31 years, far beyond any useful wait
    const double whole = std::floor(seconds);
    ts.tv_sec = static_cast<time_t>(whole);
    ts.tv_nsec = static_cast<long>((seconds - whole) * 1e9);
    if (ts.tv_nsec >= 1000000000L) ts.tv_nsec = 999999999L;
    return ts;
}

}  // namespace

struct Waitable::Impl {
    enum class Kind { LocalEvent, NamedEvent, Timer };

    Impl(Kind k, ResetMode m, int descriptor) : kind(k), mode(m), fd(descriptor) {}
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    const Kind kind;
    const ResetMode mode;
    const int fd;

    // Bumped with release order by every set and pulse and read with acquire
    // order by a released waiter, so that what the signalling thread wrote
    // before signalling is visible to the waiter (and known to be so by the
    // thread sanitizer, which cannot see through poll()).
    std::atomic<std::uint64_t> signals{0};

    std::mutex waitersMutex;
    std::vector<Registration> waiters;  // in-process waiters, oldest first

    // Identity of a named event's FIFO, the key of the in-process registry.
    dev_t device = 0;
    ino_t inode = 0;

    bool isEvent() const { return kind != Kind::Timer; }

    // Takes the signal of a signalled auto-reset object. One read takes all
    // the bytes of a FIFO at once (sets write at most one byte each, and
    // racing setters are few), so the FIFO is left empty.
    bool consume() const {
        if (kind == Kind::NamedEvent) {
            char buffer[4096];
            return readRetry(fd, buffer, sizeof buffer) > 0;
        }
        std::uint64_t value = 0;
        return readRetry(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
    }

    void drain() const {
        if (kind == Kind::NamedEvent) {
            char buffer[4096];
            while (readRetry(fd, buffer, sizeof buffer) > 0) {
            }
            return;
        }
        std::uint64_t value = 0;
        readRetry(fd, &value, sizeof value);
    }

    void signal() {
        signals.fetch_add(1, std::memory_order_release);
        if (kind == Kind::NamedEvent) {
            // At most one byte for the usual case; a full pipe (EAGAIN) means
            // the event is set already.
            if (!readable(fd)) {
                const char byte = 1;
                writeRetry(fd, &byte, 1);
            }
            return;
        }
        const std::uint64_t one = 1;
        writeRetry(fd, &one, sizeof one);
    }

    void addWaiter(Waiter* w, int index) {
        std::lock_guard<std::mutex> guard(waitersMutex);
        waiters.push_back({w, index});
    }

    void removeWaiter(Waiter* w) {
        std::lock_guard<std::mutex> guard(waitersMutex);
        for (auto it = waiters.begin(); it != waiters.end();) {
            it = it->waiter == w ? waiters.erase(it) : it + 1;
        }
    }

    // Releases the registered waiters of a pulse; returns whether any was.
    bool releaseWaiters() {
        std::lock_guard<std::mutex> guard(waitersMutex);
        if (mode == ResetMode::Manual) {
            bool any = false;
            for (const Registration& r : waiters) {
                int state = kOpen;
                if (r.waiter->release.compare_exchange_strong(state, r.index, std::memory_order_acq_rel) ||
                    (state == kClosed && r.waiter->release.compare_exchange_strong(state, pulsedWhileClosed(r.index),
                                                                                   std::memory_order_acq_rel))) {
                    wakeWaiter(*r.waiter);
                    any = true;
                }
            }
            return any;
        }
        for (const Registration& r : waiters) {
            int state = kOpen;
            if (r.waiter->release.compare_exchange_strong(state, r.index, std::memory_order_acq_rel)) {
                wakeWaiter(*r.waiter);
                return true;
            }
        }
        // Every registered waiter is busy taking another signal; offer the
        // pulse to the first one, which takes it if its own attempt fails.
        for (const Registration& r : waiters) {
            int state = kClosed;
            if (r.waiter->release.compare_exchange_strong(state, pulsedWhileClosed(r.index),
                                                          std::memory_order_acq_rel)) {
                wakeWaiter(*r.waiter);
                return true;
            }
        }
        return false;
    }
};

// ---------------------------------------------------------------- named event registry

namespace {

struct NamedRegistry {
    std::mutex mutex;
    std::map<std::pair<dev_t, ino_t>, std::pair<Waitable::Impl*, std::weak_ptr<Waitable::Impl>>> objects;
};

// Never destroyed: handles in static objects may outlive any static registry.
NamedRegistry& namedRegistry() {
    static NamedRegistry* registry = new NamedRegistry;
    return *registry;
}

}  // namespace

Waitable::Impl::~Impl() {
    if (kind == Kind::NamedEvent) {
        NamedRegistry& reg = namedRegistry();
        std::lock_guard<std::mutex> guard(reg.mutex);
        auto it = reg.objects.find({device, inode});
        if (it != reg.objects.end() && it->second.first == this) reg.objects.erase(it);
    }
    closeDescriptor(fd);
}

// ---------------------------------------------------------------- Waitable

Waitable::Waitable() noexcept = default;
Waitable::Waitable(std::shared_ptr<Impl> impl) noexcept : impl_(std::move(impl)) {}
Waitable::Waitable(const Waitable&) noexcept = default;
Waitable& Waitable::operator=(const Waitable&) noexcept = default;
Waitable::Waitable(Waitable&&) noexcept = default;
Waitable& Waitable::operator=(Waitable&&) noexcept = default;
Waitable::~Waitable() = default;

bool Waitable::valid() const noexcept { return impl_ != nullptr; }

bool Waitable::wait(double timeoutSeconds) const {
    const Waitable* self = this;
    return waitAny(std::span<const Waitable* const>(&self, 1), timeoutSeconds) == 0;
}

// ---------------------------------------------------------------- waitAny

namespace {

// Deregisters a waiter from every event it registered with, on every exit
// path. Once this has run no pulse can touch the waiter (pulses write to the
// wake descriptor only under the event's waiter lock).
class Registrations {
public:
    Registrations(Waiter& w, const std::vector<Waitable::Impl*>& impls, const std::vector<int>& indices)
        : waiter_(w), impls_(impls) {
        for (std::size_t k = 0; k < impls_.size(); ++k) {
            if (impls_[k]->isEvent()) impls_[k]->addWaiter(&waiter_, indices[k]);
        }
    }
    ~Registrations() {
        for (Waitable::Impl* impl : impls_) {
            if (impl->isEvent()) impl->removeWaiter(&waiter_);
        }
    }
    Registrations(const Registrations&) = delete;
    Registrations& operator=(const Registrations&) = delete;

private:
    Waiter& waiter_;
    const std::vector<Waitable::Impl*>& impls_;
};

// One non-blocking look at the objects (all but the last, unused, entry of
// `fds`); takes the first signalled one in array order.
int takeSignalled(const std::vector<Waitable::Impl*>& impls, const std::vector<int>& indices,
                  std::vector<pollfd>& fds) {
    if (impls.empty()) return kWaitTimeout;
    if (impls.size() == 1) {
        // A single object needs no poll: try to take the signal directly.
        Waitable::Impl& impl = *impls[0];
        const bool got = impl.mode == ResetMode::Auto ? impl.consume() : readable(impl.fd);
        if (!got) return kWaitTimeout;
        impl.signals.load(std::memory_order_acquire);
        return indices[0];
    }
    int n;
    do {
        n = ::poll(fds.data(), impls.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return kWaitTimeout;
    for (std::size_t k = 0; k < impls.size(); ++k) {
        if ((fds[k].revents & (POLLIN | POLLERR | POLLHUP)) == 0) continue;
        Waitable::Impl& impl = *impls[k];
        if (impl.mode == ResetMode::Auto && !impl.consume()) continue;
        impl.signals.load(std::memory_order_acquire);
        return indices[k];
    }
    return kWaitTimeout;
}

}  // namespace

// The wait loop: poll every descriptor plus the wake descriptor; after each
// return, first see whether a pulse released us, then try the reported objects
// in array order (closing the release word meanwhile, so that an auto-reset
// pulse is never given to a waiter that is taking another signal). If nothing
// could be taken, reopen and poll again with the remaining time.
int waitAny(std::span<const Waitable* const> objects, double timeoutSeconds) {
    std::vector<Waitable::Impl*> impls;
    std::vector<int> indices;
    // Holding references keeps every object alive for the whole wait, even if
    // the caller's handles are reassigned from another thread meanwhile.
    std::vector<std::shared_ptr<Waitable::Impl>> keep;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (objects[i] == nullptr || !objects[i]->valid()) continue;
        keep.push_back(objects[i]->impl());
        impls.push_back(keep.back().get());
        indices.push_back(static_cast<int>(i));
    }

    const bool forever = timeoutSeconds < 0.0;
    if (std::isnan(timeoutSeconds)) timeoutSeconds = 0.0;
    // Waiting forever on nothing could never end: report a timeout instead.
    if (impls.empty() && forever) return kWaitTimeout;

    const std::uint64_t start = counter();
    const double limit = std::fmin(timeoutSeconds, 1e9);
    auto remaining = [&]() -> double { return limit - counterSeconds(start, counter()); };

    std::vector<pollfd> fds(impls.size() + 1);
    for (std::size_t k = 0; k < impls.size(); ++k) fds[k] = {impls[k]->fd, POLLIN, 0};

    // An object that is signalled already is taken without registering for
    // pulses, and a zero timeout never needs to block.
    const int ready = takeSignalled(impls, indices, fds);
    if (ready != kWaitTimeout) return ready;
    if (!forever && !(timeoutSeconds > 0.0)) return kWaitTimeout;

    Waiter waiter;
    waiter.wakeFd = tWake.get();
    // A stale wake (from a pulse that released an earlier wait of this
    // thread) only costs one extra round of the loop.
    fds.back() = {waiter.wakeFd, POLLIN, 0};  // a negative fd is ignored by poll
    Registrations registrations(waiter, impls, indices);

    auto finishReleased = [&](int state) {
        const int index = state >= 0 ? state : indexOfPulsedWhileClosed(state);
        for (std::size_t k = 0; k < impls.size(); ++k) {
            if (indices[k] == index) impls[k]->signals.load(std::memory_order_acquire);
        }
        return index;
    };

    for (;;) {
        double left = forever ? -1.0 : remaining();
        if (!forever && left < 0.0) left = 0.0;
        // Without a wake descriptor a pulse can only be noticed by looking
        // again, so the poll is cut into short slices.
        if (waiter.wakeFd < 0 && (forever || left > 0.01)) left = 0.01;
        timespec ts = toTimespec(left);
        const int n = ::ppoll(fds.data(), fds.size(), left < 0.0 ? nullptr : &ts, nullptr);
        if (n < 0 && errno == ENOMEM) {
            sleepFor(0.001);
            continue;
        }
        // Anything else (more objects than the descriptor limit) is a
        // programming error that no caller could handle.
        if (n < 0 && errno != EINTR) {
            std::fprintf(stderr, "fatal: poll on waitable objects failed: %s\n", std::strerror(errno));
            std::abort();
        }
        if (fds.back().revents != 0) drainWake(waiter.wakeFd);

        int state = waiter.release.load(std::memory_order_acquire);
        if (state >= 0) return finishReleased(state);

        if (n > 0) {
            state = kOpen;
            if (!waiter.release.compare_exchange_strong(state, kClosed, std::memory_order_acq_rel)) {
                return finishReleased(state);
            }
            for (std::size_t k = 0; k < impls.size(); ++k) {
                if ((fds[k].revents & (POLLIN | POLLERR | POLLHUP)) == 0) continue;
                Waitable::Impl& impl = *impls[k];
                if (impl.mode == ResetMode::Auto && !impl.consume()) continue;
                impl.signals.load(std::memory_order_acquire);
                return indices[k];
            }
            state = kClosed;
            if (!waiter.release.compare_exchange_strong(state, kOpen, std::memory_order_acq_rel)) {
                return finishReleased(state);
            }
        }

        if (!forever && remaining() <= 0.0) {
            state = kOpen;
            if (!waiter.release.compare_exchange_strong(state, kClosed, std::memory_order_acq_rel)) {
                return finishReleased(state);
            }
            return kWaitTimeout;
        }
    }
}

// ---------------------------------------------------------------- Event

Event::Event(ResetMode mode, bool initiallySet) {
    const int fd = eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    impl_ = std::make_shared<Impl>(Impl::Kind::LocalEvent, mode, fd);
}

void Event::set() const {
    if (impl_) impl_->signal();
}

void Event::reset() const {
    if (impl_) impl_->drain();
}

void Event::pulse() const {
    if (!impl_) return;
    Impl& impl = *impl_;
    impl.signals.fetch_add(1, std::memory_order_release);
    const bool releasedHere = impl.releaseWaiters();
    if (impl.kind == Impl::Kind::NamedEvent && (impl.mode == ResetMode::Manual || !releasedHere)) {
        // Best effort for waiters in other processes: the FIFO holds a byte
        // for an instant before it is drained again.
        const char byte = 1;
        writeRetry(impl.fd, &byte, 1);
    }
    impl.drain();
}

bool Event::isSet() const { return impl_ && readable(impl_->fd); }

ResetMode Event::mode() const { return impl_ ? impl_->mode : ResetMode::Manual; }

// ---------------------------------------------------------------- named events

namespace {

constexpr int kCreateAttempts = 16;

std::string baseDirectory() {
    static const std::string base = [] {
        struct stat st {};
        if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK | X_OK) == 0) {
            return std::string("/dev/shm");
        }
        return std::string("/tmp");
    }();
    return base;
}

std::string userPrefix() { return "zv-event-" + std::to_string(static_cast<unsigned long>(::geteuid())) + "-"; }

// 64-bit FNV-1a with a chosen offset basis; two bases make a 128-bit digest
// for names too long to be spelled out in a file name.
std::uint64_t fnv1a(const std::string& text, std::uint64_t basis) {
    std::uint64_t h = basis;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

// Letters, digits, '_' and '-' stand for themselves; every other byte becomes
// '%' and two hex digits, so no name can contain '/' or be "." or "..". An
// encoding longer than a file name may be is cut and completed with a digest
// of the whole name. The empty name, which would otherwise be no file name
// at all, is "%" (which no other name encodes to).
std::string encodeName(const std::string& name) {
    if (name.empty()) return "%";
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        const bool plain =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    constexpr std::size_t kMaxEncoded = 160;
    if (out.size() > kMaxEncoded) {
        char digest[40];
        std::snprintf(digest, sizeof digest, "~%016llx%016llx",
                      static_cast<unsigned long long>(fnv1a(name, 14695981039346656037ULL)),
                      static_cast<unsigned long long>(fnv1a(name, 0x6c62272e07bb0142ULL)));
        out.resize(kMaxEncoded - 33);
        out += digest;
    }
    return out;
}

std::string entryPath(const std::string& name) { return baseDirectory() + "/" + userPrefix() + encodeName(name); }

bool ownedPrivately(const struct stat& st) {
    return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::shared_ptr<Waitable::Impl> adopt(int fifoFd, ResetMode mode) {
    struct stat st {};
    if (::fstat(fifoFd, &st) != 0) {
        closeDescriptor(fifoFd);
        return nullptr;
    }
    NamedRegistry& reg = namedRegistry();
    std::lock_guard<std::mutex> guard(reg.mutex);
    auto& slot = reg.objects[{st.st_dev, st.st_ino}];
    if (auto existing = slot.second.lock()) {
        closeDescriptor(fifoFd);
        return existing;
    }
    auto impl = std::make_shared<Waitable::Impl>(Waitable::Impl::Kind::NamedEvent, mode, fifoFd);
    impl->device = st.st_dev;
    impl->inode = st.st_ino;
    slot = {impl.get(), impl};
    return impl;
}

// Opens a published entry. Sets errno to ENOENT when there is none.
std::shared_ptr<Waitable::Impl> openEntry(const std::string& path) {
    const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return nullptr;
    struct stat st {};
    if (::fstat(dir, &st) != 0 || !ownedPrivately(st)) {
        closeDescriptor(dir);
        errno = EACCES;
        return nullptr;
    }
    const int fifo = ::openat(dir, "fifo", O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    const int modeFd = fifo < 0 ? -1 : ::openat(dir, "mode", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const int savedErrno = errno;
    closeDescriptor(dir);
    if (fifo < 0 || modeFd < 0) {
        closeDescriptor(fifo);
        closeDescriptor(modeFd);
        errno = savedErrno;
        return nullptr;
    }
    char text[8] = {};
    const ssize_t n = readRetry(modeFd, text, sizeof text - 1);
    closeDescriptor(modeFd);
    if (::fstat(fifo, &st) != 0 || !S_ISFIFO(st.st_mode) || !ownedPrivately(st) || n <= 0 ||
        (text[0] != 'a' && text[0] != 'm')) {
        closeDescriptor(fifo);
        errno = EACCES;
        return nullptr;
    }
    return adopt(fifo, text[0] == 'a' ? ResetMode::Auto : ResetMode::Manual);
}

void removeEntryContents(const std::string& dirPath) {
    const int dir = ::open(dirPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir >= 0) {
        ::unlinkat(dir, "fifo", 0);
        ::unlinkat(dir, "mode", 0);
        closeDescriptor(dir);
    }
    ::rmdir(dirPath.c_str());
}

// Builds a complete entry under a temporary name. Returns the FIFO descriptor
// (-1 on failure) and the temporary path.
int buildEntry(std::string& tempPath, ResetMode mode, bool initiallySet) {
    std::string templ = baseDirectory() + "/" + userPrefix() + "new~XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) return -1;
    tempPath = templ;
    const std::string fifoPath = tempPath + "/fifo";
    const std::string modePath = tempPath + "/mode";
    int fifo = -1;
    bool ok = ::mkfifo(fifoPath.c_str(), 0600) == 0;
    if (ok) {
        fifo = ::open(fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        ok = fifo >= 0;
    }
    if (ok) {
        const int m = ::open(modePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        const char* text = mode == ResetMode::Auto ? "auto\n" : "manual\n";
        const auto len = std::strlen(text);
        ok = m >= 0 && writeRetry(m, text, len) == static_cast<ssize_t>(len);
        closeDescriptor(m);
    }
    if (ok && initiallySet) {
        const char byte = 1;
        ok = writeRetry(fifo, &byte, 1) == 1;
    }
    if (!ok) {
        closeDescriptor(fifo);
        removeEntryContents(tempPath);
        return -1;
    }
    return fifo;
}

}  // namespace

std::string namedEventPath(const std::string& name) { return entryPath(name); }

Event Event::createNamed(const std::string& name, ResetMode mode, bool initiallySet) {
    const std::string path = entryPath(name);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        if (auto existing = openEntry(path)) return Event(std::move(existing));
        if (errno != ENOENT) return Event();

        std::string temp;
        const int fifo = buildEntry(temp, mode, initiallySet);
        if (fifo < 0) return Event();
        // rename() replaces only a missing or empty directory, so of several
        // creators exactly one publishes; the others open its entry.
        if (::rename(temp.c_str(), path.c_str()) == 0) {
            if (auto impl = adopt(fifo, mode)) return Event(std::move(impl));
            return Event();
        }
        const int renameErrno = errno;
        closeDescriptor(fifo);
        removeEntryContents(temp);
        if (renameErrno != EEXIST && renameErrno != ENOTEMPTY) return Event();
    }
    return Event();
}

Event Event::openNamed(const std::string& name) {
    if (auto impl = openEntry(entryPath(name))) return Event(std::move(impl));
    return Event();
}

// Every handle holds the FIFO open for reading (and writing), so opening it
// for writing alone, without blocking, succeeds exactly when some handle is
// open anywhere (it fails with ENXIO when there is no reader). The probe is
// closed at once; the holders stay writers themselves, so its closing never
// makes them see a hang-up.
bool Event::namedInUse(const std::string& name) {
    const std::string path = entryPath(name);
    const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return false;
    struct stat st {};
    const bool owned = ::fstat(dir, &st) == 0 && ownedPrivately(st);
    const int probe = owned ? ::openat(dir, "fifo", O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC) : -1;
    closeDescriptor(dir);
    if (probe < 0) return false;
    const bool fifo = ::fstat(probe, &st) == 0 && S_ISFIFO(st.st_mode) && ownedPrivately(st);
    closeDescriptor(probe);
    return fifo;
}

void Event::unlinkNamed(const std::string& name) {
    const std::string path = entryPath(name);
    // Renaming the entry onto an empty directory of our own unpublishes it in
    // one step; its contents are removed afterwards.
    std::string dead = baseDirectory() + "/" + userPrefix() + "old~XXXXXX";
    if (::mkdtemp(dead.data()) == nullptr) {
        removeEntryContents(path);
        return;
    }
    if (::rename(path.c_str(), dead.c_str()) != 0) {
        ::rmdir(dead.c_str());
        return;
    }
    removeEntryContents(dead);
}

// ---------------------------------------------------------------- PeriodicTimer

PeriodicTimer PeriodicTimer::create() {
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0) return PeriodicTimer();
    return PeriodicTimer(std::make_shared<Impl>(Impl::Kind::Timer, ResetMode::Auto, fd));
}

void PeriodicTimer::arm(double dueSeconds, double periodSeconds) const {
    if (!impl_) return;
    itimerspec spec{};
    spec.it_value = toTimespec(dueSeconds);
    // A zero it_value would disarm the timer; "at once" is the next nanosecond.
    if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0) spec.it_value.tv_nsec = 1;
    spec.it_interval = toTimespec(periodSeconds);
    timerfd_settime(impl_->fd, 0, &spec, nullptr);
}

void PeriodicTimer::disarm() const {
    if (!impl_) return;
    const itimerspec spec{};
    timerfd_settime(impl_->fd, 0, &spec, nullptr);
}

}  // namespace plat
