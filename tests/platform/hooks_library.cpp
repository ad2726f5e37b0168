// A shared object with load and unload hooks, loaded by the platform tests.
#include "platform/Platform.h"

namespace {

int gLoads = 0;
int* gUnloadFlag = nullptr;

void onLoad() { ++gLoads; }
void onUnload() {
    if (gUnloadFlag != nullptr) *gUnloadFlag = 1;
}

}  // namespace

PLAT_ON_LOAD(onLoad)
PLAT_ON_UNLOAD(onUnload)

extern "C" __attribute__((visibility("default"))) int platform_test_hook_loads() { return gLoads; }
extern "C" __attribute__((visibility("default"))) void platform_test_hook_watch_unload(int* flag) {
    gUnloadFlag = flag;
}
