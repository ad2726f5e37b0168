#include "qm/shapes/BoxShape.h"

#include "qm/api/Symbols.h"
#include "zvu/Plane.h"

namespace QM {

QMenum BoxShape::getType() const { return QM_INT_SHAPE_BOX; }

bool BoxShape::inside(const zvu::zvuVector3Dd& p) const {
    for (int i = 0; i < 3; ++i) {
        if (!(min_[i] - kEps < p[i] && p[i] < max_[i] + kEps)) {
            return false;
        }
    }
    return true;
}

bool BoxShape::intersectSegment(const zvu::zvuLineSegmentd& segment, QMenum touchableFace, zvu::zvuVector3Dd& point,
                                zvu::zvuVector3Dd& normal, QMenum& face) {
    const zvu::zvuVector3Dd start = workspaceToShape().transformPoint(segment.start());
    const zvu::zvuVector3Dd end = workspaceToShape().transformPoint(segment.end());
    const bool startInside = inside(start);
    if (startInside == inside(end)) {
        return false;
    }
    const bool leaving = startInside;
    const QMenum crossed = leaving ? QM_BACK : QM_FRONT;
    const bool both = touchableFace != nullptr && touchableFace == QM_FRONT_AND_BACK;
    if (!both && (touchableFace == nullptr || touchableFace != crossed)) {
        return false;
    }
    // From the outside end to the inside end, so that the crossing is always
    // through the front of an outward-facing plane.
    const zvu::zvuLineSegmentd inward = leaving ? zvu::zvuLineSegmentd(end, start) : zvu::zvuLineSegmentd(start, end);
    double bestT = 0.0;
    zvu::zvuVector3Dd bestPoint{};
    zvu::zvuVector3Dd bestNormal{};
    bool found = false;
    for (int axis = 0; axis < 3; ++axis) {
        for (const double sign : {1.0, -1.0}) {
            zvu::zvuVector3Dd n{0.0, 0.0, 0.0};
            n[axis] = sign;
            const double d = sign > 0.0 ? -max_[axis] : min_[axis];
            const zvu::zvuPlaned plane(n.x, n.y, n.z, d);
            double t = 0.0;
            if (plane.intersectSegmentFront(inward, t, kEps) == 0) {
                continue;
            }
            const zvu::zvuVector3Dd p = inward.pointAt(t);
            bool onFace = true;
            for (int other = 0; other < 3; ++other) {
                if (other != axis && !(min_[other] <= p[other] && p[other] <= max_[other])) {
                    onFace = false;
                }
            }
            if (onFace && (!found || t < bestT)) {
                found = true;
                bestT = t;
                bestPoint = p;
                bestNormal = n;
            }
        }
    }
    if (!found) {
        return false;
    }
    if (leaving) {
        bestNormal = -bestNormal;
    }
    const zvu::zvuVector3Dd mapped = workspaceToShape().transposed().transformDirection(bestNormal);
    const double length = mapped.length();
    if (!(length > 0.0)) {
        return false;
    }
    point = shapeToWorkspace().transformPoint(bestPoint);
    normal = mapped / length;
    face = crossed;
    return true;
}

}  // namespace QM
