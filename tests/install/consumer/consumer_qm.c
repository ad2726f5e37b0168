/* Creates a rendering context on the default device through the installed
 * rendering library and prints its version. */
#include <stdio.h>

#include <qm/qm.h>
#include <zv/zv.h>

int main(void) {
    HZV device = zvInitDevice(ZV_DEFAULT_DEVICE);
    if (device == ZV_INVALID_HANDLE) return 1;
    HQMRC context = qmCreateContext(device);
    if (context == NULL) return 1;
    qmMakeCurrent(context);
    printf("qm %s\n", qmGetString(QM_VERSION));
    QMerror error = qmGetError();
    qmMakeCurrent(NULL);
    qmDeleteContext(context);
    zvDisableDevice(device);
    return error.errorCode == QM_NO_ERROR ? 0 : 1;
}
