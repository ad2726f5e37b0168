// Threads that already run when the library is loaded get their current
// device on first use. The library is loaded by the test, after the thread
// has started, so that the thread saw no load-time setup.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <thread>

#include "zv/zv.h"

namespace {

TEST(LateThreads, AThreadOlderThanTheLibraryGetsACurrentDeviceOnFirstUse)
{
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

}  // namespace
