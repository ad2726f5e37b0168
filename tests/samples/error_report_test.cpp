// The error report utility: names, the six-line report, and which errors end
// a servo callback.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "error_report.h"

namespace {

// What samplePrintError writes, read back from a temporary file.
std::string printed(const ZVErrorInfo* error, const char* message) {
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return {};
    samplePrintError(file, error, message);
    std::string text;
    std::rewind(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text.push_back(static_cast<char>(c));
    std::fclose(file);
    return text;
}

struct Code {
    ZVerror code;
    const char* name;
    bool endsCallback;
};

// Every named code, and codes around them that have no name.
const Code kCodes[] = {
    {0x000, "ZV_SUCCESS", false},
    {0x100, "ZV_INVALID_ENUM", false},
    {0x101, "ZV_INVALID_VALUE", false},
    {0x102, "ZV_INVALID_OPERATION", false},
    {0x103, "ZV_INVALID_INPUT_TYPE", false},
    {0x104, "ZV_BAD_HANDLE", false},
    {0x200, "ZV_WARM_MOTORS", false},
    {0x201, "ZV_EXCEEDED_MAX_FORCE", false},
    {0x202, "Unknown Error Code", false},
    {0x203, "ZV_EXCEEDED_MAX_VELOCITY", false},
    {0x204, "ZV_FORCE_ERROR", false},
    {0x300, "ZV_DEVICE_FAULT", false},
    {0x301, "ZV_DEVICE_ALREADY_INITIATED", false},
    {0x302, "ZV_COMM_ERROR", true},
    {0x303, "ZV_COMM_CONFIG_ERROR", true},
    {0x304, "ZV_TIMER_ERROR", true},
    {0x400, "ZV_ILLEGAL_BEGIN", false},
    {0x401, "ZV_ILLEGAL_END", false},
    {0x402, "ZV_FRAME_ERROR", false},
    {0x500, "ZV_INVALID_PRIORITY", true},
    {0x501, "ZV_SCHEDULER_FULL", true},
    {0x001, "Unknown Error Code", false},
    {0x105, "Unknown Error Code", false},
    {0x305, "Unknown Error Code", false},
    {0x502, "Unknown Error Code", false},
    {0xFFFFFFFF, "Unknown Error Code", false},
};

TEST(ErrorReport, NamesAndSchedulerClassOfEveryCode) {
    for (const Code& c : kCodes) {
        EXPECT_STREQ(sampleErrorCodeName(c.code), c.name) << std::hex << c.code;
        const ZVErrorInfo error{c.code, 0, 0};
        EXPECT_EQ(sampleIsSchedulerError(&error), c.endsCallback ? ZV_TRUE : ZV_FALSE) << std::hex << c.code;
    }
    EXPECT_EQ(sampleIsSchedulerError(nullptr), ZV_FALSE);
}

TEST(ErrorReport, PrintsSixLinesExactly) {
    const ZVErrorInfo error{ZV_COMM_ERROR, -17, 0xAB};
    EXPECT_EQ(printed(&error, "Error during main scheduler callback\n"),
              "ZV Error: ZV_COMM_ERROR\n"
              "Communication Error: Check the device connection and configuration.\n"
              "HZV: AB\n"
              "Error Code: 302\n"
              "Internal Error Code: -17\n"
              "Message: Error during main scheduler callback\n\n");
}

// The impulse warning has no name here but the device library has a message
// for it.
TEST(ErrorReport, ImpulseWarningIsUnknownByNameButKeepsItsMessage) {
    const ZVErrorInfo error{ZV_EXCEEDED_MAX_FORCE_IMPULSE, -7, ZV_INVALID_HANDLE};
    EXPECT_EQ(printed(&error, "m"),
              "ZV Error: Unknown Error Code\n"
              "Device warning: Change in force magnitude and direction exceeds the maximum force impulse limit.\n"
              "HZV: FFFFFFFF\n"
              "Error Code: 202\n"
              "Internal Error Code: -7\n"
              "Message: m\n");
}

TEST(ErrorReport, NullArgumentsAreHarmless) {
    const ZVErrorInfo error{ZV_DEVICE_FAULT, 0, 0};
    EXPECT_EQ(printed(&error, nullptr).substr(printed(&error, nullptr).rfind("Message")), "Message: \n");
    EXPECT_EQ(printed(nullptr, "m"), "");
    samplePrintError(nullptr, &error, "m");
}

}  // namespace
