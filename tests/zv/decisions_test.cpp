// Misuse that the library must survive: unregistered devices, null pointers,
// non-finite values, double opens, failed opens, and per-thread devices.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>

#include "zv_test_support.h"

namespace zvtest {
namespace {

constexpr HZV kUnregistered = 12345;

// Every call that reads device state, sets a value or makes a frame raises
// ZV_BAD_HANDLE for an unregistered current device and writes nothing.
TEST(UnregisteredDevice, CallsAreRefusedWithBadHandleAndWriteNothing) {
    zvMakeCurrentDevice(kUnregistered);
    double d[64];
    std::fill(std::begin(d), std::end(d), -99.0);
    ZVint i[8] = {-99};
    ZVlong l[8] = {-99};
    ZVboolean b = 0x5A;
    const double force[3] = {1, 2, 3};
    const std::function<void()> calls[] = {
        [&] { zvGetDoublev(ZV_CURRENT_POSITION, d); },
        [&] { zvGetFloatv(ZV_CURRENT_JACOBIAN, reinterpret_cast<ZVfloat*>(d)); },
        [&] { zvGetIntegerv(ZV_CURRENT_BUTTONS, i); },
        [&] { zvGetLongv(ZV_CURRENT_MOTOR_DAC_VALUES, l); },
        [&] { zvGetBooleanv(ZV_CURRENT_SAFETY_SWITCH, &b); },
        [&] { zvGetDoublev(ZV_NOMINAL_MAX_FORCE, d); },
        [&] { zvGetDoublev(ZV_RAW_POSITION, d); },
        [&] { zvSetDoublev(ZV_CURRENT_FORCE, force); },
        [&] { zvSetDoublev(ZV_MAX_VELOCITY_LIMIT, force); },
        [&] { zvBeginFrame(kUnregistered); },
        [&] { zvEndFrame(kUnregistered); },
        [&] { zvEnable(ZV_FORCE_OUTPUT); },
        [&] { zvDisable(ZV_MAX_FORCE_CLAMPING); },
        [&] { EXPECT_EQ(zvIsEnabled(ZV_ONE_FRAME_LIMIT), ZV_FALSE); },
        [&] { EXPECT_EQ(zvGetString(ZV_DEVICE_MODEL_TYPE), nullptr); },
        [&] { EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_NEEDS_MANUAL_INPUT)); },
        [&] { zvUpdateCalibration(ZV_CALIBRATION_ENCODER_RESET); },
    };
    int index = 0;
    for (const auto& call : calls) {
        call();
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_BAD_HANDLE, 0, kUnregistered}})) << "call " << index;
        ++index;
    }
    EXPECT_TRUE(std::all_of(std::begin(d), std::end(d), [](double v) { return v == -99.0; }));
    EXPECT_EQ(i[0], -99);
    EXPECT_EQ(l[0], -99);
    EXPECT_EQ(b, 0x5A);
    // The library's own version needs no device.
    EXPECT_STREQ(zvGetString(ZV_VERSION), "2.00.23");
    EXPECT_TRUE(drainErrors().empty());
}

TEST(UnregisteredDevice, ADisabledDeviceIsNoLongerUsable) {
    const HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ASSERT_NE(device, ZV_INVALID_HANDLE);
    zvDisableDevice(device);
    EXPECT_TRUE(drainErrors().empty());
    EXPECT_EQ(zvGetCurrentDevice(), device) << "disabling does not change the current device";
    double position[3] = {-1, -1, -1};
    zvGetDoublev(ZV_CURRENT_POSITION, position);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_BAD_HANDLE, 0, device}}));
    EXPECT_EQ(position[0], -1);
    zvDisableDevice(device);  // closed already: the I/O library refuses
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_DEVICE_FAULT, 0, device}}));
}

// Null arrays are refused after the code and type checks.
TEST_F(DeviceTest, NullPointersAreInvalidValues) {
    const std::function<void()> calls[] = {
        [] { zvGetDoublev(ZV_CURRENT_POSITION, nullptr); },
        [] { zvGetFloatv(ZV_CURRENT_JACOBIAN, nullptr); },
        [] { zvGetIntegerv(ZV_CALIBRATION_STYLE, nullptr); },
        [] { zvGetLongv(ZV_CURRENT_ENCODER_VALUES, nullptr); },
        [] { zvGetBooleanv(ZV_CURRENT_SAFETY_SWITCH, nullptr); },
        [] { zvSetDoublev(ZV_MAX_VELOCITY_LIMIT, nullptr); },
        [] { zvSetIntegerv(ZV_USER_STATUS_LIGHT, nullptr); },
        [] { zvSetLongv(ZV_CURRENT_MOTOR_DAC_VALUES, nullptr); },
        [] { zvSetFloatv(ZV_JOINT_ANGLE_REFERENCES, nullptr); },
    };
    int index = 0;
    for (const auto& call : calls) {
        call();
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_INVALID_VALUE, 0, device}})) << "call " << index;
        ++index;
    }
    zvGetDoublev(0x1234, nullptr);
    zvGetBooleanv(ZV_CURRENT_POSITION, nullptr);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_INPUT_TYPE, ZV_INVALID_ENUM}));
}

// Values that are not finite (in the single precision the device uses) are
// refused before anything is stored, so they never reach the device.
TEST_F(DeviceTest, NonFiniteValuesNeverReachTheDevice) {
    zvEnable(ZV_FORCE_OUTPUT);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double badDoubles[][3] = {{nan, 0, 0}, {0, inf, 0}, {0, 0, -inf}, {1e300, 0, 0}, {0, -4e38, 0}};
    const float badFloat[3] = {0, std::numeric_limits<float>::infinity(), 0};
    frame([&] {
        const double good[3] = {0.5, 0.25, 0};
        zvSetDoublev(ZV_CURRENT_FORCE, good);
        zvSetDoublev(ZV_CURRENT_TORQUE, good);
        for (const auto& bad : badDoubles) {
            zvSetDoublev(ZV_CURRENT_FORCE, bad);
            zvSetDoublev(ZV_CURRENT_TORQUE, bad);
        }
        zvSetFloatv(ZV_CURRENT_FORCE, badFloat);
        double stored[3];
        zvGetDoublev(ZV_CURRENT_FORCE, stored);
        EXPECT_EQ(stored[0], 0.5);
        EXPECT_EQ(stored[1], 0.25);
        zvGetDoublev(ZV_CURRENT_TORQUE, stored);
        EXPECT_EQ(stored[0], 0.5);
    });
    const std::vector<ZVErrorInfo> errors = drainErrors();
    ASSERT_EQ(errors.size(), 1u) << "repeats of the same record fold into one";
    EXPECT_EQ(errors[0], (ZVErrorInfo{ZV_INVALID_VALUE, 0, device}));
    double position[3], velocity[3], force[3];
    ASSERT_EQ(korvo_sim_get_true_state(device, position, velocity, force), 0);
    EXPECT_TRUE(std::isfinite(force[0]) && std::isfinite(force[1]) && std::isfinite(force[2]));

    double limit = 0;
    zvGetDoublev(ZV_MAX_VELOCITY_LIMIT, &limit);
    zvSetDoublev(ZV_MAX_VELOCITY_LIMIT, &nan);
    zvSetDoublev(ZV_FORCE_RAMPING_RATE, &inf);
    zvSetDoublev(ZV_JOINT_ANGLE_REFERENCES, badDoubles[0]);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_VALUE}));
    double after = 0;
    zvGetDoublev(ZV_MAX_VELOCITY_LIMIT, &after);
    EXPECT_EQ(after, limit);
}

// ---------------------------------------------------------------- opening devices

TEST(OpenDevice, TheDefaultNameIsTheEmptyNameAndASecondOpenIsRefused) {
    const HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ASSERT_NE(device, ZV_INVALID_HANDLE);
    EXPECT_EQ(device, 0u) << "the handle is the I/O library's own";
    zvMakeCurrentDevice(kUnregistered);
    EXPECT_EQ(zvInitDevice(""), ZV_INVALID_HANDLE);
    EXPECT_EQ(zvInitDevice("Korvo Arm 3G"), ZV_INVALID_HANDLE);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_DEVICE_ALREADY_INITIATED, 0, kUnregistered}}));
    EXPECT_EQ(zvGetCurrentDevice(), kUnregistered);
    // The first registration is untouched.
    zvMakeCurrentDevice(device);
    EXPECT_STREQ(zvGetString(ZV_DEVICE_MODEL_TYPE), "Korvo Arm 3G");
    const HZV other = zvInitDevice("Korvo Mini");
    EXPECT_EQ(other, 1u);
    EXPECT_EQ(zvGetCurrentDevice(), other);
    EXPECT_TRUE(drainErrors().empty());
}

// When the device's update operation cannot be scheduled the open fails and
// leaves nothing behind: the device is not registered and is closed again.
TEST(OpenDevice, AnOpenThatCannotScheduleItsUpdateIsUndone) {
    for (int i = 0; i < 1000; ++i) {
        ASSERT_NE(zvScheduleAsynchronous([](void*) { return ZVCallbackCode{ZV_CALLBACK_CONTINUE}; }, nullptr, 1),
                  ZV_INVALID_HANDLE);
    }
    zvMakeCurrentDevice(kUnregistered);
    EXPECT_EQ(zvInitDevice("Korvo Arm 6"), ZV_INVALID_HANDLE);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_DEVICE_ALREADY_INITIATED, 0, kUnregistered},
                                                       {ZV_SCHEDULER_FULL, 0, kUnregistered}}));
    EXPECT_EQ(zvGetCurrentDevice(), kUnregistered);
    EXPECT_EQ(is_korvo_forces_enabled(0), KORVO_INVALID_HANDLE) << "the I/O device was closed";
    zvUnschedule(999);
    const HZV device = zvInitDevice("Korvo Arm 6");
    EXPECT_NE(device, ZV_INVALID_HANDLE);
    EXPECT_TRUE(drainErrors().empty());
}

TEST(OpenDevice, AFailedOpenReportsTheDeviceCodeAndKeepsTheCurrentDevice) {
    zvMakeCurrentDevice(3);
    EXPECT_EQ(zvInitDevice("no such device"), ZV_INVALID_HANDLE);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_COMM_CONFIG_ERROR, KORVO_DEVICE_NOT_FOUND, 3}}));
    EXPECT_EQ(zvGetCurrentDevice(), 3u);
}

// A device disabled by a client thread during a tick while the operation list
// is full: the removal of its update operation needs no free slot and waits
// for no tick, so the device is unscheduled and forgotten, and it can be
// opened again at once. A callback releases the client inside a tick and
// holds the tick until the client has closed the I/O device.
struct DisableInTick {
    HZV device = ZV_INVALID_HANDLE;
    std::atomic<bool> armed{false};
    std::atomic<bool> go{false};
};

ZVCallbackCode releaseTheCloser(void* data) {
    auto* d = static_cast<DisableInTick*>(data);
    if (d->armed.exchange(false)) {
        d->go.store(true);
        for (int spin = 0; spin < 1000000 && is_korvo_forces_enabled(d->device) != KORVO_INVALID_HANDLE; ++spin) {
            std::this_thread::yield();
        }
    }
    return ZV_CALLBACK_CONTINUE;
}

TEST_F(ManualClock, ADeviceDisabledDuringATickWithAFullListIsUnscheduledAndForgotten) {
    const char* const model = "Korvo Mini";
    DisableInTick disable;
    disable.device = zvInitDevice(model);
    ASSERT_NE(disable.device, ZV_INVALID_HANDLE);
    ASSERT_NE(zvScheduleAsynchronous(releaseTheCloser, &disable, ZV_MAX_SCHEDULER_PRIORITY), ZV_INVALID_HANDLE);
    const auto keepRunning = [](void*) { return ZVCallbackCode{ZV_CALLBACK_CONTINUE}; };
    while (zvScheduleAsynchronous(keepRunning, nullptr, 1) != ZV_INVALID_HANDLE) {
    }
    ASSERT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_SCHEDULER_FULL}));
    ticks(1);  // a clean tick ends the suppression

    std::atomic<bool> finished{false};
    disable.armed.store(true);
    std::thread closer([&] {
        while (!disable.go.load()) {
            std::this_thread::yield();
        }
        zvDisableDevice(disable.device);
        finished.store(true);
    });
    while (!finished.load()) {
        ticks(1);
    }
    closer.join();
    EXPECT_TRUE(drainErrors().empty());

    zvMakeCurrentDevice(disable.device);
    double position[3];
    zvGetDoublev(ZV_CURRENT_POSITION, position);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_BAD_HANDLE})) << "the registration is gone";
    EXPECT_EQ(zvInitDevice(model), disable.device) << "the update operation's slot is free again";
    EXPECT_TRUE(drainErrors().empty());
}

// ---------------------------------------------------------------- current device per thread

TEST(CurrentDevice, IsPerThreadAndStartsInvalid) {
    EXPECT_EQ(zvGetCurrentDevice(), ZV_INVALID_HANDLE);
    zvMakeCurrentDevice(4);
    std::thread([] {
        EXPECT_EQ(zvGetCurrentDevice(), ZV_INVALID_HANDLE);
        zvMakeCurrentDevice(6);
        EXPECT_EQ(zvGetCurrentDevice(), 6u);
    }).join();
    EXPECT_EQ(zvGetCurrentDevice(), 4u);
}

// Callbacks run with the device that was current when they were scheduled.
TEST_F(ManualClock, CallbacksRunWithTheDeviceCurrentWhenTheyWereScheduled) {
    std::atomic<HZV> seen{0};
    const auto record = [](void* data) {
        static_cast<std::atomic<HZV>*>(data)->store(zvGetCurrentDevice());
        zvEnable(0x1234);
        return ZVCallbackCode{ZV_CALLBACK_DONE};
    };
    zvMakeCurrentDevice(11);
    zvScheduleAsynchronous(record, &seen, 1);
    zvMakeCurrentDevice(12);
    ticks(1);
    EXPECT_EQ(seen.load(), 11u);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_INVALID_ENUM, 0, 11}}));
    EXPECT_EQ(zvGetCurrentDevice(), 12u);
}

}  // namespace
}  // namespace zvtest
