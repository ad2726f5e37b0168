#include "trace_reader.h"

#include <cstdio>
#include <fstream>

namespace sample_test {

std::vector<TraceRow> readTrace(const std::string& path) {
    std::vector<TraceRow> rows;
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) return rows;
    while (std::getline(in, line)) {
        TraceRow r{};
        unsigned device = 0;
        double velocity[3];
        const int n =
            std::sscanf(line.c_str(), "%lf,%u,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf", &r.time, &device,
                        &r.hand[0], &r.hand[1], &r.hand[2], &r.position[0], &r.position[1], &r.position[2],
                        &velocity[0], &velocity[1], &velocity[2], &r.force[0], &r.force[1], &r.force[2]);
        if (n == 14 && device == 0) rows.push_back(r);
    }
    return rows;
}

}  // namespace sample_test
