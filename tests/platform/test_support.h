// Helpers shared by the platform tests: waiting until a thread is blocked in
// a wait, and running the helper program as a child process.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <utility>
#include <vector>

namespace plat_test {

// Whether thread `tid` of this process is asleep inside poll, i.e. blocked in
// a wait on waitable objects. A thread that was woken and is about to look at
// its objects is runnable, not asleep, so this also means the thread has
// finished reacting to earlier signals.
bool blockedInPoll(plat::ThreadId tid);
// Waits until blockedInPoll(tid); false when that has not happened within a
// generous bound (a failure, never a measurement).
bool waitUntilBlockedInPoll(plat::ThreadId tid);

// Waits until process `pid` (single-threaded) is asleep in poll or ppoll;
// false when that has not happened within a generous bound.
bool waitUntilProcessBlockedInPoll(int pid);

// A child process running the platform test helper.
struct Child {
    int pid = -1;
    int output = -1;  // read end of the child's standard output
    Child() = default;
    Child(Child&& other) noexcept : pid(std::exchange(other.pid, -1)), output(std::exchange(other.output, -1)) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    Child& operator=(Child&&) = delete;
    ~Child();
    // Reads one line of output (without the newline); empty at end of output.
    std::string readLine();
    // Waits for the child and returns its wait status.
    int wait();
};

enum class Input { Inherit, DevNull, Closed, Descriptor };

// Starts the helper with the given arguments. `Input::Descriptor` makes
// `inputFd` the child's standard input.
Child startHelper(const std::vector<std::string>& args, Input input, int inputFd = -1);

}  // namespace plat_test
