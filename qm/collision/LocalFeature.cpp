#include "qm/collision/LocalFeature.h"

#include <cmath>

namespace QM {

namespace {

// How close a motion must pass a point or a line to meet it.
constexpr double kReach = 0.001;
// Below this, lengths and direction components count as zero.
constexpr double kTiny = 1e-10;

// The unit reverse of the motion, or +z for a motion too short to have a
// direction (a resting proxy), so that no caller ever sees a zero or NaN
// normal.
zvu::zvuVector3Dd backwards(const zvu::zvuLineSegmentd& segment) noexcept {
    const zvu::zvuVector3Dd d = segment.end() - segment.start();
    if (std::fabs(d.x) < kTiny && std::fabs(d.y) < kTiny && std::fabs(d.z) < kTiny) {
        return {0.0, 0.0, 1.0};
    }
    return (-d).normalized();
}

}  // namespace

bool LocalFeaturePoint::intersect(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept {
    const double t = segment.closestParameter(point_);
    if ((segment.pointAtClamped(t) - point_).length() > kReach) {
        return false;
    }
    hit = {this, 1, t, point_, backwards(segment)};
    return true;
}

// The normal of a line met by a motion is the part of the reverse motion
// perpendicular to the line: the proxy is pushed off the line, never along
// it.
bool LocalFeatureLine::intersect(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept {
    double s = 0.0;
    double u = 0.0;
    const double distance = segment.closestSegmentPoints(segment_, s, u, kTiny);
    if (!(distance <= kReach) || u < -kTiny || u > 1.0 + kTiny) {
        return false;
    }
    zvu::zvuVector3Dd normal{0.0, 0.0, 1.0};
    if (segment.getLength() < kTiny) {
        s = 0.0;
    } else {
        const zvu::zvuVector3Dd back = -segment.unitDirection();
        normal = back;
        if (!segment.isParallel(segment_, kTiny)) {
            const zvu::zvuVector3Dd along = segment_.unitDirection();
            const zvu::zvuVector3Dd across = back - along * back.dot(along);
            if (across.length() >= kTiny) {
                normal = across.normalized();
            }
        }
    }
    hit = {this, 1, s, segment_.pointAtClamped(u), normal};
    return true;
}

bool LocalFeaturePlane::intersect(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept {
    double t = 0.0;
    const int code = plane_.intersectSegment(segment, t, kTiny);
    if (code == 0) {
        return false;
    }
    const zvu::zvuVector3Dd normal = code == 1 ? plane_.normal : -plane_.normal;
    hit = {this, code == 1 ? 1 : 2, t, segment.pointAt(t), normal};
    return true;
}

bool LocalFeaturePlane::penetrationTest(const zvu::zvuLineSegmentd& segment,
                                        LocalIntersectionInfo& hit) const noexcept {
    if (!(plane_.distance(segment.end()) < 0.0)) {
        return false;
    }
    double t = 0.0;
    if (plane_.intersectSegment(segment, t, kTiny) == 0) {
        return false;
    }
    const zvu::zvuVector3Dd a = segment.start();
    hit = {this, 1, t, a + (segment.end() - a) * t, plane_.normal};
    return true;
}

ILocalFeature* LocalFeatureSet::insert(std::unique_ptr<ILocalFeature> feature) {
    if (feature == nullptr) {
        return nullptr;
    }
    features_.push_back(std::move(feature));
    return features_.back().get();
}

bool LocalFeatureSet::erase(const ILocalFeature* feature) noexcept {
    for (auto it = features_.begin(); it != features_.end(); ++it) {
        if (it->get() == feature) {
            features_.erase(it);
            return true;
        }
    }
    return false;
}

void LocalFeatureSet::takeAll(LocalFeatureSet& other) {
    if (&other == this) {
        return;
    }
    features_.reserve(features_.size() + other.features_.size());
    for (auto& feature : other.features_) {
        features_.push_back(std::move(feature));
    }
    other.features_.clear();
}

bool LocalFeatureSet::firstIntersection(const zvu::zvuLineSegmentd& segment,
                                        LocalIntersectionInfo& hit) const noexcept {
    bool found = false;
    LocalIntersectionInfo candidate;
    for (const auto& feature : features_) {
        if (feature->intersect(segment, candidate) && (!found || candidate.t < hit.t)) {
            hit = candidate;
            found = true;
        }
    }
    return found;
}

const ILocalFeature* LocalFeatureSet::closestFeature(const zvu::zvuVector3Dd& point, int dimension) const noexcept {
    const ILocalFeature* best = nullptr;
    double bestDistance = 0.0;
    for (const auto& feature : features_) {
        if (dimension >= 0 && feature->dimension() != dimension) {
            continue;
        }
        const double d = (feature->closestPoint(point) - point).lengthSquared();
        if (best == nullptr || d < bestDistance) {
            best = feature.get();
            bestDistance = d;
        }
    }
    return best;
}

bool LocalFeatureSet::closestPoint(const zvu::zvuVector3Dd& point, zvu::zvuVector3Dd& closest) const noexcept {
    const ILocalFeature* feature = closestFeature(point);
    if (feature == nullptr) {
        return false;
    }
    closest = feature->closestPoint(point);
    return true;
}

ShapeFeatureSet::ShapeFeatureSet(const zvu::zvuMatrix& shapeToWorkspace, LocalFeatureSet& destination) noexcept
    : shapeToWorkspace_(shapeToWorkspace), destination_(destination) {
    zvu::zvuMatrix inverse;
    normalMatrix_ = shapeToWorkspace.inverse(inverse) ? inverse.transposed() : shapeToWorkspace;
}

ILocalFeature* ShapeFeatureSet::addPoint(const zvu::zvuVector3Dd& point) {
    return destination_.insert(std::make_unique<LocalFeaturePoint>(shapeToWorkspace_.transformPoint(point)));
}

ILocalFeature* ShapeFeatureSet::addLine(const zvu::zvuVector3Dd& start, const zvu::zvuVector3Dd& end) {
    return destination_.insert(std::make_unique<LocalFeatureLine>(
        zvu::zvuLineSegmentd(shapeToWorkspace_.transformPoint(start), shapeToWorkspace_.transformPoint(end))));
}

ILocalFeature* ShapeFeatureSet::addPlane(const zvu::zvuVector3Dd& normal, const zvu::zvuVector3Dd& point) {
    const zvu::zvuVector3Dd n = normalMatrix_.transformDirection(normal);
    if (!(n.lengthSquared() > 0.0) || !std::isfinite(n.lengthSquared())) {
        return nullptr;
    }
    return destination_.insert(
        std::make_unique<LocalFeaturePlane>(zvu::zvuPlane<double>(n, shapeToWorkspace_.transformPoint(point))));
}

}  // namespace QM
