// zv.h as C++: the same declarations link against the library.
#include "zv/zv.h"

#include <cstring>
#include <type_traits>

extern "C" int zv_header_check_c(void);

static_assert(std::is_same_v<decltype(&zvIsEnabled), ZVboolean (*)(ZVenum)>);
static_assert(std::is_same_v<decltype(&zvGetString), ZVstring (*)(ZVenum)>);
static_assert(std::is_same_v<decltype(&zvCheckCalibration), unsigned int (*)()>);
static_assert(std::is_standard_layout_v<ZVErrorInfo>);

int main() {
    if (zv_header_check_c() != 0) {
        return 1;
    }
    return std::strcmp(zvGetErrorString(ZV_SCHEDULER_FULL),
                       "The scheduler has reached its limit of callbacks and cannot add the new callback.") == 0
               ? 0
               : 1;
}
