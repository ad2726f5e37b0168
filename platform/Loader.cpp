// Finding functions that libraries already in the process export.
#include <dlfcn.h>

#include "platform/Platform.h"

namespace plat {

// RTLD_DEFAULT searches the global scope: the program and every library
// loaded with it or later with RTLD_GLOBAL, in load order.
void* findLoadedFunction(const char* name) noexcept {
    if (name == nullptr) return nullptr;
    return dlsym(RTLD_DEFAULT, name);
}

}  // namespace plat
