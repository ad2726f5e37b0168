// The collision thread's side of the outside recorder tool.
//
// While the collision thread runs it holds four named events that the tool
// (qm_recorder, qm/tools) opens and sets: start recording, stop, start playing
// and step. The thread waits on them with its other handles and hands each
// one that is signalled to this class, which switches every client's
// collision recorder and keeps the thread's recorder mode. In the stopped
// mode the step timer runs no steps: only step events (the tool's or
// stepNow) do, so a recording can be played one step at a time.
#pragma once

#include <span>
#include <string>

#include "platform/Platform.h"
#include "qm/collision/RecorderEvents.h"

namespace QM {

class ICollisionClient;

class RecorderControl {
public:
    enum class Mode { Idle = 0, Playing = 1, Stopped = 2, Recording = 3 };
    using Signal = recorder_events::Signal;
    static constexpr Signal StartRecord = recorder_events::StartRecord;
    static constexpr Signal Stop = recorder_events::Stop;
    static constexpr Signal StartPlay = recorder_events::StartPlay;
    static constexpr Signal Step = recorder_events::Step;
    static constexpr int kSignals = recorder_events::kSignals;

    // Creates the four events (or opens them when they exist), auto-reset,
    // with `suffix` appended to each name. When any of them cannot be had,
    // none is used and the control never sees a signal. Collision thread.
    explicit RecorderControl(const std::string& suffix);

    // Whether the four events are held.
    bool listening() const noexcept { return listening_; }
    // The event of a signal (an invalid handle when not listening), to be
    // waited on with the thread's other handles.
    const plat::Waitable& event(Signal signal) const noexcept { return events_[signal]; }

    Mode mode() const noexcept { return mode_; }
    // Whether timer ticks run steps (not in the stopped mode).
    bool timerSteps() const noexcept { return mode_ != Mode::Stopped; }

    // Applies a start-record, stop or start-play signal to every client's
    // recorder (clients without one are skipped) and changes the mode. A
    // step signal changes nothing here: the thread runs the step. Collision
    // thread, outside any step.
    void apply(Signal signal, std::span<ICollisionClient* const> clients) noexcept;

private:
    plat::Event events_[kSignals];
    bool listening_ = false;
    Mode mode_ = Mode::Idle;
};

}  // namespace QM
