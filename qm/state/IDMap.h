// Identifier-keyed maps of non-owning pointers (the shapes and effects of a
// scene).
#pragma once

#include <map>
#include <memory>

#include "qm/state/Iterator.h"

namespace QM {

using IDMapIterator = IIterator<unsigned>;

template <typename Pointer>
class IIDMap {
public:
    virtual ~IIDMap() = default;
    // A new iterator at the smallest identifier; identifiers come in
    // increasing order. It is valid while the map is not changed.
    virtual std::unique_ptr<IDMapIterator> iterator() const = 0;
    virtual Pointer find(unsigned id) const = 0;
    // Adds the pair; an identifier already present keeps its pointer, and
    // false is returned.
    virtual bool insert(unsigned id, Pointer pointer) = 0;
    virtual void erase(unsigned id) = 0;
    virtual void clear() = 0;
    virtual std::size_t size() const = 0;
};

// Destroying or clearing the map never releases what the pointers point to:
// their owners do.
template <typename Pointer>
class IDMap final : public IIDMap<Pointer> {
public:
    std::unique_ptr<IDMapIterator> iterator() const override { return std::make_unique<Iterator>(entries_); }
    Pointer find(unsigned id) const override {
        auto at = entries_.find(id);
        return at == entries_.end() ? Pointer{} : at->second;
    }
    bool insert(unsigned id, Pointer pointer) override { return entries_.emplace(id, pointer).second; }
    void erase(unsigned id) override { entries_.erase(id); }
    void clear() override { entries_.clear(); }
    std::size_t size() const override { return entries_.size(); }

private:
    using Entries = std::map<unsigned, Pointer>;

    class Iterator final : public IDMapIterator {
    public:
        explicit Iterator(const Entries& entries) : at_(entries.begin()), end_(entries.end()) {}
        unsigned current() const override { return at_->first; }
        void advance() override { ++at_; }
        bool atEnd() const override { return at_ == end_; }

    private:
        typename Entries::const_iterator at_;
        typename Entries::const_iterator end_;
    };

    Entries entries_;
};

}  // namespace QM
