#include "FaultSchedule.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Error.h"
#include "korvo/korvo_sim.h"

namespace korvo::sim {

namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(trimmed(text.substr(start, end == std::string::npos ? std::string::npos : end - start)));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

double parseTime(const std::string& field) {
    require(!field.empty(), KORVO_SIM_E_PARSE);
    char* end = nullptr;
    const double t = std::strtod(field.c_str(), &end);
    require(*end == '\0' && std::isfinite(t) && t >= 0.0, KORVO_SIM_E_PARSE);
    return t;
}

int parseCode(const std::string& field) {
    require(!field.empty(), KORVO_SIM_E_PARSE);
    char* end = nullptr;
    errno = 0;
    const long code = std::strtol(field.c_str(), &end, 10);
    require(*end == '\0' && errno == 0 && code <= 0 && code >= INT_MIN, KORVO_SIM_E_PARSE);
    return static_cast<int>(code);
}

}  // namespace

FaultSchedule::FaultSchedule(std::vector<ScheduledFault> faults) : faults_(std::move(faults)) {
    std::stable_sort(faults_.begin(), faults_.end(),
                     [](const ScheduledFault& a, const ScheduledFault& b) { return a.time < b.time; });
}

FaultSchedule FaultSchedule::parse(const std::string& text) {
    std::vector<ScheduledFault> faults;
    for (const std::string& item : split(text, ',')) {
        const std::vector<std::string> fields = split(item, ':');
        require(fields.size() == 2 || fields.size() == 3, KORVO_SIM_E_PARSE);
        const bool persistent = fields.size() == 3;
        require(!persistent || fields[2] == "persistent", KORVO_SIM_E_PARSE);
        faults.push_back({parseTime(fields[0]), parseCode(fields[1]), persistent});
    }
    return FaultSchedule(std::move(faults));
}

void FaultSchedule::apply(double time, IFaultInjector& faults) noexcept {
    for (; next_ < faults_.size() && faults_[next_].time <= time; ++next_) {
        const ScheduledFault& f = faults_[next_];
        if (f.persistent)
            faults.setPersistent(f.code);
        else
            faults.inject(f.code);
    }
}

}  // namespace korvo::sim
