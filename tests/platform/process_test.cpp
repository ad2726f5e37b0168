// Child processes: arguments, environment, input, separate and joined
// output, exit statuses and signals, and a child on a pseudo-terminal that
// reads keys the way an interactive program does.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <system_error>

#include "platform/Platform.h"
#include "support/child_process.h"

namespace {

constexpr double kGenerous = 60.0;  // a bound for a failing test, never a measurement

zv_test::ChildProcess shell(const std::string& script, zv_test::ChildProcess::Options options = {}) {
    options.arguments.insert(options.arguments.begin(), {"-c", script});
    return zv_test::ChildProcess("/bin/sh", options);
}

TEST(ChildProcess, PassesArgumentsEnvironmentAndInputAndSeparatesErrors) {
    zv_test::ChildProcess::Options options;
    options.arguments = {"first arg"};
    options.environment = {{"PROCESS_TEST_VALUE", "from the parent"}, {"HOME", "/replaced"}};
    options.separateErrors = true;
    zv_test::ChildProcess child =
        shell(R"(printf '%s|%s|%s\n' "$0" "$PROCESS_TEST_VALUE" "$HOME"; cat; echo oops >&2; exit 7)", options);
    ASSERT_TRUE(child.started());
    EXPECT_TRUE(child.waitForOutput("first arg|from the parent|/replaced\n", kGenerous)) << child.output();
    EXPECT_TRUE(child.write("typed\n"));
    EXPECT_TRUE(child.waitForOutput("typed\n", kGenerous));
    child.closeInput();
    EXPECT_EQ(child.wait(kGenerous), 7);
    EXPECT_EQ(child.output(), "first arg|from the parent|/replaced\ntyped\n");
    EXPECT_EQ(child.errors(), "oops\n");
    EXPECT_TRUE(child.outputEnded());
    EXPECT_EQ(child.wait(0), 7) << "the status is remembered";
    EXPECT_FALSE(child.write("late")) << "input closed";
}

TEST(ChildProcess, JoinsErrorsIntoOutputByDefaultAndCollectsOutputLeftAtExit) {
    // More than a pipe holds, written before the exit: waiting must keep
    // reading or the child would never finish.
    zv_test::ChildProcess child = shell("echo out; echo err >&2; head -c 300000 /dev/zero | tr '\\0' x; exit 0");
    EXPECT_EQ(child.wait(kGenerous), 0);
    ASSERT_EQ(child.output().size(), 8u + 300000u);
    EXPECT_EQ(child.output().substr(0, 8), "out\nerr\n");
    EXPECT_TRUE(child.errors().empty());
}

TEST(ChildProcess, ReadsInputFromAFile) {
    zv_test::ChildProcess::Options options;
    options.inputPath = "/dev/null";
    zv_test::ChildProcess child = shell("cat; echo end", options);
    EXPECT_FALSE(child.write("ignored")) << "no input pipe";
    EXPECT_EQ(child.wait(kGenerous), 0);
    EXPECT_EQ(child.output(), "end\n");
}

TEST(ChildProcess, TimeoutsLeaveARunningChildAloneUntilItIsKilled) {
    zv_test::ChildProcess child = shell("exec sleep 60");
    EXPECT_EQ(child.readOutput(0.05), "");
    EXPECT_FALSE(child.waitForOutput("never", 0.05));
    EXPECT_FALSE(child.wait(0.05).has_value());
    child.kill();
    EXPECT_EQ(child.wait(kGenerous), -SIGKILL);
}

TEST(ChildProcess, TerminateSendsSigterm) {
    zv_test::ChildProcess child = shell("exec sleep 60");
    child.terminate();
    EXPECT_EQ(child.wait(kGenerous), -SIGTERM);
}

TEST(ChildProcess, MissingProgramThrows) {
    EXPECT_THROW(zv_test::ChildProcess("/nonexistent/program", {}), std::system_error);
}

// On a terminal the child sees a terminal on all three streams, and a key
// typed to it is read without echo and without waiting for a newline; the
// program leaves the settings as it found them.
TEST(ChildProcess, TerminalChildReadsUnechoedKeys) {
    zv_test::ChildProcess::Options options;
    options.terminal = true;
    zv_test::ChildProcess check = shell("test -t 0 && test -t 1 && test -t 2 && echo terminal", options);
    EXPECT_EQ(check.wait(kGenerous), 0);
    EXPECT_NE(check.output().find("terminal"), std::string::npos) << check.output();

    options.arguments = {"tty"};
    zv_test::ChildProcess child(PLATFORM_TEST_HELPER, options);
    ASSERT_TRUE(child.write("x"));
    EXPECT_TRUE(child.waitForOutput("key 120 restored 1", kGenerous)) << child.output();
    EXPECT_EQ(child.wait(kGenerous), 0);
}

TEST(ChildProcess, EndOfFileCharacterEndsLineInputOnATerminal) {
    zv_test::ChildProcess::Options options;
    options.terminal = true;
    zv_test::ChildProcess child = shell("stty -echo; echo ready; cat; echo done", options);
    ASSERT_TRUE(child.waitForOutput("ready", kGenerous));
    ASSERT_TRUE(child.write("line\n"));
    child.closeInput();
    EXPECT_EQ(child.wait(kGenerous), 0);
    EXPECT_NE(child.output().find("line\r\ndone"), std::string::npos) << child.output();
}

}  // namespace
