// Snapshots of device and proxy state with the matrices that convert them
// to model coordinates.
#pragma once

#include <memory>

#include "qm/state/AttributeMap.h"
#include "zvu/Matrix.h"

namespace QM {

// A cache handed to callbacks: state values in workspace coordinates and the
// two matrices of the context's transform chain at the time of the snapshot.
class IStateCache {
public:
    virtual ~IStateCache() = default;
    virtual const IAttributeMap& getValues() const = 0;
    virtual IAttributeMap& getValues() = 0;
    virtual const zvu::zvuMatrix& getWorkspaceToModel() const = 0;
    virtual const zvu::zvuMatrix& getModelToWorkspace() const = 0;
    virtual void setWorkspaceToModel(const zvu::zvuMatrix& m) = 0;
    virtual void setModelToWorkspace(const zvu::zvuMatrix& m) = 0;
};

// Owns its values: the published keys are declared, unset, at creation.
class StateCache final : public IStateCache {
public:
    StateCache();
    StateCache(const StateCache&) = delete;
    StateCache& operator=(const StateCache&) = delete;

    const IAttributeMap& getValues() const override { return values_; }
    IAttributeMap& getValues() override { return values_; }
    const zvu::zvuMatrix& getWorkspaceToModel() const override { return workspaceToModel_; }
    const zvu::zvuMatrix& getModelToWorkspace() const override { return modelToWorkspace_; }
    void setWorkspaceToModel(const zvu::zvuMatrix& m) override { workspaceToModel_ = m; }
    void setModelToWorkspace(const zvu::zvuMatrix& m) override { modelToWorkspace_ = m; }

    // A new cache with the same keys, copies of the values that are set, and
    // copies of the matrices (event snapshots).
    std::unique_ptr<StateCache> clone() const;
    // Copies into this cache every value that is set in `source` (values
    // that were never published stay as they are) and the matrices.
    void copyFrom(const IStateCache& source);

private:
    AttributeMap values_;
    zvu::zvuMatrix workspaceToModel_;
    zvu::zvuMatrix modelToWorkspace_;
};

// The same interface over a borrowed map and two matrices of its own (the
// effects hand one to their callbacks on the servo thread).
class StateCacheWrapper final : public IStateCache {
public:
    explicit StateCacheWrapper(IAttributeMap& values) : values_(values) {}

    const IAttributeMap& getValues() const override { return values_; }
    IAttributeMap& getValues() override { return values_; }
    const zvu::zvuMatrix& getWorkspaceToModel() const override { return workspaceToModel_; }
    const zvu::zvuMatrix& getModelToWorkspace() const override { return modelToWorkspace_; }
    void setWorkspaceToModel(const zvu::zvuMatrix& m) override { workspaceToModel_ = m; }
    void setModelToWorkspace(const zvu::zvuMatrix& m) override { modelToWorkspace_ = m; }

private:
    IAttributeMap& values_;
    zvu::zvuMatrix workspaceToModel_;
    zvu::zvuMatrix modelToWorkspace_;
};

// The keys published into caches and into the context's state, in the order
// they are published.
const QMenum* publishedStateKeys(int& count);

// Copies every key of `keys` that is set in `source` into `target` (to the
// map that declares it there); unset values are skipped, so they never mark
// the target as set. Returns how many were copied.
int copySetValues(IAttributeMap& target, const IAttributeMap& source, const QMenum* keys, int count);

}  // namespace QM
