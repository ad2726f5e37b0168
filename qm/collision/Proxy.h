// The proxy: the point that stays on the surfaces while the device sinks
// into them.
//
// Every servo tick the proxy moves from where it was toward the device,
// stopped by up to three contact planes at once, then snaps onto the
// constraint features (planes, then lines, then points). The collisions it
// ends on drive the touch state, the touch normal and the reaction force.
//
// A proxy is used by one thread at a time: the pipeline's proxies by the
// servo thread, the collision proxy by the collision thread. update() runs
// on the servo thread: it is noexcept and allocates nothing (the collision
// set has a fixed capacity).
#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "qm/collision/LocalFeature.h"
#include "qm/servo/MotionTransform.h"
#include "qm/state/AttributeMap.h"

namespace QM {

// The collisions one proxy update ended on, copied by value.
class ICollisionSet {
public:
    virtual ~ICollisionSet() = default;
    virtual std::size_t count() const noexcept = 0;
    virtual const LocalIntersectionInfo& at(std::size_t i) const noexcept = 0;
    const LocalIntersectionInfo* begin() const noexcept { return count() == 0 ? nullptr : &at(0); }
    const LocalIntersectionInfo* end() const noexcept { return begin() + count(); }
    // The normalised sum of the records' normals; (0, 0, 1) when there is no
    // record or the normals cancel out.
    virtual zvu::zvuVector3Dd touchNormal() const noexcept = 0;
};

class CollisionSet final : public ICollisionSet {
public:
    // One update records at most three contacts, three more in the plane
    // pass of the constraint snap, one line and one point; the rest is
    // headroom.
    static constexpr std::size_t kCapacity = 16;

    std::size_t count() const noexcept override { return count_; }
    const LocalIntersectionInfo& at(std::size_t i) const noexcept override { return records_[i]; }
    zvu::zvuVector3Dd touchNormal() const noexcept override;

    // Appends a copy; false (nothing recorded) when the set is full.
    bool add(const LocalIntersectionInfo& record) noexcept;
    void clear() noexcept { count_ = 0; }
    // Drops the records for which `drop(record)` is true, keeping the order
    // of the others.
    template <typename Predicate>
    void removeIf(Predicate&& drop) noexcept {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < count_; ++i) {
            if (!drop(records_[i])) {
                records_[kept++] = records_[i];
            }
        }
        count_ = kept;
    }

private:
    std::array<LocalIntersectionInfo, kCapacity> records_{};
    std::size_t count_ = 0;
};

class IProxy {
public:
    virtual ~IProxy() = default;

    // 0 for a point proxy.
    virtual int kind() const noexcept = 0;
    // Moves the proxy toward the target (see PointProxy).
    virtual void update(const ITarget& target,
                        const std::optional<zvu::zvuVector3Dd>& overridePosition = std::nullopt) noexcept = 0;
    // The last update ended on at least one collision.
    virtual bool isTouching() const noexcept = 0;
    // Transform i (0 contact, 1 constrained, 2 proxy, 3 rendered); null for
    // any other i.
    virtual const MotionTransform* motionTransform(int i) const noexcept = 0;
    virtual MotionTransform* motionTransform(int i) noexcept = 0;
    virtual const LocalFeatureSet& contactSet() const noexcept = 0;
    virtual LocalFeatureSet& contactSet() noexcept = 0;
    virtual const LocalFeatureSet& constraintSet() const noexcept = 0;
    virtual LocalFeatureSet& constraintSet() noexcept = 0;
    virtual const ICollisionSet& collisionSet() const noexcept = 0;
    // The same for the collision side, which trims the records.
    virtual CollisionSet& collisions() noexcept = 0;
    // Exchanges the feature and collision sets with another point proxy (no
    // effect for another kind).
    virtual void swapSets(IProxy& other) noexcept = 0;
    // Destroys the features of both sets and empties the collision set.
    virtual void clear() noexcept = 0;
    // From transform i's position to the target's position (a degenerate
    // segment at the target for an index outside 0..3).
    virtual zvu::zvuLineSegmentd segment(int i, const ITarget& target) const noexcept = 0;
    // Copies transforms 0, 1 and 2 (not the rendered one) of `other`.
    virtual void copyTransforms(const IProxy& other) noexcept = 0;
    virtual bool isInitialised() const noexcept = 0;
    // Marks the proxy initialised and puts all four transforms at the
    // target's motion state.
    virtual void initialise(const ITarget& target) noexcept = 0;
    // Clears the flag, then clears the proxy.
    virtual void uninitialise() noexcept = 0;
    // The per-proxy control parameters: QM_PROXY_RESOLUTION (bool, default
    // true) and the shaders' values.
    virtual const AttributeMap& controlParameters() const noexcept = 0;
    virtual AttributeMap& controlParameters() noexcept = 0;
};

// A proxy that is a single point.
//
// update(target, override):
//  1. contact pass: from transform 0 toward the target, solved against the
//     contact set (at most three planes; the result lies on all of them:
//     a plane, an edge or a corner);
//  2. an override position, when given, replaces the contact result (the
//     collision step passes the goal of its sweep);
//  3. constraint snap: from transform 1 to the contact result, onto the
//     nearest plane, then line, then point constraint, a later dimension
//     overriding an earlier one;
//  4. collisions of features that do not report collisions are dropped;
//  5. with proxy resolution on, transform 0 takes the contact result and
//     transforms 1 to 3 the snapped one, all with the target's rotation;
//     with it off the proxy stays where the application put it (transform
//     2), and transforms 0, 1 and 3 follow transform 2.
// A target with a non-finite position leaves the proxy where it is.
class PointProxy final : public IProxy {
public:
    PointProxy();

    int kind() const noexcept override { return 0; }
    void update(const ITarget& target,
                const std::optional<zvu::zvuVector3Dd>& overridePosition = std::nullopt) noexcept override;
    bool isTouching() const noexcept override { return collisions_.count() != 0; }
    const MotionTransform* motionTransform(int i) const noexcept override;
    MotionTransform* motionTransform(int i) noexcept override;
    const LocalFeatureSet& contactSet() const noexcept override { return contacts_; }
    LocalFeatureSet& contactSet() noexcept override { return contacts_; }
    const LocalFeatureSet& constraintSet() const noexcept override { return constraints_; }
    LocalFeatureSet& constraintSet() noexcept override { return constraints_; }
    const ICollisionSet& collisionSet() const noexcept override { return collisions_; }
    CollisionSet& collisions() noexcept override { return collisions_; }
    void swapSets(IProxy& other) noexcept override;
    void clear() noexcept override;
    zvu::zvuLineSegmentd segment(int i, const ITarget& target) const noexcept override;
    void copyTransforms(const IProxy& other) noexcept override;
    bool isInitialised() const noexcept override { return initialised_; }
    void initialise(const ITarget& target) noexcept override;
    void uninitialise() noexcept override;
    const AttributeMap& controlParameters() const noexcept override { return controls_; }
    AttributeMap& controlParameters() noexcept override { return controls_; }

    // The contact solve on its own: from `start` toward `goal` against the
    // features of `features` (only those of dimension `dimension`, or all
    // with -1), recording up to three collisions. Returns the constrained
    // goal.
    static zvu::zvuVector3Dd solveContacts(const LocalFeatureSet& features, const zvu::zvuVector3Dd& start,
                                           const zvu::zvuVector3Dd& goal, CollisionSet& collisions,
                                           int dimension = -1) noexcept;
    // The constraint snap on its own: from `start` (the last constrained
    // position) toward `goal`.
    static zvu::zvuVector3Dd snapToConstraints(const LocalFeatureSet& features, const zvu::zvuVector3Dd& start,
                                               const zvu::zvuVector3Dd& goal, CollisionSet& collisions) noexcept;

private:
    std::array<MotionTransform, 4> transforms_{};
    AttributeMap controls_;
    LocalFeatureSet contacts_;
    LocalFeatureSet constraints_;
    CollisionSet collisions_;
    bool initialised_ = false;
};

}  // namespace QM
