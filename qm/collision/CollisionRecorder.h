// The collision recorder of a rendering context: a diagnostic that writes the
// device target of every collision step into a file, or plays such a file
// back into the target, so that a session's collisions can be replayed step
// by step. An outside tool switches it through named events that the
// collision thread listens to (RecorderControl.h).
//
// The file, "CollisionFile.dat" in the current directory, is XML-like text
// with several top-level elements and one item per line:
//
//   <?xml version="1.0"?>
//   <!-- Orvell Technologies collision dump file. -->
//   <FileVersion>1.0</FileVersion>
//   <Build>zvGetString(ZV_VERSION)</Build>
//   <Tick>
//   <TargetPos>x y z</TargetPos>
//   </Tick>
//   ... one Tick element per recorded step
#pragma once

#include <atomic>
#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

#include "qm/qm.h"
#include "zvu/Vector3D.h"

namespace QM {

class IErrorManager;
class ITarget;

enum class RecorderMode : int { Playback = 0, Recording = 1, Off = 2 };

class ICollisionRecorder {
public:
    virtual ~ICollisionRecorder() = default;
    // The current mode. Any thread (a snapshot: only the collision thread
    // changes it).
    virtual RecorderMode mode() const noexcept = 0;
    // Leaves the current mode and enters `mode`: recording truncates the file
    // and writes its header, playback reads and parses the whole file.
    // Entering the mode the recorder is in starts it afresh. Problems are
    // recorded in the context's error store; nothing is thrown. Collision
    // thread.
    virtual void setMode(RecorderMode mode) noexcept = 0;
    // Sets the target's position from the next tick of the file, going back
    // to its start (and reading it again) after the last tick. Collision
    // thread, in playback mode.
    virtual void playbackStep(ITarget& target) noexcept = 0;
    // Appends one tick with the target's position. Collision thread, in
    // recording mode.
    virtual void recordStep(const ITarget& target) noexcept = 0;

    // What a collision step does: records or plays as the mode says.
    void step(ITarget& target) noexcept {
        switch (mode()) {
        case RecorderMode::Recording: recordStep(target); break;
        case RecorderMode::Playback: playbackStep(target); break;
        case RecorderMode::Off: break;
        }
    }
};

// Errors it records: QM_INVALID_OPERATION when the file cannot be opened,
// created or written; QM_INVALID_VALUE for malformed content. A file that is
// malformed or cut short is played as far as it holds whole ticks; its
// problems are reported at the step where playback reaches them, once per
// playback run. Every operation but mode() and the destructor belongs to the
// collision thread, so the recorder holds no lock.
class CollisionRecorder final : public ICollisionRecorder {
public:
    static constexpr const char* kFileName = "CollisionFile.dat";

    // Playback writes a line "TargetPos x y z" to `echo` (the context passes
    // standard output; null for none) for every position it sets.
    explicit CollisionRecorder(IErrorManager& errors, std::string path = kFileName, std::ostream* echo = nullptr);
    ~CollisionRecorder() override;
    // The process's standard output stream (the echo contexts use).
    static std::ostream* standardOutput() noexcept;
    CollisionRecorder(const CollisionRecorder&) = delete;
    CollisionRecorder& operator=(const CollisionRecorder&) = delete;

    RecorderMode mode() const noexcept override { return mode_.load(std::memory_order_acquire); }
    void setMode(RecorderMode mode) noexcept override;
    void playbackStep(ITarget& target) noexcept override;
    void recordStep(const ITarget& target) noexcept override;

private:
    // One Tick element of the file being played.
    struct Tick {
        std::size_t first = 0;  // its positions in positions_
        std::size_t count = 0;
        bool malformed = false;  // some TargetPos of it could not be read
    };

    // Claims and truncates the file and writes the header; false (reported)
    // when it cannot.
    bool openForRecording();
    void closeRecording(bool reportFailure);
    // Reads and parses the file into ticks_ and positions_, and notes in
    // endProblem_ what could not be played.
    void load();
    void loadText(const std::string& text);
    void report(QMenum code) noexcept;

    IErrorManager& errors_;
    const std::string path_;
    std::ostream* echo_;
    std::atomic<RecorderMode> mode_{RecorderMode::Off};

    // Recording.
    std::ofstream out_;
    bool claimed_ = false;      // this recorder is the process's writer of path_
    bool writeFailed_ = false;  // reported once per recording

    // Playback.
    std::vector<zvu::zvuVector3Dd> positions_;
    std::vector<Tick> ticks_;
    std::size_t cursor_ = 0;
    bool loaded_ = false;
    // What made part of the file unplayable (null: nothing), and the
    // problem already reported in this playback run.
    QMenum endProblem_ = nullptr;
    QMenum reportedEnd_ = nullptr;
    bool reportedMalformedTick_ = false;
    bool havePlayed_ = false;
    zvu::zvuVector3Dd lastPlayed_{};
};

}  // namespace QM
