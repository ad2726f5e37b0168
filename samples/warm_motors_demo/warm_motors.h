// The floor and the force ramp of the warm motors demo.
//
// Motors heat with the square of the torque they deliver. A program that
// keeps pressing hard would drive them into the device's own warm-motor
// cut-off, which drops the force abruptly. This demo watches the motor
// temperatures itself and, once a motor is hot, lowers its own force limit
// smoothly to what the device can hold continuously; when the motors have
// cooled it raises the limit again.
#pragma once

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "zv/zv.h"

namespace warm_motors {

// Normalised motor temperatures (1 is the device's warm-motor limit).
constexpr double kHotTemperature = 0.7;
constexpr double kCooledTemperature = 0.5;
// Per servo tick: 0.1 % down while ramping down, 0.1 % up while ramping up.
constexpr double kRampDownFactor = 0.999;
constexpr double kRampUpFactor = 1.001;

// The force limit and which way it is moving. Servo thread only.
struct ForceRamp {
    bool rampingDown = false;
    bool rampingUp = false;
    double forceLimit = std::numeric_limits<double>::max();
};

// Updates the ramp from the hottest motor temperature and limits `force`
// (scaled along its own direction) to the ramp's force limit.
// `continuousForce` is the device's nominal maximum continuous force, where
// ramping down settles.
void limitForce(ForceRamp& ramp, double force[3], double hottestTemperature, double continuousForce);

// Everything the demo shares between its two threads.
struct WarmMotorsDemo {
    explicit WarmMotorsDemo(int motors)
        : motorCount(motors),
          servoTemperatures(static_cast<std::size_t>(motors)),
          printTemperatures(static_cast<std::size_t>(motors)) {}

    int motorCount;
    // Servo thread: read by the floor callback every tick.
    std::vector<double> servoTemperatures;
    ForceRamp ramp;
    // Main thread: filled by readTemperaturesCallback for printing.
    std::vector<double> printTemperatures;
    bool printRampingDown = false;
    bool printRampingUp = false;
};

// Servo callback: a stiff floor below y = 0, limited by the ramp. User data:
// the WarmMotorsDemo.
ZVCallbackCode floorCallback(void* demo);

// Synchronous callback: reads the motor temperatures into the print array
// and copies the ramp's state for printing. User data: the WarmMotorsDemo.
ZVCallbackCode readTemperaturesCallback(void* demo);

// "Motor Temperature: t1 t2 t3[ Ramping Down Forces| Ramping Up Forces]\n"
// from the print array and the copied ramp state.
std::string temperatureLine(const WarmMotorsDemo& demo);

}  // namespace warm_motors
