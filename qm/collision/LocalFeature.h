// Local features: the points, segments and planes near the proxy that a
// shape reports for collision detection, each with a snapshot of the touched
// shape's material in its attribute map.
#pragma once

#include <memory>
#include <vector>

#include "qm/state/AttributeMap.h"
#include "zvu/Line.h"
#include "zvu/Plane.h"
#include "zvu/Vector3D.h"

namespace QM {

class ILocalFeature {
public:
    virtual ~ILocalFeature() = default;
    // 0 for a point, 1 for a segment, 2 for a plane.
    virtual int dimension() const = 0;
    // The feature's point nearest to `point` (workspace coordinates).
    virtual zvu::zvuVector3Dd closestPoint(const zvu::zvuVector3Dd& point) const = 0;
    virtual const AttributeMap& getAttributes() const = 0;
    virtual AttributeMap& getAttributes() = 0;
};

class LocalFeaturePoint final : public ILocalFeature {
public:
    explicit LocalFeaturePoint(const zvu::zvuVector3Dd& point) : point_(point) {}
    int dimension() const override { return 0; }
    zvu::zvuVector3Dd closestPoint(const zvu::zvuVector3Dd&) const override { return point_; }
    const AttributeMap& getAttributes() const override { return attributes_; }
    AttributeMap& getAttributes() override { return attributes_; }
    const zvu::zvuVector3Dd& point() const { return point_; }

private:
    zvu::zvuVector3Dd point_;
    AttributeMap attributes_;
};

class LocalFeatureLine final : public ILocalFeature {
public:
    explicit LocalFeatureLine(const zvu::zvuLineSegmentd& segment) : segment_(segment) {}
    int dimension() const override { return 1; }
    zvu::zvuVector3Dd closestPoint(const zvu::zvuVector3Dd& point) const override
    {
        return segment_.pointAtClamped(segment_.closestParameter(point));
    }
    const AttributeMap& getAttributes() const override { return attributes_; }
    AttributeMap& getAttributes() override { return attributes_; }
    const zvu::zvuLineSegmentd& segment() const { return segment_; }

private:
    zvu::zvuLineSegmentd segment_;
    AttributeMap attributes_;
};

class LocalFeaturePlane final : public ILocalFeature {
public:
    explicit LocalFeaturePlane(const zvu::zvuPlane<double>& plane) : plane_(plane) {}
    int dimension() const override { return 2; }
    zvu::zvuVector3Dd closestPoint(const zvu::zvuVector3Dd& point) const override { return plane_.project(point); }
    const AttributeMap& getAttributes() const override { return attributes_; }
    AttributeMap& getAttributes() override { return attributes_; }
    const zvu::zvuPlane<double>& plane() const { return plane_; }

private:
    zvu::zvuPlane<double> plane_;
    AttributeMap attributes_;
};

// An owning set of features in the order they were inserted, which is the
// order the shapes found them in (stream order within a shape): never the
// order of their addresses, so that results repeat from run to run.
class LocalFeatureSet {
public:
    LocalFeatureSet() = default;
    LocalFeatureSet(const LocalFeatureSet&) = delete;
    LocalFeatureSet& operator=(const LocalFeatureSet&) = delete;

    void insert(std::unique_ptr<ILocalFeature> feature)
    {
        if (feature != nullptr) {
            features_.push_back(std::move(feature));
        }
    }
    void clear() { features_.clear(); }
    std::size_t size() const { return features_.size(); }
    bool empty() const { return features_.empty(); }
    const ILocalFeature& at(std::size_t i) const { return *features_[i]; }
    ILocalFeature& at(std::size_t i) { return *features_[i]; }
    // Moves every feature of `other` to the end of this set.
    void takeAll(LocalFeatureSet& other)
    {
        for (auto& feature : other.features_) {
            features_.push_back(std::move(feature));
        }
        other.features_.clear();
    }

private:
    std::vector<std::unique_ptr<ILocalFeature>> features_;
};

}  // namespace QM
