// qm_recorder: switches the collision recorders of running programs that use
// the rendering library.
//
// Such a program's collision thread holds four named events while it runs;
// this tool opens them and sets the one a command names, then waits until the
// program has taken it, so that it can tell the user when nobody listened.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Platform.h"
#include "qm/collision/RecorderEvents.h"

namespace {

namespace events = QM::recorder_events;

constexpr int kExitDone = 0;
constexpr int kExitNoListener = 1;
constexpr int kExitUsage = 2;
constexpr double kDefaultTimeout = 2.0;
// How often a pending signal is looked at while waiting for it to be taken.
constexpr double kPollSeconds = 0.001;
// More steps than this in one call are surely a typing mistake.
constexpr long kMaxSteps = 1000000;

const char* const kUsage =
    "Usage: qm_recorder [OPTIONS] COMMAND [COUNT]\n"
    "\n"
    "Switches the collision recorder of the programs that run on the rendering\n"
    "library. While recording, each of their rendering contexts writes the device\n"
    "target of every collision step to the file CollisionFile.dat in the program's\n"
    "current directory; while playing, it sets the target from that file at every\n"
    "step instead, starting over after the last one.\n"
    "\n"
    "Commands:\n"
    "  record      start recording (the file is started afresh)\n"
    "  stop        stop: a recording is closed and loaded for playback, and from\n"
    "              now on collision steps run only when asked for with 'step'\n"
    "  play        play the file back at the collision thread's own rate\n"
    "  step [N]    run N collision steps (1 if not given), one at a time\n"
    "\n"
    "Options:\n"
    "  --suffix TEXT    add TEXT to the names of the four events (for a program\n"
    "                   whose collision thread was given the same suffix)\n"
    "  --timeout SECS   how long a program may take to answer each signal\n"
    "                   (default 2)\n"
    "  -h, --help       show this text and exit\n"
    "\n"
    "Exit status: 0 when every signal was taken; 1 when no program is listening\n"
    "or one did not answer in time; 2 for a usage error.\n";

int usageError(const char* what, const char* detail = nullptr) {
    if (detail != nullptr) {
        std::fprintf(stderr, "qm_recorder: %s: %s\n", what, detail);
    } else {
        std::fprintf(stderr, "qm_recorder: %s\n", what);
    }
    std::fprintf(stderr, "Try 'qm_recorder --help' for more information.\n");
    return kExitUsage;
}

bool parseNumber(const char* text, double& out) {
    errno = 0;
    char* end = nullptr;
    out = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && std::isfinite(out) && out >= 0.0;
}

bool parseCount(const char* text, long& out) {
    errno = 0;
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && out >= 1 && out <= kMaxSteps;
}

// Sets an auto-reset event and waits until a listener has taken the signal.
// A signal left untaken is withdrawn, so that it does not reach a program
// long after the user gave up on it.
bool signalAndWait(const plat::Event& event, double timeout) {
    event.set();
    const std::uint64_t start = plat::counter();
    while (event.isSet()) {
        if (plat::counterSeconds(start, plat::counter()) > timeout) {
            event.reset();
            return false;
        }
        plat::sleepFor(kPollSeconds);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string suffix;
    double timeout = kDefaultTimeout;
    const char* command = nullptr;
    const char* countText = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return kExitDone;
        }
        if (std::strcmp(arg, "--suffix") == 0 || std::strcmp(arg, "--timeout") == 0) {
            if (i + 1 >= argc) {
                return usageError("option needs a value", arg);
            }
            const char* value = argv[++i];
            if (arg[2] == 's') {
                suffix = value;
            } else if (!parseNumber(value, timeout)) {
                return usageError("not a number of seconds", value);
            }
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return usageError("unknown option", arg);
        } else if (command == nullptr) {
            command = arg;
        } else if (countText == nullptr) {
            countText = arg;
        } else {
            return usageError("too many arguments");
        }
    }
    if (command == nullptr) {
        return usageError("no command given");
    }

    events::Signal signal;
    const std::string name = command;
    if (name == "record") {
        signal = events::StartRecord;
    } else if (name == "stop") {
        signal = events::Stop;
    } else if (name == "play") {
        signal = events::StartPlay;
    } else if (name == "step") {
        signal = events::Step;
    } else {
        return usageError("unknown command", command);
    }
    long count = 1;
    if (countText != nullptr && (signal != events::Step || !parseCount(countText, count))) {
        return signal == events::Step ? usageError("not a step count (1 or more)", countText)
                                      : usageError("only 'step' takes a count");
    }

    // All four events are the listener's; a name that exists but that no
    // process holds was left behind by a program that has ended.
    plat::Event handles[events::kSignals];
    for (int i = 0; i < events::kSignals; ++i) {
        const std::string eventName = events::kNames[i] + suffix;
        if (plat::Event::namedInUse(eventName)) {
            handles[i] = plat::Event::openNamed(eventName);
        }
        if (!handles[i].valid()) {
            std::fprintf(stderr,
                         "qm_recorder: no program is listening for the collision recorder's events "
                         "(event \"%s\" is not held by any running program)\n",
                         eventName.c_str());
            return kExitNoListener;
        }
    }

    for (long n = 0; n < count; ++n) {
        if (!signalAndWait(handles[signal], timeout)) {
            std::fprintf(stderr,
                         "qm_recorder: the listening program did not take the '%s' signal within %g s "
                         "(%ld of %ld taken)\n",
                         command, timeout, n, count);
            return kExitNoListener;
        }
    }
    return kExitDone;
}
