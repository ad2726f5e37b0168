// The per-tick CSV trace: one line per tick and open device, for plots.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "Vec.h"
#include "platform/Platform.h"

namespace korvo::sim {

struct TraceRow {
    double time;
    unsigned device;
    Vec3 handTarget;
    Vec3 position;
    Vec3 velocity;
    Vec3 force;
};

class ITraceWriter {
public:
    virtual ~ITraceWriter() = default;
    // Starts a new trace file with its header line, replacing (and closing)
    // any open one. Throws Error(KORVO_SIM_E_FILE) when the file cannot be
    // created; the previous trace is then left as it was.
    virtual void open(const std::string& path) = 0;
    // Writes out the rows still queued, then closes the trace; returns false
    // when a write failed or rows were lost.
    virtual bool close() noexcept = 0;
    virtual bool isOpen() const noexcept = 0;
    // Queues one line; does nothing when no trace is open. Called by one
    // thread at a time (the servo thread).
    virtual void write(const TraceRow& row) noexcept = 0;
};

// The servo thread only copies each row into a ring of rows reserved when the
// first trace opens: it never formats, writes, allocates or takes a lock for
// the trace. A writer thread of the trace takes the rows out every few
// milliseconds, formats them and writes them through a large stdio buffer.
// Should the ring ever be full (the writer starved for seconds, or the manual
// clock running ticks faster than rows are formatted), the servo thread waits
// for room: a row is lost only when the trace closes meanwhile, and close()
// then reports the loss.
class TraceWriter final : public ITraceWriter {
public:
    static constexpr const char* kHeader =
        "time,device,hand_x,hand_y,hand_z,pos_x,pos_y,pos_z,vel_x,vel_y,vel_z,force_x,force_y,force_z\n";
    // Rows the ring holds: seconds of a 1 kHz loop with a few devices.
    static constexpr std::uint64_t kRingRows = 1u << 13;

    TraceWriter() = default;
    ~TraceWriter() override;
    void open(const std::string& path) override;
    bool close() noexcept override;
    bool isOpen() const noexcept override { return open_.load(std::memory_order_acquire); }
    void write(const TraceRow& row) noexcept override;

private:
    struct File {
        std::FILE* handle = nullptr;
        std::unique_ptr<char[]> buffer;
    };
    static bool closeFile(File& file) noexcept;
    // Writer side: formats and writes the queued rows to file_.
    void drain() noexcept;
    void writerBody() noexcept;
    // Stops the writer thread after it has written every queued row.
    void stopWriter() noexcept;

    // open and close, one at a time.
    std::mutex lifeMutex_;
    std::atomic<bool> open_{false};
    std::unique_ptr<TraceRow[]> ring_;
    std::atomic<std::uint64_t> head_{0};  // rows queued in total (servo thread)
    std::atomic<std::uint64_t> tail_{0};  // rows taken in total (writer)
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<bool> stopWriter_{false};
    plat::Thread writer_;
    File file_;  // the writer's while it runs
};

}  // namespace korvo::sim
