// Child processes on pipes or on a pseudo-terminal, for the tests.
//
// The child is started with posix_spawn, which is safe to call from a
// process with many threads (a plain fork would copy locks held by other
// threads). For a terminal, the spawn makes the child a session leader and
// then opens the terminal's slave side as its standard input, output and
// error; the first terminal a session leader opens becomes its controlling
// terminal, so the child is in the terminal's foreground and may change its
// settings as an interactive program does.
//
// Output is collected as it arrives, by the caller's thread, whenever it
// reads or waits; a child writing more than a pipe holds therefore never
// blocks for long while the caller waits for it to exit.
#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

extern char** environ;

namespace zv_test {

using plat::counter;
using plat::counterFrequency;
using plat::counterSeconds;
using plat::sleepFor;

namespace {

[[noreturn]] void fail(int error, const char* what) { throw std::system_error(error, std::generic_category(), what); }

void closeFd(int& fd) noexcept {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The environment of this process with the given variables added or
// replaced.
std::vector<std::string> childEnvironment(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::vector<std::string> entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        const std::string name = entry.substr(0, eq);
        bool replaced = false;
        for (const auto& [key, value] : extra) replaced = replaced || key == name;
        if (!replaced) entries.push_back(entry);
    }
    for (const auto& [key, value] : extra) entries.push_back(key + "=" + value);
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end
// this process. The signal is blocked on this thread for the write and a
// signal the write raised is taken off again before it is unblocked, so the
// failure shows only as EPIPE.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeSet_);
        sigaddset(&pipeSet_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSet_, &previous_);
    }
    ~SigpipeGuard() {
        if (!alreadyPending_) {
            const timespec zero{0, 0};
            while (sigtimedwait(&pipeSet_, nullptr, &zero) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t pipeSet_{};
    sigset_t previous_{};
    bool alreadyPending_ = false;
};

}  // namespace

struct ChildProcess::Impl {
    pid_t pid = -1;
    bool terminal = false;
    int input = -1;   // write end of the input pipe, or the terminal's master side
    int output = -1;  // read end of the output pipe, or the master side again
    int errorsFd = -1;
    std::string out;
    std::string err;
    std::optional<int> status;

    ~Impl() {
        if (pid > 0 && !status) {
            ::kill(pid, SIGKILL);
            int raw = 0;
            while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
            }
        }
        if (output == input) output = -1;  // the terminal's master side, held once
        closeFd(input);
        closeFd(output);
        closeFd(errorsFd);
    }

    // Waits up to `timeout` seconds (negative: no limit) for output on any
    // open stream and takes what has come. True when some output was taken.
    // A stream that has ended (or, for a terminal, whose last writer has
    // closed it, which reads report as EIO) is closed.
    bool collect(double timeout) {
        pollfd fds[2];
        int* owners[2];
        std::string* sinks[2];
        nfds_t n = 0;
        if (output >= 0) {
            fds[n] = {output, POLLIN, 0};
            owners[n] = &output;
            sinks[n++] = &out;
        }
        if (errorsFd >= 0) {
            fds[n] = {errorsFd, POLLIN, 0};
            owners[n] = &errorsFd;
            sinks[n++] = &err;
        }
        if (n == 0) {
            if (timeout > 0) sleepFor(timeout);
            return false;
        }
        const int ms = timeout < 0 ? -1 : static_cast<int>(timeout * 1000.0 + 0.999);
        const int ready = ::poll(fds, n, ms);
        if (ready <= 0) return false;
        bool took = false;
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
                took = true;
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                // The master side is also the input: keep it for writing.
                if (terminal && owners[i] == &output) {
                    output = -1;
                } else {
                    closeFd(*owners[i]);
                }
            }
        }
        return took;
    }

    bool reap(int options) {
        if (status) return true;
        int raw = 0;
        pid_t r;
        do {
            r = ::waitpid(pid, &raw, options);
        } while (r < 0 && errno == EINTR);
        if (r != pid) return false;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? -WTERMSIG(raw) : -1;
        return true;
    }

    // Collects until `collected` contains `text`; false when every stream
    // has ended or the timeout expired first.
    bool waitFor(const std::string& collected, const std::string& text, double timeout) {
        const std::uint64_t deadline =
            counter() + static_cast<std::uint64_t>((timeout < 0 ? 0 : timeout) * counterFrequency());
        for (;;) {
            if (collected.find(text) != std::string::npos) return true;
            if (output < 0 && errorsFd < 0) return false;
            const double left = timeout < 0 ? -1.0 : std::max(0.0, counterSeconds(counter(), deadline));
            collect(left);
            if (left == 0.0) return collected.find(text) != std::string::npos;
        }
    }

    // After the child's exit: whatever it wrote is still in the pipe or the
    // terminal. A stream that a grandchild keeps open would never end, so the
    // draining stops once nothing more arrives for a moment.
    void drain() {
        while ((output >= 0 || errorsFd >= 0) && collect(0.05)) {
        }
    }
};

ChildProcess::ChildProcess() noexcept = default;
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;
ChildProcess::~ChildProcess() = default;

ChildProcess::ChildProcess(const std::string& program, const Options& options) : impl_(std::make_unique<Impl>()) {
    Impl& c = *impl_;
    c.terminal = options.terminal;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Start the child with the signal handling a program expects, whatever
    // this process blocks or ignores.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;

    int childEnds[3] = {-1, -1, -1};  // our copies of the child's ends, closed after the spawn
    std::string slavePath;
    auto cleanUp = [&] {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        for (int& fd : childEnds) closeFd(fd);
    };
    try {
        if (options.terminal) {
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (master < 0) fail(errno, "posix_openpt");
            c.input = master;
            if (::grantpt(master) != 0 || ::unlockpt(master) != 0) fail(errno, "unlockpt");
            char name[256];
            if (::ptsname_r(master, name, sizeof name) != 0) fail(errno, "ptsname_r");
            slavePath = name;
            c.output = master;
            flags |= POSIX_SPAWN_SETSID;
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, slavePath.c_str(), O_RDWR, 0);
            posix_spawn_file_actions_adddup2(&actions, STDIN_FILENO, STDOUT_FILENO);
            posix_spawn_file_actions_adddup2(&actions, STDIN_FILENO, STDERR_FILENO);
        } else {
            if (options.inputPath.empty()) {
                int in[2];
                if (::pipe2(in, O_CLOEXEC) != 0) fail(errno, "pipe2");
                childEnds[0] = in[0];
                c.input = in[1];
                posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
            } else {
                posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, options.inputPath.c_str(), O_RDONLY, 0);
            }
            int out[2];
            if (::pipe2(out, O_CLOEXEC) != 0) fail(errno, "pipe2");
            c.output = out[0];
            childEnds[1] = out[1];
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
            if (options.separateErrors) {
                int errs[2];
                if (::pipe2(errs, O_CLOEXEC) != 0) fail(errno, "pipe2");
                c.errorsFd = errs[0];
                childEnds[2] = errs[1];
                posix_spawn_file_actions_adddup2(&actions, errs[1], STDERR_FILENO);
            } else {
                posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
            }
        }
        posix_spawnattr_setflags(&attributes, flags);

        std::vector<std::string> args{program};
        args.insert(args.end(), options.arguments.begin(), options.arguments.end());
        std::vector<std::string> env = childEnvironment(options.environment);
        std::vector<char*> argv = pointers(args);
        std::vector<char*> envp = pointers(env);
        pid_t pid = -1;
        const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
        if (rc != 0) fail(rc, "posix_spawn");
        c.pid = pid;
    } catch (...) {
        cleanUp();
        impl_.reset();
        throw;
    }
    cleanUp();
}

bool ChildProcess::started() const noexcept { return impl_ != nullptr && impl_->pid > 0; }

int ChildProcess::pid() const noexcept { return impl_ ? impl_->pid : -1; }

bool ChildProcess::write(const std::string& bytes) {
    if (!impl_ || impl_->input < 0) return false;
    SigpipeGuard guard;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(impl_->input, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void ChildProcess::closeInput() {
    if (!impl_ || impl_->input < 0) return;
    if (impl_->terminal) {
        termios settings{};
        const char eof = ::tcgetattr(impl_->input, &settings) == 0 ? static_cast<char>(settings.c_cc[VEOF]) : '\x04';
        write(std::string(1, eof));
    } else {
        closeFd(impl_->input);
    }
}

std::string ChildProcess::readOutput(double timeoutSeconds) {
    if (!impl_) return {};
    const std::size_t before = impl_->out.size();
    const std::uint64_t deadline =
        counter() + static_cast<std::uint64_t>((timeoutSeconds < 0 ? 0 : timeoutSeconds) * counterFrequency());
    // At least one look, so that a zero timeout takes what is there.
    while (impl_->out.size() == before && (impl_->output >= 0 || impl_->errorsFd >= 0)) {
        const double left = timeoutSeconds < 0 ? -1.0 : std::max(0.0, counterSeconds(counter(), deadline));
        impl_->collect(left);
        if (left == 0.0) break;
    }
    return impl_->out.substr(before);
}

bool ChildProcess::waitForOutput(const std::string& text, double timeoutSeconds) {
    return impl_ && impl_->waitFor(impl_->out, text, timeoutSeconds);
}

bool ChildProcess::waitForErrors(const std::string& text, double timeoutSeconds) {
    return impl_ && impl_->waitFor(impl_->err, text, timeoutSeconds);
}

const std::string& ChildProcess::output() const noexcept {
    static const std::string empty;
    return impl_ ? impl_->out : empty;
}

const std::string& ChildProcess::errors() const noexcept {
    static const std::string empty;
    return impl_ ? impl_->err : empty;
}

bool ChildProcess::outputEnded() const noexcept { return !impl_ || (impl_->output < 0 && impl_->errorsFd < 0); }

std::optional<int> ChildProcess::wait(double timeoutSeconds) {
    if (!started()) return std::nullopt;
    Impl& c = *impl_;
    if (c.status) return c.status;
    const std::uint64_t deadline =
        counter() + static_cast<std::uint64_t>((timeoutSeconds < 0 ? 0 : timeoutSeconds) * counterFrequency());
    // Exit is looked for between short waits for output; the output is taken
    // meanwhile so that the child never blocks on a full pipe.
    while (!c.reap(WNOHANG)) {
        const double left = counterSeconds(counter(), deadline);
        if (timeoutSeconds >= 0 && left <= 0) return std::nullopt;
        c.collect(timeoutSeconds < 0 ? 0.01 : std::min(0.01, left));
    }
    c.drain();
    return c.status;
}

void ChildProcess::terminate() {
    if (started() && !impl_->status && !impl_->reap(WNOHANG)) ::kill(impl_->pid, SIGTERM);
}

void ChildProcess::kill() {
    if (started() && !impl_->status && !impl_->reap(WNOHANG)) ::kill(impl_->pid, SIGKILL);
}

}  // namespace zv_test
