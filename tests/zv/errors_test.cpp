// The error stack, its suppression rules and the code tables.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "zv_test_support.h"

namespace zvtest {
namespace {

struct Message {
    ZVerror code;
    const char* text;
};

const Message kMessages[] = {
    {0x0000, "No error"},
    {0x0100, "Invalid parameter of capability specified for a function that requires an ZVenum as one of its inputs."},
    {0x0101, "Invalid value specified for a function that is attempting to set a value."},
    {0x0102, "The operation could not be performed."},
    {0x0103, "The parameter or capability does not support the input type."},
    {0x0104, "The device handle passed into an operation is not valid."},
    {0x0200,
     "Device Warning: One or more of the device motors are warm.  Wait until the motors cool before commanding forces "
     "again."},
    {0x0201, "Device warning: Device exceeded the maximum force limit."},
    {0x0202, "Device warning: Change in force magnitude and direction exceeds the maximum force impulse limit."},
    {0x0203, "Device warning: Device exceeded the maximum velocity limit."},
    {0x0204,
     "The device experienced an error in sending forces because forces of incompatible types such as DAC and Cartesian "
     "were commanded simultaneously."},
    {0x0300, "Device fault.  Check that the device is connected properly and activated."},
    {0x0301, "The device name was already initialized."},
    {0x0302, "Communication Error: Check the device connection and configuration."},
    {0x0303,
     "Configuration Error: Check the base address and port/adapter number. Consult the appropriate device drivers "
     "documentation."},
    {0x0304, "Unable to start or maintain the servo loop timer."},
    {0x0400,
     "zvBeginFrame for a device was called when already in that device's frame, or more than once during a single "
     "servoloop tick."},
    {0x0401, "zvEndFrame for a device was called without a matching zvBeginFrame for that device beforehand."},
    {0x0402, "A function that is restricted to being called within a frame was called outside of one."},
    {0x0500,
     "The priority for a scheduler callback does not fall within the proper numerical bounds defined by MIN and MAX "
     "scheduler priority."},
    {0x0501, "The scheduler has reached its limit of callbacks and cannot add the new callback."},
};

TEST(ErrorMessages, EveryCodeHasItsTextAndUnknownCodesHaveNone) {
    for (const Message& m : kMessages) {
        EXPECT_STREQ(zvGetErrorString(m.code), m.text) << std::hex << m.code;
    }
    for (ZVerror unknown : {0x0001u, 0x0105u, 0x0205u, 0x0305u, 0x0403u, 0x0502u, 0x5000u, 0xFFFFFFFFu}) {
        const char* text = zvGetErrorString(unknown);
        ASSERT_NE(text, nullptr) << std::hex << unknown;
        EXPECT_STREQ(text, "") << std::hex << unknown;
    }
    EXPECT_TRUE(drainErrors().empty());
}

TEST(ErrorStack, AnEmptyStackGivesTheZeroRecord) {
    EXPECT_EQ(zvGetError(), (ZVErrorInfo{0, 0, 0}));
    EXPECT_EQ(zvGetError(), (ZVErrorInfo{0, 0, 0}));
}

// Errors raised through ordinary misuse: an unknown capability and a wrong
// value type. Neither belongs to a suppressed class.
void raiseInvalidEnum() { zvEnable(0x1234); }
void raiseInvalidType() {
    double value = 0;
    zvGetDoublev(ZV_VERSION, &value);
}

TEST(ErrorStack, RepeatsOfTheTopAreFoldedAndErrorsPopNewestFirst) {
    zvMakeCurrentDevice(7);
    raiseInvalidEnum();
    raiseInvalidEnum();
    raiseInvalidType();
    raiseInvalidEnum();
    zvMakeCurrentDevice(8);
    raiseInvalidEnum();  // same code, another current device: a new record
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{
                                 {ZV_INVALID_ENUM, 0, 8},
                                 {ZV_INVALID_ENUM, 0, 7},
                                 {ZV_INVALID_INPUT_TYPE, 0, 7},
                                 {ZV_INVALID_ENUM, 0, 7},
                             }));
}

// Taking one device's errors leaves every other record where it was.
TEST(ErrorStack, OneDevicesErrorsComeOffAloneNewestFirst) {
    zvMakeCurrentDevice(7);
    raiseInvalidEnum();
    zvMakeCurrentDevice(8);
    raiseInvalidEnum();
    zvMakeCurrentDevice(7);
    raiseInvalidType();
    zvMakeCurrentDevice(9);
    raiseInvalidType();
    const ZVErrorInfo first = zvGetDeviceError(7);
    const ZVErrorInfo second = zvGetDeviceError(7);
    const ZVErrorInfo none = zvGetDeviceError(7);
    EXPECT_EQ(first.errorCode, ZV_INVALID_INPUT_TYPE);
    EXPECT_EQ(second.errorCode, ZV_INVALID_ENUM);
    EXPECT_EQ(second.deviceHandle, 7u);
    EXPECT_EQ(none.errorCode, static_cast<ZVerror>(ZV_SUCCESS));
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{
                                 {ZV_INVALID_INPUT_TYPE, 0, 9},
                                 {ZV_INVALID_ENUM, 0, 8},
                             }));
}

// ---------------------------------------------------------------- translation tables

struct Translation {
    int ioCode;
    ZVerror expected;
};

const Translation kDeviceCodes[] = {
    {-1, 0x200},  {-2, 0x201},  {-3, 0x303},  {-4, 0x300},  {-5, 0x101},  {-6, 0x101},   {-7, 0x202},
    {-8, 0x300},  {-9, 0x101},  {-10, 0x300}, {-11, 0x104}, {-12, 0x300}, {-13, 0x203},  {-14, 0x101},
    {-15, 0x101}, {-16, 0x300}, {-17, 0x302}, {-18, 0x302}, {-19, 0x302}, {-20, 0x303},  {-21, 0x303},
    {-22, 0x303}, {-23, 0x102}, {-24, 0x303}, {-25, 0x303}, {-26, 0x102}, {-27, 0x304},  {-28, 0x302},
    {-29, 0x303}, {-30, 0x303}, {-31, 0x303}, {-32, 0x303}, {-33, 0x102}, {-100, 0x102}, {-65536, 0x102},
};

// Device codes reach the table through a failing open: the record carries the
// translated code, the raw code and the (unchanged) current device. A clean
// tick between the cases lifts the suppression of the classes involved.
TEST_F(ManualClock, DeviceCodesTranslateThroughTheTable) {
    zvMakeCurrentDevice(3);
    for (const Translation& t : kDeviceCodes) {
        ASSERT_EQ(korvo_sim_inject_init_fault(t.ioCode), 0) << t.ioCode;
        EXPECT_EQ(zvInitDevice("arm3g"), ZV_INVALID_HANDLE) << t.ioCode;
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{t.expected, t.ioCode, 3}})) << t.ioCode;
        EXPECT_EQ(zvGetCurrentDevice(), 3u);
        ticks(1);
    }
}

TEST_F(ManualClock, ServoLoopCodesTranslateThroughTheTable) {
    const Translation servoCodes[] = {{-1, 0x304}, {-2, 0x304}, {-3, 0x304}, {-4, 0x304},  {-5, 0x304},  {-6, 0x304},
                                      {-7, 0x304}, {-8, 0x304}, {-9, 0x102}, {-11, 0x102}, {-27, 0x102}, {-101, 0x102}};
    for (const Translation& t : servoCodes) {
        ASSERT_EQ(korvo_sim_inject_servo_error(t.ioCode), 0) << t.ioCode;
        ticks(1);
        // Raised on the servo thread, whose current device is none.
        EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{t.expected, t.ioCode, ZV_INVALID_HANDLE}})) << t.ioCode;
        ticks(1);
    }
}

TEST(ServoLoopCodes, RateRefusalsAreTimerErrors) {
    zvSetSchedulerRate(5);
    const std::vector<ZVErrorInfo> errors = drainErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].errorCode, ZV_TIMER_ERROR);
    EXPECT_EQ(errors[0].internalErrorCode, KORVO_SERVO_BAD_RATE);
}

// ---------------------------------------------------------------- suppression

// One way to raise each code of the two suppressed classes, and the
// never-suppressed force impulse warning: a failed open with that device
// code, or a refused scheduling call.
struct Raiser {
    ZVerror code;
    int initFault;  // 0: raised by an out-of-range priority instead
};

void raise(const Raiser& r) {
    if (r.initFault == 0) {
        zvScheduleAsynchronous(runOnce, nullptr, 70000);
        return;
    }
    korvo_sim_inject_init_fault(r.initFault);
    zvInitDevice("arm3g");
}

const Raiser kSchedulerClass[] = {
    {ZV_COMM_ERROR, -17}, {ZV_COMM_CONFIG_ERROR, -3}, {ZV_TIMER_ERROR, -27}, {ZV_INVALID_PRIORITY, 0}};
const Raiser kWarningClass[] = {{ZV_WARM_MOTORS, -1}, {ZV_EXCEEDED_MAX_FORCE, -2}, {ZV_EXCEEDED_MAX_VELOCITY, -13}};
const Raiser kImpulse{ZV_EXCEEDED_MAX_FORCE_IMPULSE, -7};

// Within each class the first error is reported and the others are dropped;
// the two classes are independent; the impulse warning is never dropped.
TEST_F(ManualClock, EachClassIsReportedOnceAndTheImpulseWarningAlways) {
    for (const auto* group : {kSchedulerClass, kWarningClass}) {
        const std::size_t size = group == kSchedulerClass ? std::size(kSchedulerClass) : std::size(kWarningClass);
        for (std::size_t first = 0; first < size; ++first) {
            for (std::size_t i = 0; i < size; ++i) {
                raise(group[(first + i) % size]);
                raise(kImpulse);
            }
            const std::vector<ZVerror> codes = drainCodes();
            EXPECT_EQ(std::count(codes.begin(), codes.end(), ZV_EXCEEDED_MAX_FORCE_IMPULSE), 1)
                << "impulse records repeat only as the top of the stack";
            EXPECT_EQ(codes.back(), group[first].code);
            EXPECT_EQ(codes.size(), 2u) << "the later codes of the class are dropped";
            ticks(1);  // clean tick: the class is reported again
        }
    }
    raise(kSchedulerClass[0]);
    raise(kWarningClass[0]);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_WARM_MOTORS, ZV_COMM_ERROR}));
}

// Suppression ends only at the end of a tick in which nothing was raised and
// after the client has emptied the stack.
TEST_F(ManualClock, SuppressionLastsUntilACleanTickWithAnEmptyStack) {
    raise(kSchedulerClass[3]);
    ticks(3);  // the stack is not empty: still suppressed
    raise(kSchedulerClass[0]);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_PRIORITY}));

    // Ticks in which an error is raised do not end it, even when the error is
    // popped again before the tick ends. The raising callback runs at the
    // highest client priority, so this also shows that the tick's error count
    // is reset before any client callback runs.
    std::function<void()> noisy = [] {
        zvEnable(0x1234);
        drainErrors();
    };
    const ZVSchedulerHandle handle = zvScheduleAsynchronous(
        [](void* f) {
            runOnce(f);
            return ZVCallbackCode{ZV_CALLBACK_CONTINUE};
        },
        &noisy, ZV_MAX_SCHEDULER_PRIORITY);
    ASSERT_NE(handle, ZV_INVALID_HANDLE);
    ticks(3);
    raise(kSchedulerClass[3]);
    EXPECT_EQ(drainCodes(), std::vector<ZVerror>{});

    zvUnschedule(handle);
    ticks(1);
    raise(kSchedulerClass[3]);
    EXPECT_EQ(drainCodes(), (std::vector<ZVerror>{ZV_INVALID_PRIORITY}));
}

}  // namespace
}  // namespace zvtest
