#include "Publisher.h"

#include "ProcessState.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace korvo::sim {

namespace {

constexpr const char* kShmDirectory = "/dev/shm";

// The process id in a segment's file name, or -1 for another file.
long pidOfName(const char* name) {
    const std::size_t prefix = std::strlen(shm::kNamePrefix);
    if (std::strncmp(name, shm::kNamePrefix, prefix) != 0) return -1;
    const char* digits = name + prefix;
    if (*digits == '\0') return -1;
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(digits, &end, 10);
    if (errno != 0 || *end != '\0' || pid <= 0) return -1;
    return pid;
}

}  // namespace

// Formatted rather than concatenated: GCC 12 at -O3 reports a false overlap
// (-Wrestrict) for a literal prefixed to a std::string.
std::string Publisher::nameFor(long pid) {
    char name[96];
    std::snprintf(name, sizeof name, "/%s%ld", shm::kNamePrefix, pid);
    return name;
}

unsigned Publisher::removeStale() noexcept {
    DIR* dir = ::opendir(kShmDirectory);
    if (dir == nullptr) return 0;
    const long self = static_cast<long>(::getpid());
    const uid_t uid = ::geteuid();
    unsigned removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const long pid = pidOfName(entry->d_name);
        if (pid < 0) continue;
        struct stat info {};
        std::string path(kShmDirectory);
        path += '/';
        path += entry->d_name;
        if (::stat(path.c_str(), &info) != 0 || info.st_uid != uid) continue;
        // A process that exists but is not ours answers EPERM: it stays.
        const bool gone =
            pid == self || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) || processIsZombie(pid);
        if (gone && ::shm_unlink(nameFor(pid).c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool Publisher::create() noexcept {
    if (segment() != nullptr) return true;
    removeStale();
    const long pid = static_cast<long>(::getpid());
    std::string name;
    try {
        name = nameFor(pid);
    } catch (...) {
        return false;
    }
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    void* memory = MAP_FAILED;
    if (fd >= 0) {
        // The mode asked for is already 0600 at most; fchmod makes it exact
        // whatever the umask.
        if (::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && ::ftruncate(fd, sizeof(shm::Segment)) == 0)
            memory = ::mmap(nullptr, sizeof(shm::Segment), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
    }
    if (memory == MAP_FAILED) {
        const int error = errno;
        if (fd >= 0) ::shm_unlink(name.c_str());
        if (!reported_) {
            reported_ = true;
            std::fprintf(stderr, "korvo: cannot publish the simulated devices for viewers (%s: %s)\n", name.c_str(),
                         std::strerror(error));
        }
        return false;
    }
    auto* segment = new (memory) shm::Segment{};
    shm::SegmentHeader& h = segment->header;
    h.version = shm::kVersion;
    h.size = sizeof(shm::Segment);
    h.headerSize = sizeof(shm::SegmentHeader);
    h.slotSize = sizeof(shm::DeviceSlot);
    h.slotCount = shm::kSlotCount;
    h.pid = static_cast<std::int32_t>(pid);
    h.uid = static_cast<std::uint32_t>(::geteuid());
    std::snprintf(h.program, sizeof h.program, "%s", program_invocation_short_name);
    // The magic number last: a viewer that maps the segment while it is
    // being filled sees an unfinished one and tries again later.
    std::atomic_ref<std::uint32_t>(h.magic).store(shm::kMagic, std::memory_order_release);
    name_ = std::move(name);
    segment_.store(segment, std::memory_order_release);
    return true;
}

void Publisher::remove() noexcept {
    shm::Segment* segment = segment_.exchange(nullptr, std::memory_order_acq_rel);
    if (segment == nullptr) return;
    ::shm_unlink(name_.c_str());
    ::munmap(segment, sizeof(shm::Segment));
}

}  // namespace korvo::sim
