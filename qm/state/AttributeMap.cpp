#include "qm/state/AttributeMap.h"

namespace QM {

std::unique_ptr<IAttrib> makeAttrib(const AttributeDescription& description) {
    switch (description.kind) {
    case AttribKind::Int: return std::make_unique<Attrib<std::int32_t>>();
    case AttribKind::Float: return std::make_unique<Attrib<float>>();
    case AttribKind::Double: return std::make_unique<Attrib<double>>();
    case AttribKind::Bool: return std::make_unique<Attrib<bool>>();
    case AttribKind::Callback: return std::make_unique<Attrib<AttribCallback>>();
    case AttribKind::Pointer: return std::make_unique<Attrib<void*>>();
    case AttribKind::Symbol: return std::make_unique<Attrib<QMenum>>();
    case AttribKind::IntArray:
    case AttribKind::FloatArray:
    case AttribKind::DoubleArray:
    case AttribKind::BoolArray:
        if (description.count < 1) {
            return nullptr;
        }
        switch (description.kind) {
        case AttribKind::IntArray: return std::make_unique<Attribv<std::int32_t>>(description.count);
        case AttribKind::FloatArray: return std::make_unique<Attribv<float>>(description.count);
        case AttribKind::DoubleArray: return std::make_unique<Attribv<double>>(description.count);
        default: return std::make_unique<Attribv<bool>>(description.count);
        }
    }
    return nullptr;
}

bool declareLike(IAttributeMap& map, QMenum key, const AttributeDescription& description) {
    std::unique_ptr<IAttrib> attrib = makeAttrib(description);
    return attrib != nullptr && map.declareAttrib(key, std::move(attrib));
}

// ---------------------------------------------------------------- AttributeMap

namespace {

class KeyIterator final : public IIterator<QMenum> {
public:
    using Map = std::map<QMenum, std::unique_ptr<IAttrib>>;
    explicit KeyIterator(const Map& map) : at_(map.begin()), end_(map.end()) {}
    QMenum current() const override { return at_->first; }
    void advance() override { ++at_; }
    bool atEnd() const override { return at_ == end_; }

private:
    Map::const_iterator at_;
    Map::const_iterator end_;
};

}  // namespace

IAttrib* AttributeMap::own(QMenum key) {
    auto at = attributes_.find(key);
    return at == attributes_.end() ? nullptr : at->second.get();
}

const IAttrib* AttributeMap::own(QMenum key) const {
    auto at = attributes_.find(key);
    return at == attributes_.end() ? nullptr : at->second.get();
}

const IAttrib* AttributeMap::attribForRead(QMenum key) const {
    const IAttrib* attrib = own(key);
    return attrib != nullptr && attrib->isSet() ? attrib : nullptr;
}

bool AttributeMap::has(QMenum key) const { return own(key) != nullptr; }

bool AttributeMap::isSet(QMenum key) const {
    const IAttrib* attrib = own(key);
    return attrib != nullptr && attrib->isSet();
}

bool AttributeMap::declareAttrib(QMenum key, std::unique_ptr<IAttrib> attrib) {
    if (attrib == nullptr || has(key)) {
        return false;
    }
    attributes_.emplace(key, std::move(attrib));
    return true;
}

std::unique_ptr<IIterator<QMenum>> AttributeMap::keys() const { return std::make_unique<KeyIterator>(attributes_); }

std::optional<AttributeDescription> AttributeMap::describe(QMenum key) const {
    const IAttrib* attrib = own(key);
    if (attrib == nullptr) {
        return std::nullopt;
    }
    return AttributeDescription{attrib->kind(), attrib->count()};
}

bool AttributeMap::printValue(QMenum key, std::ostream& out) const {
    const IAttrib* attrib = own(key);
    if (attrib == nullptr) {
        return false;
    }
    attrib->print(out);
    return true;
}

bool AttributeMap::copyFrom(QMenum key, const IAttributeMap& other, QMenum otherKey) {
    IAttrib* target = own(key);
    const AttributeMap* source = other.mapFor(otherKey);
    if (target == nullptr || source == nullptr) {
        return false;
    }
    const IAttrib* value = source->own(otherKey);
    return value != nullptr && target->assign(*value);
}

// ---------------------------------------------------------------- StackedAttributeMap

StackedAttributeMap::StackedAttributeMap() { maps_.push_back(std::make_unique<AttributeMap>()); }

AttributeMap* StackedAttributeMap::topmostDeclaring(QMenum key) const {
    for (const auto& map : maps_) {
        if (map->has(key)) {
            return map.get();
        }
    }
    return nullptr;
}

AttributeMap* StackedAttributeMap::topmostSet(QMenum key) const {
    for (const auto& map : maps_) {
        if (map->isSet(key)) {
            return map.get();
        }
    }
    return nullptr;
}

bool StackedAttributeMap::has(QMenum key) const { return topmostDeclaring(key) != nullptr; }

bool StackedAttributeMap::isSet(QMenum key) const { return topmostSet(key) != nullptr; }

bool StackedAttributeMap::declareAttrib(QMenum key, std::unique_ptr<IAttrib> attrib) {
    return maps_.front()->declareAttrib(key, std::move(attrib));
}

IAttrib* StackedAttributeMap::attribForWrite(QMenum key) {
    AttributeMap* map = topmostDeclaring(key);
    return map == nullptr ? nullptr : map->own(key);
}

const IAttrib* StackedAttributeMap::attribForRead(QMenum key) const {
    const AttributeMap* map = topmostSet(key);
    return map == nullptr ? nullptr : map->own(key);
}

std::optional<AttributeDescription> StackedAttributeMap::describe(QMenum key) const {
    const AttributeMap* map = topmostDeclaring(key);
    return map == nullptr ? std::nullopt : map->describe(key);
}

bool StackedAttributeMap::printValue(QMenum key, std::ostream& out) const {
    const AttributeMap* map = topmostDeclaring(key);
    return map != nullptr && map->printValue(key, out);
}

bool StackedAttributeMap::copyFrom(QMenum key, const IAttributeMap& other, QMenum otherKey) {
    AttributeMap* map = topmostDeclaring(key);
    return map != nullptr && map->copyFrom(key, other, otherKey);
}

const AttributeMap* StackedAttributeMap::mapFor(QMenum key) const { return topmostSet(key); }

void StackedAttributeMap::push(std::unique_ptr<AttributeMap> map) {
    if (map != nullptr) {
        maps_.push_front(std::move(map));
    }
}

bool StackedAttributeMap::pop() {
    if (maps_.size() <= 1) {
        return false;
    }
    maps_.pop_front();
    return true;
}

}  // namespace QM
