/* Opens the default device through the installed device library, reads a
 * few facts and one snapshot, and closes it again. */
#include <stdio.h>

#include <zv/zv.h>

int main(void) {
    HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ZVErrorInfo error = zvGetError();
    if (device == ZV_INVALID_HANDLE || error.errorCode != ZV_SUCCESS) {
        fprintf(stderr, "zvInitDevice failed: %s\n", zvGetErrorString(error.errorCode));
        return 1;
    }
    printf("zv %s on %s\n", zvGetString(ZV_VERSION), zvGetString(ZV_DEVICE_MODEL_TYPE));
    ZVdouble position[3] = {0, 0, 0};
    zvBeginFrame(device);
    zvGetDoublev(ZV_CURRENT_POSITION, position);
    zvEndFrame(device);
    printf("position: %g %g %g\n", position[0], position[1], position[2]);
    zvDisableDevice(device);
    return zvGetError().errorCode == ZV_SUCCESS ? 0 : 1;
}
