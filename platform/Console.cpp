// Console key polling and unechoed key reads.
//
// Standard input is read through its descriptor, one byte at a time, so that
// nothing is held back in a stream buffer.
//
// On a terminal, keys only become readable one by one (and unechoed) in
// non-canonical mode, so both calls switch the terminal into that mode for
// their own duration and restore the saved settings afterwards. Should the
// process be ended by a signal or exit while readKey() has the terminal
// switched, a handler restores the settings first: the handlers for the usual
// terminating signals are installed only for the duration of the read and
// hand the signal on to whatever handled it before.
//
// When standard input is not a terminal (a pipe, a file, /dev/null, a closed
// descriptor), end of input counts as a pressed key, so that a program waiting
// for a key in an unattended run ends instead of hanging.
#include "platform/Platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace plat {

namespace {

constexpr int kInput = STDIN_FILENO;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

std::mutex gConsoleMutex;

// The terminal settings to restore while the terminal is switched. Written
// before the switch and only read by the signal handler and the exit hook.
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
// signal again, so the process ends (or the previous handler runs) exactly as
// it would have without us. Only async-signal-safe calls.
void onTerminatingSignal(int sig) {
    const int savedErrno = errno;
    restoreTerminal();
    for (int i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] == sig) sigaction(sig, &gPrevious[i], nullptr);
    }
    raise(sig);
    errno = savedErrno;
}

// Puts the terminal into unechoed non-canonical mode for the lifetime of the
// object. `guardSignals` also installs the restoring signal handlers, which a
// blocking read needs and a momentary poll does not.
class RawMode {
public:
    explicit RawMode(bool guardSignals) {
        // Changing the settings of our controlling terminal from a background
        // process group would stop the process (SIGTTOU) or disturb the
        // foreground program. (A terminal that is not the controlling one
        // has no foreground group for us.)
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
    // Readable data, end of input (POLLHUP), an error or a closed descriptor
    // (POLLNVAL) all mean a read would return at once.
    return n != 0;
}

}  // namespace

bool keyPressed() {
    // A thread blocked in readKey() will take the next key; polling must not
    // wait for it.
    std::unique_lock<std::mutex> guard(gConsoleMutex, std::try_to_lock);
    if (!guard.owns_lock()) return false;
    if (!isatty(kInput)) return inputReady();
    RawMode raw(false);
    return inputReady();
}

int readKey() {
    std::lock_guard<std::mutex> guard(gConsoleMutex);
    const bool terminal = isatty(kInput) != 0;
    for (;;) {
        std::optional<RawMode> raw;
        if (terminal) raw.emplace(true);
        // Waiting in poll() rather than in read() also suits a descriptor
        // that is non-blocking, and lets a signal handler run at once under
        // instrumentation that defers signals arriving during other calls.
        pollfd p{kInput, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0 && errno == EINTR) continue;
        unsigned char c = 0;
        const ssize_t n = ::read(kInput, &c, 1);
        if (n == 1) return c;
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        return kKeyEndOfInput;
    }
}

}  // namespace plat
