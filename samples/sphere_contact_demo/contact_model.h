// The contact model of the sphere-sphere contact demo: a small sphere that
// follows the device collides with a large sphere fixed at the centre of the
// workspace.
#pragma once

#include <array>

#include "zv/zv.h"

namespace sphere_contact {

using Vec3 = std::array<double, 3>;

constexpr double kFixedSphereRadius = 60.0;
constexpr double kDeviceSphereRadius = 20.0;
constexpr double kStiffness = 0.1;

// Created before the servo callback is scheduled and then updated by the
// servo thread only; other threads read it inside synchronous callbacks.
class ContactModel {
public:
    // Starts with the device at (100, 100, 0), far from the fixed sphere.
    ContactModel(const Vec3& fixedCentre, double fixedRadius, double deviceRadius);

    // Moves the device to `position` and recomputes where the small sphere is
    // drawn and the force that keeps the spheres apart.
    void update(const Vec3& position);

    const Vec3& fixedCentre() const { return fixedCentre_; }
    const Vec3& devicePosition() const { return devicePosition_; }
    const Vec3& displayedPosition() const { return displayedPosition_; }
    const Vec3& force() const { return force_; }
    double centreDistance() const { return centreDistance_; }
    double contactDistance() const { return contactDistance_; }

private:
    Vec3 fixedCentre_;
    Vec3 devicePosition_{};
    Vec3 displayedPosition_{};
    Vec3 toDevice_{};  // from the fixed centre to the device
    Vec3 force_{};
    double centreDistance_ = 0.0;
    double contactDistance_;  // the sum of the two radii
};

// Servo callback: reads the device position, updates the model and commands
// its force. User data: the ContactModel.
ZVCallbackCode contactCallback(void* model);

// What the display draws, copied out of the model on the servo thread.
struct DisplayCopy {
    const ContactModel* model = nullptr;  // set by the caller
    Vec3 displayedPosition{};
    Vec3 force{};
};

// Synchronous callback: fills a DisplayCopy from its model.
ZVCallbackCode copyForDisplayCallback(void* copy);

}  // namespace sphere_contact
