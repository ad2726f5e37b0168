#include "Simulator.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Error.h"
#include "korvo/korvo_sim.h"

namespace korvo::sim {

namespace {

const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

}  // namespace

Simulator& Simulator::instance() {
    static Simulator* const simulator = new Simulator();
    return *simulator;
}

// At process exit the servo thread must stop before the libraries whose
// callbacks it calls are torn down; the hook is registered the first time a
// loop starts, a trace opens or a device is published, i.e. after those
// libraries were loaded, so it runs before their destructors. A trace still open is flushed, and the
// shared segment is removed.
void Simulator::atExit() noexcept {
    Simulator& sim = instance();
    sim.loop_.stop();
    sim.trace_.close();
    // A thread caught opening or closing a device at exit keeps the
    // segment; the next process to open a device removes it as stale.
    std::unique_lock lock(sim.segmentMutex_, std::try_to_lock);
    if (lock.owns_lock()) sim.publisher_.remove();
}

void Simulator::ensureExitHook() noexcept {
    std::call_once(exitHookOnce_, [] { std::atexit(&Simulator::atExit); });
}

// Order of refusals: an injected init fault, the "no device" switch, an
// unknown name, a full device table. Reopening an open device returns its
// handle untouched; a newly opened one takes what the environment supplies.
unsigned Simulator::open(const char* name) {
    if (const int fault = initFault_.exchange(0)) throw Error(fault);
    if (const char* none = environment(Environment::kNoDevice); none != nullptr && std::strcmp(none, "0") != 0)
        throw Error(KORVO_DEVICE_NOT_PRESENT);
    const bool byDefault = name == nullptr || name[0] == '\0';
    const char* modelName = byDefault ? environment(Environment::kModel) : name;
    const IDeviceModel* model = modelName != nullptr ? findModel(modelName) : &defaultModel();
    require(model != nullptr, KORVO_DEVICE_NOT_FOUND);
    std::lock_guard segmentLock(segmentMutex_);
    // The segment exists before the device appears to the servo thread.
    if (publisher_.create()) ensureExitHook();
    bool created = false;
    unsigned handle = 0;
    try {
        handle = registry_.open(*model, created);
    } catch (...) {
        if (registry_.openMask() == 0) publisher_.remove();
        throw;
    }
    if (created) {
        const char* defaultName = environment(Environment::kModel);
        const IDeviceModel* defaultDevice = defaultName != nullptr ? findModel(defaultName) : &defaultModel();
        try {
            applyEnvironment(handle, model == defaultDevice);
        } catch (...) {
            registry_.close(handle);
            if (registry_.openMask() == 0) publisher_.remove();
            throw;
        }
        publishNow(handle);
    }
    return handle;
}

void Simulator::publishNow(unsigned handle) noexcept {
    DeviceAccess device = registry_.access(handle);
    shm::Segment* segment = publisher_.segment();
    if (!device || segment == nullptr) return;
    shm::HandCommand left;
    if (segment->slots[handle].command.tryRead(left)) device->skipCommand(left.serial);
    shm::DeviceState state;
    device->describe(state);
    segment->slots[handle].state.write(state);
    segment->header.openMask.fetch_or(1u << handle, std::memory_order_release);
}

// A trajectory, fault list or trace named in the environment that cannot be
// used makes the open fail with a configuration error, with one line on standard error
// naming the variable, since nothing else would tell the user why.
void Simulator::applyEnvironment(unsigned handle, bool isDefault) {
    if (const char* path = isDefault ? environment(Environment::kTrajectory) : nullptr) {
        try {
            auto trajectory = std::make_unique<Trajectory>(Trajectory::load(path));
            std::unique_ptr<ITrajectory> previous;
            if (DeviceAccess device = registry_.access(handle)) previous = device->setTrajectory(std::move(trajectory));
        } catch (const Error& e) {
            std::fprintf(stderr, "korvo: %s=%s: %s\n", Environment::kTrajectory, path,
                         e.code() == KORVO_SIM_E_FILE ? "cannot read the file" : "malformed trajectory");
            throw Error(KORVO_CONFIG_READ_ERROR);
        }
    }
    if (const char* plan = isDefault ? environment(Environment::kFaults) : nullptr) {
        try {
            auto schedule = std::make_unique<FaultSchedule>(FaultSchedule::parse(plan));
            if (DeviceAccess device = registry_.access(handle)) device->setFaultSchedule(std::move(schedule));
        } catch (const Error&) {
            std::fprintf(stderr, "korvo: %s=%s: malformed fault list\n", Environment::kFaults, plan);
            throw Error(KORVO_CONFIG_READ_ERROR);
        }
    }
    if (const char* value = environment(Environment::kOverrunTolerance)) {
        char* end = nullptr;
        errno = 0;
        const unsigned long periods = std::strtoul(value, &end, 10);
        if (errno != 0 || end == value || *end != '\0' || value[0] == '-' || periods > kMaxOverrunTolerance) {
            std::fprintf(stderr, "korvo: %s=%s: not a number of periods (0..%u)\n", Environment::kOverrunTolerance,
                         value, kMaxOverrunTolerance);
            throw Error(KORVO_CONFIG_READ_ERROR);
        }
        loop_.setOverrunTolerance(static_cast<unsigned>(periods));
    }
    if (const char* path = environment(Environment::kTrace); path != nullptr && !trace_.isOpen()) {
        try {
            trace_.open(path);
            ensureExitHook();
        } catch (const Error&) {
            std::fprintf(stderr, "korvo: %s=%s: cannot create the file\n", Environment::kTrace, path);
            throw Error(KORVO_CONFIG_READ_ERROR);
        }
    }
}

// A closed device's slot says so (the servo thread no longer writes it once
// the registry has let go of the device); the segment goes with the last one.
int Simulator::close(unsigned handle) noexcept {
    std::lock_guard segmentLock(segmentMutex_);
    if (!registry_.close(handle)) return KORVO_INVALID_HANDLE;
    if (shm::Segment* segment = publisher_.segment()) {
        segment->header.openMask.fetch_and(~(1u << handle), std::memory_order_release);
        segment->slots[handle].state.write(shm::DeviceState{});
    }
    if (registry_.openMask() == 0) publisher_.remove();
    return KORVO_OK;
}

int Simulator::reset() noexcept {
    if (const int rc = loop_.reset()) return rc;
    std::lock_guard segmentLock(segmentMutex_);
    registry_.closeAll();
    publisher_.remove();
    trace_.close();
    initFault_.store(0);
    return KORVO_OK;
}

void Simulator::afterCallbacks(double time) noexcept {
    if (!trace_.isOpen()) return;
    std::uint32_t mask = registry_.openMask();
    for (unsigned handle = 0; mask != 0; ++handle, mask >>= 1) {
        if ((mask & 1u) == 0) continue;
        TraceRow row{};
        {
            DeviceAccess device = registry_.access(handle);
            if (!device) continue;
            row = device->traceRow(time, handle);
        }
        trace_.write(row);
    }
}

void Simulator::advance(double dt, unsigned steps) noexcept {
    std::uint32_t mask = registry_.openMask();
    for (unsigned handle = 0; mask != 0; ++handle, mask >>= 1) {
        if ((mask & 1u) == 0) continue;
        DeviceAccess device = registry_.access(handle);
        if (!device) continue;
        // While this device is open (its lock held) the segment stays mapped.
        shm::Segment* segment = publisher_.segment();
        if (segment != nullptr) {
            shm::HandCommand command;
            if (segment->slots[handle].command.tryRead(command) && command.serial != 0 &&
                command.serial != device->commandSerial())
                device->takeCommand(command);
        }
        for (unsigned s = 0; s < steps; ++s) device->step(dt);
        if (segment != nullptr) {
            shm::DeviceState state;
            device->describe(state);
            segment->slots[handle].state.write(state);
        }
    }
}

void Simulator::loopEnded() noexcept {
    std::uint32_t mask = registry_.openMask();
    for (unsigned handle = 0; mask != 0; ++handle, mask >>= 1) {
        if ((mask & 1u) == 0) continue;
        if (DeviceAccess device = registry_.access(handle)) device->holdZero();
    }
}

}  // namespace korvo::sim
