// The attribute state of a rendering context.
#pragma once

#include <map>
#include <memory>

#include "common/Lock.h"
#include "qm/state/AttributeMap.h"
#include "qm/state/TransformManager.h"

namespace QM {

class IState {
public:
    virtual ~IState() = default;
    virtual const IStackedAttributeMap& getAttributes() const = 0;
    virtual IStackedAttributeMap& getAttributes() = 0;
    virtual void pushAttributes(std::unique_ptr<AttributeMap> map) = 0;
    // False when nothing was pushed.
    virtual bool popAttributes() = 0;
    // The per-shape result map of an identifier, or null.
    virtual const AttributeMap* findResultMap(unsigned id) const = 0;
    virtual AttributeMap* findResultMap(unsigned id) = 0;
    // The identifier's result map, created when missing with
    // QM_PROXY_IS_TOUCHING false and QM_REACTION_FORCE (0, 0, 0).
    virtual AttributeMap& resultMapFor(unsigned id) = 0;
    virtual void eraseResultMap(unsigned id) = 0;
    virtual const ITransformManager& getTransforms() const = 0;
    virtual ITransformManager& getTransforms() = 0;
    // Guards the attribute stack, the transforms (whose getters recompute
    // cached matrices) and the result maps; see docs/threading.md.
    virtual sched::Lock& getLock() const = 0;
};

// Created with every default: the shape, effect, view and state groups are
// declared with their default values in the base map of the attribute stack.
class State final : public IState {
public:
    State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    const IStackedAttributeMap& getAttributes() const override { return attributes_; }
    IStackedAttributeMap& getAttributes() override { return attributes_; }
    void pushAttributes(std::unique_ptr<AttributeMap> map) override { attributes_.push(std::move(map)); }
    bool popAttributes() override { return attributes_.pop(); }
    const AttributeMap* findResultMap(unsigned id) const override;
    AttributeMap* findResultMap(unsigned id) override;
    AttributeMap& resultMapFor(unsigned id) override;
    void eraseResultMap(unsigned id) override { resultMaps_.erase(id); }
    const ITransformManager& getTransforms() const override { return transforms_; }
    ITransformManager& getTransforms() override { return transforms_; }
    sched::Lock& getLock() const override { return lock_; }

private:
    mutable sched::CriticalSectionLock lock_;
    StackedAttributeMap attributes_;
    TransformManager transforms_;
    std::map<unsigned, std::unique_ptr<AttributeMap>> resultMaps_;
};

}  // namespace QM
