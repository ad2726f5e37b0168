#include "shape_test_support.h"

#include <algorithm>

#include "korvo/korvo_sim.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"
#include "qm/collision/CollisionScheduler.h"

namespace qmtest {

void ShapeTest::SetUp() {
    zvtest::EglTest::SetUp();
    ASSERT_EQ(korvo_sim_set_manual_clock(1), 0);
    QM::collisionScheduler().setStopped(true);
    device = zvInitDevice(ZV_DEFAULT_DEVICE);
    ASSERT_NE(device, ZV_INVALID_HANDLE) << "the simulated device did not open";
    rc = qmCreateContext(device);
    ASSERT_NE(rc, nullptr);
    qmMakeCurrent(rc);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glFrontFace(GL_CCW);
}

void ShapeTest::TearDown() {
    qmMakeCurrent(nullptr);
    qmDeleteContext(rc);
    if (device != ZV_INVALID_HANDLE) {
        zvDisableDevice(device);
    }
    QM::collisionScheduler().setStopped(false);
    zvStopScheduler();
    korvo_sim_set_manual_clock(0);
    while (zvGetError().errorCode != ZV_SUCCESS) {
    }
    zvtest::EglTest::TearDown();
}

void ShapeTest::ticks(unsigned count) { ASSERT_EQ(korvo_sim_run_ticks(count), 0); }

void ShapeTest::step() { ASSERT_TRUE(QM::collisionScheduler().stepAndWait(10.0)); }

void ShapeTest::run(int count, unsigned ticksPerStep) {
    for (int i = 0; i < count; ++i) {
        ticks(ticksPerStep);
        step();
    }
}

namespace {

class FunctionOperation final : public sched::SchedulerOperation {
public:
    FunctionOperation(sched::SchedulerThread* owner, std::function<void()> work)
        : sched::SchedulerOperation(owner), work_(std::move(work)) {}
    void execute() override {
        work_();
        done_ = true;
    }
    bool isDone() const override { return done_; }
    void markDone() override { done_ = true; }

private:
    std::function<void()> work_;
    bool done_ = false;
};

}  // namespace

void ShapeTest::onCollisionThread(const std::function<void()>& work) {
    QM::OperationScheduler* scheduler = QM::operationScheduler(QM_COLLISION_THREAD);
    ASSERT_TRUE(scheduler->isBound()) << "no collision thread";
    // The operation holds its own handle on the event: the collision thread
    // may still be inside set() when this thread wakes and returns.
    plat::Event done(plat::ResetMode::Manual, false);
    ASSERT_TRUE(scheduler->schedule(new FunctionOperation(scheduler, [&work, done] {
        work();
        done.set();
    })));
    ASSERT_TRUE(done.wait(10.0));
}

QM::IShape* ShapeTest::persistentShape(unsigned id) { return context().persistentScene->getShapes().find(id); }

QM::IShape* ShapeTest::submittedShape(unsigned id) {
    return context().sceneRenderer->getSubmittedScene().getShapes().find(id);
}

std::vector<QMenum> ShapeTest::errors() {
    std::vector<QMenum> codes;
    for (QMerror e = qmGetError(); e.errorCode != QM_NO_ERROR && codes.size() < 100; e = qmGetError()) {
        codes.push_back(e.errorCode);
    }
    std::reverse(codes.begin(), codes.end());
    return codes;
}

void drawSquare(double h, double z, bool clockwise) {
    glBegin(GL_QUADS);
    if (clockwise) {
        glVertex3d(-h, -h, z);
        glVertex3d(-h, h, z);
        glVertex3d(h, h, z);
        glVertex3d(h, -h, z);
    } else {
        glVertex3d(-h, -h, z);
        glVertex3d(h, -h, z);
        glVertex3d(h, h, z);
        glVertex3d(-h, h, z);
    }
    glEnd();
}

}  // namespace qmtest
