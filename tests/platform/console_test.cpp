// Console keys, observed in a child process whose standard input is
// redirected: end of input must count as a key, and a terminal must be left
// as it was found.
#include "platform/Platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using plat_test::Child;
using plat_test::Input;

std::vector<std::string> readAll(Child& child) {
    std::vector<std::string> lines;
    for (std::string line = child.readLine(); !line.empty(); line = child.readLine()) lines.push_back(line);
    return lines;
}

int exitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

struct EndOfInputCase {
    const char* label;
    Input input;
    friend void PrintTo(const EndOfInputCase& c, std::ostream* out) { *out << c.label; }
};

class ConsoleEndOfInput : public ::testing::TestWithParam<EndOfInputCase> {};

TEST_P(ConsoleEndOfInput, CountsAsAKeyPress) {
    Child child = plat_test::startHelper({"keys"}, GetParam().input);
    EXPECT_EQ(readAll(child), (std::vector<std::string>{"pressed 1", "key -1"}));
    EXPECT_EQ(exitCode(child.wait()), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ConsoleEndOfInput,
                         ::testing::Values(EndOfInputCase{"DevNull", Input::DevNull},
                                           EndOfInputCase{"Closed", Input::Closed}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(Console, PipeDeliversEveryByteThenEndOfInput) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const std::string data = "q\n\xff";
    ASSERT_EQ(::write(pipeFds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ::close(pipeFds[1]);
    Child child = plat_test::startHelper({"keys"}, Input::Descriptor, pipeFds[0]);
    ::close(pipeFds[0]);
    EXPECT_EQ(readAll(child), (std::vector<std::string>{"pressed 1", "key 113", "pressed 1", "key 10", "pressed 1",
                                                        "key 255", "pressed 1", "key -1"}));
    EXPECT_EQ(exitCode(child.wait()), 0);
}

TEST(Console, OpenPipeWithoutDataIsNoKeyAndReadWaitsForOne) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    Child child = plat_test::startHelper({"keys"}, Input::Descriptor, pipeFds[0]);
    ::close(pipeFds[0]);
    EXPECT_EQ(child.readLine(), "pressed 0");
    ASSERT_EQ(::write(pipeFds[1], "z", 1), 1);
    EXPECT_EQ(child.readLine(), "key 122");
    // The child polls again while the pipe may or may not be closed yet; its
    // next read must end with the end of input either way.
    ::close(pipeFds[1]);
    const std::vector<std::string> rest = readAll(child);
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[1], "key -1");
    EXPECT_EQ(exitCode(child.wait()), 0);
}

// A pseudo-terminal as the child's standard input. Its settings are shared by
// both ends, so the test can watch the child switch and restore them.
class ConsoleTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(slave_, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(slave_, &t), 0);
        t.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &t), 0);
    }
    void TearDown() override {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }

    tcflag_t localFlags() const {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t.c_lflag;
    }
    // Waits until the child has switched the terminal for a read; false when
    // that has not happened within a generous bound.
    bool waitForRawMode() const {
        const std::uint64_t limit = plat::counter() + 30 * plat::counterFrequency();
        while ((localFlags() & (ICANON | ECHO)) != 0) {
            if (plat::counter() > limit) return false;
            plat::sleepFor(0.001);
        }
        return true;
    }
    std::string pendingEcho() const {
        std::string text;
        pollfd p{master_, POLLIN, 0};
        char buffer[64];
        while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    int master_ = -1;
    int slave_ = -1;
};

TEST_F(ConsoleTerminal, ReadsOneKeyWithoutEnterOrEchoAndRestoresSettings) {
    Child child = plat_test::startHelper({"tty"}, Input::Descriptor, slave_);
    ASSERT_TRUE(waitForRawMode());
    ASSERT_EQ(::write(master_, "k", 1), 1);
    EXPECT_EQ(child.readLine(), "key 107 restored 1");
    EXPECT_EQ(exitCode(child.wait()), 0);
    EXPECT_EQ(localFlags() & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    EXPECT_EQ(pendingEcho().find('k'), std::string::npos);
}

TEST_F(ConsoleTerminal, TerminatingSignalDuringReadRestoresSettings) {
    Child child = plat_test::startHelper({"tty"}, Input::Descriptor, slave_);
    ASSERT_TRUE(waitForRawMode());
    ASSERT_TRUE(plat_test::waitUntilProcessBlockedInPoll(child.pid));
    ASSERT_EQ(::kill(child.pid, SIGTERM), 0);
    const int status = child.wait();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(localFlags() & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}

}  // namespace
