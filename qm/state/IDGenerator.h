// Identifier pools of a rendering context.
#pragma once

#include <cstdint>
#include <map>

#include "common/Lock.h"

namespace QM {

class IIDGenerator {
public:
    virtual ~IIDGenerator() = default;
    // Reserves `count` consecutive identifiers of a pool and returns the
    // first; 0 when count < 1 or when the pool has not that many identifiers
    // left (nothing is reserved then).
    virtual unsigned generate(int pool, int count) = 0;
    // Frees [first, first + count - 1] (clipped to the largest identifier);
    // identifiers that are not reserved are ignored; count <= 0 does nothing.
    virtual void release(int pool, unsigned first, int count) = 0;
    virtual bool isReserved(int pool, unsigned id) const = 0;
};

// A set of disjoint closed ranges of identifiers, kept maximal: ranges that
// overlap or touch are merged, so no two stored ranges are adjacent.
class ReservedRanges {
public:
    void insert(std::uint32_t low, std::uint32_t high);
    void erase(std::uint32_t low, std::uint32_t high);
    bool contains(std::uint32_t id) const;
    // The stored ranges, low -> high, for tests.
    const std::map<std::uint32_t, std::uint32_t>& ranges() const { return ranges_; }

private:
    std::map<std::uint32_t, std::uint32_t> ranges_;
};

// Two pools (0: shapes, 1: effects). Each hands out identifiers from a
// counter that starts at 1 and never goes back, so an identifier is never
// handed out twice, even after it was released; a pool whose counter would
// pass the largest 32-bit value refuses instead of wrapping. Every operation
// holds the lock for its whole duration.
class IDGenerator final : public IIDGenerator {
public:
    static constexpr int kShapePool = 0;
    static constexpr int kEffectPool = 1;
    static constexpr int kPools = 2;

    IDGenerator() = default;
    IDGenerator(const IDGenerator&) = delete;
    IDGenerator& operator=(const IDGenerator&) = delete;

    unsigned generate(int pool, int count) override;
    void release(int pool, unsigned first, int count) override;
    bool isReserved(int pool, unsigned id) const override;

    // A copy of a pool's ranges, for tests. An invalid pool gives none.
    std::map<std::uint32_t, std::uint32_t> ranges(int pool) const;

private:
    static bool validPool(int pool) { return pool >= 0 && pool < kPools; }

    ReservedRanges reserved_[kPools];
    // 64-bit so that "every identifier handed out" is representable.
    std::uint64_t next_[kPools] = {1, 1};
    mutable sched::CriticalSectionLock lock_;
};

}  // namespace QM
