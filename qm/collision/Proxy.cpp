#include "qm/collision/Proxy.h"

#include <cmath>

#include "qm/api/Symbols.h"

namespace QM {

namespace {

using zvu::zvuVector3Dd;

// Two contact planes whose unit normals have a dot product above this are
// one plane: the edge between them would be ill-conditioned. The test is on
// the signed product: planes facing each other (a thin wedge, or the two
// sides of a sheet) are two distinct walls, never one.
constexpr double kSamePlane = 0.9999999999;
constexpr double kTiny = 1e-10;
// How far behind its start the plane pass of the constraint snap begins, so
// that a proxy resting exactly on a constraint plane still meets it.
constexpr double kConstraintLead = 0.001;

bool finite(const zvuVector3Dd& v) noexcept { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// A wall of the solve: a unit normal and a point of the plane.
struct Wall {
    zvuVector3Dd n;
    zvuVector3Dd p;

    double distance(const zvuVector3Dd& q) const noexcept { return n.dot(q - p); }
    zvuVector3Dd project(const zvuVector3Dd& q) const noexcept { return q - n * distance(q); }
};

// The first surface met on the way from `from` to `to` (smallest t; the
// first inserted feature wins a tie), ignoring features of other dimensions
// and hits whose normal makes one of the `used` walls again.
bool firstPenetration(const LocalFeatureSet& features, const zvuVector3Dd& from, const zvuVector3Dd& to, int dimension,
                      const Wall* used, int usedCount, LocalIntersectionInfo& hit) noexcept {
    const zvu::zvuLineSegmentd segment(from, to);
    bool found = false;
    LocalIntersectionInfo candidate;
    for (const auto& feature : features) {
        if (dimension >= 0 && feature->dimension() != dimension) {
            continue;
        }
        if (!feature->penetrationTest(segment, candidate)) {
            continue;
        }
        const zvuVector3Dd n = candidate.normal.normalized();
        if (n.lengthSquared() == 0.0 || !finite(n)) {
            continue;
        }
        bool same = false;
        for (int i = 0; i < usedCount; ++i) {
            same = same || n.dot(used[i].n) > kSamePlane;
        }
        if (same) {
            continue;
        }
        if (!found || candidate.t < hit.t) {
            hit = candidate;
            hit.normal = n;
            found = true;
        }
    }
    return found;
}

// `q` moved onto the front of every wall it lies behind, in order: the
// answer when the walls are parallel and the edge between them is undefined.
zvuVector3Dd keepInFront(zvuVector3Dd q, const Wall* walls, int count) noexcept {
    for (int i = 0; i < count; ++i) {
        if (walls[i].distance(q) < 0.0) {
            q = walls[i].project(q);
        }
    }
    return q;
}

bool reportsCollisions(const LocalIntersectionInfo& record) noexcept {
    bool report = true;
    if (record.feature != nullptr) {
        record.feature->getAttributes().get<bool>(QM_INT_REPORT_COLLISIONS, report);
    }
    return report;
}

}  // namespace

zvuVector3Dd CollisionSet::touchNormal() const noexcept {
    zvuVector3Dd sum{};
    for (std::size_t i = 0; i < count_; ++i) {
        sum += records_[i].normal;
    }
    const double length = sum.length();
    if (!(length > kTiny) || !std::isfinite(length)) {
        return {0.0, 0.0, 1.0};
    }
    return sum / length;
}

bool CollisionSet::add(const LocalIntersectionInfo& record) noexcept {
    if (count_ == kCapacity) {
        return false;
    }
    records_[count_++] = record;
    return true;
}

PointProxy::PointProxy() {
    controls_.declare<bool>(QM_PROXY_RESOLUTION);
    controls_.set<bool>(QM_PROXY_RESOLUTION, true);
}

// The proxy moves from `start` toward `goal` until it meets a plane, then
// slides on that plane toward the goal's projection; a second plane met on
// the way leaves it sliding along the edge of the two, and a third stops it
// at their corner. The result is the point of the constraining planes
// nearest to the goal.
zvuVector3Dd PointProxy::solveContacts(const LocalFeatureSet& features, const zvuVector3Dd& start,
                                       const zvuVector3Dd& goal, CollisionSet& collisions, int dimension) noexcept {
    Wall walls[3];
    LocalIntersectionInfo hit;
    if (!firstPenetration(features, start, goal, dimension, walls, 0, hit)) {
        return goal;
    }
    walls[0] = {hit.normal, hit.point};
    collisions.add(hit);
    const zvuVector3Dd onPlane = walls[0].project(goal);

    const zvuVector3Dd h1 = hit.point;
    if (!firstPenetration(features, h1, onPlane, dimension, walls, 1, hit)) {
        return onPlane;
    }
    walls[1] = {hit.normal, hit.point};
    collisions.add(hit);
    const zvuVector3Dd h2 = hit.point;

    const zvuVector3Dd& n1 = walls[0].n;
    const zvuVector3Dd& n2 = walls[1].n;
    zvuVector3Dd c = n1.cross(n2);
    if (!(c.length() > kTiny)) {
        // Facing walls (nearly antiparallel normals): no edge to slide on.
        return keepInFront(onPlane, walls, 2);
    }
    c.normalize();
    // X: where the line through the projection, across the edge within
    // plane 1, meets plane 2; it lies on the edge.
    const zvuVector3Dd across = n1.cross(c);
    const double t = -walls[1].distance(onPlane) / n2.dot(across);
    const zvuVector3Dd x = onPlane + across * t;
    const zvuVector3Dd onEdge = x + c * c.dot(goal - x);

    if (!firstPenetration(features, h2, onEdge, dimension, walls, 2, hit)) {
        return onEdge;
    }
    walls[2] = {hit.normal, hit.point};
    collisions.add(hit);
    const double along = walls[2].n.dot(c);
    if (std::fabs(along) > kTiny) {
        return x + c * (-walls[2].distance(x) / along);
    }
    return walls[2].project(x);
}

zvuVector3Dd PointProxy::snapToConstraints(const LocalFeatureSet& features, const zvuVector3Dd& start,
                                           const zvuVector3Dd& goal, CollisionSet& collisions) noexcept {
    zvuVector3Dd result = goal;
    if (features.empty()) {
        return result;
    }

    // Planes act as walls, as in the contact pass. Only plane features take
    // part here: the lines and points get their own passes below.
    if (features.closestFeature(start, 2) != nullptr) {
        const zvuVector3Dd lead = start - (result - start).normalized() * kConstraintLead;
        result = solveContacts(features, lead, result, collisions, 2);
    }

    // Lines: the nearest one, unless another line that holds the result
    // closer is crossed on the way to it; the first crossed wins.
    if (const ILocalFeature* nearest = features.closestFeature(start, 1)) {
        const zvuVector3Dd nearestPoint = nearest->closestPoint(result);
        const double nearestDistance = (nearestPoint - result).lengthSquared();
        const zvu::zvuLineSegmentd walk(start, nearestPoint);
        const ILocalFeature* chosen = nearest;
        double chosenT = 0.0;
        double chosenDistance = nearestDistance;
        bool crossed = false;
        LocalIntersectionInfo hit;
        for (const auto& feature : features) {
            if (feature->dimension() != 1 || feature.get() == nearest || !feature->intersect(walk, hit) ||
                hit.t < 0.0 || hit.t > 1.0) {
                continue;
            }
            const double d = (feature->closestPoint(result) - result).lengthSquared();
            if (!(d < nearestDistance)) {
                continue;
            }
            const bool earlier = !crossed || hit.t < chosenT - kTiny;
            const bool tieButNearer = crossed && std::fabs(hit.t - chosenT) <= kTiny && d < chosenDistance;
            if (earlier || tieButNearer) {
                chosen = feature.get();
                chosenT = hit.t;
                chosenDistance = d;
                crossed = true;
            }
        }
        result = chosen->closestPoint(result);
        if (chosen->intersect(zvu::zvuLineSegmentd(start, result), hit)) {
            collisions.add(hit);
        }
    }

    // Points: the nearest one holds the proxy.
    if (const ILocalFeature* point = features.closestFeature(start, 0)) {
        result = point->closestPoint(result);
        LocalIntersectionInfo hit;
        if (point->intersect(zvu::zvuLineSegmentd(start, result), hit)) {
            collisions.add(hit);
        }
    }
    return result;
}

void PointProxy::update(const ITarget& target, const std::optional<zvuVector3Dd>& overridePosition) noexcept {
    collisions_.clear();
    const zvuVector3Dd& device = target.position();
    if (!finite(device) || (overridePosition && !finite(*overridePosition))) {
        return;
    }
    bool resolution = true;
    controls_.get<bool>(QM_PROXY_RESOLUTION, resolution);

    zvuVector3Dd contact = solveContacts(contacts_, transforms_[0].position(), device, collisions_);
    if (overridePosition) {
        contact = *overridePosition;
    }
    const zvuVector3Dd constrained = snapToConstraints(constraints_, transforms_[1].position(), contact, collisions_);
    const zvu::zvuQuaternion& rotation = target.rotation();

    collisions_.removeIf([](const LocalIntersectionInfo& record) { return !reportsCollisions(record); });

    if (resolution) {
        transforms_[0].set(contact, rotation);
        for (int i = 1; i < 4; ++i) {
            transforms_[i].set(constrained, rotation);
        }
    } else {
        const zvuVector3Dd held = transforms_[2].position();
        const zvu::zvuQuaternion heldRotation = transforms_[2].rotation();
        for (int i : {0, 1, 3}) {
            transforms_[i].set(held, heldRotation);
        }
    }
}

const MotionTransform* PointProxy::motionTransform(int i) const noexcept {
    return i >= 0 && i < 4 ? &transforms_[i] : nullptr;
}

MotionTransform* PointProxy::motionTransform(int i) noexcept { return i >= 0 && i < 4 ? &transforms_[i] : nullptr; }

void PointProxy::swapSets(IProxy& other) noexcept {
    auto* point = dynamic_cast<PointProxy*>(&other);
    if (point == nullptr || point == this) {
        return;
    }
    contacts_.swap(point->contacts_);
    constraints_.swap(point->constraints_);
    std::swap(collisions_, point->collisions_);
}

void PointProxy::clear() noexcept {
    contacts_.clear();
    constraints_.clear();
    collisions_.clear();
}

zvu::zvuLineSegmentd PointProxy::segment(int i, const ITarget& target) const noexcept {
    const MotionTransform* from = motionTransform(i);
    return {from != nullptr ? from->position() : target.position(), target.position()};
}

void PointProxy::copyTransforms(const IProxy& other) noexcept {
    for (int i = 0; i < 3; ++i) {
        if (const MotionTransform* source = other.motionTransform(i)) {
            transforms_[i] = *source;
        }
    }
}

void PointProxy::initialise(const ITarget& target) noexcept {
    initialised_ = true;
    for (MotionTransform& transform : transforms_) {
        target.copyMotionState(transform);
    }
}

void PointProxy::uninitialise() noexcept {
    initialised_ = false;
    clear();
}

}  // namespace QM
