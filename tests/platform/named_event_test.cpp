// Named events: sharing by name within and across processes, unlinking, and
// the encoding that keeps every name inside the event directory.
#include "platform/Platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using plat::Event;
using plat::ResetMode;
namespace fs = std::filesystem;

constexpr double kLong = 30.0;

// Unique per test process, removed again at the end of each test.
class NamedEvents : public ::testing::Test {
protected:
    std::string name(const std::string& suffix) {
        std::string n = "zv-test-" + std::to_string(::getpid()) + "-" + suffix;
        names_.push_back(n);
        return n;
    }
    void TearDown() override {
        for (const auto& n : names_) Event::unlinkNamed(n);
    }

private:
    std::vector<std::string> names_;
};

int exitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

TEST_F(NamedEvents, CreateOpenAndShareStateInProcess) {
    const std::string n = name("share");
    EXPECT_FALSE(Event::openNamed(n).valid());

    const Event created = Event::createNamed(n, ResetMode::Manual, true);
    ASSERT_TRUE(created.valid());
    const Event opened = Event::openNamed(n);
    ASSERT_TRUE(opened.valid());
    EXPECT_EQ(opened.mode(), ResetMode::Manual);
    EXPECT_TRUE(opened.isSet());

    opened.reset();
    EXPECT_FALSE(created.isSet());
    created.set();
    EXPECT_TRUE(opened.wait(0.0));
}

TEST_F(NamedEvents, CreatingAnExistingNameOpensItWithItsOwnMode) {
    const std::string n = name("existing");
    const Event first = Event::createNamed(n, ResetMode::Auto, false);
    const Event second = Event::createNamed(n, ResetMode::Manual, true);
    ASSERT_TRUE(second.valid());
    EXPECT_EQ(second.mode(), ResetMode::Auto);
    EXPECT_FALSE(first.isSet());  // the initial state of an existing event is kept
    second.set();
    EXPECT_TRUE(first.wait(0.0));
    EXPECT_FALSE(second.wait(0.0));  // auto reset: consumed through the other handle
}

TEST_F(NamedEvents, AutoResetNamedEventReleasesOnePerSet) {
    const std::string n = name("auto");
    const Event e = Event::createNamed(n, ResetMode::Auto, false);
    e.set();
    e.set();
    EXPECT_TRUE(e.wait(0.0));
    EXPECT_FALSE(e.wait(0.0));
}

TEST_F(NamedEvents, PulseReachesWaitersOnEveryHandleInProcess) {
    const std::string n = name("pulse");
    const Event a = Event::createNamed(n, ResetMode::Manual, false);
    const Event b = Event::openNamed(n);
    std::atomic<plat::ThreadId> ids[2] = {};
    bool results[2] = {};
    std::thread ta([&] {
        ids[0] = plat::currentThreadId();
        results[0] = a.wait(kLong);
    });
    std::thread tb([&] {
        ids[1] = plat::currentThreadId();
        results[1] = b.wait(kLong);
    });
    for (auto& id : ids) {
        while (id.load() == 0) plat::sleepFor(0.001);
        ASSERT_TRUE(plat_test::waitUntilBlockedInPoll(id.load()));
    }
    a.pulse();
    ta.join();
    tb.join();
    EXPECT_TRUE(results[0]);
    EXPECT_TRUE(results[1]);
    EXPECT_FALSE(b.isSet());
}

TEST_F(NamedEvents, UnlinkedNameCannotBeOpenedButOpenHandlesStillWork) {
    const std::string n = name("unlink");
    const Event e = Event::createNamed(n, ResetMode::Manual, false);
    const Event other = Event::openNamed(n);
    Event::unlinkNamed(n);
    EXPECT_FALSE(Event::openNamed(n).valid());
    EXPECT_FALSE(fs::exists(plat::namedEventPath(n)));
    e.set();
    EXPECT_TRUE(other.isSet());

    // The name can be reused for a new, unrelated event.
    const Event fresh = Event::createNamed(n, ResetMode::Auto, false);
    ASSERT_TRUE(fresh.valid());
    EXPECT_FALSE(fresh.isSet());
    EXPECT_EQ(fresh.mode(), ResetMode::Auto);
    Event::unlinkNamed(n + "-never-created");  // harmless
}

TEST_F(NamedEvents, ChildProcessSetsEventCreatedHere) {
    const std::string n = name("child-set");
    const Event e = Event::createNamed(n, ResetMode::Auto, false);
    plat_test::Child child = plat_test::startHelper({"named-set", n}, plat_test::Input::DevNull);
    EXPECT_TRUE(e.wait(kLong));
    EXPECT_EQ(exitCode(child.wait()), 0);
    EXPECT_FALSE(e.isSet());
}

TEST_F(NamedEvents, ChildProcessWaitsForEventSetHere) {
    const std::string n = name("child-wait");
    const Event e = Event::createNamed(n, ResetMode::Manual, false);
    plat_test::Child mode = plat_test::startHelper({"named-mode", n}, plat_test::Input::DevNull);
    EXPECT_EQ(mode.readLine(), "manual");
    EXPECT_EQ(exitCode(mode.wait()), 0);

    plat_test::Child waiter = plat_test::startHelper({"named-wait", n, "30"}, plat_test::Input::DevNull);
    e.set();
    EXPECT_EQ(exitCode(waiter.wait()), 0);
    EXPECT_TRUE(e.isSet());
}

TEST_F(NamedEvents, ChildProcessCannotOpenMissingName) {
    plat_test::Child child = plat_test::startHelper({"named-set", name("missing")}, plat_test::Input::DevNull);
    EXPECT_EQ(exitCode(child.wait()), 2);
}

// Every name, however hostile, maps to one entry directly inside the event
// directory, and distinct names map to distinct entries.
TEST_F(NamedEvents, NamesStayInsideTheEventDirectory) {
    const std::string base = name("enc");
    const std::string longName(300, 'x');
    const std::array<std::string, 11> suffixes{"/slash",      "/../../escape",  "..",  ".",       "a/b/c",
                                               "with space",  "\xc3\xbcnicode", "%2F", "nul\x01", longName,
                                               longName + "y"};
    const fs::path directory = fs::path(plat::namedEventPath(base)).parent_path();
    std::vector<std::string> seen;
    for (const auto& suffix : suffixes) {
        const std::string n = name(suffix);
        const fs::path entry = plat::namedEventPath(n);
        SCOPED_TRACE(entry.string());
        EXPECT_EQ(entry.parent_path(), directory);
        EXPECT_LE(entry.filename().string().size(), 255u);
        for (const auto& other : seen) EXPECT_NE(entry.string(), other);
        seen.push_back(entry.string());

        const Event e = Event::createNamed(n, ResetMode::Manual, false);
        ASSERT_TRUE(e.valid());
        EXPECT_TRUE(fs::is_directory(entry));
        EXPECT_TRUE(Event::openNamed(n).valid());
    }
    // "%2F" must not be confused with the escape of "/".
    EXPECT_NE(plat::namedEventPath("/"), plat::namedEventPath("%2F"));
    EXPECT_FALSE(fs::exists(directory.parent_path() / "escape"));
}

// Whether anyone holds a named event: a tool that signals one uses this to
// tell a listening program from a name left behind by one that has gone.
TEST_F(NamedEvents, InUseWhileSomeProcessHoldsAHandle) {
    const std::string n = name("in-use");
    EXPECT_FALSE(Event::namedInUse(n));  // no such name
    {
        const Event e = Event::createNamed(n, ResetMode::Auto, false);
        ASSERT_TRUE(e.valid());
        EXPECT_TRUE(Event::namedInUse(n));
        // Probing neither sets nor disturbs the event.
        EXPECT_FALSE(e.isSet());
        e.set();
        EXPECT_TRUE(Event::namedInUse(n));
        EXPECT_TRUE(e.wait(0.0));
    }
    // The name is left behind, held by nobody.
    EXPECT_TRUE(fs::exists(plat::namedEventPath(n)));
    EXPECT_FALSE(Event::namedInUse(n));

    // Held by another process only.
    plat_test::Child holder = plat_test::startHelper({"named-wait", n, "30"}, plat_test::Input::DevNull);
    ASSERT_TRUE(plat_test::waitUntilProcessBlockedInPoll(holder.pid));
    EXPECT_TRUE(Event::namedInUse(n));
    {
        const Event release = Event::openNamed(n);
        release.set();
        EXPECT_EQ(exitCode(holder.wait()), 0);
    }
    EXPECT_FALSE(Event::namedInUse(n));

    // An entry others could have tampered with counts as nobody's.
    const Event e = Event::createNamed(n, ResetMode::Auto, false);
    const std::string path = plat::namedEventPath(n);
    ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
    EXPECT_FALSE(Event::namedInUse(n));
    ASSERT_EQ(::chmod(path.c_str(), 0700), 0);
    EXPECT_TRUE(Event::namedInUse(n));
}

// An entry that others could have tampered with is refused rather than used.
TEST_F(NamedEvents, EntryWritableByOthersIsRefused) {
    const std::string n = name("tampered");
    const Event e = Event::createNamed(n, ResetMode::Manual, false);
    ASSERT_TRUE(e.valid());
    const std::string path = plat::namedEventPath(n);
    ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
    EXPECT_FALSE(Event::openNamed(n).valid());
    ASSERT_EQ(::chmod(path.c_str(), 0700), 0);
}

}  // namespace
