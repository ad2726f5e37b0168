// Child processes for the tests that drive other programs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace zv_test {

// A program started as a child process: its standard input is fed by
// write(), its output collected by the read calls. The child is started on a
// pipe or on a pseudo-terminal of its own (then it is a session leader with
// that terminal as its controlling terminal, so terminal-only behaviour such
// as unechoed key reads can be exercised). A ChildProcess is used by one
// thread at a time.
class ChildProcess {
public:
    struct Options {
        // argv[1..]; argv[0] is the program path.
        std::vector<std::string> arguments;
        // Added to (or replacing in) the environment this process has.
        std::vector<std::pair<std::string, std::string>> environment;
        // Run on a new pseudo-terminal (standard input, output and error all
        // the terminal) instead of pipes. The terminal has the usual
        // settings: it echoes what is typed while the program is not reading
        // keys unechoed, and its output ends lines with "\r\n".
        bool terminal = false;
        // With pipes: standard error goes to a pipe of its own, read by
        // errors(), instead of joining the output.
        bool separateErrors = false;
        // With pipes: standard input is read from this file (for example
        // /dev/null) instead of a pipe that write() feeds.
        std::string inputPath;
    };

    ChildProcess() noexcept;  // no process
    // Starts `program` (a path; not searched for). Throws std::system_error
    // when the pipes or terminal cannot be made or the program cannot be
    // started.
    ChildProcess(const std::string& program, const Options& options);
    ChildProcess(ChildProcess&&) noexcept;
    ChildProcess& operator=(ChildProcess&&) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Kills a child that is still running and reaps it.
    ~ChildProcess();

    bool started() const noexcept;
    int pid() const noexcept;

    // Sends bytes to the child's standard input. False once the input is
    // closed or the child no longer reads it.
    bool write(const std::string& bytes);
    // Ends the child's standard input: closes the pipe, or on a terminal
    // types the end-of-file character (which ends input for a program that
    // reads a line at a time; a program reading single keys just sees the
    // character).
    void closeInput();

    // Collects output that arrives within `timeoutSeconds`
    // (plat::kWaitForever for no limit; 0 takes what is there) and returns
    // what was added to output(); empty when none came or the output has
    // ended.
    std::string readOutput(double timeoutSeconds);
    // Collects output until everything collected so far contains `text`;
    // false when the output ended or the timeout expired first.
    bool waitForOutput(const std::string& text, double timeoutSeconds);
    // The same for the standard error collected with separateErrors.
    bool waitForErrors(const std::string& text, double timeoutSeconds);
    // Everything collected so far (output, and errors unless separate).
    const std::string& output() const noexcept;
    // The standard error collected so far, with separateErrors.
    const std::string& errors() const noexcept;
    bool outputEnded() const noexcept;

    // Waits up to `timeoutSeconds` (plat::kWaitForever for no limit) for the
    // child to exit, collecting its output meanwhile, and then collects the
    // output that is left. Returns its exit status (0..255), or -N when signal N
    // ended it; empty while it is still running. Once known, the status is
    // returned by every later call.
    std::optional<int> wait(double timeoutSeconds);
    // Sends SIGTERM (terminate) or SIGKILL (kill) to a child still running.
    void terminate();
    void kill();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zv_test
