// Calibration styles, checks and updates on the simulated models.
#include "zv_test_support.h"

namespace zvtest {
namespace {

struct StatusCase {
    int status;
    unsigned int expected;
};

// High nibble: axes needing calibration; low nibble: axes that can be
// calibrated automatically.
const StatusCase kStatusCases[] = {
    {0x00, ZV_CALIBRATION_OK},
    {0x07, ZV_CALIBRATION_OK},
    {0x0F, ZV_CALIBRATION_OK},
    {0x11, ZV_CALIBRATION_NEEDS_UPDATE},
    {0x77, ZV_CALIBRATION_NEEDS_UPDATE},
    {0x3F, ZV_CALIBRATION_NEEDS_UPDATE},
    {0x31, ZV_CALIBRATION_NEEDS_MANUAL_INPUT},
    {0x10, ZV_CALIBRATION_NEEDS_MANUAL_INPUT},
    {0x70, ZV_CALIBRATION_NEEDS_MANUAL_INPUT},
    {0xF7, ZV_CALIBRATION_NEEDS_MANUAL_INPUT},
};

class AutoCalibration : public DeviceTest {
protected:
    AutoCalibration() : DeviceTest("Korvo Arm 3G") {}
};

TEST_F(AutoCalibration, TheStatusNibblesDecideTheAnswer) {
    for (const StatusCase& c : kStatusCases) {
        ASSERT_EQ(korvo_sim_set_calibration_status(device, c.status), 0);
        EXPECT_EQ(zvCheckCalibration(), c.expected) << std::hex << c.status;
    }
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(AutoCalibration, AnAutomaticUpdateCalibratesAndOtherValuesDoNothing) {
    ZVint style = 0;
    zvGetIntegerv(ZV_CALIBRATION_STYLE, &style);
    EXPECT_EQ(style, ZV_CALIBRATION_AUTO);
    EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_NEEDS_UPDATE));
    for (int nothing : {0, 3, 5, 8, -1}) {
        zvUpdateCalibration(nothing);
        EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_NEEDS_UPDATE)) << nothing;
    }
    EXPECT_TRUE(drainErrors().empty());
    zvUpdateCalibration(ZV_CALIBRATION_AUTO);
    EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_OK));
    EXPECT_TRUE(drainErrors().empty());
}

class InkwellCalibration : public DeviceTest {
protected:
    InkwellCalibration() : DeviceTest("Korvo Arm 6") {}
};

TEST_F(InkwellCalibration, TheInkwellUpdateNeedsTheStylusInTheInkwell) {
    ZVint style = 0;
    zvGetIntegerv(ZV_CALIBRATION_STYLE, &style);
    EXPECT_EQ(style, ZV_CALIBRATION_ENCODER_RESET | ZV_CALIBRATION_INKWELL);
    EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_NEEDS_MANUAL_INPUT));
    zvUpdateCalibration(ZV_CALIBRATION_INKWELL);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_COMM_CONFIG_ERROR, KORVO_CALIBRATION_FAILED, device}}));
    ASSERT_EQ(korvo_sim_set_switches(device, 1, 1), 0);
    frame();
    EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_NEEDS_UPDATE));
    zvUpdateCalibration(ZV_CALIBRATION_INKWELL);
    EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_OK));
    EXPECT_TRUE(drainErrors().empty());
}

class EncoderResetOnly : public DeviceTest {
protected:
    EncoderResetOnly() : DeviceTest("Korvo Mini") {}
};

TEST_F(EncoderResetOnly, NeedsManualInputUntilTheFirstResetThenStaysCalibrated) {
    ZVint style = 0;
    zvGetIntegerv(ZV_CALIBRATION_STYLE, &style);
    EXPECT_EQ(style, ZV_CALIBRATION_ENCODER_RESET);
    EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_NEEDS_MANUAL_INPUT));
    zvUpdateCalibration(ZV_CALIBRATION_AUTO);  // not this device's style: the device refuses
    drainErrors();
    EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_NEEDS_MANUAL_INPUT));
    zvUpdateCalibration(ZV_CALIBRATION_ENCODER_RESET);
    EXPECT_TRUE(drainErrors().empty());
    for (int i = 0; i < 3; ++i) {
        frame();
        EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_OK));
    }
}

TEST_F(EncoderResetOnly, AFailedResetStillCounts) {
    ASSERT_EQ(korvo_sim_inject_fault(device, KORVO_CALIBRATION_FAILED), 0);
    zvUpdateCalibration(ZV_CALIBRATION_ENCODER_RESET);
    EXPECT_EQ(drainErrors(), (std::vector<ZVErrorInfo>{{ZV_COMM_CONFIG_ERROR, KORVO_CALIBRATION_FAILED, device}}));
    EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_OK));
}

// The check is per device: opening a second device does not carry the first
// device's reset over.
TEST_F(EncoderResetOnly, TheResetBelongsToTheDevice) {
    zvUpdateCalibration(ZV_CALIBRATION_ENCODER_RESET);
    zvStopScheduler();
    zvDisableDevice(device);
    device = zvInitDevice("Korvo Mini");
    ASSERT_NE(device, ZV_INVALID_HANDLE);
    zvStartScheduler();
    EXPECT_EQ(zvCheckCalibration(), static_cast<unsigned>(ZV_CALIBRATION_NEEDS_MANUAL_INPUT));
    EXPECT_TRUE(drainErrors().empty());
}

}  // namespace
}  // namespace zvtest
