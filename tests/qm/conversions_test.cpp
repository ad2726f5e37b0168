// Conversions of published state from workspace to model coordinates.
#include <cmath>

#include <gtest/gtest.h>

#include "qm/api/Symbols.h"
#include "qm/state/AttributeGroups.h"
#include "qm/state/AttributeMap.h"
#include "qm/state/Conversions.h"

namespace {

using zvu::zvuMatrix;
using zvu::zvuQuaternion;
using zvu::zvuVector3Dd;

// Directions use the transpose of model-to-workspace's upper 3x3 block and
// keep their length, whatever the scale of the chain.
TEST(QmConversions, DirectionsKeepTheirLength) {
    struct Case {
        const char* what;
        zvuMatrix modelToWorkspace;
        zvuVector3Dd in;
        zvuVector3Dd expected;
    };
    const Case cases[] = {
        {"identity", zvuMatrix::identity(), {1, 2, 3}, {1, 2, 3}},
        {"uniform scale", zvuMatrix::scale(4, 4, 4), {0, 5, 0}, {0, 5, 0}},
        {"translation is ignored", zvuMatrix::translation(9, 9, 9), {0, 0, 2}, {0, 0, 2}},
        {"rotation is transposed", zvuMatrix::rotation({0, 0, 1}, M_PI / 2), {1, 0, 0}, {0, -1, 0}},
        {"non-uniform scale bends, length kept",
         zvuMatrix::scale(1, 3, 1),
         {1, 1, 0},
         zvuVector3Dd{1, 3, 0}.normalized() * std::sqrt(2.0)},
        {"zero stays zero", zvuMatrix::scale(2, 2, 2), {0, 0, 0}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const zvuVector3Dd r = QM::convertDirection(c.modelToWorkspace, c.in);
        EXPECT_NEAR(r.x, c.expected.x, 1e-12);
        EXPECT_NEAR(r.y, c.expected.y, 1e-12);
        EXPECT_NEAR(r.z, c.expected.z, 1e-12);
    }
}

TEST(QmConversions, RadiusUsesTheRoundedSquareRootOfThree) {
    EXPECT_DOUBLE_EQ(QM::convertRadius(zvuMatrix::identity(), 30.0), 30.0 * std::sqrt(3.0) / 1.7320508);
    EXPECT_DOUBLE_EQ(QM::convertRadius(zvuMatrix::scale(2, 2, 2), 1.0), 2.0 * std::sqrt(3.0) / 1.7320508);
}

TEST(QmConversions, TransformsDropScaleAndConvertTheirTranslation) {
    const zvuMatrix workspaceToModel = zvuMatrix::translation(1, 0, 0) * zvuMatrix::scale(0.5, 0.5, 0.5);
    zvuMatrix stored = zvuMatrix::rotation({1, 0, 0}, M_PI / 2);
    stored[12] = 4;
    stored[13] = 2;
    const zvuMatrix r = QM::convertTransform(workspaceToModel, stored);
    EXPECT_NEAR(r[12], 3.0, 1e-12);
    EXPECT_NEAR(r[13], 1.0, 1e-12);
    EXPECT_NEAR(r[14], 0.0, 1e-12);
    // The rotation survives, unscaled.
    EXPECT_NEAR(r[0], 1.0, 1e-12);
    EXPECT_NEAR(r[6], 1.0, 1e-12);
    EXPECT_NEAR(r[9], -1.0, 1e-12);
    EXPECT_EQ(r[15], 1.0);
}

TEST(QmConversions, OrientationsAreComposedWithTheChainRotation) {
    const zvuMatrix workspaceToModel = zvuMatrix::rotation({0, 1, 0}, M_PI / 2);
    const zvuQuaternion stored = zvuQuaternion::fromAxisAngle({1, 0, 0}, M_PI / 2);
    const zvuQuaternion r = QM::convertOrientation(workspaceToModel, stored);
    const zvuQuaternion expected = stored * zvuQuaternion::fromAxisAngle({0, 1, 0}, M_PI / 2);
    EXPECT_NEAR(std::fabs(r.dot(expected)), 1.0, 1e-12);
}

TEST(QmConversions, ReadConvertedStateKnowsItsNames) {
    QM::AttributeMap values;
    QM::declareStateGroup(values, 1, true);
    const zvuMatrix workspaceToModel = zvuMatrix::translation(0, 0, -2);
    const zvuMatrix modelToWorkspace = zvuMatrix::translation(0, 0, 2);
    double out[16];
    int written = -1;
    struct Case {
        QMenum name;
        bool withGolden;
        QM::StateRead result;
        int written;
    };
    const Case cases[] = {
        {QM_PROXY_POSITION, false, QM::StateRead::Done, 3},
        {QM_DEVICE_FORCE, false, QM::StateRead::Done, 3},
        {QM_PROXY_TOUCH_NORMAL, false, QM::StateRead::Unavailable, 0},  // not in the state group
        {QM_DEVICE_ROTATION, false, QM::StateRead::Done, 4},
        {QM_PROXY_TRANSFORM, false, QM::StateRead::Done, 16},
        {QM_GOLDEN_POSITION, false, QM::StateRead::NotStateName, 0},
        {QM_GOLDEN_POSITION, true, QM::StateRead::Done, 3},
        {QM_GOLDEN_RADIUS, true, QM::StateRead::Done, 1},
        {QM_WORKSPACE, true, QM::StateRead::NotStateName, 0},
        {nullptr, true, QM::StateRead::NotStateName, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
        EXPECT_EQ(
            QM::readConvertedState(values, c.name, workspaceToModel, modelToWorkspace, c.withGolden, out, written),
            c.result);
        EXPECT_EQ(written, c.written);
    }
    QM::readConvertedState(values, QM_DEVICE_POSITION, workspaceToModel, modelToWorkspace, false, out, written);
    EXPECT_EQ(out[2], -2.0);
}

}  // namespace
