/* The public header compiles as strict C99, and its functions and variables
 * link from C. */
#include "qm/qm.h"

#include <string.h>

int qmtest_c_version_ok(void);
int qmtest_c_bits(void);

int qmtest_c_version_ok(void) {
    const char* version = qmGetString(QM_VERSION);
    return version != NULL && strcmp(version, "2.00.23") == 0;
}

int qmtest_c_bits(void) {
    QMbitfield all = QM_HINT_BIT | QM_MATERIAL_BIT | QM_TOUCH_BIT | QM_TRANSFORM_BIT | QM_EFFECT_BIT | QM_EVENTS_BIT;
    QMerror e = qmGetError();
    HQMRC none = qmGetCurrentContext();
    return (int)all + (e.errorCode == QM_INVALID_OPERATION ? 100 : 0) + (none == NULL ? 1000 : 0);
}
