// Mechanics of the stylus: a point mass with viscous and Coulomb friction,
// held by a virtual hand (a spring and damper toward the hand's target, plus
// a constant pressing force) and pushed by the force the motors apply,
// inside box-shaped end stops.
#pragma once

#include <array>

#include "Vec.h"

namespace korvo::sim {

struct HandGains {
    double stiffness;  // N/mm
    double damping;    // N s/mm
};

struct StylusMechanics {
    double mass;                     // kg
    double viscousFriction;          // N s/mm
    double coulombFriction;          // N
    std::array<double, 6> endStops;  // low x, high x, low y, high y, low z, high z (mm)
};

// Exact zero-order-hold discretisation of one axis of
//   m x'' = -k x - b x' + f(t),  f(t) = f0 + f1 t over one period T,
// i.e. the state transition and input matrices of the sampled system. The
// three axes of the stylus share it (the mass, grip and friction are
// isotropic), so it is computed once per change of T, k or b.
class ZohDiscretisation {
public:
    // Positions in mm, velocities in mm/s, forces in N, mass in kg.
    void update(double mass, double stiffness, double damping, double period) noexcept;
    // Advances (x, v) by one period under f0 + f1 t (N and N/s).
    void advance(double& x, double& v, double f0, double f1) const noexcept;

private:
    double mass_ = -1.0;
    double stiffness_ = -1.0;
    double damping_ = -1.0;
    double period_ = -1.0;
    // Over one period, in the scaled state (x, v T): x1 = p00 x + p01 w +
    // g0x a0 + g1x a1 and w1 likewise, where a0 and a1 are the scaled inputs.
    double p00_ = 1.0, p01_ = 0.0, p10_ = 0.0, p11_ = 1.0;
    double g0x_ = 0.0, g0w_ = 0.0, g1x_ = 0.0, g1w_ = 0.0;
};

class IPhysics {
public:
    virtual ~IPhysics() = default;
    // Puts the stylus at rest at p with the hand target on it.
    virtual void place(const Vec3& p) noexcept = 0;
    // Moves the hand target at once (the hand then holds still there).
    virtual void setHandTarget(const Vec3& target) noexcept = 0;
    // Moves the hand target along a path: over the next step the target
    // travels in a straight line from where it is to `target`, so its damper
    // does not drag behind a moving hand.
    virtual void moveHandTarget(const Vec3& target, double dt) noexcept = 0;
    virtual void setHandGains(double stiffness, double damping) noexcept = 0;
    // Constant force (N) the hand presses with, on top of its grip.
    virtual void setHandForce(const Vec3& force) noexcept = 0;
    virtual void setFriction(double viscous, double coulomb) noexcept = 0;
    // Advances the stylus by dt seconds under the applied force (held
    // constant over the step).
    virtual void step(double dt, const Vec3& appliedForce) noexcept = 0;
    virtual Vec3 position() const noexcept = 0;
    virtual Vec3 velocity() const noexcept = 0;
    virtual Vec3 handTarget() const noexcept = 0;
    virtual HandGains handGains() const noexcept = 0;
};

class StylusPhysics final : public IPhysics {
public:
    // Default grip of a relaxed hand: 0.5 N/mm and 0.005 N s/mm.
    static constexpr double kDefaultHandStiffness = 0.5;
    static constexpr double kDefaultHandDamping = 0.005;

    StylusPhysics(const StylusMechanics& mechanics, const Vec3& start) noexcept;
    void place(const Vec3& p) noexcept override;
    void setHandTarget(const Vec3& target) noexcept override;
    void moveHandTarget(const Vec3& target, double dt) noexcept override;
    void setHandGains(double stiffness, double damping) noexcept override;
    void setHandForce(const Vec3& force) noexcept override { handForce_ = force; }
    void setFriction(double viscous, double coulomb) noexcept override;
    void step(double dt, const Vec3& appliedForce) noexcept override;
    Vec3 position() const noexcept override { return position_; }
    Vec3 velocity() const noexcept override { return velocity_; }
    Vec3 handTarget() const noexcept override { return handTarget_; }
    HandGains handGains() const noexcept override { return {handStiffness_, handDamping_}; }

private:
    StylusMechanics mech_;
    Vec3 position_;
    Vec3 velocity_;
    Vec3 handTarget_;
    Vec3 handVelocity_;
    Vec3 handForce_;
    double handStiffness_ = kDefaultHandStiffness;
    double handDamping_ = kDefaultHandDamping;
    ZohDiscretisation zoh_;
};

}  // namespace korvo::sim
