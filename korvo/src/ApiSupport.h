// The shape every exported function shares: find the device, check the
// arguments, call the implementing object, and turn any exception into a
// code, so that nothing ever propagates across the C boundary.
#pragma once

#include <cmath>
#include <new>

#include "Error.h"
#include "Simulator.h"
#include "korvo/korvo.h"

namespace korvo::sim::api {

inline Simulator& simulator() { return Simulator::instance(); }

// Runs f(device) under the device's lock; KORVO_INVALID_HANDLE when the
// handle is not open.
template <class F>
int onDevice(unsigned handle, F&& f) noexcept {
    try {
        DeviceAccess device = simulator().devices().access(handle);
        if (!device) return KORVO_INVALID_HANDLE;
        return f(*device);
    } catch (const Error& e) {
        return e.code();
    } catch (...) {
        return KORVO_INTERNAL_ERROR;
    }
}

// For calls without an error channel: f(device), or `fallback` for an invalid
// handle or any failure.
template <class T, class F>
T valueOf(unsigned handle, T fallback, F&& f) noexcept {
    try {
        DeviceAccess device = simulator().devices().access(handle);
        if (!device) return fallback;
        return f(*device);
    } catch (...) {
        return fallback;
    }
}

// Calls that concern no device.
template <class F>
int guarded(F&& f) noexcept {
    try {
        return f();
    } catch (const Error& e) {
        return e.code();
    } catch (...) {
        return KORVO_INTERNAL_ERROR;
    }
}

inline void requirePointer(const void* p) { require(p != nullptr, KORVO_INVALID_ARGUMENT); }

inline void requireFinite(const double* values, int count) {
    for (int i = 0; i < count; ++i) require(std::isfinite(values[i]), KORVO_NON_FINITE_VALUE);
}

inline void requireFinite(const float* values, int count) {
    for (int i = 0; i < count; ++i) require(std::isfinite(values[i]), KORVO_NON_FINITE_VALUE);
}

inline void requireFlag(int value) { require(value == 0 || value == 1, KORVO_OUT_OF_RANGE); }

template <class Out, class Array>
void copyOut(Out* out, const Array& values) {
    for (std::size_t i = 0; i < values.size(); ++i) out[i] = static_cast<Out>(values[i]);
}

}  // namespace korvo::sim::api
