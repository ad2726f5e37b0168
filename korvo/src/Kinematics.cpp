#include "Kinematics.h"

#include <algorithm>
#include <cmath>

namespace korvo::sim {

// Joint conventions. q0 turns the arm about +y (q0 = 0 points the arm along
// +z, toward the user). q1 is the elevation of the upper arm above the
// horizontal, q2 the elbow angle of the forearm relative to the upper arm. In
// the plane of the arm the gimbal centre is at reach r and height h above the
// shoulder:
//   r = l1 cos q1 + l2 cos(q1 + q2),  h = l1 sin q1 + l2 sin(q1 + q2)
// and in space p = base + Ry(q0) (0, h, r).

ArmKinematics::ArmKinematics(const ModelData& data) noexcept
    : base_(data.base), l1_(data.upperArm), l2_(data.forearm), gimbal_(data.sixDofInput) {}

Vec3 ArmKinematics::forward(const Joints& q) const noexcept {
    const double r = l1_ * std::cos(q[1]) + l2_ * std::cos(q[1] + q[2]);
    const double h = l1_ * std::sin(q[1]) + l2_ * std::sin(q[1] + q[2]);
    return base_ + Mat3::rotY(q[0]) * Vec3{0.0, h, r};
}

// Inverse kinematics: q0 from the horizontal direction of p seen from the
// shoulder, q2 from the law of cosines on the distance d, q1 from the
// direction of p in the arm plane minus the angle the forearm adds. The
// negative elbow angle keeps the elbow above the line shoulder-stylus.
Joints ArmKinematics::inverse(const Vec3& p) const noexcept {
    const Vec3 rel = p - base_;
    const double q0 = std::atan2(rel.x, rel.z);
    const double r = std::hypot(rel.x, rel.z);
    const double h = rel.y;
    const double dMin = std::fabs(l1_ - l2_) + 1e-6;
    const double dMax = (l1_ + l2_) * (1.0 - 1e-9);
    const double d = std::clamp(std::hypot(r, h), dMin, dMax);
    const double c2 = std::clamp((d * d - l1_ * l1_ - l2_ * l2_) / (2.0 * l1_ * l2_), -1.0, 1.0);
    const double q2 = -std::acos(c2);
    const double q1 = std::atan2(h, r) - std::atan2(l2_ * std::sin(q2), l1_ + l2_ * std::cos(q2));
    return {q0, q1, q2};
}

// Orientation chain: base rotation, the pitch of the forearm (a rotation by
// -(q1 + q2) about x, which raises +z toward +y), then the gimbal's yaw, pitch
// and roll about the forearm's y, the new x and the stylus axis z.
Mat3 ArmKinematics::orientation(const Joints& q, const Joints& g) const noexcept {
    if (!gimbal_) return Mat3{};
    return Mat3::rotY(q[0]) * Mat3::rotX(-(q[1] + q[2])) * Mat3::rotY(g[0]) * Mat3::rotX(g[1]) * Mat3::rotZ(g[2]);
}

Mat3 ArmKinematics::linearJacobian(const Joints& q) const noexcept {
    const double r = l1_ * std::cos(q[1]) + l2_ * std::cos(q[1] + q[2]);
    const double h = l1_ * std::sin(q[1]) + l2_ * std::sin(q[1] + q[2]);
    const Mat3 ry = Mat3::rotY(q[0]);
    const Vec3 d0 = cross(Vec3{0.0, 1.0, 0.0}, ry * Vec3{0.0, h, r});
    const Vec3 d1 = ry * Vec3{0.0, r, -h};
    const Vec3 d2 = ry * Vec3{0.0, l2_ * std::cos(q[1] + q[2]), -l2_ * std::sin(q[1] + q[2])};
    Mat3 j;
    for (int row = 0; row < 3; ++row) {
        j(row, 0) = d0[static_cast<std::size_t>(row)];
        j(row, 1) = d1[static_cast<std::size_t>(row)];
        j(row, 2) = d2[static_cast<std::size_t>(row)];
    }
    return j;
}

// The angular rows are the world-frame axes of the joints, each the preceding
// portion of the orientation chain applied to the joint's local axis. The gimbal
// sits at the position, so gimbal rates add no linear velocity.
Jacobian6 ArmKinematics::jacobian(const Joints& q, const Joints& g) const noexcept {
    Jacobian6 jac{};
    const Mat3 lin = linearJacobian(q);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) jac[static_cast<std::size_t>(r * 6 + c)] = lin(r, c);
    if (!gimbal_) return jac;
    const Mat3 ry = Mat3::rotY(q[0]);
    const Mat3 arm = ry * Mat3::rotX(-(q[1] + q[2]));
    const Mat3 afterYaw = arm * Mat3::rotY(g[0]);
    const Vec3 axes[6] = {
        {0.0, 1.0, 0.0},           ry * Vec3{-1.0, 0.0, 0.0},      ry * Vec3{-1.0, 0.0, 0.0},
        arm * Vec3{0.0, 1.0, 0.0}, afterYaw * Vec3{1.0, 0.0, 0.0}, afterYaw * Mat3::rotX(g[1]) * Vec3{0.0, 0.0, 1.0},
    };
    for (int c = 0; c < 6; ++c)
        for (int r = 0; r < 3; ++r)
            jac[static_cast<std::size_t>((3 + r) * 6 + c)] = axes[c][static_cast<std::size_t>(r)];
    return jac;
}

}  // namespace korvo::sim
