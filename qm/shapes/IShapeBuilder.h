// Shape builders and the registry that picks one by shape type.
#pragma once

#include <map>
#include <memory>

#include "qm/qm.h"

namespace QM {

class IShape;
class IState;

// Captures one shape at a time, between qmBeginShape and qmEndShape. One
// builder per shape type and context is re-used for every shape of its type.
class IShapeBuilder {
public:
    virtual ~IShapeBuilder() = default;
    virtual void begin(unsigned id, IState& state) = 0;
    // The new shape, not yet referenced; null when it could not be made.
    virtual IShape* end(IState& state) = 0;
    virtual unsigned getId() const = 0;
};

class IShapeBuilderRegistry {
public:
    virtual ~IShapeBuilderRegistry() = default;
    // Registers a builder for a type, replacing (and destroying) an earlier
    // one.
    virtual void registerBuilder(QMenum type, std::unique_ptr<IShapeBuilder> builder) = 0;
    virtual void unregisterBuilder(QMenum type) = 0;
    // The builder of a type, or null.
    virtual IShapeBuilder* findBuilder(QMenum type) const = 0;
    virtual bool isRegistered(QMenum type) const = 0;
};

// Types are compared by identity; destroying the registry destroys its
// builders.
class ShapeBuilderRegistry final : public IShapeBuilderRegistry {
public:
    void registerBuilder(QMenum type, std::unique_ptr<IShapeBuilder> builder) override;
    void unregisterBuilder(QMenum type) override { builders_.erase(type); }
    IShapeBuilder* findBuilder(QMenum type) const override;
    bool isRegistered(QMenum type) const override { return findBuilder(type) != nullptr; }

private:
    std::map<QMenum, std::unique_ptr<IShapeBuilder>> builders_;
};

}  // namespace QM
