#include "contact_model.h"

#include <cmath>
#include <cstdio>

#include "error_report.h"

namespace sphere_contact {

ContactModel::ContactModel(const Vec3& fixedCentre, double fixedRadius, double deviceRadius)
    : fixedCentre_(fixedCentre), contactDistance_(fixedRadius + deviceRadius) {
    update({100.0, 100.0, 0.0});
}

// Two spheres touch when their centres are no farther apart than the sum of
// their radii. While they overlap, the small sphere is drawn where it would
// rest on the large one, on the line through both centres, and a spring of
// stiffness 0.1 pulls the device towards that resting point: the user feels
// the large sphere as a solid object, and sees the small sphere stop on its
// surface even though the device has gone in. When the centres coincide
// there is no line to push along, so the previous result is kept.
void ContactModel::update(const Vec3& position) {
    devicePosition_ = position;
    for (int i = 0; i < 3; ++i) toDevice_[i] = position[i] - fixedCentre_[i];
    centreDistance_ =
        std::sqrt(toDevice_[0] * toDevice_[0] + toDevice_[1] * toDevice_[1] + toDevice_[2] * toDevice_[2]);

    if (centreDistance_ > contactDistance_) {
        displayedPosition_ = position;
        force_ = {0.0, 0.0, 0.0};
    } else if (centreDistance_ > 0.00001) {
        const double scale = contactDistance_ / centreDistance_;
        for (int i = 0; i < 3; ++i) {
            displayedPosition_[i] = fixedCentre_[i] + toDevice_[i] * scale;
            force_[i] = (displayedPosition_[i] - position[i]) * kStiffness;
        }
    }
}

ZVCallbackCode contactCallback(void* data) {
    ContactModel& model = *static_cast<ContactModel*>(data);
    const HZV device = zvGetCurrentDevice();
    zvBeginFrame(device);

    Vec3 position{};
    zvGetDoublev(ZV_CURRENT_POSITION, position.data());
    model.update(position);
    zvSetDoublev(ZV_CURRENT_FORCE, model.force().data());

    zvEndFrame(device);

    const ZVErrorInfo error = zvGetError();
    if (error.errorCode != ZV_SUCCESS) {
        samplePrintError(stderr, &error, "Error during scheduler callback");
        if (sampleIsSchedulerError(&error)) return ZV_CALLBACK_DONE;
    }
    return ZV_CALLBACK_CONTINUE;
}

ZVCallbackCode copyForDisplayCallback(void* data) {
    DisplayCopy& copy = *static_cast<DisplayCopy*>(data);
    copy.displayedPosition = copy.model->displayedPosition();
    copy.force = copy.model->force();
    return ZV_CALLBACK_DONE;
}

}  // namespace sphere_contact
