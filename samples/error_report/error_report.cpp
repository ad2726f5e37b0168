#include "error_report.h"

#include <cstdio>

#include "console_keys.h"

namespace zv_samples {
namespace {

struct CodeName {
    ZVerror code;
    const char* name;
};

constexpr CodeName kNames[] = {
    {ZV_SUCCESS, "ZV_SUCCESS"},
    {ZV_INVALID_ENUM, "ZV_INVALID_ENUM"},
    {ZV_INVALID_VALUE, "ZV_INVALID_VALUE"},
    {ZV_INVALID_OPERATION, "ZV_INVALID_OPERATION"},
    {ZV_INVALID_INPUT_TYPE, "ZV_INVALID_INPUT_TYPE"},
    {ZV_BAD_HANDLE, "ZV_BAD_HANDLE"},
    {ZV_WARM_MOTORS, "ZV_WARM_MOTORS"},
    {ZV_EXCEEDED_MAX_FORCE, "ZV_EXCEEDED_MAX_FORCE"},
    {ZV_EXCEEDED_MAX_VELOCITY, "ZV_EXCEEDED_MAX_VELOCITY"},
    {ZV_FORCE_ERROR, "ZV_FORCE_ERROR"},
    {ZV_DEVICE_FAULT, "ZV_DEVICE_FAULT"},
    {ZV_DEVICE_ALREADY_INITIATED, "ZV_DEVICE_ALREADY_INITIATED"},
    {ZV_COMM_ERROR, "ZV_COMM_ERROR"},
    {ZV_COMM_CONFIG_ERROR, "ZV_COMM_CONFIG_ERROR"},
    {ZV_TIMER_ERROR, "ZV_TIMER_ERROR"},
    {ZV_ILLEGAL_BEGIN, "ZV_ILLEGAL_BEGIN"},
    {ZV_ILLEGAL_END, "ZV_ILLEGAL_END"},
    {ZV_FRAME_ERROR, "ZV_FRAME_ERROR"},
    {ZV_INVALID_PRIORITY, "ZV_INVALID_PRIORITY"},
    {ZV_SCHEDULER_FULL, "ZV_SCHEDULER_FULL"},
};

}  // namespace
}  // namespace zv_samples

extern "C" const char* sampleErrorCodeName(ZVerror errorCode) {
    for (const auto& entry : zv_samples::kNames) {
        if (entry.code == errorCode) return entry.name;
    }
    return "Unknown Error Code";
}

extern "C" void samplePrintError(FILE* stream, const ZVErrorInfo* error, const char* message) {
    if (stream == nullptr || error == nullptr) return;
    std::fprintf(stream, "ZV Error: %s\n", sampleErrorCodeName(error->errorCode));
    std::fprintf(stream, "%s\n", zvGetErrorString(error->errorCode));
    std::fprintf(stream, "HZV: %X\n", error->deviceHandle);
    std::fprintf(stream, "Error Code: %X\n", error->errorCode);
    std::fprintf(stream, "Internal Error Code: %d\n", error->internalErrorCode);
    std::fprintf(stream, "Message: %s\n", message != nullptr ? message : "");
}

extern "C" ZVboolean sampleIsSchedulerError(const ZVErrorInfo* error) {
    if (error == nullptr) return ZV_FALSE;
    switch (error->errorCode) {
    case ZV_COMM_ERROR:
    case ZV_COMM_CONFIG_ERROR:
    case ZV_TIMER_ERROR:
    case ZV_INVALID_PRIORITY:
    case ZV_SCHEDULER_FULL: return ZV_TRUE;
    default: return ZV_FALSE;
    }
}

extern "C" void sampleReportFailureAndWaitForKey(FILE* prompt, const ZVErrorInfo* error, const char* message) {
    samplePrintError(stderr, error, message);
    if (prompt != nullptr) {
        std::fputs("\nPress any key to quit.\n", prompt);
        std::fflush(prompt);
    }
    consoleReadKey();
}
