// The names of the four named events through which an outside tool switches
// the collision recorders of a running program: shared by the collision
// thread, which creates and waits on them, and by the tool (qm_recorder),
// which opens and sets them.
#pragma once

namespace QM::recorder_events {

enum Signal { StartRecord = 0, Stop = 1, StartPlay = 2, Step = 3, kSignals = 4 };

inline constexpr const char* kNames[kSignals] = {"TavrinStartRecord", "TavrinStop", "TavrinStartPlay", "TavrinStep"};

}  // namespace QM::recorder_events
