// The shared-memory segment through which a process publishes its simulated
// devices to viewers (korvo_sim_viewer), and through which a viewer moves the
// virtual hand.
//
// One segment per process, named "/korvo_sim.<pid>", mode 0600, created when
// the process opens its first simulated device and removed when it closes the
// last one (or at exit). A segment whose process is gone (a crash, a kill)
// is removed by the next process that creates its own.
//
// The segment holds a header and one slot per device handle. Each slot has
// two records, each behind a sequence lock of its own:
//   - the device's state, written by the servo thread after every tick (and
//     by the opening and closing threads, under the device's lock) and read
//     by viewers;
//   - the viewer's command, written by one viewer and taken by the servo
//     thread at the next tick.
// Records are copied word by word through 64-bit atomics, so neither side
// ever takes a lock or makes a system call to exchange them, and a reader
// that meets a write in progress simply tries again (a viewer) or waits for
// the next tick (the servo thread).
//
// Compatibility: a reader checks the magic, the version and every size in
// the header against its own, and refuses the segment on any difference.
// Fields are only ever added by raising the version.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvo::sim::shm {

constexpr std::uint32_t kMagic = 0x4D53564Bu;  // "KVSM" in memory order
constexpr std::uint32_t kVersion = 1;
constexpr unsigned kSlotCount = 16;  // one per device handle
// Segment names are "/" kNamePrefix <pid>; /dev/shm shows them without the slash.
constexpr const char* kNamePrefix = "korvo_sim.";

// What a device shows, published once per servo tick. Lengths in mm, forces
// in N, times in seconds of the device's clock (simulated time since open).
struct DeviceState {
    char model[32];        // model name, NUL-terminated
    double usable[6];      // usable workspace: low x, high x, low y, high y, low z, high z
    double maximum[6];     // maximum workspace (the end stops), same order
    double maxForce;       // nominal maximum force
    double time;           // device clock at the end of the last tick
    double period;         // length of the last tick's step (0 before the first)
    double handTarget[3];  // where the virtual hand pulls the stylus
    double position[3];    // true stylus position
    double velocity[3];    // true stylus velocity, mm/s
    double force[3];       // force the motors apply now
    double gripStiffness;  // the hand's grip, N/mm
    double gripDamping;    // N s/mm
    double commandTime;    // device clock of the tick that took the last command
    std::uint64_t ticks;   // ticks published since the device opened
    std::int32_t open;     // 1 while the device is open, 0 once closed
    std::int32_t buttons;  // button bits
    std::int32_t buttonCount;
    std::int32_t forcesOn;        // forces enabled by the program
    std::int32_t warmMotors;      // the warm-motor cut-off is active
    std::int32_t lastFault;       // last negative code a device call returned (0: none yet)
    std::int32_t playing;         // a trajectory plays the hand
    std::int32_t held;            // a viewer holds the hand (the trajectory is paused)
    std::uint32_t commandSerial;  // serial of the last viewer command taken (0: none)
    std::int32_t rendererValid;   // the fields below are published by the rendering library
    // What a rendering library in the process publishes through
    // korvo_sim_publish_proxy: its proxy (the point the stylus is held to on
    // a surface) and, while touching, the normal of the touched surface.
    std::int32_t touching;
    std::int32_t reserved;
    double proxy[3];
    double touchNormal[3];
};

// What a viewer asks for. A command is taken once, at the first tick after
// its serial changes; every field applies (the viewer always sends its whole
// view of the hand).
struct HandCommand {
    std::uint32_t serial;  // raised by the viewer for every new command; 0 is no command
    std::int32_t hold;     // 1: the viewer holds the hand and a playing trajectory pauses
    double target[3];      // hand target, clamped to the maximum workspace
    std::int32_t buttons;  // button bits 0..7 (bits the model lacks are ignored)
    std::int32_t reserved;
    double gripStiffness;  // 0..100 N/mm
    double gripDamping;    // 0..10 N s/mm
};

static_assert(sizeof(DeviceState) % 8 == 0 && sizeof(HandCommand) % 8 == 0);

// A record of T behind a sequence lock. One writer at a time (the caller
// guarantees it); any number of readers. The writer makes the sequence odd,
// stores the words, and makes it even again; a reader accepts a copy only
// when the sequence was even and unchanged around it. Release stores of the
// words and acquire loads order them against the sequence without fences.
template <class T>
class SeqRecord {
public:
    // A writer killed in the middle of a write (a viewer is another
    // process) leaves the sequence odd; the next write then starts from the
    // next odd value, so the record works again and no copy made meanwhile
    // passes for whole.
    void write(const T& value) noexcept {
        std::uint64_t words[kWords];
        std::memcpy(words, &value, sizeof(T));
        const std::uint32_t s = sequence_.load(std::memory_order_relaxed);
        const std::uint32_t writing = (s & 1u) != 0 ? s + 2 : s + 1;
        sequence_.store(writing, std::memory_order_relaxed);
        for (std::size_t i = 0; i < kWords; ++i) words_[i].store(words[i], std::memory_order_release);
        sequence_.store(writing + 1, std::memory_order_release);
    }

    // One attempt; false when a write was in progress or happened meanwhile.
    bool tryRead(T& out) const noexcept {
        const std::uint32_t before = sequence_.load(std::memory_order_acquire);
        if ((before & 1u) != 0) return false;
        std::uint64_t words[kWords];
        for (std::size_t i = 0; i < kWords; ++i) words[i] = words_[i].load(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) != before) return false;
        std::memcpy(&out, words, sizeof(T));
        return true;
    }

    // Up to `attempts` attempts.
    bool read(T& out, unsigned attempts) const noexcept {
        for (unsigned i = 0; i < attempts; ++i)
            if (tryRead(out)) return true;
        return false;
    }

private:
    static constexpr std::size_t kWords = sizeof(T) / 8;
    std::atomic<std::uint32_t> sequence_{0};
    std::uint32_t padding_ = 0;
    std::atomic<std::uint64_t> words_[kWords] = {};
};

struct DeviceSlot {
    SeqRecord<DeviceState> state;
    SeqRecord<HandCommand> command;
};

struct SegmentHeader {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t size;        // sizeof(Segment)
    std::uint32_t headerSize;  // sizeof(SegmentHeader)
    std::uint32_t slotSize;    // sizeof(DeviceSlot)
    std::uint32_t slotCount;
    std::int32_t pid;
    std::uint32_t uid;
    char program[64];  // the publishing program's name, NUL-terminated
    // Bit i set while handle i is open (a hint; the slot's record decides).
    std::atomic<std::uint32_t> openMask;
    std::uint32_t reserved;
};

struct Segment {
    SegmentHeader header;
    DeviceSlot slots[kSlotCount];
};

static_assert(std::atomic<std::uint64_t>::is_always_lock_free && std::atomic<std::uint32_t>::is_always_lock_free,
              "the records are shared between processes and need address-free atomics");

}  // namespace korvo::sim::shm
