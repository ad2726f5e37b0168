// Monotonic time and sleeping, on CLOCK_MONOTONIC in nanoseconds.
#include "platform/Platform.h"

#include <cerrno>
#include <ctime>

namespace plat {

namespace {
constexpr std::uint64_t kNanosPerSecond = 1000000000ULL;

timespec toTimespec(std::uint64_t nanos) noexcept {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(nanos / kNanosPerSecond);
    ts.tv_nsec = static_cast<long>(nanos % kNanosPerSecond);
    return ts;
}
}  // namespace

std::uint64_t counter() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * kNanosPerSecond + static_cast<std::uint64_t>(ts.tv_nsec);
}

std::uint64_t counterFrequency() noexcept { return kNanosPerSecond; }

double counterSeconds(std::uint64_t a, std::uint64_t b) noexcept {
    return b >= a ? static_cast<double>(b - a) / 1e9 : -static_cast<double>(a - b) / 1e9;
}

void sleepUntil(std::uint64_t deadline) noexcept {
    const timespec ts = toTimespec(deadline);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

void sleepFor(double seconds) noexcept {
    if (!(seconds > 0.0)) return;
    // Converting a double beyond the range of uint64 is undefined, and the sum
    // may wrap: clamp to a deadline some centuries away.
    constexpr double kMaxSeconds = 1e10;
    const std::uint64_t delta = static_cast<std::uint64_t>((seconds < kMaxSeconds ? seconds : kMaxSeconds) * 1e9);
    sleepUntil(counter() + delta);
}

void cpuRelax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace plat
