/* zv.h as a C99 translation unit: types, constants and prototypes. */
#include "zv/zv.h"

#include <stddef.h>

typedef char check_error_info_size[sizeof(ZVErrorInfo) == 12 ? 1 : -1];
typedef char check_boolean_size[sizeof(ZVboolean) == 1 ? 1 : -1];
typedef char check_long_size[sizeof(ZVlong) == 4 ? 1 : -1];
typedef char check_handle_size[sizeof(HZV) == 4 ? 1 : -1];
typedef char check_error_offsets[offsetof(ZVErrorInfo, deviceHandle) == 8 ? 1 : -1];

static ZVCallbackCode done_callback(void* data) {
    (void)data;
    return ZV_CALLBACK_DONE;
}

int zv_header_check_c(void);

int zv_header_check_c(void) {
    HZV (*init)(const char*) = zvInitDevice;
    void (*getd)(ZVenum, ZVdouble*) = zvGetDoublev;
    void (*setl)(ZVenum, const ZVlong*) = zvSetLongv;
    ZVSchedulerHandle (*async)(ZVSchedulerCallback, void*, unsigned int) = zvScheduleAsynchronous;
    ZVErrorInfo (*pop)(void) = zvGetError;
    ZVSchedulerCallback callback = done_callback;
    const char* text = zvGetErrorString(ZV_SUCCESS);
    int ok = init != NULL && getd != NULL && setl != NULL && async != NULL && pop != NULL && callback != NULL;
    ok = ok && ZV_INVALID_HANDLE == 0xFFFFFFFFu && ZV_DEFAULT_DEVICE == NULL;
    ok = ok && ZV_MAX_SCHEDULER_PRIORITY == 65535 && ZV_CALIBRATION_NEEDS_MANUAL_INPUT == 0x5002;
    ok = ok && text != NULL && text[0] == 'N';
    return ok ? 0 : 1;
}
