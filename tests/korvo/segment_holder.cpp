// Opens the default simulated device, says "ready" and waits to be killed:
// a process that owns a shared segment, for the tests of its clean-up.
#include <unistd.h>

#include <cstdio>

#include "korvo/korvo.h"

int main() {
    if (init_korvo("") < 0) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) ::pause();
}
