// Symbol-keyed stores of typed attributes.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <type_traits>

#include "qm/state/Attrib.h"
#include "qm/state/Iterator.h"

namespace QM {

class AttributeMap;

// The store interface. Keys are symbols compared by pointer. An attribute
// comes into being by a declaration (with its type, and for arrays its
// element count, fixed from then on) and goes with its map. A set or get
// fails, returning false and changing nothing, when the key is not declared
// or is declared with another type or another scalar/array form.
//
// The typed members are templates over the value type, which must be named
// explicitly (set<float>(key, 0.5f)); they route through the virtual core,
// where a plain map and a stacked map differ.
class IAttributeMap {
public:
    virtual ~IAttributeMap() = default;

    // The key is declared (set or not).
    virtual bool has(QMenum key) const = 0;
    // The key is declared and its value was stored.
    virtual bool isSet(QMenum key) const = 0;

    template <AttribScalar T>
    void declare(QMenum key) {
        declareAttrib(key, std::make_unique<Attrib<T>>());
    }
    template <AttribElement T>
    void declareArray(QMenum key, int count) {
        if (count > 0) {
            declareAttrib(key, std::make_unique<Attribv<T>>(count));
        }
    }
    template <AttribScalar T>
    bool set(QMenum key, std::type_identity_t<T> value) {
        IAttrib* attrib = attribForWrite(key);
        if (attrib == nullptr || attrib->kind() != scalarKind<T>()) {
            return false;
        }
        static_cast<Attrib<T>*>(attrib)->set(value);
        return true;
    }
    template <AttribScalar T>
    bool get(QMenum key, std::type_identity_t<T>& out) const {
        const IAttrib* attrib = attribForRead(key);
        if (attrib == nullptr || attrib->kind() != scalarKind<T>()) {
            return false;
        }
        out = static_cast<const Attrib<T>*>(attrib)->value();
        return true;
    }
    // Arrays take and fill `count` elements, the count of the declaration.
    template <AttribElement T>
    bool setArray(QMenum key, const std::type_identity_t<T>* values) {
        IAttrib* attrib = attribForWrite(key);
        if (attrib == nullptr || attrib->kind() != arrayKind<T>()) {
            return false;
        }
        static_cast<Attribv<T>*>(attrib)->set(values);
        return true;
    }
    template <AttribElement T>
    bool getArray(QMenum key, std::type_identity_t<T>* out) const {
        const IAttrib* attrib = attribForRead(key);
        if (attrib == nullptr || attrib->kind() != arrayKind<T>()) {
            return false;
        }
        static_cast<const Attribv<T>*>(attrib)->get(out);
        return true;
    }

    // Adds the attribute under the key unless the key is already declared
    // here (then nothing changes and false is returned).
    virtual bool declareAttrib(QMenum key, std::unique_ptr<IAttrib> attrib) = 0;
    // The attribute a set of the key writes to, or null.
    virtual IAttrib* attribForWrite(QMenum key) = 0;
    // The attribute a get of the key reads, or null.
    virtual const IAttrib* attribForRead(QMenum key) const = 0;

    // A new iterator over the declared keys in map order; null where the map
    // cannot enumerate its keys.
    virtual std::unique_ptr<IIterator<QMenum>> keys() const = 0;
    // The kind and count of the key's declaration.
    virtual std::optional<AttributeDescription> describe(QMenum key) const = 0;
    // Prints the key's value (see IAttrib::print); false when not declared.
    virtual bool printValue(QMenum key, std::ostream& out) const = 0;
    // Assigns the key's attribute here from `otherKey`'s attribute in the
    // map that holds it in `other` (IAttrib::assign rules).
    virtual bool copyFrom(QMenum key, const IAttributeMap& other, QMenum otherKey) = 0;
    virtual bool copyFrom(QMenum key, const IAttributeMap& other) = 0;
    // The concrete map that holds the key's value (a plain map answers
    // itself), or null.
    virtual const AttributeMap* mapFor(QMenum key) const = 0;
};

// A plain map. A get of a declared key that was never set fails, as in a
// stacked map: a value nobody stored is not a value (a zero rotation or
// matrix read as if it were one would be wrong).
class AttributeMap final : public IAttributeMap {
public:
    AttributeMap() = default;
    AttributeMap(const AttributeMap&) = delete;
    AttributeMap& operator=(const AttributeMap&) = delete;

    bool has(QMenum key) const override;
    bool isSet(QMenum key) const override;
    bool declareAttrib(QMenum key, std::unique_ptr<IAttrib> attrib) override;
    IAttrib* attribForWrite(QMenum key) override { return own(key); }
    const IAttrib* attribForRead(QMenum key) const override;
    std::unique_ptr<IIterator<QMenum>> keys() const override;
    std::optional<AttributeDescription> describe(QMenum key) const override;
    bool printValue(QMenum key, std::ostream& out) const override;
    bool copyFrom(QMenum key, const IAttributeMap& other, QMenum otherKey) override;
    bool copyFrom(QMenum key, const IAttributeMap& other) override { return copyFrom(key, other, key); }
    const AttributeMap* mapFor(QMenum) const override { return this; }

    // The attribute declared under the key in this map, or null.
    IAttrib* own(QMenum key);
    const IAttrib* own(QMenum key) const;
    std::size_t size() const { return attributes_.size(); }

private:
    std::map<QMenum, std::unique_ptr<IAttrib>> attributes_;
};

class IStackedAttributeMap : public IAttributeMap {
public:
    // Puts a map on top of the stack, taking it over.
    virtual void push(std::unique_ptr<AttributeMap> map) = 0;
    // Destroys the top map; false (nothing happens) when only the base map
    // is left.
    virtual bool pop() = 0;
    virtual std::size_t depth() const = 0;
};

// A stack of maps over a base map that is never removed. Routing:
//  - declarations go to the top map;
//  - a set goes to the topmost map that declares the key, set or not;
//  - a get (and isSet) reads the topmost map in which the key is declared
//    and set, and fails when none has it set;
//  - has is true when any map declares the key; describe, printValue and
//    copyFrom go to the topmost declaring map; mapFor answers the topmost map
//    in which the key is set; keys gives no iterator.
// So a pushed map in which some keys are declared but unset hides nothing
// from reads, yet captures every write to those keys, and popping it drops
// those writes and uncovers the values underneath.
class StackedAttributeMap final : public IStackedAttributeMap {
public:
    StackedAttributeMap();
    StackedAttributeMap(const StackedAttributeMap&) = delete;
    StackedAttributeMap& operator=(const StackedAttributeMap&) = delete;

    bool has(QMenum key) const override;
    bool isSet(QMenum key) const override;
    bool declareAttrib(QMenum key, std::unique_ptr<IAttrib> attrib) override;
    IAttrib* attribForWrite(QMenum key) override;
    const IAttrib* attribForRead(QMenum key) const override;
    std::unique_ptr<IIterator<QMenum>> keys() const override { return nullptr; }
    std::optional<AttributeDescription> describe(QMenum key) const override;
    bool printValue(QMenum key, std::ostream& out) const override;
    bool copyFrom(QMenum key, const IAttributeMap& other, QMenum otherKey) override;
    bool copyFrom(QMenum key, const IAttributeMap& other) override { return copyFrom(key, other, key); }
    const AttributeMap* mapFor(QMenum key) const override;

    void push(std::unique_ptr<AttributeMap> map) override;
    bool pop() override;
    std::size_t depth() const override { return maps_.size(); }

private:
    AttributeMap* topmostDeclaring(QMenum key) const;
    AttributeMap* topmostSet(QMenum key) const;

    // Front is the top.
    std::deque<std::unique_ptr<AttributeMap>> maps_;
};

// Declares in `map` an unset attribute like the described one.
bool declareLike(IAttributeMap& map, QMenum key, const AttributeDescription& description);

}  // namespace QM
