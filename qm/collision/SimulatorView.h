// Showing the proxy to the simulated device's viewers.
//
// When the device is the simulated one, the library that simulates it
// exports korvo_sim_publish_proxy: what the renderer passes to it appears in
// korvo_sim_viewer beside the stylus and the hand. A hardware driver has no
// such function, and then nothing is published. The function is found at
// run time among the libraries already in the process, so the rendering
// library never links the simulator.
//
// A device shows one renderer's view: the first renderer that publishes for
// it owns the view until it withdraws, so that two contexts on one device
// do not make the viewer flicker between their proxies.
#pragma once

#include "zv/zv.h"
#include "zvu/Vector3D.h"

namespace QM {

class SimulatorView {
public:
    // The renderer `owner`'s proxy and, while touching, the touched
    // surface's unit normal, in device workspace coordinates (mm). Ignored
    // while another renderer owns the device's view. Collision thread;
    // takes a leaf lock and the simulated device's own lock for a moment,
    // and never throws.
    static void publish(const void* owner, HZV device, const zvu::zvuVector3Dd& proxy, bool touching,
                        const zvu::zvuVector3Dd& normal) noexcept;
    // The owner stops showing anything for the device, and another renderer
    // may take the view over at its next step.
    static void withdraw(const void* owner, HZV device) noexcept;
    // Whether the simulator's function is in the process.
    static bool available() noexcept;
};

}  // namespace QM
