// Opens the default simulated device, says "ready" and waits to be killed:
// a process that owns a shared segment, for the tests of its clean-up.
// With the argument "exit" it returns from main instead, the device open.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "korvo/korvo.h"

int main(int argc, char** argv) {
    if (init_korvo("") < 0) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    if (argc > 1 && std::strcmp(argv[1], "exit") == 0) return 0;
    for (;;) ::pause();
}
