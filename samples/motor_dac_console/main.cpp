// motor_dac_console: command raw motor DAC values one motor at a time and
// watch the encoders, the DAC values and the position.
//
// Keys (case-insensitive, read without echo): M selects the motor, V sets
// its DAC value, P prints the device state, C prints it every 500 ms until a
// key is pressed, Q quits, any other key prints the help.
//
// The number for V is typed as digits ended by Return. Keys are read one by
// one without echo, as every command is, and the program echoes what it takes
// itself (Backspace erases), so typing looks the same on every terminal.
// When standard input ends (a closed pipe, /dev/null), a pending prompt is
// abandoned and the program quits.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "console_keys.h"
#include "dac_console.h"
#include "error_report.h"
#include "zv/zv.h"

namespace {

using motor_dac::DacConsole;

const char kHelp[] =
    "CommandMotorDAC Help\n---\nM: Motor Selection\nV: Set DAC value\nP: Prints device state\n"
    "C: Continuously prints device state\nH: Prints help menu\nQ: Quits the program\n---";

void printHelp() {
    std::printf("\n%s\n", kHelp);
    std::fflush(stdout);
}

// One typed line, echoed by us; empty optional when input ended.
std::optional<std::string> readLine() {
    std::string line;
    for (;;) {
        const int key = consoleReadKey();
        if (key == CONSOLE_KEY_END_OF_INPUT) return std::nullopt;
        if (key == '\r' || key == '\n') {
            std::printf("\n");
            std::fflush(stdout);
            return line;
        }
        if (key == '\b' || key == 0x7f) {
            if (!line.empty()) {
                line.pop_back();
                std::printf("\b \b");
            }
        } else if (std::isprint(key)) {
            line.push_back(static_cast<char>(key));
            std::putchar(key);
        }
        std::fflush(stdout);
    }
}

void selectMotor(DacConsole& console) {
    int index = -1;
    do {
        std::printf("\nEnter the motor index [0 - %d]: ", console.motorCount - 1);
        std::fflush(stdout);
        const int key = consoleReadKey();
        if (key == CONSOLE_KEY_END_OF_INPUT) {
            std::printf("\n");
            return;
        }
        index = key - '0';
    } while (index < 0 || index >= console.motorCount);
    console.selectedMotor = index;
    std::printf("\nMotor index selected: %d\n", index);
    std::fflush(stdout);
}

void setDacValue(DacConsole& console) {
    std::printf("\nSet the DAC value as a number between -32768 and 32767\n");
    long value = 0;
    for (;;) {
        std::printf("Enter value and press return: ");
        std::fflush(stdout);
        const std::optional<std::string> line = readLine();
        if (!line) {
            std::printf("\n");
            return;
        }
        if (motor_dac::parseDacValue(*line, value)) break;
    }
    console.edited[console.selectedMotor] = static_cast<ZVlong>(value);
    std::printf("%s\n\n", motor_dac::editedValuesText(console).c_str());
    std::fflush(stdout);
    // Hand the new values to the servo thread in one piece.
    zvScheduleSynchronous(motor_dac::copyEditedCallback, &console, ZV_DEFAULT_SCHEDULER_PRIORITY);
}

void printDeviceState(const DacConsole& console) {
    motor_dac::DeviceStateReport report;
    zvScheduleSynchronous(motor_dac::readDeviceStateCallback, &report, ZV_DEFAULT_SCHEDULER_PRIORITY);
    std::fputs(motor_dac::deviceStateText(console, report).c_str(), stdout);
    std::fflush(stdout);
}

// True when a key was pressed within `seconds`.
bool keyWithin(double seconds) {
    for (double waited = 0.0; waited < seconds; waited += 0.01) {
        if (consoleKeyPressed()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return consoleKeyPressed();
}

void printContinuously(const DacConsole& console) {
    do {
        printDeviceState(console);
    } while (!keyWithin(0.5));
    // The key that stopped the printing is not a command.
    consoleReadKey();
}

int failAndQuit(HZV device, const ZVErrorInfo& error, const char* message) {
    sampleReportFailureAndWaitForKey(stdout, &error, message);
    zvDisableDevice(device);
    return -1;
}

}  // namespace

int main() {
    const HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        sampleReportFailureAndWaitForKey(stdout, &error, "Failed to initialize haptic device");
        return -1;
    }

    const char* model = zvGetString(ZV_DEVICE_MODEL_TYPE);
    std::printf("Initialized: %s\n", model != nullptr ? model : "");
    std::fflush(stdout);

    DacConsole console;
    zvGetIntegerv(ZV_OUTPUT_DOF, &console.motorCount);
    zvGetIntegerv(ZV_INPUT_DOF, &console.encoderCount);

    const ZVSchedulerHandle callback =
        zvScheduleAsynchronous(motor_dac::dacCallback, &console, ZV_MAX_SCHEDULER_PRIORITY);
    error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) return failAndQuit(device, error, "Failed to schedule servoloop callback");

    zvEnable(ZV_FORCE_OUTPUT);
    zvStartScheduler();
    error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) return failAndQuit(device, error, "Failed to start servoloop");

    printHelp();
    bool quit = false;
    while (!quit) {
        if (!zvWaitForCompletion(callback, ZV_WAIT_CHECK_STATUS)) {
            std::fprintf(stderr, "\nThe main scheduler callback has exited\n");
            std::fprintf(stderr, "\nPress any key to quit.\n");
            consoleReadKey();
            break;
        }
        if (!consoleKeyPressed()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const int key = consoleReadKey();
        if (key == CONSOLE_KEY_END_OF_INPUT) break;  // nothing more can be typed
        switch (std::toupper(key)) {
        case 'M': selectMotor(console); break;
        case 'V': setDacValue(console); break;
        case 'P': printDeviceState(console); break;
        case 'C': printContinuously(console); break;
        case 'Q': quit = true; break;
        default: printHelp(); break;
        }
    }

    zvStopScheduler();
    zvUnschedule(callback);
    zvDisableDevice(device);
    return 0;
}
