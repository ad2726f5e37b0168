// Standard input is read through its descriptor, one byte at a time, so that
// nothing is held back in a stream buffer.
//
// Keys only become readable one by one (and unechoed) when the terminal is in
// non-canonical mode, so each call switches it for its own duration. Should
// the process be ended by a signal or exit while a read has the terminal
// switched, a handler restores the settings first: the handlers for the usual
// terminating signals are installed only for the duration of the read and
// hand the signal on to whatever handled it before.
#include "console_keys.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace console_keys {
namespace {

constexpr int kInput = STDIN_FILENO;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

std::mutex gMutex;

// The settings to restore while the terminal is switched. Written before the
// switch; read by the signal handler and the exit hook.
termios gSaved{};
volatile sig_atomic_t gSwitched = 0;
struct sigaction gPrevious[kSignalCount];

void restoreTerminal() {
    if (gSwitched) {
        tcsetattr(kInput, TCSANOW, &gSaved);
        gSwitched = 0;
    }
}

void atExitRestore() { restoreTerminal(); }

// Restores the terminal, reinstalls the previous handler and raises the
// signal again, so the process ends (or the previous handler runs) as it
// would have without us. Only async-signal-safe calls.
void onTerminatingSignal(int sig) {
    const int savedErrno = errno;
    restoreTerminal();
    for (int i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] == sig) sigaction(sig, &gPrevious[i], nullptr);
    }
    raise(sig);
    errno = savedErrno;
}

// Unechoed non-canonical mode for the lifetime of the object. A blocking read
// also needs the restoring signal handlers (`guardSignals`); a momentary poll
// does not.
class RawMode {
public:
    explicit RawMode(bool guardSignals) {
        // Changing our controlling terminal's settings from a background
        // process group would stop the process (SIGTTOU) or disturb the
        // program in the foreground.
        const pid_t foreground = tcgetpgrp(kInput);
        if (foreground != -1 && foreground != getpgrp()) return;
        if (tcgetattr(kInput, &gSaved) != 0) return;
        static std::once_flag exitHook;
        std::call_once(exitHook, [] { std::atexit(atExitRestore); });
        if (guardSignals) {
            struct sigaction action {};
            action.sa_handler = onTerminatingSignal;
            sigemptyset(&action.sa_mask);
            for (int i = 0; i < kSignalCount; ++i) {
                // A signal the process ignores stays ignored.
                if (sigaction(kSignals[i], nullptr, &gPrevious[i]) == 0 && gPrevious[i].sa_handler != SIG_IGN) {
                    installed_[i] = sigaction(kSignals[i], &action, nullptr) == 0;
                }
            }
        }
        termios raw = gSaved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        gSwitched = 1;
        if (tcsetattr(kInput, TCSANOW, &raw) != 0) gSwitched = 0;
    }
    ~RawMode() {
        restoreTerminal();
        for (int i = 0; i < kSignalCount; ++i) {
            if (installed_[i]) sigaction(kSignals[i], &gPrevious[i], nullptr);
        }
    }
    RawMode(const RawMode&) = delete;
    RawMode& operator=(const RawMode&) = delete;

private:
    bool installed_[kSignalCount] = {};
};

bool inputReady() {
    pollfd p{kInput, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    // Data, end of input (POLLHUP), an error or a closed descriptor
    // (POLLNVAL) all mean that a read would return at once.
    return n != 0;
}

}  // namespace
}  // namespace console_keys

extern "C" int consoleKeyPressed(void) {
    using namespace console_keys;
    // A thread blocked in consoleReadKey takes the next key; polling must not
    // wait for it.
    std::unique_lock<std::mutex> guard(gMutex, std::try_to_lock);
    if (!guard.owns_lock()) return 0;
    if (!isatty(kInput)) return inputReady() ? 1 : 0;
    RawMode raw(false);
    return inputReady() ? 1 : 0;
}

extern "C" int consoleReadKey(void) {
    using namespace console_keys;
    std::lock_guard<std::mutex> guard(gMutex);
    const bool terminal = isatty(kInput) != 0;
    for (;;) {
        std::optional<RawMode> raw;
        if (terminal) raw.emplace(true);
        // Waiting in poll() rather than in read() also suits a non-blocking
        // descriptor, and lets a signal handler run at once under
        // instrumentation that defers signals arriving during other calls.
        pollfd p{kInput, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0 && errno == EINTR) continue;
        unsigned char c = 0;
        const ssize_t n = ::read(kInput, &c, 1);
        if (n == 1) return c;
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        return CONSOLE_KEY_END_OF_INPUT;
    }
}
