// The per-tick CSV trace: one line per tick and open device, for plots.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "vec.h"

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
    // Flushes and closes the trace; returns false when a write failed.
    virtual bool close() noexcept = 0;
    virtual bool isOpen() const noexcept = 0;
    // Appends one line (buffered); does nothing when no trace is open.
    virtual void write(const TraceRow& row) noexcept = 0;
};

class TraceWriter final : public ITraceWriter {
public:
    static constexpr const char* kHeader =
        "time,device,hand_x,hand_y,hand_z,pos_x,pos_y,pos_z,vel_x,vel_y,vel_z,force_x,force_y,force_z\n";

    TraceWriter() = default;
    ~TraceWriter() override;
    void open(const std::string& path) override;
    bool close() noexcept override;
    bool isOpen() const noexcept override;
    void write(const TraceRow& row) noexcept override;

private:
    struct File {
        std::FILE* handle = nullptr;
        std::unique_ptr<char[]> buffer;
    };
    static bool closeFile(File& file) noexcept;

    mutable std::mutex mutex_;
    File file_;
};

}  // namespace korvo::sim
