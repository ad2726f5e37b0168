#include "Trace.h"

#include <system_error>

#include "Error.h"
#include "korvo/korvo_sim.h"

namespace korvo::sim {

namespace {
// A large stdio buffer: the disk sees a write only every few thousand rows.
constexpr std::size_t kBufferSize = 1 << 20;
// How long the writer sleeps when it has found nothing to write.
constexpr double kWriterPeriodSeconds = 0.005;
constexpr double kFullRingPauseSeconds = 0.0001;
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
    std::lock_guard life(lifeMutex_);
    if (!ring_) ring_ = std::make_unique<TraceRow[]>(kRingRows);
    open_.store(false, std::memory_order_release);
    stopWriter();
    closeFile(file_);
    file_ = std::move(next);
    // Rows queued after the previous trace's last write belong to no file.
    tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
    dropped_.store(0, std::memory_order_relaxed);
    stopWriter_.store(false, std::memory_order_release);
    try {
        writer_ = plat::Thread("KorvoTrace", [this] { writerBody(); });
    } catch (const std::system_error&) {
        closeFile(file_);
        throw Error(KORVO_SIM_E_FILE);
    }
    open_.store(true, std::memory_order_release);
}

bool TraceWriter::close() noexcept {
    std::lock_guard life(lifeMutex_);
    open_.store(false, std::memory_order_release);
    stopWriter();
    const bool complete = dropped_.exchange(0, std::memory_order_relaxed) == 0;
    const bool written = closeFile(file_);
    return complete && written;
}

void TraceWriter::stopWriter() noexcept {
    if (!writer_.joinable()) return;
    stopWriter_.store(true, std::memory_order_release);
    writer_.join();
    writer_ = plat::Thread();
}

bool TraceWriter::closeFile(File& file) noexcept {
    if (file.handle == nullptr) return true;
    const bool ok = std::ferror(file.handle) == 0;
    const bool closed = std::fclose(file.handle) == 0;
    file.handle = nullptr;
    file.buffer.reset();
    return ok && closed;
}

void TraceWriter::write(const TraceRow& row) noexcept {
    if (!open_.load(std::memory_order_acquire)) return;
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    // A full ring means the writer has been starved for seconds, or the
    // manual clock runs ticks faster than rows can be formatted: the row
    // waits for room rather than being lost.
    while (head - tail_.load(std::memory_order_acquire) >= kRingRows) {
        if (!open_.load(std::memory_order_acquire)) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        plat::sleepFor(kFullRingPauseSeconds);
    }
    ring_[head % kRingRows] = row;
    head_.store(head + 1, std::memory_order_release);
}

void TraceWriter::drain() noexcept {
    const std::uint64_t head = head_.load(std::memory_order_acquire);
    for (std::uint64_t tail = tail_.load(std::memory_order_relaxed); tail != head; ++tail) {
        const TraceRow& r = ring_[tail % kRingRows];
        char line[512];
        const int n =
            std::snprintf(line, sizeof line, "%.6f,%u,%.4f,%.4f,%.4f,%.4f,%.4f,%.4f,%.3f,%.3f,%.3f,%.4f,%.4f,%.4f\n",
                          r.time, r.device, r.handTarget.x, r.handTarget.y, r.handTarget.z, r.position.x, r.position.y,
                          r.position.z, r.velocity.x, r.velocity.y, r.velocity.z, r.force.x, r.force.y, r.force.z);
        tail_.store(tail + 1, std::memory_order_release);
        if (n > 0 && file_.handle != nullptr) {
            const auto length =
                static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
            std::fwrite(line, 1, length, file_.handle);
        }
    }
}

void TraceWriter::writerBody() noexcept {
    while (!stopWriter_.load(std::memory_order_acquire)) {
        if (head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_relaxed)) {
            plat::sleepFor(kWriterPeriodSeconds);
            continue;
        }
        drain();
    }
    drain();
}

}  // namespace korvo::sim
