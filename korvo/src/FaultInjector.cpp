#include "FaultInjector.h"

#include "korvo/korvo.h"

namespace korvo::sim {

bool FaultInjector::meets(int code, FaultSite site) noexcept {
    switch (code) {
    case KORVO_WARM_MOTORS:
    case KORVO_EXCEEDED_MAX_FORCE:
    case KORVO_NON_FINITE_VALUE:
    case KORVO_EXCEEDED_MAX_FORCE_IMPULSE:
    case KORVO_EXCEEDED_MAX_VELOCITY: return site == FaultSite::Output;
    case KORVO_CALIBRATION_FAILED: return site == FaultSite::Calibration;
    default: return site == FaultSite::Update || site == FaultSite::Output;
    }
}

int FaultInjector::meet(FaultSite site) noexcept {
    if (oneShot_ != 0 && meets(oneShot_, site)) {
        const int code = oneShot_;
        oneShot_ = 0;
        return code;
    }
    if (persistent_ != 0 && meets(persistent_, site)) return persistent_;
    return 0;
}

}  // namespace korvo::sim
