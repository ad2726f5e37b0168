// Small builders shared by the tests of local features and the proxy.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "qm/collision/LocalFeature.h"
#include "qm/collision/Proxy.h"
#include "qm/servo/MotionTransform.h"

namespace qmtest {

using zvu::zvuVector3Dd;

inline std::unique_ptr<QM::ILocalFeature> plane(const zvuVector3Dd& normal, const zvuVector3Dd& through) {
    return std::make_unique<QM::LocalFeaturePlane>(zvu::zvuPlaned(normal, through));
}
inline std::unique_ptr<QM::ILocalFeature> line(const zvuVector3Dd& a, const zvuVector3Dd& b) {
    return std::make_unique<QM::LocalFeatureLine>(zvu::zvuLineSegmentd(a, b));
}
inline std::unique_ptr<QM::ILocalFeature> point(const zvuVector3Dd& p) {
    return std::make_unique<QM::LocalFeaturePoint>(p);
}

inline QM::HapticDeviceTarget deviceAt(const zvuVector3Dd& p) {
    QM::HapticDeviceTarget target;
    target.place(p);
    return target;
}

inline ::testing::AssertionResult near3(const zvuVector3Dd& actual, const zvuVector3Dd& expected, double tol) {
    if ((actual - expected).length() <= tol) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "(" << actual.x << ", " << actual.y << ", " << actual.z
                                         << ") is not within " << tol << " of (" << expected.x << ", " << expected.y
                                         << ", " << expected.z << ")";
}

}  // namespace qmtest
