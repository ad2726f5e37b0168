// Local features: the points, segments and planes near the proxy that a
// shape reports for collision detection, each with a snapshot of the touched
// shape's material in its attribute map.
//
// The geometric queries (intersect, closest point, penetration test) run on
// the servo thread every tick: they are noexcept and allocate nothing.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "qm/state/AttributeMap.h"
#include "zvu/Line.h"
#include "zvu/Matrix.h"
#include "zvu/Plane.h"
#include "zvu/Vector3D.h"

namespace QM {

class ILocalFeature;

// One meeting of a directed motion segment with a feature.
struct LocalIntersectionInfo {
    // The feature met (not owned).
    const ILocalFeature* feature = nullptr;
    // 1: met by the front of a plane, or a point or line; 2: the back of a
    // plane.
    int side = 1;
    // Parameter along the segment, 0 at its start, 1 at its end.
    double t = 0.0;
    zvu::zvuVector3Dd point{};
    // Unit; points back against the motion, or out of the touched side of a
    // plane.
    zvu::zvuVector3Dd normal{0.0, 0.0, 1.0};

    const ILocalFeature* getFeature() const noexcept { return feature; }
    const zvu::zvuVector3Dd& getPoint() const noexcept { return point; }
    const zvu::zvuVector3Dd& getNormal() const noexcept { return normal; }
};

class ILocalFeature {
public:
    virtual ~ILocalFeature() = default;
    // 0 for a point, 1 for a segment, 2 for a plane.
    virtual int dimension() const noexcept = 0;
    // Whether the segment passes the feature (within 0.001 for points and
    // lines; a crossing of either side for a plane); fills `hit` when it
    // does.
    virtual bool intersect(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept = 0;
    // The feature's point nearest to `point` (workspace coordinates).
    virtual zvu::zvuVector3Dd closestPoint(const zvu::zvuVector3Dd& point) const noexcept = 0;
    // Like intersect, except that a plane counts only when the segment ends
    // behind it and is then always reported as met from the front: a plane
    // is a one-sided wall for the proxy.
    virtual bool penetrationTest(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept = 0;
    virtual const AttributeMap& getAttributes() const noexcept = 0;
    virtual AttributeMap& getAttributes() noexcept = 0;
};

class LocalFeaturePoint final : public ILocalFeature {
public:
    explicit LocalFeaturePoint(const zvu::zvuVector3Dd& point) : point_(point) {}
    int dimension() const noexcept override { return 0; }
    bool intersect(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept override;
    zvu::zvuVector3Dd closestPoint(const zvu::zvuVector3Dd&) const noexcept override { return point_; }
    bool penetrationTest(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept override {
        return intersect(segment, hit);
    }
    const AttributeMap& getAttributes() const noexcept override { return attributes_; }
    AttributeMap& getAttributes() noexcept override { return attributes_; }
    const zvu::zvuVector3Dd& point() const noexcept { return point_; }

private:
    zvu::zvuVector3Dd point_;
    AttributeMap attributes_;
};

class LocalFeatureLine final : public ILocalFeature {
public:
    explicit LocalFeatureLine(const zvu::zvuLineSegmentd& segment) : segment_(segment) {}
    int dimension() const noexcept override { return 1; }
    bool intersect(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept override;
    zvu::zvuVector3Dd closestPoint(const zvu::zvuVector3Dd& point) const noexcept override {
        return segment_.pointAtClamped(segment_.closestParameter(point));
    }
    bool penetrationTest(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept override {
        return intersect(segment, hit);
    }
    const AttributeMap& getAttributes() const noexcept override { return attributes_; }
    AttributeMap& getAttributes() noexcept override { return attributes_; }
    const zvu::zvuLineSegmentd& segment() const noexcept { return segment_; }

private:
    zvu::zvuLineSegmentd segment_;
    AttributeMap attributes_;
};

class LocalFeaturePlane final : public ILocalFeature {
public:
    explicit LocalFeaturePlane(const zvu::zvuPlane<double>& plane) : plane_(plane) {}
    int dimension() const noexcept override { return 2; }
    bool intersect(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept override;
    zvu::zvuVector3Dd closestPoint(const zvu::zvuVector3Dd& point) const noexcept override {
        return plane_.project(point);
    }
    bool penetrationTest(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept override;
    const AttributeMap& getAttributes() const noexcept override { return attributes_; }
    AttributeMap& getAttributes() noexcept override { return attributes_; }
    const zvu::zvuPlane<double>& plane() const noexcept { return plane_; }

private:
    zvu::zvuPlane<double> plane_;
    AttributeMap attributes_;
};

// An owning set of features in the order they were inserted, which is the
// order the shapes found them in (stream order within a shape): never the
// order of their addresses, so that results repeat from run to run. Every
// tie in the queries below goes to the feature inserted first.
//
// The queries allocate nothing (servo thread); insert, erase and takeAll
// belong to the collision thread.
class LocalFeatureSet {
public:
    using Storage = std::vector<std::unique_ptr<ILocalFeature>>;

    LocalFeatureSet() = default;
    LocalFeatureSet(const LocalFeatureSet&) = delete;
    LocalFeatureSet& operator=(const LocalFeatureSet&) = delete;

    // Takes the feature over; null is ignored. Returns the feature.
    ILocalFeature* insert(std::unique_ptr<ILocalFeature> feature);
    // Destroys the feature if it belongs to the set; false otherwise.
    bool erase(const ILocalFeature* feature) noexcept;
    // Destroys every feature for which `drop(feature)` is true, keeping the
    // order of the others.
    template <typename Predicate>
    void eraseIf(Predicate&& drop) {
        std::erase_if(features_, [&](const std::unique_ptr<ILocalFeature>& f) { return drop(*f); });
    }
    void clear() noexcept { features_.clear(); }
    std::size_t size() const noexcept { return features_.size(); }
    bool empty() const noexcept { return features_.empty(); }
    const ILocalFeature& at(std::size_t i) const noexcept { return *features_[i]; }
    ILocalFeature& at(std::size_t i) noexcept { return *features_[i]; }
    Storage::const_iterator begin() const noexcept { return features_.begin(); }
    Storage::const_iterator end() const noexcept { return features_.end(); }
    // Moves every feature of `other` to the end of this set.
    void takeAll(LocalFeatureSet& other);
    // Hands every feature over to the caller, leaving the set empty.
    Storage takeFeatures() noexcept { return std::exchange(features_, Storage{}); }
    // Exchanges the contents (no allocation).
    void swap(LocalFeatureSet& other) noexcept { features_.swap(other.features_); }

    // The intersection with the smallest t over all features; false when no
    // feature is met.
    bool firstIntersection(const zvu::zvuLineSegmentd& segment, LocalIntersectionInfo& hit) const noexcept;
    // The feature (of the given dimension, or of any with -1) whose closest
    // point to `point` is nearest; null when there is none.
    const ILocalFeature* closestFeature(const zvu::zvuVector3Dd& point, int dimension = -1) const noexcept;
    // The closest feature's closest point; false for an empty set.
    bool closestPoint(const zvu::zvuVector3Dd& point, zvu::zvuVector3Dd& closest) const noexcept;

private:
    Storage features_;
};

// The handle a shape's closest-features query adds to: it maps what it is
// given from the shape's coordinates into the workspace and inserts the
// feature into the destination set.
class ShapeFeatureSet {
public:
    ShapeFeatureSet(const zvu::zvuMatrix& shapeToWorkspace, LocalFeatureSet& destination) noexcept;

    ILocalFeature* addPoint(const zvu::zvuVector3Dd& point);
    ILocalFeature* addLine(const zvu::zvuVector3Dd& start, const zvu::zvuVector3Dd& end);
    // A plane through `point` with the given normal (need not be unit). The
    // normal is mapped by the inverse transpose, so that it stays
    // perpendicular to the plane under a non-uniform scale; a zero normal
    // (or one that maps to zero) adds nothing and returns null.
    ILocalFeature* addPlane(const zvu::zvuVector3Dd& normal, const zvu::zvuVector3Dd& point);

    LocalFeatureSet& destination() noexcept { return destination_; }

private:
    zvu::zvuMatrix shapeToWorkspace_;
    zvu::zvuMatrix normalMatrix_;
    LocalFeatureSet& destination_;
};

}  // namespace QM
