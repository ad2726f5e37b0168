// The servo side of the motor DAC console: raw motor commands.
//
// A DAC value is what the amplifier of one motor is told, from -32768 to
// 32767 (full torque). Commanding motors directly bypasses the Cartesian
// force path, and with it the force limits that act on Cartesian forces.
#pragma once

#include <string>

#include "zv/zv.h"

namespace motor_dac {

constexpr int kMaxMotors = 6;
constexpr long kMinDacValue = -32768;
constexpr long kMaxDacValue = 32767;

struct DacConsole {
    int motorCount = 0;    // ZV_OUTPUT_DOF
    int encoderCount = 0;  // ZV_INPUT_DOF
    // Main thread: the values being edited, one per motor.
    ZVlong edited[kMaxMotors] = {};
    int selectedMotor = 0;
    // Servo thread: what the DAC callback sends every tick. Replaced only by
    // copyEditedCallback, which runs on the servo thread between ticks, so a
    // tick never sends a half-copied set.
    ZVlong commanded[kMaxMotors] = {};
};

// What one "print the device state" reads, in one go on the servo thread.
struct DeviceStateReport {
    ZVlong encoders[6] = {};  // the device always delivers six
    ZVlong dacValues[kMaxMotors] = {};
    double position[3] = {};
};

// Servo callback: sends the commanded DAC values every tick. After any error
// the commanded values are zeroed (a motor must not keep pushing after a
// fault); a scheduler error ends the callback. User data: the DacConsole.
ZVCallbackCode dacCallback(void* console);

// Synchronous callback: copies the edited values into the commanded ones.
// User data: the DacConsole.
ZVCallbackCode copyEditedCallback(void* console);

// Synchronous callback: reads encoders, motor DAC values and position of the
// current device. User data: a DeviceStateReport.
ZVCallbackCode readDeviceStateCallback(void* report);

// The device state as printed: "\nMotor DAC Values: ...\nEncoder Values:
// ...\nPosition: x y z\n".
std::string deviceStateText(const DacConsole& console, const DeviceStateReport& report);

// "Motor DAC Values:" with the edited value of every motor.
std::string editedValuesText(const DacConsole& console);

// Reads a typed line as a DAC value: a decimal integer (blanks around it
// allowed) within [kMinDacValue, kMaxDacValue]. False for anything else.
bool parseDacValue(const std::string& text, long& value);

}  // namespace motor_dac
