// Whether the process that owns a shared segment is still there: both the
// publisher's clean-up of stale segments and the viewer's list of programs
// ask it.
#pragma once

#include <cstdio>
#include <cstring>

namespace korvo::sim {

// A zombie (ended, not yet reaped by its parent) counts as gone.
inline bool processIsZombie(long pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return false;
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    // "pid (name) S ...": the state follows the last ')'.
    const char* close = read ? std::strrchr(line, ')') : nullptr;
    return close != nullptr && close[1] == ' ' && close[2] == 'Z';
}

}  // namespace korvo::sim
