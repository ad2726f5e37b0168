// The events a rendering context raises: once per collision step (the
// collision tick, touches, buttons and switches, motion) and at every
// qmCheckEvents (motion on the client thread, calibration).
#pragma once

#include <cstddef>
#include <vector>

#include "common/Lock.h"
#include "qm/collision/TouchState.h"
#include "qm/events/EventManager.h"
#include "qm/state/StateCache.h"

namespace QM {

class IErrorManager;

// The buttons (bits 0 to 2) and the two switches, as published by a step.
struct SwitchState {
    int buttons = 0;
    bool safety = false;
    bool inkwell = false;
};

// What one collision step found.
struct StepChanges {
    // Touch changes left by the last frame end, then those of this step.
    const std::vector<TouchChange>& carriedTouches;
    const std::vector<TouchChange>& stepTouches;
    SwitchState before;
    SwitchState now;
    // The shapes touched now, in increasing order.
    const std::vector<unsigned>& touched;
    int calibrationStatus;
};

// The start of a collision step (collision thread, renderer lock held):
// raises QM_INT_EVENT_COLLISION_TICK for QM_OBJECT_ANY, then runs the
// collision-thread events that other threads raised since the last step.
// Failures are recorded in `errors` and go no further.
void raiseStepStart(IEventManager& events, const IStateCache& collisionCache, sched::Lock& cacheLock,
                    IErrorManager& errors) noexcept;

// The end of a collision step, after the step's state has been published
// into the collision cache (collision thread, renderer lock held): touch
// and untouch for the shape and for QM_OBJECT_ANY; the down and up events
// of the three buttons, the safety switch and the inkwell for
// QM_OBJECT_ANY and then for every touched shape; the collision thread's
// motion events likewise. Failures are recorded in `errors` and go no
// further.
void raiseStepEvents(IEventManager& events, const StepChanges& changes, const IStateCache& collisionCache,
                     sched::Lock& cacheLock, IErrorManager& errors) noexcept;

// The checks of qmCheckEvents (client thread, no library lock held): the
// client thread's motion events for QM_OBJECT_ANY and for the shapes
// touched at the last step, and the calibration event of the status read
// at the last step, raised again at every call while the status holds.
void raiseClientChecks(IEventManager& events, const IStateCache& clientCache, sched::Lock& cacheLock);

// Appends touch changes to those waiting for the next step, keeping at most
// kMaxCarriedTouches (the oldest go first).
constexpr std::size_t kMaxCarriedTouches = 1000;
void carryTouchChanges(std::vector<TouchChange>& waiting, const std::vector<TouchChange>& found);

}  // namespace QM
