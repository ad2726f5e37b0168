#include "qm/collision/RecorderControl.h"

#include "qm/collision/CollisionRecorder.h"
#include "qm/collision/CollisionScheduler.h"

namespace QM {

namespace {

void setModes(std::span<ICollisionClient* const> clients, RecorderMode mode) noexcept {
    for (ICollisionClient* client : clients) {
        if (ICollisionRecorder* recorder = client->collisionRecorder()) {
            recorder->setMode(mode);
        }
    }
}

}  // namespace

// The events are the library's to create: a tool only opens them, so that a
// tool run while no program listens can say so instead of setting events
// nobody waits for.
RecorderControl::RecorderControl(const std::string& suffix) {
    try {
        listening_ = true;
        for (int i = 0; i < kSignals; ++i) {
            events_[i] = plat::Event::createNamed(recorder_events::kNames[i] + suffix, plat::ResetMode::Auto, false);
            listening_ = listening_ && events_[i].valid();
        }
    } catch (...) {
        listening_ = false;
    }
    if (!listening_) {
        for (plat::Event& e : events_) {
            e = plat::Event();
        }
    }
}

// Leaving recording closes the file before playback reads it, so a stop
// after a recording plays back exactly what was recorded.
void RecorderControl::apply(Signal signal, std::span<ICollisionClient* const> clients) noexcept {
    switch (signal) {
    case StartRecord:
        setModes(clients, RecorderMode::Recording);
        mode_ = Mode::Recording;
        break;
    case Stop:
        if (mode_ == Mode::Recording) {
            setModes(clients, RecorderMode::Off);
            setModes(clients, RecorderMode::Playback);
        } else if (mode_ == Mode::Idle) {
            setModes(clients, RecorderMode::Playback);
        }
        mode_ = Mode::Stopped;
        break;
    case StartPlay:
        if (mode_ == Mode::Idle || mode_ == Mode::Recording) {
            setModes(clients, RecorderMode::Playback);
        }
        mode_ = Mode::Playing;
        break;
    default: break;
    }
}

}  // namespace QM
