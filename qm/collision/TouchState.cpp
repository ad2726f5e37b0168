#include "qm/collision/TouchState.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "qm/api/Symbols.h"
#include "qm/shapes/GoldenBoundsBox.h"

namespace QM {

namespace {

using zvu::zvuVector3Dd;

constexpr double kTiny = 1e-10;
// Matrix elements that differ by no more than this have not moved.
constexpr double kMoved = 1e-10;

bool isSymbol(QMenum a, QMenum b) { return a != nullptr && a == b; }

bool moved(const IShape& before, const IShape& after) {
    double a[16];
    double b[16];
    const bool hasA = before.getAttributes().getArray<double>(QM_INT_SHAPEWORKSPACE_MATRIX, a);
    const bool hasB = after.getAttributes().getArray<double>(QM_INT_SHAPEWORKSPACE_MATRIX, b);
    if (!hasA || !hasB) {
        return false;
    }
    for (int i = 0; i < 16; ++i) {
        if (!(std::fabs(a[i] - b[i]) <= kMoved)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<unsigned> sourceShapeId(const ILocalFeature& feature) {
    std::int32_t id = 0;
    if (!feature.getAttributes().get<std::int32_t>(QM_INT_SOURCE_SHAPE_ID, id)) {
        return std::nullopt;
    }
    return static_cast<unsigned>(id);
}

std::vector<TouchChange> TouchState::update(const ShapeMap& shapes, const ICollisionSet& collisions) {
    std::vector<unsigned> now;
    for (const LocalIntersectionInfo& record : collisions) {
        if (record.feature == nullptr) {
            continue;
        }
        if (const std::optional<unsigned> id = sourceShapeId(*record.feature)) {
            now.push_back(*id);
        }
    }
    std::sort(now.begin(), now.end());
    now.erase(std::unique(now.begin(), now.end()), now.end());

    std::vector<unsigned> changed;
    std::set_symmetric_difference(touched_.begin(), touched_.end(), now.begin(), now.end(),
                                  std::back_inserter(changed));
    std::vector<TouchChange> changes;
    changes.reserve(changed.size());
    for (const unsigned id : changed) {
        const bool touchedNow = std::binary_search(now.begin(), now.end(), id);
        if (IShape* shape = shapes.find(id)) {
            shape->getAttributes().set<bool>(QM_PROXY_IS_TOUCHING, touchedNow);
        }
        changes.push_back({id, touchedNow});
    }
    touched_ = std::move(now);
    return changes;
}

zvuVector3Dd TouchState::reactionForce(unsigned shapeId, const zvuVector3Dd& force, const zvuVector3Dd& device,
                                       const zvuVector3Dd& proxy, const ICollisionSet& collisions) noexcept {
    zvuVector3Dd normals[2];
    int k = 0;
    for (const LocalIntersectionInfo& record : collisions) {
        if (record.feature == nullptr || sourceShapeId(*record.feature) != shapeId) {
            continue;
        }
        if (k < 2) {
            normals[k] = record.normal;
        }
        ++k;
    }
    if (k == 0) {
        return {};
    }
    if (k >= 3) {
        return force;
    }
    const zvuVector3Dd d = proxy - device;
    const double dd = d.lengthSquared();
    const zvuVector3Dd along = dd < kTiny ? zvuVector3Dd{} : d * (force.dot(d) / dd);
    const zvuVector3Dd across = force - along;
    if (k == 1) {
        return normals[0] * normals[0].dot(along) + across;
    }
    const zvuVector3Dd edge = normals[0].cross(normals[1]);
    if (!(edge.length() > kTiny)) {
        return along + across;
    }
    const zvuVector3Dd l = edge.normalized();
    return along - l * l.dot(along) + across;
}

void TouchState::storeReactionForces(const ShapeMap& shapes, const zvuVector3Dd& force, const zvuVector3Dd& device,
                                     const IProxy& proxy) {
    const zvuVector3Dd proxyPosition = proxy.motionTransform(2)->position();
    for (auto it = shapes.iterator(); !it->atEnd(); it->advance()) {
        IShape* shape = shapes.find(it->current());
        if (shape == nullptr) {
            continue;
        }
        const zvuVector3Dd f = reactionForce(shape->getId(), force, device, proxyPosition, proxy.collisionSet());
        const double values[3] = {f.x, f.y, f.z};
        shape->getAttributes().setArray<double>(QM_REACTION_FORCE, values);
    }
}

CarriedContacts carryContacts(const ShapeMap& previous, const ShapeMap& current, IProxy& collisionProxy,
                              const ITarget& device, LocalFeatureDetector& detector, TouchState& touch) {
    CarriedContacts result;
    const MotionTransform before = *collisionProxy.motionTransform(0);
    HapticDeviceTarget temporary;
    temporary.place(before.position(), before.rotation());

    bool followed = false;
    try {
        for (auto it = current.iterator(); !it->atEnd(); it->advance()) {
            const unsigned id = it->current();
            IShape* now = current.find(id);
            IShape* old = previous.find(id);
            if (now == nullptr || old == nullptr) {
                continue;
            }
            if (now != old) {
                QMenum touchable = QM_FRONT;
                QMenum touchedFace = QM_FRONT;
                bool touching = false;
                now->getAttributes().get<QMenum>(QM_TOUCHABLE_FACE, touchable);
                old->getAttributes().get<QMenum>(QM_TOUCHED_FACE, touchedFace);
                old->getAttributes().get<bool>(QM_PROXY_IS_TOUCHING, touching);
                if (isSymbol(touchable, touchedFace) || isSymbol(touchable, QM_FRONT_AND_BACK)) {
                    now->getAttributes().set<bool>(QM_PROXY_IS_TOUCHING, touching);
                    now->getAttributes().set<QMenum>(QM_TOUCHED_FACE, touchedFace);
                } else {
                    now->getAttributes().set<bool>(QM_PROXY_IS_TOUCHING, false);
                }
            }
            bool dynamic = false;
            now->getAttributes().get<bool>(QM_SHAPE_DYNAMIC_SURFACE_CHANGE, dynamic);
            if (moved(*old, *now) || dynamic) {
                // The golden bounds box moves with the proxy every frame:
                // the proxy stays with it only while it is still on its way
                // back to where it was, never because the device lies
                // beyond the moved box. A depth-buffer shape is a new
                // picture of the surface: when the proxy cannot simply be
                // carried along with it, the contact is looked for again on
                // the new picture.
                const bool checkDevice = !GoldenBoundsBox::isGoldenBox(*now);
                const bool carried =
                    detector.followMovingShape(*now, *old, device, collisionProxy, temporary, checkDevice) ||
                    (isSymbol(now->getType(), QM_SHAPE_DEPTH_BUFFER) &&
                     detector.reFindContact(*now, device, collisionProxy, temporary));
                followed = carried || followed;
            }
        }
        if (!followed) {
            return result;
        }
        detector.placeProxyAtClosestTouchedPoint(current, temporary, collisionProxy);
        result.ok = detector.detect(current, device, collisionProxy);
        result.touchChanges = touch.update(current, collisionProxy.collisionSet());
    } catch (...) {
        result.ok = false;
    }
    if (followed) {
        const MotionTransform& after = *collisionProxy.motionTransform(0);
        result.move = DynamicMove{after.position() - before.position(),
                                  (after.rotation() * before.rotation().conjugate()).normalized()};
    }
    return result;
}

}  // namespace QM
