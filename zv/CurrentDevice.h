// The calling thread's current device.
#pragma once

#include "zv/zv.h"

namespace zv {

// Holder of one thread's current device.
struct HZVWrapper {
    HZV handle = ZV_INVALID_HANDLE;
};

// The calling thread's current device (ZV_INVALID_HANDLE when none was made
// current on it). A thread's holder is created on its first use.
HZV currentDevice();
void setCurrentDevice(HZV device);

}  // namespace zv
