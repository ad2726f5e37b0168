// The transform manager: stacks per mode and the lazy composition.
#include <cmath>

#include <gtest/gtest.h>

#include "qm/api/QMException.h"
#include "qm/api/Symbols.h"
#include "qm/state/State.h"

namespace {

using QM::QMException;
using QM::State;
using QM::TransformManager;
using zvu::zvuMatrix;

TransformManager& manager(State& state) { return static_cast<TransformManager&>(state.getTransforms()); }

QMenum raised(void (*f)(TransformManager&), TransformManager& m) {
    try {
        f(m);
    } catch (const QMException& e) {
        return e.code();
    }
    return nullptr;
}

TEST(QmTransformManager, ModeIsStoredInTheAttributeState) {
    State state;
    TransformManager& m = manager(state);
    EXPECT_EQ(m.mode(), TransformManager::kViewTouch);
    m.setMatrixMode(QM_TOUCHWORKSPACE);
    std::int32_t stored = -1;
    state.getAttributes().get<std::int32_t>(QM::QM_INT_MATRIX_MODE, stored);
    EXPECT_EQ(stored, 2);
    m.setMatrixMode(QM_MODELVIEW);
    EXPECT_EQ(m.mode(), TransformManager::kModelview);
    EXPECT_EQ(raised([](TransformManager& t) { t.setMatrixMode(QM_STIFFNESS); }, m), QM_INVALID_ENUM);
    EXPECT_EQ(m.mode(), TransformManager::kModelview);
}

TEST(QmTransformManager, OverflowLeavesTheStackAndUnderflowStillDirties) {
    State state;
    TransformManager& m = manager(state);
    m.setMatrixMode(QM_TOUCHWORKSPACE);
    m.getModelToWorkspace();
    EXPECT_FALSE(m.dirty());
    m.pushMatrix();
    EXPECT_FALSE(m.dirty());  // a push copies the top; nothing changes
    EXPECT_EQ(raised([](TransformManager& t) { t.pushMatrix(); }, m), QM_STACK_OVERFLOW);
    EXPECT_EQ(m.depthIndex(), 1);
    m.popMatrix();
    m.getModelToWorkspace();
    EXPECT_EQ(raised([](TransformManager& t) { t.popMatrix(); }, m), QM_STACK_UNDERFLOW);
    EXPECT_TRUE(m.dirty());
    EXPECT_EQ(m.depthIndex(), 0);
}

// modelToWorkspace = frame modelview, then view-touch, then touch-workspace.
TEST(QmTransformManager, CompositionOrder) {
    State state;
    TransformManager& m = manager(state);
    m.setFrameModelview(zvuMatrix::scale(2, 2, 2));
    m.setViewTouch(zvuMatrix::translation(1, 0, 0));
    m.setTouchWorkspace(zvuMatrix::rotation({0, 0, 1}, M_PI / 2));
    const zvu::zvuVector3Dd p = m.getModelToWorkspace().transformPoint({1, 0, 0});
    // (1,0,0) -> scaled (2,0,0) -> translated (3,0,0) -> rotated (0,3,0)
    EXPECT_NEAR(p.x, 0.0, 1e-12);
    EXPECT_NEAR(p.y, 3.0, 1e-12);
    const zvu::zvuVector3Dd back = m.getWorkspaceToModel().transformPoint(p);
    EXPECT_NEAR(back.x, 1.0, 1e-12);
    EXPECT_NEAR(back.y, 0.0, 1e-12);
    EXPECT_NEAR(m.workspaceToModelScale(), 0.5, 1e-12);
}

// The composition is cached until something it depends on changes; the
// modelview stack is not part of it.
TEST(QmTransformManager, CompositionIsRecomputedOnlyAfterAChange) {
    State state;
    TransformManager& m = manager(state);
    EXPECT_TRUE(m.dirty());
    m.getWorkspaceToModel();
    EXPECT_FALSE(m.dirty());
    m.setModelview(zvuMatrix::translation(5, 0, 0));
    EXPECT_FALSE(m.dirty());
    EXPECT_EQ(m.getModelToWorkspace()[12], 0.0);
    m.setMatrixMode(QM_MODELVIEW);
    m.currentMatrixForWrite() = zvuMatrix::translation(7, 0, 0);
    m.getModelToWorkspace();
    EXPECT_EQ(m.getModelToWorkspace()[12], 0.0);
    m.setFrameModelview(m.getModelview());
    EXPECT_TRUE(m.dirty());
    EXPECT_EQ(m.getModelToWorkspace()[12], 7.0);
    m.setCameraModelview(zvuMatrix::scale(3, 3, 3));
    EXPECT_FALSE(m.dirty());
    EXPECT_EQ(m.getCameraModelview()[0], 3.0);
}

TEST(QmTransformManager, ASingularChainGivesTheIdentityInverse) {
    State state;
    TransformManager& m = manager(state);
    m.setTouchWorkspace(zvuMatrix::scale(0, 1, 1));
    EXPECT_TRUE(m.getWorkspaceToModel() == zvuMatrix::identity());
}

TEST(QmTransformManager, CameraFlagsReadTheGivenMap) {
    State state;
    TransformManager& m = manager(state);
    QM::AttributeMap map;
    EXPECT_FALSE(m.cameraViewEnabled(map));
    map.declare<bool>(QM_HAPTIC_CAMERA_VIEW);
    map.set<bool>(QM_HAPTIC_CAMERA_VIEW, true);
    EXPECT_TRUE(m.cameraViewEnabled(map));
    EXPECT_FALSE(m.adaptiveViewportEnabled(map));
    state.getAttributes().set<bool>(QM_ADAPTIVE_VIEWPORT, true);
    EXPECT_TRUE(m.adaptiveViewportEnabled(state.getAttributes()));
}

}  // namespace
