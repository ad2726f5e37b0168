// Reading the simulator's trace (one CSV line per servo tick).
#pragma once

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace sample_test {

using Vec3 = std::array<double, 3>;

inline double length(const Vec3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// One line of the simulator's trace.
struct TraceRow {
    double time;
    Vec3 hand;
    Vec3 position;
    Vec3 force;
};

// Reads a trace file (header line first); empty when it cannot be read.
std::vector<TraceRow> readTrace(const std::string& path);

}  // namespace sample_test
