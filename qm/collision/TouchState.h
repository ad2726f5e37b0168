// Touch bookkeeping on the collision side: which shapes the proxy touches,
// what changed since the last step, the reaction force each touched shape
// takes, and carrying contacts over when a new frame replaces the scene.
//
// Collision thread (or the client thread inside qmEndFrame), under the
// renderer lock, which the caller holds. Nothing here raises events or
// calls the application: the changes are returned for the caller to
// report.
#pragma once

#include <optional>
#include <vector>

#include "qm/collision/LocalFeatureDetector.h"
#include "qm/collision/Proxy.h"
#include "qm/servo/MotionTransform.h"
#include "qm/shapes/Scene.h"
#include "zvu/Quaternion.h"

namespace QM {

// A shape that became touched or stopped being touched.
struct TouchChange {
    unsigned shapeId;
    bool touched;

    bool operator==(const TouchChange&) const = default;
};

// How far the proxy was carried by the shapes that moved under it.
struct DynamicMove {
    zvu::zvuVector3Dd translation{};
    zvu::zvuQuaternion rotation{};
};

// The identifier of the shape a feature was made from, when it has one.
std::optional<unsigned> sourceShapeId(const ILocalFeature& feature);

class TouchState {
public:
    // Compares the shapes touched by the collision records now (by their
    // features' source shape) with those of the last call: every shape that
    // changed gets its QM_PROXY_IS_TOUCHING set (when it is in `shapes`),
    // and the changes come back in increasing identifier order. What is
    // touched now becomes the reference for the next call.
    std::vector<TouchChange> update(const ShapeMap& shapes, const ICollisionSet& collisions);

    // The shapes touched as of the last update, in increasing order.
    const std::vector<unsigned>& touched() const noexcept { return touched_; }
    // Forgets every touch (the next update reports all touches as new).
    void reset() noexcept { touched_.clear(); }

    // The part of the device's last force `force` that the shape takes,
    // with d = proxy - device, Fa = the component of the force along d
    // (zero when |d|^2 < 1e-10) and Fp = the rest, and the normals n of the
    // records whose feature comes from the shape (k of them):
    //   k = 0: 0;  k = 1: (n . Fa) n + Fp;
    //   k = 2: Fa - l (l . Fa) + Fp, l the unit edge direction n1 x n2
    //          (Fa with its part along the edge removed; Fa when the
    //          normals are parallel);
    //   k >= 3: the whole force.
    static zvu::zvuVector3Dd reactionForce(unsigned shapeId, const zvu::zvuVector3Dd& force,
                                           const zvu::zvuVector3Dd& device, const zvu::zvuVector3Dd& proxy,
                                           const ICollisionSet& collisions) noexcept;
    // Stores reactionForce() as QM_REACTION_FORCE in every shape of the
    // scene, the proxy position being the proxy's transform 2.
    static void storeReactionForces(const ShapeMap& shapes, const zvu::zvuVector3Dd& force,
                                    const zvu::zvuVector3Dd& device, const IProxy& proxy);

private:
    std::vector<unsigned> touched_;
};

// What carrying contacts over to a new scene did.
struct CarriedContacts {
    // Set when a shape moved under the proxy and the proxy followed it: to
    // be applied once to the servo side's proxy at the next exchange.
    std::optional<DynamicMove> move;
    // Touch changes found by the new detection, for the caller to report
    // on the collision thread.
    std::vector<TouchChange> touchChanges;
    // False when a shape's query threw during the new detection.
    bool ok = true;
};

// At the end of a frame, with proxy resolution on and a previous scene:
//  1. every shape present in both scenes takes over the old one's touch
//     state when its touchable face allows it (the same face as the one
//     touched, or both), else it is not touching;
//  2. a shape whose shape-to-workspace matrix changed by more than 1e-10 in
//     any element, or that declares a dynamic surface, is followed by the
//     collision proxy; a depth-buffer shape that cannot be followed has its
//     contact found again on its new surface;
//  3. when one was followed, the proxy is placed at the closest touched
//     point, the features are detected anew and the touch state is
//     brought up to date; the change of the proxy's contact pose is the
//     dynamic move.
CarriedContacts carryContacts(const ShapeMap& previous, const ShapeMap& current, IProxy& collisionProxy,
                              const ITarget& device, LocalFeatureDetector& detector, TouchState& touch);

}  // namespace QM
