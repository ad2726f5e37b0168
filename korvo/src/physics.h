// Mechanics of the stylus: a point mass with viscous and Coulomb friction,
// held by a virtual hand (a spring and damper toward the hand's target) and
// pushed by the force the motors apply, inside box-shaped end stops.
#pragma once

#include <array>

#include "vec.h"

namespace korvo::sim {

struct StylusMechanics {
    double mass;             // kg
    double viscousFriction;  // N s/mm
    double coulombFriction;  // N
    std::array<double, 6> endStops;  // low x, high x, low y, high y, low z, high z (mm)
};

class IPhysics {
public:
    virtual ~IPhysics() = default;
    // Puts the stylus at rest at p with the hand target on it.
    virtual void place(const Vec3& p) noexcept = 0;
    // Moves the hand target at once (the hand then holds still there).
    virtual void setHandTarget(const Vec3& target) noexcept = 0;
    // Moves the hand target along a path: the hand's velocity is the change
    // over dt, so its damper does not drag behind a moving hand.
    virtual void moveHandTarget(const Vec3& target, double dt) noexcept = 0;
    virtual void setHandGains(double stiffness, double damping) noexcept = 0;
    // Advances the stylus by dt seconds under the applied force (held
    // constant over the step).
    virtual void step(double dt, const Vec3& appliedForce) noexcept = 0;
    virtual Vec3 position() const noexcept = 0;
    virtual Vec3 velocity() const noexcept = 0;
    virtual Vec3 handTarget() const noexcept = 0;
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
    void step(double dt, const Vec3& appliedForce) noexcept override;
    Vec3 position() const noexcept override { return position_; }
    Vec3 velocity() const noexcept override { return velocity_; }
    Vec3 handTarget() const noexcept override { return handTarget_; }

private:
    StylusMechanics mech_;
    Vec3 position_;
    Vec3 velocity_;
    Vec3 handTarget_;
    Vec3 handVelocity_;
    double handStiffness_ = kDefaultHandStiffness;
    double handDamping_ = kDefaultHandDamping;
};

}  // namespace korvo::sim
