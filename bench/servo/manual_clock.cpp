// Tick throughput of the manual clock: how many simulated servo ticks per
// second a test or tool gets, with one trivial servo callback and the
// default device open (so every tick also steps the device's physics).
// The argument is the number of ticks asked for per korvo_sim_run_ticks
// call; small batches show the cost of handing work to the servo thread.
// A second case renders a wall instead (reads the position, commands a
// force each tick), so that the motors' torques and heating are computed
// too, as in a program that renders something.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>

#include "korvo/korvo.h"
#include "korvo/korvo_sim.h"

namespace {

std::atomic<std::uint64_t> ticks{0};

int trivialCallback(void*) {
    ticks.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

// A wall below y = 1 mm with forces on: the stylus rests at the centre, so
// the wall always pushes with about 1.2 N.
int wallCallback(void* context) {
    const auto device = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(context));
    float p[3];
    update_korvo(device);
    get_korvo_pos(device, p);
    const float f[6] = {0.0f, p[1] < 1.0f ? 1.2f * (1.0f - p[1]) : 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    send_korvo_force_6dof(device, f);
    ticks.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void ManualClockTicksRenderingAWall(benchmark::State& state) {
    const auto batch = static_cast<unsigned>(state.range(0));
    korvo_sim_reset();
    const int device = init_korvo("");
    enable_korvo_forces(static_cast<unsigned>(device));
    initOSExtender();
    korvo_sim_set_manual_clock(1);
    startServoLoop(wallCallback, reinterpret_cast<void*>(static_cast<std::uintptr_t>(device)));
    for (auto _ : state) korvo_sim_run_ticks(batch);
    stopServoLoop();
    disable_korvo(static_cast<unsigned>(device));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * batch);
    state.counters["ticks_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * batch, benchmark::Counter::kIsRate);
}

void ManualClockTicks(benchmark::State& state) {
    const auto batch = static_cast<unsigned>(state.range(0));
    korvo_sim_reset();
    const int device = init_korvo("");
    initOSExtender();
    korvo_sim_set_manual_clock(1);
    startServoLoop(trivialCallback, nullptr);
    for (auto _ : state) korvo_sim_run_ticks(batch);
    stopServoLoop();
    disable_korvo(static_cast<unsigned>(device));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * batch);
    state.counters["ticks_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * batch, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(ManualClockTicks)->Arg(1)->Arg(100)->Arg(10000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ManualClockTicksRenderingAWall)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
