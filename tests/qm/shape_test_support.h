// A rendering context on the simulated device with a headless OpenGL
// context current, for the tests of shapes, frames and the haptic loop. The
// OpenGL view is an orthographic box of +-1 on every axis over the whole
// viewport, with an identity modelview, so shape, model and workspace
// coordinates coincide until a test changes a transform.
//
// Nothing runs by itself: the simulator's servo loop runs on the manual
// clock (ticks(n) runs n ticks) and the collision thread only steps when
// asked (step()), so a test can alternate ticks and steps and check exact
// results.
#pragma once

#include <GL/gl.h>

#include "qm/api/Context.h"
#include "qm/collision/LocalFeature.h"
#include "qm/qm.h"
#include "qm/shapes/MeshShape.h"
#include "support/egl_context.h"
#include "zv/zv.h"

#include <functional>

namespace qmtest {

class ShapeTest : public zvtest::EglTest {
protected:
    void SetUp() override;
    void TearDown() override;

    QM::Context& context() { return *QM::Context::fromHandle(rc); }
    // The shape last defined under the identifier, or null.
    QM::IShape* persistentShape(unsigned id);
    // The shape the renderer holds for the identifier, or null.
    QM::IShape* submittedShape(unsigned id);
    template <typename S>
    S* persistentAs(unsigned id) {
        return dynamic_cast<S*>(persistentShape(id));
    }
    // Every error recorded since the last call, oldest first.
    std::vector<QMenum> errors();
    // Runs servo ticks on the manual clock.
    static void ticks(unsigned count);
    // One collision step, returning when it has finished.
    static void step();
    // Alternates `count` times: `ticksPerStep` servo ticks, one step.
    static void run(int count, unsigned ticksPerStep = 10);
    // Runs work on the collision thread and waits for it.
    static void onCollisionThread(const std::function<void()>& work);

    HZV device = ZV_INVALID_HANDLE;
    HQMRC rc = nullptr;
};

// Draws an axis-aligned square in the plane z = `z` with corners at +-h,
// counter-clockwise seen from +z, or clockwise when `clockwise`.
void drawSquare(double h, double z, bool clockwise);

}  // namespace qmtest
