#include "ViewerLink.h"

#include "ProcessState.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace korvo::viewer {

namespace {

constexpr const char* kShmDirectory = "/dev/shm";

std::string segmentName(long pid) { return "/" + std::string(shm::kNamePrefix) + std::to_string(pid); }
std::string segmentPath(long pid) { return std::string(kShmDirectory) + segmentName(pid); }

long pidOfName(const char* name) {
    const std::size_t prefix = std::strlen(shm::kNamePrefix);
    if (std::strncmp(name, shm::kNamePrefix, prefix) != 0 || name[prefix] == '\0') return -1;
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(name + prefix, &end, 10);
    return errno == 0 && *end == '\0' && pid > 0 ? pid : -1;
}

bool processExists(long pid) {
    return (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) && !sim::processIsZombie(pid);
}

// Every number of a record, for the finiteness check.
bool finiteState(const shm::DeviceState& s, const char*& field) {
    struct Field {
        const char* name;
        const double* values;
        int count;
    };
    const Field fields[] = {
        {"usable workspace", s.usable, 6},
        {"maximum workspace", s.maximum, 6},
        {"maximum force", &s.maxForce, 1},
        {"time", &s.time, 1},
        {"period", &s.period, 1},
        {"hand target", s.handTarget, 3},
        {"position", s.position, 3},
        {"velocity", s.velocity, 3},
        {"force", s.force, 3},
        {"grip", &s.gripStiffness, 1},
        {"grip", &s.gripDamping, 1},
        {"command time", &s.commandTime, 1},
        {"proxy", s.proxy, 3},
        {"touch normal", s.touchNormal, 3},
    };
    for (const Field& f : fields)
        for (int i = 0; i < f.count; ++i)
            if (!std::isfinite(f.values[i])) {
                field = f.name;
                return false;
            }
    return true;
}

}  // namespace

bool processRuns(long pid) { return processExists(pid); }

std::vector<ProgramEntry> listPrograms() {
    std::vector<ProgramEntry> programs;
    DIR* dir = ::opendir(kShmDirectory);
    if (dir == nullptr) return programs;
    while (const dirent* entry = ::readdir(dir)) {
        const long pid = pidOfName(entry->d_name);
        if (pid < 0 || !processExists(pid)) continue;
        ProgramEntry program;
        program.pid = pid;
        Link link;
        if (link.attach(pid, program.problem)) {
            program.program = link.program();
            program.devices = link.openMask();
        }
        programs.push_back(std::move(program));
    }
    ::closedir(dir);
    std::sort(programs.begin(), programs.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return programs;
}

Link::~Link() { detach(); }

void Link::detach() noexcept {
    if (segment_ != nullptr) ::munmap(segment_, sizeof(shm::Segment));
    segment_ = nullptr;
    pid_ = 0;
    program_.clear();
}

// A segment is used only when everything about it is as this viewer
// expects: it is shared memory another process of this user writes, and it
// steers that process's hand.
bool Link::attach(long pid, std::string& error) {
    detach();
    const std::string name = segmentName(pid);
    const std::string who = "program " + std::to_string(pid);
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        const int e = errno;
        error = e == ENOENT   ? who + " has no simulated device open"
                : e == EACCES ? who + ": its segment belongs to another user; refused"
                              : who + ": cannot open its segment (" + std::strerror(e) + ")";
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = who + ": cannot examine its segment (" + std::strerror(errno) + ")";
        ::close(fd);
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = who + ": its segment belongs to user " + std::to_string(info.st_uid) + ", not to you; refused";
        ::close(fd);
        return false;
    }
    if ((info.st_mode & 0077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        error = who + ": its segment is open to other users (mode " + mode + "); refused";
        ::close(fd);
        return false;
    }
    if (static_cast<std::size_t>(info.st_size) != sizeof(shm::Segment)) {
        error = who + ": its segment has " + std::to_string(info.st_size) + " bytes, this viewer expects " +
                std::to_string(sizeof(shm::Segment)) +
                (info.st_size == 0 ? " (it is being created; try again)" : " (another version of the SDK?); refused");
        ::close(fd);
        return false;
    }
    void* memory = ::mmap(nullptr, sizeof(shm::Segment), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (memory == MAP_FAILED) {
        error = who + ": cannot map its segment (" + std::strerror(errno) + ")";
        return false;
    }
    auto* segment = static_cast<shm::Segment*>(memory);
    shm::SegmentHeader& h = segment->header;
    const std::uint32_t magic = std::atomic_ref<std::uint32_t>(h.magic).load(std::memory_order_acquire);
    const char* problem = nullptr;
    std::string detail;
    if (magic == 0)
        problem = "its segment is being created; try again";
    else if (magic != shm::kMagic)
        problem = "its segment is not a simulator's; refused";
    else if (h.version != shm::kVersion) {
        detail = "its segment has version " + std::to_string(h.version) + ", this viewer reads version " +
                 std::to_string(shm::kVersion) + "; refused";
    } else if (h.size != sizeof(shm::Segment) || h.headerSize != sizeof(shm::SegmentHeader) ||
               h.slotSize != sizeof(shm::DeviceSlot) || h.slotCount != shm::kSlotCount)
        problem = "its segment's layout differs from this viewer's (another version of the SDK?); refused";
    else if (h.pid != pid || h.uid != ::geteuid())
        problem = "its segment names another process or user; refused";
    if (problem != nullptr || !detail.empty()) {
        error = who + ": " + (problem != nullptr ? std::string(problem) : detail);
        ::munmap(memory, sizeof(shm::Segment));
        return false;
    }
    segment_ = segment;
    pid_ = pid;
    inode_ = static_cast<std::uint64_t>(info.st_ino);
    const std::size_t length = ::strnlen(h.program, sizeof h.program);
    program_.assign(h.program, length);
    return true;
}

bool Link::alive() const {
    if (segment_ == nullptr || !processExists(pid_)) return false;
    struct stat info {};
    return ::stat(segmentPath(pid_).c_str(), &info) == 0 && static_cast<std::uint64_t>(info.st_ino) == inode_;
}

bool Link::programRuns() const { return segment_ != nullptr && processExists(pid_); }

std::uint32_t Link::openMask() const noexcept {
    return segment_ != nullptr ? segment_->header.openMask.load(std::memory_order_acquire) : 0;
}

bool Link::read(unsigned handle, shm::DeviceState& state, std::string& error) const {
    if (segment_ == nullptr || handle >= shm::kSlotCount) {
        error = "not attached";
        return false;
    }
    // A tick's write takes well under a microsecond; many attempts in a row
    // failing means the writer stalled mid-record, which the next frame sees.
    if (!segment_->slots[handle].state.read(state, 1000)) {
        error = "the device's record keeps changing while it is read";
        return false;
    }
    if (state.open != 1) {
        error = "device " + std::to_string(handle) + " is not open";
        return false;
    }
    const char* field = nullptr;
    if (!finiteState(state, field)) {
        error = std::string("the device's record holds a non-finite ") + field + "; refused";
        return false;
    }
    if (state.buttonCount < 1 || state.buttonCount > 3 || state.maxForce <= 0.0) {
        error = "the device's record is inconsistent; refused";
        return false;
    }
    for (int i = 0; i < 3; ++i)
        if (!(state.maximum[2 * i] < state.maximum[2 * i + 1])) {
            error = "the device's record has an empty workspace; refused";
            return false;
        }
    state.model[sizeof state.model - 1] = '\0';
    return true;
}

void Link::send(unsigned handle, const shm::HandCommand& command) noexcept {
    if (segment_ == nullptr || handle >= shm::kSlotCount) return;
    segment_->slots[handle].command.write(command);
}

// ---------------------------------------------------------------- recorder

void Recorder::line(double time, const double target[3], int buttons) {
    char text[160];
    std::snprintf(text, sizeof text, "%.17g, %.17g, %.17g, %.17g, %d", time, target[0], target[1], target[2], buttons);
    lines_.emplace_back(text);
}

double Recorder::since(double time) const noexcept {
    const double elapsed = std::max(0.0, time - start_);
    if (period_ <= 0.0) return elapsed;
    return static_cast<double>(std::llround(elapsed / period_)) * period_;
}

void Recorder::start(double time, double period, const double target[3], int buttons) {
    lines_.clear();
    recording_ = true;
    start_ = time;
    period_ = period;
    std::copy(target, target + 3, last_);
    lastButtons_ = buttons;
    line(0.0, target, buttons);
}

void Recorder::add(double time, const double target[3], int buttons) {
    if (!recording_) return;
    const double t = since(time);
    // The hand stays where it was until this tick, then steps.
    line(t, last_, lastButtons_);
    line(t, target, buttons);
    std::copy(target, target + 3, last_);
    lastButtons_ = buttons;
}

bool Recorder::stop(double time, const std::string& path) {
    if (!recording_) return false;
    recording_ = false;
    line(since(time), last_, lastButtons_);
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    std::fprintf(file, "# Hand motion recorded by korvo_sim_viewer; plays with KORVO_SIM_TRAJECTORY.\n");
    std::fprintf(file, "# time (s), hand x, y, z (mm), buttons\n");
    for (const std::string& l : lines_) std::fprintf(file, "%s\n", l.c_str());
    const bool ok = std::ferror(file) == 0;
    return std::fclose(file) == 0 && ok;
}

// ---------------------------------------------------------------- hand driver

void HandDriver::reset(const shm::DeviceState& state) noexcept {
    wanted_ = shm::HandCommand{};
    std::copy(state.handTarget, state.handTarget + 3, wanted_.target);
    wanted_.buttons = state.buttons;
    wanted_.gripStiffness = state.gripStiffness;
    wanted_.gripDamping = state.gripDamping;
    sent_ = wanted_;
    sent_.serial = state.commandSerial;
    taken_ = state.commandSerial;
    dirty_ = false;
}

void HandDriver::setTarget(const double target[3]) noexcept {
    std::copy(target, target + 3, wanted_.target);
    dirty_ = true;
}

void HandDriver::setButtons(int buttons) noexcept {
    dirty_ = dirty_ || buttons != wanted_.buttons;
    wanted_.buttons = buttons;
}

void HandDriver::setHold(bool hold) noexcept {
    dirty_ = dirty_ || (hold ? 1 : 0) != wanted_.hold;
    wanted_.hold = hold ? 1 : 0;
}

void HandDriver::setGrip(double stiffness, double damping) noexcept {
    wanted_.gripStiffness = stiffness;
    wanted_.gripDamping = damping;
    dirty_ = true;
}

void HandDriver::pump(Link& link, unsigned handle, const shm::DeviceState& state, Recorder* recorder) {
    if (sent_.serial != taken_ && state.commandSerial == sent_.serial) {
        taken_ = sent_.serial;
        if (recorder != nullptr && recorder->recording()) {
            // What the device took: the target clamped as it clamps it.
            double target[3];
            for (int i = 0; i < 3; ++i)
                target[i] = std::fmax(state.maximum[2 * i], std::fmin(state.maximum[2 * i + 1], sent_.target[i]));
            recorder->add(state.commandTime, target, sent_.buttons & 0x7);
        }
    }
    if (!dirty_ || sent_.serial != taken_) return;
    sent_ = wanted_;
    sent_.serial = taken_ + 1 == 0 ? 1 : taken_ + 1;
    dirty_ = false;
    link.send(handle, sent_);
}

void HandDriver::letGo(Link& link, unsigned handle) noexcept {
    wanted_.hold = 0;
    const std::uint32_t previous = std::max(sent_.serial, taken_);
    sent_ = wanted_;
    sent_.serial = previous + 1;
    if (sent_.serial == 0) sent_.serial = 1;
    dirty_ = false;
    link.send(handle, sent_);
}

}  // namespace korvo::viewer
