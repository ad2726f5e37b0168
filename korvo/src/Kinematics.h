// Kinematics of the simulated arm: base rotation about the vertical axis, a
// shoulder and an elbow in the vertical plane of the arm, and a three-axis
// gimbal at the end of the forearm that carries the stylus.
#pragma once

#include <array>

#include "DeviceModel.h"
#include "Vec.h"

namespace korvo::sim {

using Joints = std::array<double, 3>;
using Jacobian6 = std::array<double, 36>;  // row-major: rows x y z rx ry rz, columns q0 q1 q2 g0 g1 g2

class IKinematics {
public:
    virtual ~IKinematics() = default;
    // Gimbal centre (the reported stylus position) for arm joint angles q.
    virtual Vec3 forward(const Joints& q) const noexcept = 0;
    // Arm joint angles that put the gimbal centre at p (elbow up); points out
    // of reach are pulled onto the reachable shell.
    virtual Joints inverse(const Vec3& p) const noexcept = 0;
    // Stylus orientation for arm angles q and gimbal angles g (identity for a
    // model without gimbal encoders).
    virtual Mat3 orientation(const Joints& q, const Joints& g) const noexcept = 0;
    // Columns dp/dq_i of the position with respect to the arm joints.
    virtual Mat3 linearJacobian(const Joints& q) const noexcept = 0;
    // The full 6x6 Jacobian (linear and angular velocity from joint rates).
    virtual Jacobian6 jacobian(const Joints& q, const Joints& g) const noexcept = 0;
};

class ArmKinematics final : public IKinematics {
public:
    explicit ArmKinematics(const ModelData& data) noexcept;
    Vec3 forward(const Joints& q) const noexcept override;
    Joints inverse(const Vec3& p) const noexcept override;
    Mat3 orientation(const Joints& q, const Joints& g) const noexcept override;
    Mat3 linearJacobian(const Joints& q) const noexcept override;
    Jacobian6 jacobian(const Joints& q, const Joints& g) const noexcept override;

private:
    Vec3 base_;
    double l1_;
    double l2_;
    bool gimbal_;
};

}  // namespace korvo::sim
