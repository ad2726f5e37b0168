// Typed attribute values.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "qm/qm.h"

namespace QM {

// Application callbacks of every signature are stored as this type; the code
// that calls one casts it back to its real signature.
using AttribCallback = void (*)();

// The value types an attribute can hold. Scalars of every type; arrays of
// int, float, double and bool.
enum class AttribKind {
    Int,
    Float,
    Double,
    Bool,
    Callback,
    Pointer,
    Symbol,
    IntArray,
    FloatArray,
    DoubleArray,
    BoolArray
};

template <typename T>
concept AttribScalar = std::is_same_v<T, std::int32_t> || std::is_same_v<T, float> || std::is_same_v<T, double> ||
    std::is_same_v<T, bool> || std::is_same_v<T, AttribCallback> || std::is_same_v<T, void*> ||
    std::is_same_v<T, QMenum>;

template <typename T>
concept AttribElement =
    std::is_same_v<T, std::int32_t> || std::is_same_v<T, float> || std::is_same_v<T, double> || std::is_same_v<T, bool>;

template <AttribScalar T>
constexpr AttribKind scalarKind() {
    if constexpr (std::is_same_v<T, std::int32_t>)
        return AttribKind::Int;
    else if constexpr (std::is_same_v<T, float>)
        return AttribKind::Float;
    else if constexpr (std::is_same_v<T, double>)
        return AttribKind::Double;
    else if constexpr (std::is_same_v<T, bool>)
        return AttribKind::Bool;
    else if constexpr (std::is_same_v<T, AttribCallback>)
        return AttribKind::Callback;
    else if constexpr (std::is_same_v<T, void*>)
        return AttribKind::Pointer;
    else
        return AttribKind::Symbol;
}

template <AttribElement T>
constexpr AttribKind arrayKind() {
    if constexpr (std::is_same_v<T, std::int32_t>)
        return AttribKind::IntArray;
    else if constexpr (std::is_same_v<T, float>)
        return AttribKind::FloatArray;
    else if constexpr (std::is_same_v<T, double>)
        return AttribKind::DoubleArray;
    else
        return AttribKind::BoolArray;
}

// One typed value and whether it was ever stored. A new attribute is not set
// and holds zero (false, null).
class IAttrib {
public:
    virtual ~IAttrib() = default;
    virtual const std::type_info& type() const = 0;
    virtual AttribKind kind() const = 0;
    // 0 for a scalar, the element count for an array.
    virtual int count() const = 0;
    // A scalar prints its value, a symbol its text, an array each element
    // followed by ", ".
    virtual void print(std::ostream& out) const = 0;
    // Copies the value of an attribute of the same type and count and marks
    // this one set; false (nothing changes) otherwise. Copying an attribute
    // that was never set succeeds and changes nothing: there is no value to
    // copy, and the target must not look set.
    virtual bool assign(const IAttrib& other) = 0;
    virtual std::unique_ptr<IAttrib> clone() const = 0;
    virtual bool isSet() const = 0;
};

template <AttribScalar T>
class Attrib final : public IAttrib {
public:
    Attrib() = default;

    const std::type_info& type() const override { return typeid(T); }
    AttribKind kind() const override { return scalarKind<T>(); }
    int count() const override { return 0; }
    void print(std::ostream& out) const override {
        if constexpr (std::is_same_v<T, QMenum>) {
            out << (value_ != nullptr ? value_ : "(null)");
        } else if constexpr (std::is_same_v<T, AttribCallback>) {
            out << reinterpret_cast<const void*>(value_);
        } else {
            out << value_;
        }
    }
    bool assign(const IAttrib& other) override {
        if (other.kind() != kind()) {
            return false;
        }
        if (other.isSet()) {
            set(static_cast<const Attrib&>(other).value_);
        }
        return true;
    }
    std::unique_ptr<IAttrib> clone() const override { return std::make_unique<Attrib>(*this); }
    bool isSet() const override { return set_; }

    const T& value() const { return value_; }
    void set(const T& value) {
        value_ = value;
        set_ = true;
    }

private:
    T value_{};
    bool set_ = false;
};

template <AttribElement T>
class Attribv final : public IAttrib {
public:
    explicit Attribv(int count) : values_(static_cast<std::size_t>(count > 0 ? count : 0)) {}

    const std::type_info& type() const override { return typeid(T*); }
    AttribKind kind() const override { return arrayKind<T>(); }
    int count() const override { return static_cast<int>(values_.size()); }
    void print(std::ostream& out) const override {
        for (const T& v : values_) {
            out << v << ", ";
        }
    }
    bool assign(const IAttrib& other) override {
        if (other.kind() != kind() || other.count() != count()) {
            return false;
        }
        if (other.isSet()) {
            values_ = static_cast<const Attribv&>(other).values_;
            set_ = true;
        }
        return true;
    }
    std::unique_ptr<IAttrib> clone() const override { return std::make_unique<Attribv>(*this); }
    bool isSet() const override { return set_; }

    T at(int i) const { return values_[static_cast<std::size_t>(i)]; }
    void get(T* out) const {
        for (std::size_t i = 0; i < values_.size(); ++i) {
            out[i] = values_[i];
        }
    }
    void set(const T* values) {
        for (std::size_t i = 0; i < values_.size(); ++i) {
            values_[i] = values[i];
        }
        set_ = true;
    }

private:
    std::vector<T> values_;
    bool set_ = false;
};

// How an attribute is declared: enough to declare one of the same kind in
// another map.
struct AttributeDescription {
    AttribKind kind;
    int count;
};

// A new, unset attribute of the described kind (the registry of attribute
// types); null for an array kind with a count below 1.
std::unique_ptr<IAttrib> makeAttrib(const AttributeDescription& description);

}  // namespace QM
