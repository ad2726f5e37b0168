#include "qm/state/IDGenerator.h"

#include <algorithm>

namespace QM {

namespace {
constexpr std::uint64_t kLargestId = 0xFFFFFFFFu;
}

// Widen [low, high] over every stored range that overlaps or touches it,
// removing those, then store the widened range.
void ReservedRanges::insert(std::uint32_t low, std::uint32_t high) {
    if (low > high) {
        return;
    }
    std::uint64_t lo = low;
    std::uint64_t hi = high;
    // The first candidate is the last range starting at or before low - 1.
    auto at = ranges_.upper_bound(low == 0 ? 0 : low - 1);
    if (at != ranges_.begin()) {
        auto before = std::prev(at);
        if (static_cast<std::uint64_t>(before->second) + 1 >= lo) {
            at = before;
        }
    }
    while (at != ranges_.end() && static_cast<std::uint64_t>(at->first) <= hi + 1) {
        lo = std::min<std::uint64_t>(lo, at->first);
        hi = std::max<std::uint64_t>(hi, at->second);
        at = ranges_.erase(at);
    }
    ranges_.emplace(static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(hi));
}

// Remove every stored range that overlaps [low, high] and store back the
// parts of it outside the released range.
void ReservedRanges::erase(std::uint32_t low, std::uint32_t high) {
    if (low > high) {
        return;
    }
    auto at = ranges_.upper_bound(low);
    if (at != ranges_.begin()) {
        auto before = std::prev(at);
        if (before->second >= low) {
            at = before;
        }
    }
    while (at != ranges_.end() && at->first <= high) {
        const std::uint32_t d = at->first;
        const std::uint32_t e = at->second;
        at = ranges_.erase(at);
        if (d < low) {
            ranges_.emplace(d, low - 1);
        }
        if (high < e) {
            ranges_.emplace(high + 1, e);
            break;
        }
    }
}

bool ReservedRanges::contains(std::uint32_t id) const {
    auto at = ranges_.upper_bound(id);
    if (at == ranges_.begin()) {
        return false;
    }
    --at;
    return at->second >= id;
}

unsigned IDGenerator::generate(int pool, int count) {
    sched::LockGuard guard(lock_);
    if (!validPool(pool) || count < 1) {
        return 0;
    }
    const std::uint64_t first = next_[pool];
    const std::uint64_t last = first + static_cast<std::uint64_t>(count) - 1;
    if (last > kLargestId) {
        return 0;
    }
    reserved_[pool].insert(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last));
    next_[pool] = last + 1;
    return static_cast<unsigned>(first);
}

void IDGenerator::release(int pool, unsigned first, int count) {
    sched::LockGuard guard(lock_);
    if (!validPool(pool) || count <= 0) {
        return;
    }
    const std::uint64_t last =
        std::min<std::uint64_t>(kLargestId, std::uint64_t{first} + static_cast<std::uint64_t>(count) - 1);
    reserved_[pool].erase(first, static_cast<std::uint32_t>(last));
}

bool IDGenerator::isReserved(int pool, unsigned id) const {
    sched::LockGuard guard(lock_);
    return validPool(pool) && reserved_[pool].contains(id);
}

std::map<std::uint32_t, std::uint32_t> IDGenerator::ranges(int pool) const {
    sched::LockGuard guard(lock_);
    return validPool(pool) ? reserved_[pool].ranges() : std::map<std::uint32_t, std::uint32_t>{};
}

}  // namespace QM
