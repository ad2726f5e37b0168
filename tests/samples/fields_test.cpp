// The samples' force laws and texts, as pure functions: boundaries that a
// device, with its encoder resolution, can never be placed on exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "contact_model.h"
#include "dac_console.h"
#include "plane_field.h"
#include "sphere_field.h"
#include "warm_motors.h"

namespace {

// ---------------------------------------------------------------- frictionless sphere

struct SphereCase {
    const char* name;
    double position[3];
    bool inside;
    double force[3];
};

void PrintTo(const SphereCase& c, std::ostream* out) { *out << c.name; }

class SphereForce : public ::testing::TestWithParam<SphereCase> {};

TEST_P(SphereForce, PushesOutAlongTheRadiusInsideOnly) {
    const SphereCase& c = GetParam();
    double force[3] = {7, 7, 7};
    EXPECT_EQ(frictionless_sphere::sphereForce(c.position, force), c.inside);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(force[i], c.force[i], 1e-9) << i;
}

INSTANTIATE_TEST_SUITE_P(Cases, SphereForce,
                         ::testing::Values(SphereCase{"OnTheSurfaceNothing", {0, 40, 0}, false, {7, 7, 7}},
                                           SphereCase{"OutsideNothing", {30, 30, 0}, false, {7, 7, 7}},
                                           SphereCase{"AtTheCentreZero", {0, 0, 0}, true, {0, 0, 0}},
                                           SphereCase{"JustInside", {0, 0, -39.9}, true, {0, 0, -0.1 * 0.25}},
                                           SphereCase{"HalfwayOnADiagonal", {12, 16, 0}, true, {0.6 * 5, 0.8 * 5, 0}},
                                           SphereCase{"NearTheCentre", {1e-9, 0, 0}, true, {10, 0, 0}}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- plane

TEST(PlaneForce, ZeroHeightTouchesWithZeroForce) {
    int direction = 1;
    double force[3] = {7, 7, 7};
    EXPECT_TRUE(plane::planeForce(0.0, direction, force));
    EXPECT_EQ(force[1], 0.0);
    EXPECT_EQ(force[0], 0.0);
    EXPECT_EQ(force[2], 0.0);
    EXPECT_EQ(direction, 1);
}

TEST(PlaneForce, HoldsFromAboveUntilAPushOverFivePopsThrough) {
    int direction = 1;
    double force[3] = {};
    EXPECT_FALSE(plane::planeForce(10.0, direction, force)) << "above the plane: free";
    EXPECT_TRUE(plane::planeForce(-8.0, direction, force));
    EXPECT_DOUBLE_EQ(force[1], 2.0);
    EXPECT_TRUE(plane::planeForce(-20.0, direction, force)) << "exactly 5 still holds";
    EXPECT_DOUBLE_EQ(force[1], 5.0);
    EXPECT_FALSE(plane::planeForce(-20.001, direction, force)) << "just over 5 pops through";
    EXPECT_EQ(direction, -1);
    EXPECT_FALSE(plane::planeForce(-20.001, direction, force)) << "now on the free side";
    EXPECT_FALSE(plane::planeForce(0.0, direction, force)) << "y = 0 is free from below";
    EXPECT_TRUE(plane::planeForce(4.0, direction, force)) << "coming back up across the plane";
    EXPECT_DOUBLE_EQ(force[1], -1.0);
    EXPECT_FALSE(plane::planeForce(21.0, direction, force));
    EXPECT_EQ(direction, 1) << "popped back to the top";
}

// ---------------------------------------------------------------- warm motors

using warm_motors::ForceRamp;
using warm_motors::limitForce;
constexpr double kContinuous = 1.5;

double magnitude(const double f[3]) { return std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]); }

TEST(WarmMotorRamp, CoolMotorsLeaveTheForceUnlimited) {
    ForceRamp ramp;
    double force[3] = {0, 100, 0};
    limitForce(ramp, force, 0.7, kContinuous);
    EXPECT_EQ(force[1], 100.0);
    EXPECT_FALSE(ramp.rampingDown);
    EXPECT_FALSE(ramp.rampingUp);
    EXPECT_EQ(ramp.forceLimit, std::numeric_limits<double>::max());
}

TEST(WarmMotorRamp, HotMotorsRampDownFromTheForceOfThatTickToTheContinuousForce) {
    ForceRamp ramp;
    double force[3] = {0, 4, 3};
    limitForce(ramp, force, 0.71, kContinuous);
    EXPECT_TRUE(ramp.rampingDown);
    EXPECT_DOUBLE_EQ(ramp.forceLimit, 5 * 0.999);
    EXPECT_NEAR(magnitude(force), 5 * 0.999, 1e-12);
    EXPECT_NEAR(force[1] / force[2], 4.0 / 3.0, 1e-12) << "scaled along its own direction";
    for (int tick = 0; tick < 5000; ++tick) {
        double f[3] = {0, 4, 3};
        limitForce(ramp, f, 0.6, kContinuous);
    }
    EXPECT_TRUE(ramp.rampingDown) << "between 0.5 and 0.7 the ramp goes on";
    EXPECT_EQ(ramp.forceLimit, kContinuous) << "settles at the continuous force";
    double zero[3] = {0, 0, 0};
    limitForce(ramp, zero, 0.6, kContinuous);
    EXPECT_EQ(magnitude(zero), 0.0);
}

TEST(WarmMotorRamp, CooledMotorsRampUpUntilTheForceFits) {
    ForceRamp ramp;
    ramp.rampingDown = true;
    ramp.forceLimit = kContinuous;
    double force[3] = {0, 2, 0};
    limitForce(ramp, force, 0.49, kContinuous);
    EXPECT_FALSE(ramp.rampingDown);
    EXPECT_TRUE(ramp.rampingUp);
    EXPECT_DOUBLE_EQ(ramp.forceLimit, kContinuous * 1.001);
    EXPECT_DOUBLE_EQ(force[1], kContinuous * 1.001);
    int ticks = 1;
    while (ramp.rampingUp && ticks < 10000) {
        double f[3] = {0, 2, 0};
        limitForce(ramp, f, 0.49, kContinuous);
        ++ticks;
        if (ramp.rampingUp) {
            EXPECT_LE(f[1], 2.0);
        } else {
            EXPECT_EQ(f[1], 2.0) << "the tick that ends the ramp is unlimited";
        }
    }
    EXPECT_EQ(ticks, 1 + static_cast<int>(std::ceil(std::log(2.0 / kContinuous) / std::log(1.001))));
    EXPECT_TRUE(std::isinf(ramp.forceLimit));
    double big[3] = {0, 1e300, 0};
    limitForce(ramp, big, 0.6, kContinuous);
    EXPECT_EQ(big[1], 1e300) << "no limit until the motors are hot again";
}

TEST(WarmMotorRamp, HotAgainWhileRampingUpRampsDown) {
    ForceRamp ramp;
    ramp.rampingUp = true;
    ramp.forceLimit = 2.0;
    double force[3] = {3, 0, 0};
    limitForce(ramp, force, 0.8, kContinuous);
    EXPECT_TRUE(ramp.rampingDown);
    EXPECT_FALSE(ramp.rampingUp);
    EXPECT_DOUBLE_EQ(force[0], 3 * 0.999);
}

TEST(WarmMotorRamp, PrintedLineNamesTheRamp) {
    warm_motors::WarmMotorsDemo demo(3);
    demo.printTemperatures = {0.1, 0.75, 0.0000004};
    EXPECT_EQ(warm_motors::temperatureLine(demo), "Motor Temperature: 0.100000 0.750000 0.000000\n");
    demo.printRampingUp = true;
    EXPECT_EQ(warm_motors::temperatureLine(demo), "Motor Temperature: 0.100000 0.750000 0.000000 Ramping Up Forces\n");
    demo.printRampingDown = true;
    EXPECT_EQ(warm_motors::temperatureLine(demo),
              "Motor Temperature: 0.100000 0.750000 0.000000 Ramping Down Forces\n");
}

// ---------------------------------------------------------------- motor DAC console

TEST(MotorDacValue, AcceptsDecimalsWithinTheDacRangeOnly) {
    struct Case {
        const char* text;
        bool accepted;
        long value;
    };
    const Case cases[] = {{"-32768", true, -32768},
                          {"32767", true, 32767},
                          {" 0 ", true, 0},
                          {"+12", true, 12},
                          {"40000", false, 0},
                          {"-40000", false, 0},
                          {"32768", false, 0},
                          {"-32769", false, 0},
                          {"", false, 0},
                          {"12a", false, 0},
                          {"abc", false, 0},
                          {"1 2", false, 0},
                          {"99999999999999999999999", false, 0}};
    for (const Case& c : cases) {
        long value = 4242;
        EXPECT_EQ(motor_dac::parseDacValue(c.text, value), c.accepted) << '"' << c.text << '"';
        EXPECT_EQ(value, c.accepted ? c.value : 4242) << '"' << c.text << '"';
    }
}

TEST(MotorDacText, DeviceStateAndEditedValuesAsPrinted) {
    motor_dac::DacConsole console;
    console.motorCount = 3;
    console.encoderCount = 6;
    console.edited[2] = -32768;
    motor_dac::DeviceStateReport report;
    report.dacValues[0] = 5;
    report.encoders[5] = -7;
    report.position[1] = -1.25;
    EXPECT_EQ(motor_dac::deviceStateText(console, report),
              "\nMotor DAC Values: 5 0 0\nEncoder Values: 0 0 0 0 0 -7\nPosition: 0.000000 -1.250000 0.000000\n");
    EXPECT_EQ(motor_dac::editedValuesText(console), "Motor DAC Values: 0 0 -32768");
}

// ---------------------------------------------------------------- sphere-sphere contact

using sphere_contact::ContactModel;
using sphere_contact::Vec3;

void expectVec(const Vec3& actual, const Vec3& expected) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-12) << i;
}

TEST(ContactModel, StartsFarAwayFollowingTheDevice) {
    const ContactModel model({0, 0, 0}, 60, 20);
    EXPECT_EQ(model.contactDistance(), 80.0);
    expectVec(model.displayedPosition(), {100, 100, 0});
    expectVec(model.force(), {0, 0, 0});
}

TEST(ContactModel, ExactlyTouchingIsContactWithZeroForce) {
    ContactModel model({10, 0, 0}, 60, 20);
    model.update({10, 48, 64});  // 80 from the centre
    EXPECT_EQ(model.centreDistance(), 80.0);
    expectVec(model.displayedPosition(), {10, 48, 64});
    expectVec(model.force(), {0, 0, 0});
}

TEST(ContactModel, OverlappingSpheresRestOnTheSurfaceAndSpringBack) {
    ContactModel model({10, 0, 0}, 60, 20);
    model.update({10, 30, 40});  // 50 from the centre, 30 inside
    expectVec(model.displayedPosition(), {10, 48, 64});
    expectVec(model.force(), {0, 1.8, 2.4});
    model.update({10, 0, 0});  // centres coincide: nothing to push along
    expectVec(model.devicePosition(), {10, 0, 0});
    expectVec(model.displayedPosition(), {10, 48, 64});
    expectVec(model.force(), {0, 1.8, 2.4});
    model.update({10, 200, 0});
    expectVec(model.displayedPosition(), {10, 200, 0});
    expectVec(model.force(), {0, 0, 0});
}

}  // namespace
