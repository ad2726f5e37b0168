// Calibration checks and updates.
#pragma once

#include "zv/DeviceState.h"

namespace zv {

class ICalibration {
public:
    virtual ~ICalibration() = default;
    // One of the ZV_CALIBRATION_OK / NEEDS_UPDATE / NEEDS_MANUAL_INPUT codes;
    // failures are raised.
    virtual unsigned int check(IDeviceState& device) = 0;
    virtual void update(IDeviceState& device, int style) = 0;
};

// The calibration status word of a device holds two nibbles: bits 4-7 mark
// the axes that need calibrating, bits 0-3 the axes the device can calibrate
// by itself. An axis that needs calibrating and cannot be calibrated
// automatically needs the user; otherwise any axis that needs it can be
// updated automatically. Devices without calibration support but with an
// encoder reset need one reset after they are opened.
class Calibration : public ICalibration {
public:
    unsigned int check(IDeviceState& device) override;
    void update(IDeviceState& device, int style) override;
};

ICalibration& calibration();

}  // namespace zv
