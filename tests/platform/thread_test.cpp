// The counter, threads (names, ids), thread slots and load hooks.
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Counter, IsMonotonicAcrossThreads) {
    EXPECT_GT(plat::counterFrequency(), 0u);
    std::atomic<bool> backwards{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            std::uint64_t previous = plat::counter();
            for (int i = 0; i < 100000; ++i) {
                const std::uint64_t now = plat::counter();
                if (now < previous) backwards = true;
                previous = now;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(backwards.load());

    const std::uint64_t a = plat::counter();
    const std::uint64_t b = a + plat::counterFrequency() / 2;
    EXPECT_DOUBLE_EQ(plat::counterSeconds(a, b), 0.5);
    EXPECT_DOUBLE_EQ(plat::counterSeconds(b, a), -0.5);
}

TEST(Counter, SleepsReturnForPastDeadlinesAndNonPositiveDurations) {
    const std::uint64_t before = plat::counter();
    plat::sleepUntil(before > 1000 ? before - 1000 : 0);
    plat::sleepFor(0.0);
    plat::sleepFor(-1.0);
    plat::sleepFor(std::nan(""));
    plat::sleepFor(0.001);
    EXPECT_GE(plat::counter(), before + plat::counterFrequency() / 1000);
}

std::string currentThreadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

TEST(Threads, NamesAreAppliedAndTruncated) {
    struct Case {
        std::string given;
        std::string expected;
    };
    for (const Case& c : {Case{"servo", "servo"}, Case{"a-much-longer-thread-name", "a-much-longer-t"}}) {
        std::string seen;
        plat::Thread t(c.given, [&] { seen = currentThreadName(); });
        t.join();
        EXPECT_EQ(seen, c.expected);
    }
    std::string seen;
    std::thread raw([&] {
        plat::setCurrentThreadName("renamed");
        plat::setCurrentThreadName(nullptr);  // ignored
        seen = currentThreadName();
    });
    raw.join();
    EXPECT_EQ(seen, "renamed");
}

TEST(Threads, IdsAreNonzeroDistinctAndReportedByThreadObjects) {
    constexpr int kThreads = 4;
    std::vector<plat::ThreadId> inside(kThreads, 0);
    std::atomic<int> arrived{0};
    std::vector<plat::Thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back("id-test", [&, i] {
            inside[static_cast<std::size_t>(i)] = plat::currentThreadId();
            EXPECT_EQ(plat::currentThreadId(), inside[static_cast<std::size_t>(i)]);
            // Stay alive until all have started, so their ids must differ.
            arrived.fetch_add(1);
            while (arrived.load() < kThreads) plat::cpuRelax();
        });
    }
    for (auto& t : threads) t.join();
    std::set<plat::ThreadId> unique(inside.begin(), inside.end());
    unique.insert(plat::currentThreadId());
    EXPECT_EQ(unique.size(), static_cast<std::size_t>(kThreads) + 1);
    EXPECT_EQ(unique.count(0), 0u);
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(threads[static_cast<std::size_t>(i)].id(), inside[static_cast<std::size_t>(i)]);
}

TEST(Threads, MovedThreadIsJoinedThroughItsNewOwner) {
    std::atomic<int> runs{0};
    plat::Thread a("mover", [&] { runs.fetch_add(1); });
    plat::Thread b(std::move(a));
    EXPECT_FALSE(a.joinable());
    EXPECT_TRUE(b.joinable());
    plat::Thread c;
    EXPECT_FALSE(c.joinable());
    EXPECT_EQ(c.id(), 0u);
    c = std::move(b);
    c.join();
    EXPECT_FALSE(c.joinable());
    EXPECT_EQ(runs.load(), 1);
}

// A forked child's only thread must report its own id, not its parent's.
TEST(Threads, ForkedChildReportsItsOwnThreadId) {
    const plat::ThreadId parent = plat::currentThreadId();
    ASSERT_NE(parent, 0u);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(plat::currentThreadId() == static_cast<plat::ThreadId>(::getpid()) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---------------------------------------------------------------- thread slots

std::atomic<int> gDestroyed{0};
std::atomic<plat::ThreadId> gDestroyedOn{0};

void destroyValue(void* value) {
    gDestroyedOn = plat::currentThreadId();
    gDestroyed.fetch_add(*static_cast<int*>(value));
    delete static_cast<int*>(value);
}

TEST(ThreadSlots, ValuesArePerThreadAndDestroyedOnTheirThreadAtExit) {
    gDestroyed = 0;
    plat::ThreadSlot slot(destroyValue);
    ASSERT_TRUE(slot.valid());
    int mine = 0;
    slot.set(&mine);

    plat::ThreadId workerId = 0;
    void* seenAtStart = &mine;
    std::thread worker([&] {
        workerId = plat::currentThreadId();
        seenAtStart = slot.get();
        slot.set(new int(5));
    });
    worker.join();
    EXPECT_EQ(seenAtStart, nullptr);
    EXPECT_EQ(gDestroyed.load(), 5);
    EXPECT_EQ(gDestroyedOn.load(), workerId);
    EXPECT_EQ(slot.get(), &mine);
    slot.set(nullptr);

    // A thread that leaves its slot empty triggers no destructor call.
    std::thread idle([&] { slot.set(nullptr); });
    idle.join();
    EXPECT_EQ(gDestroyed.load(), 5);
}

TEST(ThreadSlots, ThreadsOlderThanTheSlotSeeNullUntilTheySetAValue) {
    gDestroyed = 0;
    const plat::Event slotReady(plat::ResetMode::Manual, false);
    std::unique_ptr<plat::ThreadSlot> slot;
    void* seen = reinterpret_cast<void*>(1);
    void* afterSet = nullptr;
    std::thread older([&] {
        ASSERT_TRUE(slotReady.wait(30.0));
        seen = slot->get();
        slot->set(new int(7));
        afterSet = slot->get();
    });
    slot = std::make_unique<plat::ThreadSlot>(destroyValue);
    slotReady.set();
    older.join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_NE(afterSet, nullptr);
    EXPECT_EQ(gDestroyed.load(), 7);
}

TEST(ThreadSlots, SlotWithoutDestructorKeepsValues) {
    plat::ThreadSlot slot;
    int value = 3;
    std::thread t([&] {
        slot.set(&value);
        EXPECT_EQ(slot.get(), &value);
    });
    t.join();
    EXPECT_EQ(slot.get(), nullptr);
    EXPECT_EQ(value, 3);
}

// ---------------------------------------------------------------- load hooks

TEST(LoadHooks, RunWhenASharedObjectIsLoadedAndUnloaded) {
    void* library = ::dlopen(PLATFORM_TEST_HOOKS, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    using Loads = int (*)();
    using Watch = void (*)(int*);
    const auto loads = reinterpret_cast<Loads>(::dlsym(library, "platform_test_hook_loads"));
    const auto watch = reinterpret_cast<Watch>(::dlsym(library, "platform_test_hook_watch_unload"));
    ASSERT_NE(loads, nullptr);
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(loads(), 1);
    int unloaded = 0;
    watch(&unloaded);
    EXPECT_EQ(unloaded, 0);
    ASSERT_EQ(::dlclose(library), 0);
    EXPECT_EQ(unloaded, 1);
}

// ---------------------------------------------------------------- loaded functions

// Only what the process's global scope holds is found, and nothing is
// loaded to find it.
TEST(LoadedFunctions, FoundInLibrariesOfTheGlobalScopeOnly) {
    EXPECT_EQ(plat::findLoadedFunction(nullptr), nullptr);
    EXPECT_EQ(plat::findLoadedFunction("no_library_exports_this_name"), nullptr);
    EXPECT_EQ(plat::findLoadedFunction("platform_test_hook_loads"), nullptr) << "not loaded yet";

    void* local = ::dlopen(PLATFORM_TEST_HOOKS, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(local, nullptr) << ::dlerror();
    EXPECT_EQ(plat::findLoadedFunction("platform_test_hook_loads"), nullptr) << "loaded, but privately";
    ASSERT_EQ(::dlclose(local), 0);

    void* global = ::dlopen(PLATFORM_TEST_HOOKS, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(global, nullptr) << ::dlerror();
    EXPECT_EQ(plat::findLoadedFunction("platform_test_hook_loads"), ::dlsym(global, "platform_test_hook_loads"));
    ASSERT_EQ(::dlclose(global), 0);
}

}  // namespace
