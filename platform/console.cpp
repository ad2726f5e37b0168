// Console key polling and unechoed key reads.
#include "platform/platform.h"
