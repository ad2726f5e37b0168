#include "test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace plat_test {

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// `dir` is the /proc directory of a thread or a single-threaded process.
bool asleepInPoll(const std::string& dir) {
    // The state follows the parenthesised command name in stat.
    const std::string stat = readFile(dir + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'S') return false;
    std::istringstream sys(readFile(dir + "/syscall"));
    long number = -1;
    sys >> number;
    return number == SYS_ppoll || number == SYS_poll;
}

bool waitUntilAsleepInPoll(const std::string& dir) {
    const std::uint64_t limit = plat::counter() + 30 * plat::counterFrequency();
    while (!asleepInPoll(dir)) {
        if (plat::counter() > limit) return false;
        plat::sleepFor(0.001);
    }
    return true;
}

}  // namespace

bool blockedInPoll(plat::ThreadId tid) { return asleepInPoll("/proc/self/task/" + std::to_string(tid)); }

bool waitUntilBlockedInPoll(plat::ThreadId tid) {
    return waitUntilAsleepInPoll("/proc/self/task/" + std::to_string(tid));
}

bool waitUntilProcessBlockedInPoll(int pid) { return waitUntilAsleepInPoll("/proc/" + std::to_string(pid)); }

Child::~Child() {
    if (output >= 0) ::close(output);
    if (pid > 0) wait();
}

std::string Child::readLine() {
    std::string line;
    char c;
    for (;;) {
        const ssize_t n = ::read(output, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') return line;
        line.push_back(c);
    }
}

int Child::wait() {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return status;
}

Child startHelper(const std::vector<std::string>& args, Input input, int inputFd) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    switch (input) {
    case Input::Inherit: break;
    case Input::DevNull: posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0); break;
    case Input::Closed: posix_spawn_file_actions_addclose(&actions, STDIN_FILENO); break;
    case Input::Descriptor: posix_spawn_file_actions_adddup2(&actions, inputFd, STDIN_FILENO); break;
    }
    std::vector<std::string> all{PLATFORM_TEST_HELPER};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    Child child;
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        throw std::runtime_error("posix_spawn failed");
    }
    child.pid = pid;
    child.output = out[0];
    return child;
}

}  // namespace plat_test
