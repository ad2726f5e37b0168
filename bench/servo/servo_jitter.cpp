// Lateness of servo ticks: how long after its deadline each tick starts.
//
// Three loops run for 10 s each at 1000 ticks per second:
//  - SimulatedLoop: the library's real-time servo loop with one device open.
//  - SimulatedLoopWithTrace: the same while the per-tick trace is written.
//    Its servo callback runs ten registered trivial callbacks in turn (each
//    adds to a counter and mixes in the tick's time stamp), which is what a
//    scheduler with ten client operations does in a tick. Lateness is the
//    loop's own measurement at the start of each tick (counter at tick start
//    minus the absolute deadline), read with korvo_sim_get_tick_lateness.
//  - NaiveSleepLoop: a bare loop that sleeps 1 ms (relative) per tick, the
//    usual first attempt. Lateness is how far each wake-up overshoots the
//    requested moment; its drift against the 1 ms grid, which grows without
//    bound, is reported separately.
// Figures are microseconds; the counters of each benchmark carry p50, p99,
// p99.9 and the maximum.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "korvo/korvo.h"
#include "korvo/korvo_sim.h"
#include "platform/Platform.h"

namespace {

constexpr double kSeconds = 10.0;
constexpr int kRate = 1000;
constexpr std::size_t kTicks = static_cast<std::size_t>(kSeconds * kRate);

struct Percentiles {
    double p50, p99, p999, max;
};

Percentiles percentiles(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {
        return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
    };
    return {at(0.5), at(0.99), at(0.999), v.back()};
}

void report(benchmark::State& state, const char* name, const Percentiles& p) {
    state.counters["p50_us"] = p.p50;
    state.counters["p99_us"] = p.p99;
    state.counters["p99.9_us"] = p.p999;
    state.counters["max_us"] = p.max;
    std::printf("%-16s lateness  p50 %8.2f us   p99 %8.2f us   p99.9 %8.2f us   max %8.2f us\n", name, p.p50, p.p99,
                p.p999, p.max);
}

// The ten trivial pieces of work a tick runs.
std::array<std::atomic<std::uint64_t>, 10> work{};
using Trivial = void (*)(double);
template <std::size_t I>
void trivial(double stamp) {
    work[I].fetch_add(1 + (static_cast<std::uint64_t>(stamp * 1e6) & 1), std::memory_order_relaxed);
}
constexpr Trivial kCallbacks[10] = {trivial<0>, trivial<1>, trivial<2>, trivial<3>, trivial<4>,
                                    trivial<5>, trivial<6>, trivial<7>, trivial<8>, trivial<9>};

struct Recorder {
    std::vector<double> lateness;
    std::atomic<std::size_t> count{0};
};

int servo(void* context) {
    auto* r = static_cast<Recorder*>(context);
    const double stamp = getServoLoopTimeStamp();
    for (Trivial t : kCallbacks) t(stamp);
    const std::size_t i = r->count.load(std::memory_order_relaxed);
    if (i < r->lateness.size()) {
        double late = 0;
        korvo_sim_get_tick_lateness(&late);
        r->lateness[i] = late * 1e6;
        r->count.store(i + 1, std::memory_order_release);
    }
    return 0;
}

// The simulated loop, with the per-tick trace written (to a temporary file)
// when `trace` is set.
void runSimulatedLoop(benchmark::State& state, bool trace) {
    for (auto _ : state) {
        const int device = init_korvo("");
        const std::string path = (std::filesystem::temp_directory_path() / "servo_jitter_trace.csv").string();
        if (trace) korvo_sim_open_trace(path.c_str());
        initOSExtender();
        setServoLoopRate(kRate);
        Recorder recorder;
        recorder.lateness.assign(kTicks, 0.0);
        startServoLoop(servo, &recorder);
        while (recorder.count.load(std::memory_order_acquire) < kTicks) plat::sleepFor(0.05);
        stopServoLoop();
        if (trace) {
            korvo_sim_open_trace(nullptr);
            std::remove(path.c_str());
        }
        disable_korvo(static_cast<unsigned>(device));
        report(state, trace ? "loop with trace" : "simulated loop", percentiles(recorder.lateness));
    }
}

void SimulatedLoop(benchmark::State& state) { runSimulatedLoop(state, false); }
void SimulatedLoopWithTrace(benchmark::State& state) { runSimulatedLoop(state, true); }

void NaiveSleepLoop(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<double> overshoot(kTicks), drift(kTicks);
        const std::uint64_t start = plat::counter();
        for (std::size_t k = 0; k < kTicks; ++k) {
            const std::uint64_t requested = plat::counter() + 1'000'000;
            plat::sleepFor(0.001);
            const std::uint64_t woke = plat::counter();
            overshoot[k] = static_cast<double>(woke - requested) / 1e3;
            drift[k] = (static_cast<double>(woke - start) - static_cast<double>(k + 1) * 1e6) / 1e3;
            for (Trivial t : kCallbacks) t(static_cast<double>(woke) * 1e-9);
        }
        report(state, "naive sleep loop", percentiles(overshoot));
        state.counters["drift_after_10s_ms"] = drift.back() / 1e3;
        std::printf("%-16s drift behind the 1 ms grid after %.0f s: %.1f ms\n", "naive sleep loop", kSeconds,
                    drift.back() / 1e3);
    }
}

}  // namespace

BENCHMARK(SimulatedLoop)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(SimulatedLoopWithTrace)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(NaiveSleepLoop)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
