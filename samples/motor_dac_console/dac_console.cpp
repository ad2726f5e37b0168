#include "dac_console.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "error_report.h"

namespace motor_dac {

ZVCallbackCode dacCallback(void* data) {
    DacConsole& console = *static_cast<DacConsole*>(data);
    const HZV device = zvGetCurrentDevice();
    zvBeginFrame(device);
    zvSetLongv(ZV_CURRENT_MOTOR_DAC_VALUES, console.commanded);
    zvEndFrame(device);

    const ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        samplePrintError(stderr, &error, "Error while commanding DAC values");
        for (ZVlong& value : console.commanded) value = 0;
        if (sampleIsSchedulerError(&error)) return ZV_CALLBACK_DONE;
    }
    return ZV_CALLBACK_CONTINUE;
}

ZVCallbackCode copyEditedCallback(void* data) {
    DacConsole& console = *static_cast<DacConsole*>(data);
    for (int i = 0; i < kMaxMotors; ++i) console.commanded[i] = console.edited[i];
    return ZV_CALLBACK_DONE;
}

ZVCallbackCode readDeviceStateCallback(void* data) {
    DeviceStateReport& report = *static_cast<DeviceStateReport*>(data);
    zvGetLongv(ZV_CURRENT_ENCODER_VALUES, report.encoders);
    zvGetLongv(ZV_CURRENT_MOTOR_DAC_VALUES, report.dacValues);
    zvGetDoublev(ZV_CURRENT_POSITION, report.position);
    return ZV_CALLBACK_DONE;
}

namespace {

void appendValues(std::string& text, const ZVlong* values, int count) {
    char buffer[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(buffer, sizeof buffer, " %d", values[i]);
        text += buffer;
    }
}

}  // namespace

std::string deviceStateText(const DacConsole& console, const DeviceStateReport& report) {
    std::string text = "\nMotor DAC Values:";
    appendValues(text, report.dacValues, console.motorCount);
    text += "\nEncoder Values:";
    appendValues(text, report.encoders, console.encoderCount);
    text += "\nPosition:";
    char buffer[64];
    for (const double coordinate : report.position) {
        std::snprintf(buffer, sizeof buffer, " %f", coordinate);
        text += buffer;
    }
    text += "\n";
    return text;
}

std::string editedValuesText(const DacConsole& console) {
    std::string text = "Motor DAC Values:";
    appendValues(text, console.edited, console.motorCount);
    return text;
}

bool parseDacValue(const std::string& text, long& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0' || parsed < kMinDacValue || parsed > kMaxDacValue) return false;
    value = parsed;
    return true;
}

}  // namespace motor_dac
