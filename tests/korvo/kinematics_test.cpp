// Kinematics as a user of the device sees it: positions, joint angles,
// transforms and Jacobians read from the device agree with each other and
// with where the stylus really is, and motor commands push the way the
// Jacobian says.
#include <array>
#include <cmath>

#include "sim_fixture.h"

namespace korvo_test {
namespace {

struct Reading {
    Vec position;
    Vec joints;
    Vec gimbal;
    std::array<float, 16> matrix;
    std::array<double, 36> jacobian;
};

Reading readAt(unsigned h, const Vec& p) {
    EXPECT_EQ(korvo_sim_place_stylus(h, p.data()), 0);
    Reading r{};
    float pos[3], q[3], g[3];
    EXPECT_EQ(get_korvo_pos(h, pos), 0);
    EXPECT_EQ(get_korvo_encoders(h, q), 0);
    EXPECT_EQ(get_gimbal_encoders(h, g), 0);
    EXPECT_EQ(get_stylus_matrix(h, r.matrix.data()), 0);
    EXPECT_EQ(get_korvo_jacobian(h, r.jacobian.data()), 0);
    for (int i = 0; i < 3; ++i) {
        r.position[i] = pos[i];
        r.joints[i] = q[i];
        r.gimbal[i] = g[i];
    }
    return r;
}

struct PoseCase {
    const char* model;
    Vec point;
    Vec gimbal;
};

void PrintTo(const PoseCase& c, std::ostream* os) {
    *os << c.model << " at (" << c.point[0] << ", " << c.point[1] << ", " << c.point[2] << ")";
}

class PoseTest : public SimTest, public ::testing::WithParamInterface<PoseCase> {};

// Across the workspace (corners of the usable box included) the reported
// position is the true one within the encoder resolution, the transform
// carries it as translation and has an orthonormal rotation.
TEST_P(PoseTest, TransformAndPositionAgreeWithTheTruePose) {
    const PoseCase c = GetParam();
    const auto h = static_cast<unsigned>(open(c.model));
    if (c.gimbal != Vec{}) {
        ASSERT_EQ(korvo_sim_set_gimbal_angles(h, c.gimbal.data()), 0);
    }
    const Reading r = readAt(h, c.point);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(r.position[i], c.point[i], 0.05);
        EXPECT_FLOAT_EQ(r.matrix[static_cast<std::size_t>(12 + i)], static_cast<float>(r.position[i]));
        EXPECT_NEAR(r.gimbal[i], c.gimbal[i], 1e-3);
    }
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            double dotAB = 0.0;
            for (int k = 0; k < 3; ++k)
                dotAB += r.matrix[static_cast<std::size_t>(a * 4 + k)] * r.matrix[static_cast<std::size_t>(b * 4 + k)];
            EXPECT_NEAR(dotAB, a == b ? 1.0 : 0.0, 1e-5);
        }
}

// Moving the stylus a little along each axis changes the joint angles by dq;
// the Jacobian's linear rows must map dq back onto the move.
TEST_P(PoseTest, JacobianMapsJointMotionOntoStylusMotion) {
    const PoseCase c = GetParam();
    const auto h = static_cast<unsigned>(open(c.model));
    if (c.gimbal != Vec{}) {
        ASSERT_EQ(korvo_sim_set_gimbal_angles(h, c.gimbal.data()), 0);
    }
    const Reading centre = readAt(h, c.point);
    constexpr double step = 2.0;
    for (int axis = 0; axis < 3; ++axis) {
        Vec plus = c.point, minus = c.point;
        plus[axis] += step;
        minus[axis] -= step;
        const Reading a = readAt(h, plus), b = readAt(h, minus);
        for (int row = 0; row < 3; ++row) {
            double predicted = 0.0;
            for (int j = 0; j < 3; ++j)
                predicted += centre.jacobian[static_cast<std::size_t>(row * 6 + j)] * (a.joints[j] - b.joints[j]);
            EXPECT_NEAR(predicted, a.position[row] - b.position[row], 0.04 * 2 * step)
                << "axis " << axis << " row " << row;
        }
    }
}

// Turning a gimbal joint rotates the stylus about the axis the Jacobian's
// angular rows give for that joint.
TEST_P(PoseTest, JacobianAngularRowsAreTheGimbalAxes) {
    const PoseCase c = GetParam();
    const auto h = static_cast<unsigned>(open(c.model));
    int32_t info[KORVO_INFO_COUNT];
    ASSERT_EQ(get_korvo_info(h, info, KORVO_INFO_SIZE), 0);
    if (info[KORVO_INFO_6DOF_INPUT] == 0) {
        const Reading r = readAt(h, c.point);
        for (std::size_t i = 18; i < 36; ++i) EXPECT_EQ(r.jacobian[i], 0.0) << "no orientation is sensed";
        return;
    }
    const Reading centre = [&] {
        EXPECT_EQ(korvo_sim_set_gimbal_angles(h, c.gimbal.data()), 0);
        return readAt(h, c.point);
    }();
    constexpr double delta = 0.01;
    for (int joint = 0; joint < 3; ++joint) {
        Vec g1 = c.gimbal, g2 = c.gimbal;
        g1[joint] += delta;
        g2[joint] -= delta;
        ASSERT_EQ(korvo_sim_set_gimbal_angles(h, g1.data()), 0);
        const Reading a = readAt(h, c.point);
        ASSERT_EQ(korvo_sim_set_gimbal_angles(h, g2.data()), 0);
        const Reading b = readAt(h, c.point);
        // R_a R_b^T is a small rotation; its rotation vector is the skew part.
        double m[3][3] = {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    m[i][j] +=
                        a.matrix[static_cast<std::size_t>(k * 4 + i)] * b.matrix[static_cast<std::size_t>(k * 4 + j)];
        const Vec omega{(m[2][1] - m[1][2]) / 2, (m[0][2] - m[2][0]) / 2, (m[1][0] - m[0][1]) / 2};
        for (int row = 0; row < 3; ++row)
            EXPECT_NEAR(omega[row] / (2 * delta), centre.jacobian[static_cast<std::size_t>((3 + row) * 6 + 3 + joint)],
                        0.02)
                << "joint " << joint << " row " << row;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Workspace, PoseTest,
    ::testing::Values(PoseCase{"arm3g", {0, 0, 0}, {0, 0, 0}}, PoseCase{"arm3g", {80, 60, 60}, {0.3, -0.2, 1.0}},
                      PoseCase{"arm3g", {-80, -60, -60}, {-1.0, 0.5, -2.0}},
                      PoseCase{"arm3g", {-115, 95, 85}, {0, 0, 0}}, PoseCase{"arm6", {30, -20, 40}, {0.8, 0.8, 0.3}},
                      PoseCase{"arm6", {150, -100, -95}, {0, 0, 0}}, PoseCase{"mini", {-40, 30, 25}, {0, 0, 0}},
                      PoseCase{"mini", {75, -55, -45}, {0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.model) + "_" + std::to_string(info.index); });

TEST_F(SimTest, GimbalAnglesAreRefusedOutsideTheirStopsOrWithoutGimbal) {
    const auto h = static_cast<unsigned>(open("arm3g"));
    const double tooFar[3] = {0, 2.0, 0};
    EXPECT_EQ(korvo_sim_set_gimbal_angles(h, tooFar), KORVO_OUT_OF_RANGE);
    const auto mini = static_cast<unsigned>(open("mini"));
    const double fine[3] = {0.1, 0.1, 0.1};
    EXPECT_EQ(korvo_sim_set_gimbal_angles(mini, fine), KORVO_NOT_SUPPORTED);
}

// A command on a single motor must produce a force whose joint torques
// (J^T F) load only that motor, and the force must scale with the value.
TEST_F(SimTest, MotorValuesBecomeForceThroughTheJacobianTranspose) {
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(enable_korvo_forces(h), 0);
    const Reading r = readAt(h, {20, -10, 15});
    for (int motor = 0; motor < 3; ++motor) {
        int32_t dac[6] = {};
        dac[motor] = 16000;
        ASSERT_EQ(command_motor_dac_values(h, dac), 0);
        const Vec f = appliedForce(static_cast<int>(h));
        Vec tau{};
        for (int j = 0; j < 3; ++j)
            for (int row = 0; row < 3; ++row) tau[j] += r.jacobian[static_cast<std::size_t>(row * 6 + j)] * f[row];
        EXPECT_GT(tau[motor], 0.0);
        for (int j = 0; j < 3; ++j) {
            if (j != motor) {
                EXPECT_NEAR(tau[j] / tau[motor], 0.0, 0.01) << "motor " << motor << " joint " << j;
            }
        }
        dac[motor] = -8000;
        ASSERT_EQ(command_motor_dac_values(h, dac), 0);
        const Vec half = appliedForce(static_cast<int>(h));
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(half[i], -f[i] * 0.5, 1e-3 + std::fabs(f[i]) * 1e-3);
    }
}

// Full scale on a motor is sized to give the nominal maximum force at the
// workspace centre, so it must be of that order there.
TEST_F(SimTest, FullScaleMotorValueGivesAboutTheNominalMaximumForce) {
    const auto h = static_cast<unsigned>(open());
    ASSERT_EQ(enable_korvo_forces(h), 0);
    const int32_t dac[6] = {32767, 0, 0, 0, 0, 0};
    ASSERT_EQ(command_motor_dac_values(h, dac), 0);
    const double f = length(appliedForce(static_cast<int>(h)));
    EXPECT_GT(f, 0.5 * get_korvo_nominal_max_force(h));
    EXPECT_LT(f, 2.0 * get_korvo_nominal_max_force(h));
}

// Re-basing the joints shifts what they read (and so the position computed
// from them); the encoder reset undoes it.
TEST_F(SimTest, JointReferencesRebaseUntilTheEncodersAreReset) {
    const auto h = static_cast<unsigned>(open("arm6"));
    const Reading before = readAt(h, {10, 10, 10});
    const float refs[3] = {0.1f, 0.9f, -1.7f};
    ASSERT_EQ(set_joint_angle_references(h, refs), 0);
    ASSERT_EQ(update_korvo(h), 0);
    float q[3], p[3];
    ASSERT_EQ(get_korvo_encoders(h, q), 0);
    ASSERT_EQ(get_korvo_pos(h, p), 0);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(q[i], refs[i], 1e-3);
    EXPECT_GT(std::fabs(p[0] - before.position[0]) + std::fabs(p[1] - before.position[1]), 1.0);
    ASSERT_EQ(korvo_reset(h), 0);
    ASSERT_EQ(update_korvo(h), 0);
    ASSERT_EQ(get_korvo_encoders(h, q), 0);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(q[i], before.joints[i], 1e-3);
    const float bad[3] = {0.0f, NAN, 0.0f};
    EXPECT_EQ(set_joint_angle_references(h, bad), KORVO_NON_FINITE_VALUE);
    const float far[3] = {0.0f, 7.0f, 0.0f};
    EXPECT_EQ(set_joint_angle_references(h, far), KORVO_OUT_OF_RANGE);
}

}  // namespace
}  // namespace korvo_test
