// The viewer's side of the shared segment (korvo/src/SharedSegment.h):
// finding the programs that publish simulated devices, attaching to one
// after checking its segment, reading the devices' records, sending hand
// commands, and recording what the hand did as a trajectory file.
//
// Everything here is used by one thread (the viewer's); none of it needs a
// display, so the tests drive it directly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "SharedSegment.h"

namespace korvo::viewer {

namespace shm = korvo::sim::shm;

// A program with a segment, as --list shows it.
struct ProgramEntry {
    long pid = 0;
    std::string program;        // empty when the segment could not be read
    std::uint32_t devices = 0;  // open handles, bit per handle
    std::string problem;        // why the segment cannot be used (empty when it can)
};

// Every segment on the machine whose process is alive, in pid order.
std::vector<ProgramEntry> listPrograms();
// True while process `pid` runs (a zombie does not).
bool processRuns(long pid);

// The segment of one program, mapped read-write.
class Link {
public:
    Link() = default;
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Maps the segment of `pid` and checks it: owned by this user, mode
    // 0600, the size of this viewer's layout, the magic number, version and
    // record sizes. False with a message for the user otherwise.
    bool attach(long pid, std::string& error);
    void detach() noexcept;
    bool attached() const noexcept { return segment_ != nullptr; }
    long pid() const noexcept { return pid_; }
    const std::string& program() const noexcept { return program_; }
    // True while the program runs and its segment is still the one mapped.
    bool alive() const;
    // True while the program runs (its devices may all be closed).
    bool programRuns() const;

    // Open handles (bit per handle).
    std::uint32_t openMask() const noexcept;
    // The device's latest record. False when it could not be read (writes
    // kept overlapping), when the device is not open, or when a field is not
    // finite or out of its range (error then says which).
    bool read(unsigned handle, shm::DeviceState& state, std::string& error) const;
    // Writes a command; the simulator takes it at its next tick.
    void send(unsigned handle, const shm::HandCommand& command) noexcept;

private:
    shm::Segment* segment_ = nullptr;
    long pid_ = 0;
    std::string program_;
    std::uint64_t inode_ = 0;
};

// A trajectory file (the format KORVO_SIM_TRAJECTORY plays) of the hand as
// the simulator took the viewer's commands. The hand target steps at the
// tick that took each command, which the file states as two points at one
// time; played back, it moves the hand at the same ticks to the same places.
class Recorder {
public:
    // Starts at device time `time` with the hand at `target` and `buttons`.
    // Times are written as whole numbers of `period` (the device's step)
    // since the start, the very numbers playback computes, so that a step
    // replays at the tick it was taken.
    void start(double time, double period, const double target[3], int buttons);
    // A command taken at device time `time`.
    void add(double time, const double target[3], int buttons);
    bool recording() const noexcept { return recording_; }
    std::size_t points() const noexcept { return lines_.size(); }
    // Ends recording at device time `time` and writes the file; false (with
    // errno) when it cannot be written.
    bool stop(double time, const std::string& path);

private:
    void line(double time, const double target[3], int buttons);
    double since(double time) const noexcept;
    bool recording_ = false;
    double start_ = 0.0;
    double period_ = 0.0;
    double last_[3] = {};
    int lastButtons_ = 0;
    std::vector<std::string> lines_;
};

// The hand as the viewer wants it, sent one command at a time: a new
// command goes out only when the simulator has taken the previous one, so
// that every command taken is seen (and recorded) and none is overwritten
// unseen.
class HandDriver {
public:
    // Takes over the hand where the device has it.
    void reset(const shm::DeviceState& state) noexcept;
    void setTarget(const double target[3]) noexcept;
    void setButtons(int buttons) noexcept;
    void setHold(bool hold) noexcept;
    void setGrip(double stiffness, double damping) noexcept;
    const double* target() const noexcept { return wanted_.target; }
    int buttons() const noexcept { return wanted_.buttons; }
    bool hold() const noexcept { return wanted_.hold != 0; }
    double gripStiffness() const noexcept { return wanted_.gripStiffness; }
    // Notes what the device took (into the recorder when one records) and
    // sends the next command when one is due.
    void pump(Link& link, unsigned handle, const shm::DeviceState& state, Recorder* recorder);
    // Lets go of the hand at once (hold off), whether or not the last
    // command was taken: for a viewer that is closing.
    void letGo(Link& link, unsigned handle) noexcept;
    // True while a sent command waits to be taken.
    bool waiting() const noexcept { return sent_.serial != taken_; }

private:
    shm::HandCommand wanted_{};
    shm::HandCommand sent_{};
    std::uint32_t taken_ = 0;
    bool dirty_ = false;
};

}  // namespace korvo::viewer
