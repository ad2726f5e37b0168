// A forward iterator over the entries of a container, handed out by
// containers whose concrete type stays private.
#pragma once

namespace QM {

template <typename T>
class IIterator {
public:
    // The entry at the position; only valid while !atEnd().
    virtual T current() const = 0;
    virtual void advance() = 0;
    virtual bool atEnd() const = 0;
    virtual ~IIterator() = default;
};

}  // namespace QM
