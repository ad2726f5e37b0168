#include "trace.h"

#include "error.h"
#include "korvo/korvo_sim.h"

namespace korvo::sim {

namespace {
// A large stdio buffer: the servo thread formats into it and the disk sees a
// write only every few hundred ticks.
constexpr std::size_t kBufferSize = 1 << 20;
}  // namespace

TraceWriter::~TraceWriter() { close(); }

void TraceWriter::open(const std::string& path) {
    File next;
    next.handle = std::fopen(path.c_str(), "w");
    require(next.handle != nullptr, KORVO_SIM_E_FILE);
    next.buffer = std::make_unique<char[]>(kBufferSize);
    std::setvbuf(next.handle, next.buffer.get(), _IOFBF, kBufferSize);
    if (std::fputs(kHeader, next.handle) < 0) {
        closeFile(next);
        throw Error(KORVO_SIM_E_FILE);
    }
    File previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(file_);
        file_ = std::move(next);
    }
    closeFile(previous);
}

bool TraceWriter::close() noexcept {
    File previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(file_);
        file_ = File{};
    }
    return closeFile(previous);
}

bool TraceWriter::closeFile(File& file) noexcept {
    if (file.handle == nullptr) return true;
    const bool ok = std::ferror(file.handle) == 0;
    const bool closed = std::fclose(file.handle) == 0;
    file.handle = nullptr;
    file.buffer.reset();
    return ok && closed;
}

bool TraceWriter::isOpen() const noexcept {
    std::lock_guard lock(mutex_);
    return file_.handle != nullptr;
}

void TraceWriter::write(const TraceRow& r) noexcept {
    char line[512];
    const int n = std::snprintf(line, sizeof line,
                                "%.6f,%u,%.4f,%.4f,%.4f,%.4f,%.4f,%.4f,%.3f,%.3f,%.3f,%.4f,%.4f,%.4f\n", r.time,
                                r.device, r.handTarget.x, r.handTarget.y, r.handTarget.z, r.position.x, r.position.y,
                                r.position.z, r.velocity.x, r.velocity.y, r.velocity.z, r.force.x, r.force.y,
                                r.force.z);
    if (n <= 0) return;
    std::lock_guard lock(mutex_);
    if (file_.handle != nullptr)
        std::fwrite(line, 1, static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1,
                    file_.handle);
}

}  // namespace korvo::sim
