// A small program that the platform tests run as a child process, to exercise
// what only another process (or a redirected standard input) can show.
//
//   keys                 reports keyPressed()/readKey() until end of input
//   tty                  reads one key and reports whether the terminal
//                        settings were restored afterwards
//   named-set NAME       opens the named event NAME and sets it
//   named-wait NAME S    opens NAME and waits up to S seconds for it
//   named-mode NAME      prints the reset mode of NAME
#include "platform/Platform.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int keys() {
    for (int i = 0; i < 16; ++i) {
        std::printf("pressed %d\n", plat::keyPressed() ? 1 : 0);
        std::fflush(stdout);
        const int key = plat::readKey();
        std::printf("key %d\n", key);
        std::fflush(stdout);
        if (key == plat::kKeyEndOfInput) return 0;
    }
    return 0;
}

int tty() {
    const int key = plat::readKey();
    termios now{};
    tcgetattr(STDIN_FILENO, &now);
    const bool restored = (now.c_lflag & ICANON) != 0 && (now.c_lflag & ECHO) != 0;
    std::printf("key %d restored %d\n", key, restored ? 1 : 0);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 64;
    const std::string command = argv[1];
    if (command == "keys") return keys();
    if (command == "tty") return tty();
    if (argc < 3) return 64;
    const plat::Event event = plat::Event::openNamed(argv[2]);
    if (!event.valid()) return 2;
    if (command == "named-set") {
        event.set();
        return 0;
    }
    if (command == "named-wait" && argc >= 4) return event.wait(std::atof(argv[3])) ? 0 : 1;
    if (command == "named-mode") {
        std::printf("%s\n", event.mode() == plat::ResetMode::Auto ? "auto" : "manual");
        return 0;
    }
    return 64;
}
