// Events, periodic timers and waiting on several of them.
#include "platform/platform.h"
