// What publishing a device for viewers costs the servo thread per tick:
// filling the device's record and writing it through the sequence lock,
// alone and while a reader copies the record as fast as it can (a viewer
// polls at its frame rate, so this is far harsher than one). The same
// step of the device without publishing is the reference: a tick's budget
// is 1000 us at 1000 ticks per second.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "DeviceModel.h"
#include "SharedSegment.h"
#include "SimDevice.h"

namespace {

using namespace korvo::sim;

void DeviceStep(benchmark::State& state) {
    SimDevice device(defaultModel());
    for (auto _ : state) device.step(0.001);
}
BENCHMARK(DeviceStep);

void DeviceStepAndPublish(benchmark::State& state) {
    SimDevice device(defaultModel());
    shm::SeqRecord<shm::DeviceState> record;
    const bool reading = state.range(0) != 0;
    std::atomic<bool> stop{false};
    std::atomic<long> copies{0};
    std::thread reader;
    if (reading)
        reader = std::thread([&] {
            shm::DeviceState s;
            while (!stop.load(std::memory_order_relaxed))
                if (record.tryRead(s)) copies.fetch_add(1, std::memory_order_relaxed);
        });
    for (auto _ : state) {
        device.step(0.001);
        shm::DeviceState s;
        device.describe(s);
        record.write(s);
    }
    stop = true;
    if (reader.joinable()) reader.join();
    if (reading) state.counters["reader_copies"] = static_cast<double>(copies.load());
}
BENCHMARK(DeviceStepAndPublish)->Arg(0)->ArgName("reader");
BENCHMARK(DeviceStepAndPublish)->Arg(1)->ArgName("reader");

}  // namespace

BENCHMARK_MAIN();
