#include "qm/collision/LocalFeatureDetector.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <memory>

#include "qm/api/Symbols.h"

namespace QM {

namespace {

using zvu::zvuVector3Dd;

constexpr double kTiny = 1e-10;
// Below this length the cross product of two normals gives no usable edge.
constexpr double kNoEdge = 1e-9;

bool isSymbol(QMenum a, QMenum b) { return a != nullptr && a == b; }

template <typename T>
T attribute(const IShape& shape, QMenum key, T fallback) {
    shape.getAttributes().get<T>(key, fallback);
    return fallback;
}

template <typename T>
void put(AttributeMap& map, QMenum key, T value) {
    map.declare<T>(key);
    map.set<T>(key, value);
}

bool featureFlag(const ILocalFeature& feature, QMenum key) {
    bool value = true;
    feature.getAttributes().get<bool>(key, value);
    return value;
}

// A normal the caller can rely on: the shape's, normalised, or the reverse
// of the motion when the shape gave none.
zvuVector3Dd usableNormal(const zvuVector3Dd& normal, const zvuVector3Dd& from, const zvuVector3Dd& to) {
    zvuVector3Dd n = normal.normalized();
    if (n.lengthSquared() > 0.5 && std::isfinite(n.x + n.y + n.z)) {
        return n;
    }
    n = (from - to).normalized();
    return n.lengthSquared() > 0.5 ? n : zvuVector3Dd(0.0, 0.0, 1.0);
}

// Normalised sum of unit normals; the first one when they cancel out.
zvuVector3Dd meanNormal(const zvuVector3Dd& sum, const zvuVector3Dd& first) {
    return sum.length() > kTiny ? sum.normalized() : first;
}

QMenum touchableFace(const IShape& shape) {
    const QMenum touchable = attribute<QMenum>(shape, QM_TOUCHABLE_FACE, QM_FRONT);
    if (isSymbol(touchable, QM_FRONT_AND_BACK) && attribute<bool>(shape, QM_PROXY_IS_TOUCHING, false)) {
        // A touching two-sided shape stays on the side it is touched from,
        // so the proxy cannot be pulled through it from behind.
        return attribute<QMenum>(shape, QM_TOUCHED_FACE, QM_FRONT);
    }
    return touchable;
}

}  // namespace

bool popsThrough(const IShape& shape) {
    if (!attribute<bool>(shape, QM_PROXY_IS_TOUCHING, false)) {
        return false;
    }
    const bool back = isSymbol(attribute<QMenum>(shape, QM_TOUCHED_FACE, QM_FRONT), QM_BACK);
    const float popThrough =
        attribute<float>(shape, back ? QM_INT_BACK_FACE_POPTHROUGH : QM_INT_FRONT_FACE_POPTHROUGH, 0.0f);
    if (!(popThrough > 0.0f)) {
        return false;
    }
    double force[3] = {0.0, 0.0, 0.0};
    shape.getAttributes().getArray<double>(QM_REACTION_FORCE, force);
    const double magnitude = std::sqrt(force[0] * force[0] + force[1] * force[1] + force[2] * force[2]);
    return magnitude > 10.0 * static_cast<double>(popThrough);
}

void LocalFeatureDetector::snapshotMaterial(ILocalFeature& feature, const IShape& shape, QMenum face) {
    const bool back = isSymbol(face, QM_BACK);
    struct Key {
        QMenum feature;
        QMenum front;
        QMenum back;
        float fallback;
    };
    const Key keys[] = {
        {QM_STIFFNESS, QM_INT_FRONT_FACE_STIFFNESS, QM_INT_BACK_FACE_STIFFNESS, 0.8f},
        {QM_DAMPING, QM_INT_FRONT_FACE_DAMPING, QM_INT_BACK_FACE_DAMPING, 0.0f},
        {QM_STATIC_FRICTION, QM_INT_FRONT_FACE_STATIC_FRICTION, QM_INT_BACK_FACE_STATIC_FRICTION, 0.0f},
        {QM_DYNAMIC_FRICTION, QM_INT_FRONT_FACE_DYNAMIC_FRICTION, QM_INT_BACK_FACE_DYNAMIC_FRICTION, 0.0f},
        {QM_POPTHROUGH, QM_INT_FRONT_FACE_POPTHROUGH, QM_INT_BACK_FACE_POPTHROUGH, 0.0f},
    };
    AttributeMap& map = feature.getAttributes();
    for (const Key& key : keys) {
        put<float>(map, key.feature, attribute<float>(shape, back ? key.back : key.front, key.fallback));
    }
    put<std::int32_t>(map, QM_INT_SOURCE_SHAPE_ID, static_cast<std::int32_t>(shape.getId()));
    put<bool>(map, QM_INT_USE_IN_FAST_LOOP, attribute<bool>(shape, QM_INT_USE_IN_FAST_LOOP, true));
    put<bool>(map, QM_INT_REPORT_COLLISIONS, attribute<bool>(shape, QM_INT_REPORT_COLLISIONS, true));
    put<QMenum>(map, QM_TOUCHED_FACE, back ? QM_BACK : QM_FRONT);
    put<QMenum>(map, QM_TOUCH_MODEL, attribute<QMenum>(shape, QM_TOUCH_MODEL, QM_CONTACT));
}

// The hit nearest to `from` over the candidates in list order; a later one
// replaces it only when strictly nearer.
bool LocalFeatureDetector::firstHit(const zvuVector3Dd& from, const zvuVector3Dd& to,
                                    const std::vector<Candidate>& candidates, Hit& hit) {
    const zvu::zvuLineSegmentd segment(from, to);
    if (!(segment.getLength() > kTiny)) {
        return false;
    }
    bool found = false;
    double best = 0.0;
    for (const Candidate& c : candidates) {
        zvuVector3Dd point;
        zvuVector3Dd normal;
        QMenum face = QM_FRONT;
        if (!c.shape->intersectSegment(segment, c.face, point, normal, face)) {
            continue;
        }
        const double distance = (point - from).lengthSquared();
        if (!found || distance < best) {
            hit = {c.shape, point, normal, face};
            best = distance;
            found = true;
        }
    }
    return found;
}

// The hit is backed off toward the motion's start by the shape's offset (at
// most to the start), so that the sweeps that continue from it do not start
// on the surface they just met. The shape records the face it is touched
// on.
LocalFeatureDetector::Surface LocalFeatureDetector::accept(const Hit& hit, const zvuVector3Dd& from,
                                                           const zvuVector3Dd& to, bool constraint) {
    const zvuVector3Dd direction = (to - from).normalized();
    const double reach = (hit.point - from).length();
    const double offset = std::fmin(std::fmax(hit.shape->getProxyOffset(), 0.0), reach);
    const QMenum face = constraint || !isSymbol(hit.face, QM_BACK) ? QM_FRONT : QM_BACK;
    hit.shape->getAttributes().set<QMenum>(QM_TOUCHED_FACE, face);
    return {hit.shape, face, usableNormal(hit.normal, from, to), hit.point - direction * offset};
}

void LocalFeatureDetector::addPlane(LocalFeatureSet& destination, const Surface& surface, bool constraint) {
    ILocalFeature* feature =
        destination.insert(std::make_unique<LocalFeaturePlane>(zvu::zvuPlaned(surface.normal, surface.point)));
    snapshotMaterial(*feature, *surface.shape, constraint ? QM_FRONT : surface.face);
}

// The proxy moves from `start` toward the device until it meets a surface,
// slides on that surface's plane (crossing onto coplanar neighbours), then
// along the edge with the next surface it meets, and stops at a third. The
// planes it was stopped by become features. A last sweep from the start to
// the goal catches a surface the slides stepped over.
zvuVector3Dd LocalFeatureDetector::sweep(const zvuVector3Dd& start, const zvuVector3Dd& device,
                                         const std::vector<Candidate>& candidates, LocalFeatureSet& destination,
                                         bool constraint) {
    Hit hit;
    if (!firstHit(start, device, candidates, hit)) {
        return device;
    }
    Surface first = accept(hit, start, device, constraint);
    zvuVector3Dd current = first.point;
    zvuVector3Dd goal = device;
    zvuVector3Dd contactNormal;

    Surface second;
    bool foundSecond = false;
    bool done = false;
    for (int slide = 0; slide < kMaxSlides && !done && !foundSecond; ++slide) {
        const zvuVector3Dd onPlane = device - first.normal * first.normal.dot(device - current);
        if (!firstHit(current, onPlane, candidates, hit)) {
            goal = onPlane;
            done = true;
            break;
        }
        const Surface met = accept(hit, current, onPlane, constraint);
        current = met.point;
        if (met.normal.dot(first.normal) > kSameSurface) {
            first = met;
        } else {
            second = met;
            foundSecond = true;
        }
    }
    if (!foundSecond) {
        if (!done) {
            goal = current;
        }
        addPlane(destination, first, constraint);
        contactNormal = first.normal;
    } else {
        zvuVector3Dd edge = first.normal.cross(second.normal);
        if (edge.length() < kNoEdge) {
            // Facing surfaces: the proxy is caught between them.
            goal = current;
            addPlane(destination, first, constraint);
            addPlane(destination, second, constraint);
            contactNormal = meanNormal(first.normal + second.normal, first.normal);
        } else {
            edge.normalize();
            const zvuVector3Dd onEdge = current + edge * edge.dot(device - current);
            addPlane(destination, first, constraint);
            addPlane(destination, second, constraint);
            if (firstHit(current, onEdge, candidates, hit)) {
                const Surface third = accept(hit, current, onEdge, constraint);
                addPlane(destination, third, constraint);
                goal = third.point;
                contactNormal = meanNormal(first.normal + second.normal + third.normal, first.normal);
            } else {
                goal = onEdge;
                contactNormal = meanNormal(first.normal + second.normal, first.normal);
            }
        }
    }

    // The straight way from the proxy to the goal may cross a surface the
    // slides went around (a ridge between two planes): hold the goal on that
    // surface too.
    if (!firstHit(start, goal, candidates, hit)) {
        return goal;
    }
    const Surface crossed = accept(hit, start, goal, constraint);
    addPlane(destination, {crossed.shape, crossed.face, contactNormal, crossed.point}, constraint);
    addPlane(destination, crossed, constraint);
    zvuVector3Dd edge = contactNormal.cross(crossed.normal);
    if (edge.length() < kNoEdge) {
        return crossed.point;
    }
    edge.normalize();
    const zvuVector3Dd onEdge = crossed.point + edge * edge.dot(goal - crossed.point);
    if (firstHit(crossed.point, onEdge, candidates, hit)) {
        const Surface last = accept(hit, crossed.point, onEdge, constraint);
        addPlane(destination, last, constraint);
        return last.point;
    }
    return onEdge;
}

void LocalFeatureDetector::addConstraintFeatures(IShape& shape, const zvuVector3Dd& from, const zvuVector3Dd& device,
                                                 LocalFeatureSet& destination) {
    LocalFeatureSet found;
    zvuVector3Dd closest;
    if (!shape.closestFeatures(zvu::zvuLineSegmentd(from, device), found, closest) || found.empty()) {
        return;
    }
    const float snap = attribute<float>(shape, QM_SNAP_DISTANCE, FLT_MAX);
    if (snap != FLT_MAX) {
        const double reach = static_cast<double>(snap);
        found.eraseIf([&](const ILocalFeature& f) { return !((f.closestPoint(device) - device).length() < reach); });
    }
    bool plane = false;
    for (auto& feature : found.takeFeatures()) {
        if (feature->dimension() == 2) {
            plane = true;
            continue;
        }
        snapshotMaterial(*feature, shape, QM_FRONT);
        destination.insert(std::move(feature));
    }
    if (!plane) {
        return;
    }
    // The plane itself is not taken: a sweep against this shape alone, both
    // faces touchable, from just off its closest point toward the device
    // finds the planes that hold the proxy on it, from whichever side.
    const zvuVector3Dd toward = (device - closest).normalized();
    const zvuVector3Dd start = closest - toward * std::fmax(shape.getProxyOffset(), 0.0);
    single_.assign(1, Candidate{&shape, QM_FRONT_AND_BACK});
    sweep(start, device, single_, destination, true);
}

void LocalFeatureDetector::detectOrThrow(const ShapeMap& shapes, const ITarget& target, IProxy& proxy) {
    proxy.clear();
    contactShapes_.clear();
    constraintShapes_.clear();
    for (auto it = shapes.iterator(); !it->atEnd(); it->advance()) {
        IShape* shape = shapes.find(it->current());
        if (shape == nullptr) {
            continue;
        }
        if (popsThrough(*shape)) {
            shape->getAttributes().set<bool>(QM_PROXY_IS_TOUCHING, false);
            continue;
        }
        const QMenum model = attribute<QMenum>(*shape, QM_TOUCH_MODEL, QM_CONTACT);
        if (isSymbol(model, QM_CONSTRAINT)) {
            constraintShapes_.push_back(shape);
        } else if (isSymbol(model, QM_CONTACT)) {
            contactShapes_.push_back({shape, touchableFace(*shape)});
        }
    }

    const zvuVector3Dd& device = target.position();
    const zvuVector3Dd start = proxy.motionTransform(0)->position();
    const zvuVector3Dd goal = sweep(start, device, contactShapes_, proxy.contactSet(), false);
    const zvuVector3Dd constrainedFrom = proxy.motionTransform(1)->position();
    for (IShape* shape : constraintShapes_) {
        addConstraintFeatures(*shape, constrainedFrom, device, proxy.constraintSet());
    }
    proxy.update(target, goal);

    // The records must not outlive the features they point to.
    proxy.collisions().removeIf([](const LocalIntersectionInfo& record) {
        return record.feature != nullptr && !featureFlag(*record.feature, QM_INT_USE_IN_FAST_LOOP);
    });
    const auto slowOnly = [](const ILocalFeature& f) { return !featureFlag(f, QM_INT_USE_IN_FAST_LOOP); };
    proxy.contactSet().eraseIf(slowOnly);
    proxy.constraintSet().eraseIf(slowOnly);
}

bool LocalFeatureDetector::detect(const ShapeMap& shapes, const ITarget& target, IProxy& proxy) noexcept {
    try {
        detectOrThrow(shapes, target, proxy);
        return true;
    } catch (...) {
        proxy.clear();
        proxy.update(target);
        return false;
    }
}

bool LocalFeatureDetector::distribute(LocalFeatureSet& features, IProxy& proxy, const ITarget& target) noexcept {
    proxy.clear();
    bool ok = true;
    try {
        for (auto& feature : features.takeFeatures()) {
            QMenum model = QM_CONTACT;
            feature->getAttributes().get<QMenum>(QM_TOUCH_MODEL, model);
            if (isSymbol(model, QM_CONSTRAINT)) {
                proxy.constraintSet().insert(std::move(feature));
            } else {
                proxy.contactSet().insert(std::move(feature));
            }
        }
    } catch (...) {
        proxy.clear();
        ok = false;
    }
    proxy.update(target, proxy.motionTransform(0)->position());
    return ok;
}

bool LocalFeatureDetector::placeProxyAtClosestTouchedPoint(const ShapeMap& shapes, const ITarget& target,
                                                           IProxy& proxy) noexcept {
    MotionTransform& contact = *proxy.motionTransform(0);
    const zvuVector3Dd start = contact.position();
    const zvu::zvuLineSegmentd segment(start, target.position());
    bool found = false;
    double best = 0.0;
    zvuVector3Dd nearest = target.position();
    try {
        for (auto it = shapes.iterator(); !it->atEnd(); it->advance()) {
            IShape* shape = shapes.find(it->current());
            if (shape == nullptr || !attribute<bool>(*shape, QM_PROXY_IS_TOUCHING, false)) {
                continue;
            }
            zvuVector3Dd point;
            zvuVector3Dd normal;
            QMenum face = QM_FRONT;
            if (!shape->intersectSegment(segment, touchableFace(*shape), point, normal, face)) {
                continue;
            }
            const double distance = (point - start).lengthSquared();
            if (!found || distance < best) {
                nearest = point;
                best = distance;
                found = true;
            }
        }
    } catch (...) {
        found = false;
        nearest = target.position();
    }
    contact.setPosition(nearest);
    return found;
}

bool LocalFeatureDetector::followMovingShape(IShape& newShape, const IShape& previousShape, const ITarget& device,
                                             const IProxy& proxy, HapticDeviceTarget& temporary,
                                             bool checkDevice) noexcept {
    double toPreviousShape[16];
    double fromNewShape[16];
    if (!previousShape.getAttributes().getArray<double>(QM_INT_WORKSPACESHAPE_MATRIX, toPreviousShape) ||
        !newShape.getAttributes().getArray<double>(QM_INT_SHAPEWORKSPACE_MATRIX, fromNewShape)) {
        return false;
    }
    const zvuVector3Dd p = proxy.motionTransform(0)->position();
    const zvuVector3Dd carried =
        zvu::zvuMatrix(fromNewShape).transformPoint(zvu::zvuMatrix(toPreviousShape).transformPoint(p));
    if (!std::isfinite(carried.x + carried.y + carried.z)) {
        return false;
    }
    const auto crosses = [&](const zvuVector3Dd& from, const zvuVector3Dd& to) {
        zvuVector3Dd point;
        zvuVector3Dd normal;
        QMenum face = QM_FRONT;
        return newShape.intersectSegment(zvu::zvuLineSegmentd(from, to), point, normal, face);
    };
    try {
        if ((checkDevice && crosses(carried, device.position())) || crosses(carried, p)) {
            temporary.motion().setPosition(temporary.position() + (carried - p));
            return true;
        }
    } catch (...) {
    }
    return false;
}

bool LocalFeatureDetector::reFindContact(IShape& shape, const ITarget& device, const IProxy& proxy,
                                         HapticDeviceTarget& temporary) noexcept {
    // How far behind the proxy the surface is looked for.
    constexpr double kReach = 20.0;
    try {
        const zvuVector3Dd p = proxy.motionTransform(0)->position();
        const zvuVector3Dd target = device.position();
        const zvuVector3Dd u = (target - p).normalized();
        if (!(u.lengthSquared() > 0.5)) {
            return false;
        }
        zvuVector3Dd point;
        zvuVector3Dd normal;
        QMenum face = QM_FRONT;
        const QMenum touchable = attribute<QMenum>(shape, QM_TOUCHABLE_FACE, QM_FRONT);
        if (shape.intersectSegment(zvu::zvuLineSegmentd(p, target), touchable, point, normal, face)) {
            return false;  // still met on the way to the device: nothing to find
        }
        QMenum touched = nullptr;
        zvuVector3Dd closest;
        bool haveClosest = false;
        if (attribute<bool>(shape, QM_PROXY_IS_TOUCHING, false)) {
            touched = attribute<QMenum>(shape, QM_TOUCHED_FACE, QM_FRONT);
        } else {
            const bool ineligible = isSymbol(shape.getType(), QM_SHAPE_DEPTH_BUFFER) &&
                                    isSymbol(touchable, QM_FRONT_AND_BACK) &&
                                    attribute<bool>(shape, QM_HAPTIC_CAMERA_VIEW, false);
            LocalFeatureSet features;
            if (ineligible || !shape.closestFeatures(zvu::zvuLineSegmentd(p, target), features, closest)) {
                return false;
            }
            haveClosest = true;
            if (!shape.intersectSegment(zvu::zvuLineSegmentd(p, closest), touchable, point, normal, face)) {
                return false;
            }
            touched = face;
        }
        const QMenum opposite = isSymbol(touched, QM_BACK) ? QM_FRONT : QM_BACK;
        // Outwards from `from`: the first crossing behind it, seen from the
        // device, is the surface nearest to where the proxy was.
        auto search = [&](const zvuVector3Dd& from) {
            return shape.intersectSegment(zvu::zvuLineSegmentd(from, from - u * kReach), opposite, point, normal, face);
        };
        bool found = search(p);
        if (!found) {
            if (!haveClosest) {
                LocalFeatureSet features;
                haveClosest = shape.closestFeatures(zvu::zvuLineSegmentd(p, target), features, closest);
            }
            found = haveClosest && search(closest);
        }
        if (!found || !std::isfinite(point.x + point.y + point.z)) {
            return false;
        }
        temporary.motion().setPosition(temporary.position() + (point - p));
        shape.getAttributes().set<bool>(QM_PROXY_IS_TOUCHING, true);
        shape.getAttributes().set<QMenum>(QM_TOUCHED_FACE, touched);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace QM
