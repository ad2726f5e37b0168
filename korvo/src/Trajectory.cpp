#include "Trajectory.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Error.h"
#include "korvo/korvo_sim.h"

namespace korvo::sim {

namespace {

bool blank(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

// Splits one line at commas into exactly five numbers; surrounding blanks
// are allowed, anything else makes the line malformed.
bool parseLine(const std::string& line, double values[5]) {
    const char* p = line.c_str();
    for (int field = 0; field < 5; ++field) {
        char* end = nullptr;
        values[field] = std::strtod(p, &end);
        if (end == p || !std::isfinite(values[field])) return false;
        p = end;
        while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
        if (field < 4) {
            if (*p != ',') return false;
            ++p;
        }
    }
    return *p == '\0';
}

}  // namespace

Trajectory Trajectory::parse(const std::string& text) {
    std::vector<TrajectoryPoint> points;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto first = line.find_first_not_of(" \t");
        if (blank(line) || (first != std::string::npos && line[first] == '#')) continue;
        double v[5];
        require(parseLine(line, v), KORVO_SIM_E_PARSE);
        require(v[0] >= 0.0, KORVO_SIM_E_PARSE);
        require(points.empty() || v[0] >= points.back().time, KORVO_SIM_E_PARSE);
        require(v[4] >= 0.0 && v[4] <= 7.0 && v[4] == std::floor(v[4]), KORVO_SIM_E_PARSE);
        points.push_back({v[0], {v[1], v[2], v[3]}, static_cast<int>(v[4])});
    }
    require(!points.empty(), KORVO_SIM_E_PARSE);
    return Trajectory(std::move(points));
}

Trajectory Trajectory::load(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    require(file.is_open(), KORVO_SIM_E_FILE);
    std::ostringstream text;
    text << file.rdbuf();
    require(!file.bad(), KORVO_SIM_E_FILE);
    return parse(text.str());
}

// Index of the last point whose time is not after t (0 before the first).
std::size_t Trajectory::segmentAt(double t) const noexcept {
    const auto it = std::upper_bound(points_.begin(), points_.end(), t,
                                     [](double value, const TrajectoryPoint& p) { return value < p.time; });
    return it == points_.begin() ? 0 : static_cast<std::size_t>(it - points_.begin() - 1);
}

Vec3 Trajectory::positionAt(double t) const noexcept {
    if (points_.empty()) return {};
    if (t <= points_.front().time) return points_.front().position;
    const std::size_t i = segmentAt(t);
    if (i + 1 >= points_.size()) return points_.back().position;
    const TrajectoryPoint& a = points_[i];
    const TrajectoryPoint& b = points_[i + 1];
    const double span = b.time - a.time;
    const double u = span > 0.0 ? (t - a.time) / span : 1.0;
    return a.position + (b.position - a.position) * u;
}

int Trajectory::buttonsAt(double t) const noexcept {
    if (points_.empty()) return 0;
    if (t < points_.front().time) return points_.front().buttons;
    return points_[segmentAt(t)].buttons;
}

bool Trajectory::jumpsWithin(double from, double to) const noexcept {
    auto it = std::upper_bound(points_.begin(), points_.end(), from,
                               [](double value, const TrajectoryPoint& p) { return value < p.time; });
    for (; it != points_.end() && it->time <= to; ++it) {
        if (it == points_.begin()) continue;
        const TrajectoryPoint& before = *(it - 1);
        const Vec3 step = it->position - before.position;
        if (before.time == it->time && (step.x != 0.0 || step.y != 0.0 || step.z != 0.0)) return true;
    }
    return false;
}

}  // namespace korvo::sim
