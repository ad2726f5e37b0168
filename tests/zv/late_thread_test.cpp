// The per-thread current device under conditions met at load time: threads
// that already run when the library is loaded get theirs on first use, and a
// process without a free thread-local-storage key still keeps one per
// thread. The library is loaded by the test, after the thread has started or
// the keys are used up.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "zv/zv.h"

namespace {

TEST(LateThreads, AThreadOlderThanTheLibraryGetsACurrentDeviceOnFirstUse) {
    std::atomic<int> stage{0};
    using Get = HZV (*)();
    using Make = void (*)(HZV);
    std::atomic<Get> get{nullptr};
    std::atomic<Make> make{nullptr};
    HZV seen[2] = {0, 0};
    std::thread early([&] {
        while (stage.load() != 1) {
            std::this_thread::yield();
        }
        seen[0] = get.load()();
        make.load()(42);
        seen[1] = get.load()();
        stage.store(2);
    });

    void* library = dlopen(ZV_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    get.store(reinterpret_cast<Get>(dlsym(library, "zvGetCurrentDevice")));
    make.store(reinterpret_cast<Make>(dlsym(library, "zvMakeCurrentDevice")));
    ASSERT_NE(get.load(), nullptr);
    ASSERT_NE(make.load(), nullptr);
    EXPECT_EQ(get.load()(), ZV_INVALID_HANDLE) << "the loading thread";
    stage.store(1);
    early.join();
    EXPECT_EQ(seen[0], ZV_INVALID_HANDLE);
    EXPECT_EQ(seen[1], 42u);
    EXPECT_EQ(get.load()(), ZV_INVALID_HANDLE) << "per thread";
    EXPECT_EQ(dlclose(library), 0);
}

// A process that has used up its thread-local-storage keys when the library
// loads: the current device still sticks, per thread.
TEST(LateThreads, WithoutAThreadSlotKeyTheCurrentDeviceStillSticksPerThread) {
    std::vector<std::unique_ptr<plat::ThreadSlot>> taken;
    for (;;) {
        auto slot = std::make_unique<plat::ThreadSlot>();
        if (!slot->valid()) {
            break;
        }
        taken.push_back(std::move(slot));
    }
    void* library = dlopen(ZV_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    taken.clear();
    ASSERT_NE(library, nullptr) << dlerror();
    using Get = HZV (*)();
    using Make = void (*)(HZV);
    const auto get = reinterpret_cast<Get>(dlsym(library, "zvGetCurrentDevice"));
    const auto make = reinterpret_cast<Make>(dlsym(library, "zvMakeCurrentDevice"));
    ASSERT_NE(get, nullptr);
    ASSERT_NE(make, nullptr);

    EXPECT_EQ(get(), ZV_INVALID_HANDLE);
    make(42);
    EXPECT_EQ(get(), 42u);
    std::thread([&] {
        EXPECT_EQ(get(), ZV_INVALID_HANDLE);
        make(7);
        EXPECT_EQ(get(), 7u);
    }).join();
    EXPECT_EQ(get(), 42u);
    EXPECT_EQ(dlclose(library), 0);
}

}  // namespace
