#include "zv/Calibration.h"

#include "korvo/korvo.h"
#include "zv/Errors.h"

namespace zv {

unsigned int Calibration::check(IDeviceState& device) {
    const HZV handle = device.handle();
    std::int32_t info[KORVO_INFO_COUNT] = {};
    const int rc = get_korvo_info(handle, info, KORVO_INFO_SIZE);
    if (rc != 0) {
        raise(translateDeviceCode(rc), rc);
        return ZV_CALIBRATION_NEEDS_MANUAL_INPUT;
    }
    if (!is_calibration_supported(handle)) {
        if (!is_korvo_reset_supported(handle)) {
            return ZV_CALIBRATION_NEEDS_MANUAL_INPUT;
        }
        return device.needsEncoderReset() ? ZV_CALIBRATION_NEEDS_MANUAL_INPUT : ZV_CALIBRATION_OK;
    }
    // The status word's own value is the error code when the query fails;
    // the sentinel left in place by a device that wrote nothing translates to
    // ZV_INVALID_OPERATION.
    int status = -1000;
    if (get_calibration_status(handle, &status) < 0) {
        raise(translateDeviceCode(status), status);
        return ZV_CALIBRATION_NEEDS_MANUAL_INPUT;
    }
    if (info[KORVO_INFO_AUTO_CALIBRATION] == 0 && info[KORVO_INFO_INKWELL_CALIBRATION] == 0) {
        raise(ZV_INVALID_OPERATION, 0);
        return ZV_CALIBRATION_NEEDS_UPDATE;
    }
    const int low = status & 0x0F;
    const int high = (status >> 4) & 0x0F;
    if ((high & ~low) != 0) {
        return ZV_CALIBRATION_NEEDS_MANUAL_INPUT;
    }
    if ((high & low) != 0) {
        return ZV_CALIBRATION_NEEDS_UPDATE;
    }
    return ZV_CALIBRATION_OK;
}

void Calibration::update(IDeviceState& device, int style) {
    const HZV handle = device.handle();
    int rc = 0;
    switch (style) {
    case ZV_CALIBRATION_ENCODER_RESET:
        rc = korvo_reset(handle);
        device.setNeedsEncoderReset(false);
        break;
    case ZV_CALIBRATION_AUTO:
    case ZV_CALIBRATION_INKWELL: rc = update_calibration(handle); break;
    default: return;
    }
    if (rc != 0) {
        raise(translateDeviceCode(rc), rc);
    }
}

}  // namespace zv
