// Publishing the devices of this process in its shared-memory segment
// (shared_segment.h): creating and removing the segment, and removing the
// segments of processes that are gone.
#pragma once

#include <atomic>
#include <string>

#include "SharedSegment.h"

namespace korvo::sim {

class Publisher {
public:
    Publisher() = default;
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Client threads, serialised by the caller. Creates this process's
    // segment unless it exists, after removing stale segments. False when
    // the segment cannot be made: the devices then simply run unpublished
    // (the reason is printed once on standard error).
    bool create() noexcept;
    // Removes the segment's name and unmaps it. The caller guarantees that
    // the servo thread no longer writes to it (no device is open).
    void remove() noexcept;
    // The mapped segment or null. The servo thread loads it while it holds
    // an open device's lock, which keeps the segment alive.
    shm::Segment* segment() const noexcept { return segment_.load(std::memory_order_acquire); }

    // Removes the segments (of this user) whose process no longer exists,
    // and one that carries this process's id (left by an earlier process
    // that had the same id). Returns how many were removed.
    static unsigned removeStale() noexcept;
    // "/korvo_sim.<pid>".
    static std::string nameFor(long pid);

private:
    std::atomic<shm::Segment*> segment_{nullptr};
    std::string name_;
    bool reported_ = false;
};

}  // namespace korvo::sim
