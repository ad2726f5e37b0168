// Identifier pools and identifier maps.
#include <cstdint>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "qm/state/IDGenerator.h"
#include "qm/state/IDMap.h"

namespace {

using QM::IDGenerator;
using Ranges = std::map<std::uint32_t, std::uint32_t>;

struct Op {
    enum Kind { Insert, Erase } kind;
    std::uint32_t low;
    std::uint32_t high;
};

TEST(QmReservedRanges, InsertAndEraseKeepRangesMaximalAndDisjoint) {
    struct Case {
        const char* what;
        std::vector<Op> ops;
        Ranges expected;
    };
    constexpr std::uint32_t kMax = 0xFFFFFFFFu;
    const Case cases[] = {
        {"adjacent after", {{Op::Insert, 1, 4}, {Op::Insert, 5, 6}}, {{1, 6}}},
        {"adjacent before", {{Op::Insert, 5, 6}, {Op::Insert, 1, 4}}, {{1, 6}}},
        {"gap of one stays", {{Op::Insert, 1, 4}, {Op::Insert, 6, 7}}, {{1, 4}, {6, 7}}},
        {"filling a gap joins three", {{Op::Insert, 1, 2}, {Op::Insert, 6, 7}, {Op::Insert, 3, 5}}, {{1, 7}}},
        {"overlap", {{Op::Insert, 1, 5}, {Op::Insert, 3, 9}}, {{1, 9}}},
        {"swallowing several",
         {{Op::Insert, 2, 2}, {Op::Insert, 4, 4}, {Op::Insert, 8, 8}, {Op::Insert, 1, 10}},
         {{1, 10}}},
        {"inside an existing one", {{Op::Insert, 1, 10}, {Op::Insert, 3, 4}}, {{1, 10}}},
        {"at zero", {{Op::Insert, 0, 0}, {Op::Insert, 1, 1}}, {{0, 1}}},
        {"at the largest identifier",
         {{Op::Insert, kMax - 1, kMax}, {Op::Insert, kMax - 3, kMax - 2}},
         {{kMax - 3, kMax}}},
        {"erase the middle", {{Op::Insert, 2, 6}, {Op::Erase, 3, 4}}, {{2, 2}, {5, 6}}},
        {"erase across ranges", {{Op::Insert, 1, 3}, {Op::Insert, 5, 7}, {Op::Erase, 2, 6}}, {{1, 1}, {7, 7}}},
        {"erase everything", {{Op::Insert, 1, 3}, {Op::Insert, 5, 7}, {Op::Erase, 0, kMax}}, {}},
        {"erase what is not there", {{Op::Insert, 5, 7}, {Op::Erase, 1, 4}, {Op::Erase, 8, 9}}, {{5, 7}}},
        {"erase the ends", {{Op::Insert, 5, 9}, {Op::Erase, 5, 5}, {Op::Erase, 9, 9}}, {{6, 8}}},
        {"an inverted range does nothing", {{Op::Insert, 5, 4}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QM::ReservedRanges ranges;
        for (const Op& op : c.ops) {
            if (op.kind == Op::Insert) {
                ranges.insert(op.low, op.high);
            } else {
                ranges.erase(op.low, op.high);
            }
        }
        EXPECT_EQ(ranges.ranges(), c.expected);
        for (const auto& [low, high] : c.expected) {
            EXPECT_TRUE(ranges.contains(low));
            EXPECT_TRUE(ranges.contains(high));
            if (low > 0) {
                EXPECT_FALSE(ranges.contains(low - 1));
            }
        }
    }
}

TEST(QmIDGenerator, CountersStartAtOneAndNeverGoBack) {
    IDGenerator ids;
    EXPECT_EQ(ids.generate(IDGenerator::kShapePool, 1), 1u);
    EXPECT_EQ(ids.generate(IDGenerator::kShapePool, 3), 2u);
    EXPECT_EQ(ids.generate(IDGenerator::kEffectPool, 3), 1u);
    EXPECT_EQ(ids.ranges(IDGenerator::kShapePool), (Ranges{{1, 4}}));
    ids.release(IDGenerator::kShapePool, 1, 4);
    EXPECT_TRUE(ids.ranges(IDGenerator::kShapePool).empty());
    EXPECT_EQ(ids.generate(IDGenerator::kShapePool, 1), 5u);
    EXPECT_EQ(ids.generate(IDGenerator::kShapePool, 0), 0u);
    EXPECT_EQ(ids.generate(IDGenerator::kShapePool, -2), 0u);
    EXPECT_EQ(ids.generate(IDGenerator::kShapePool, 1), 6u);
    EXPECT_EQ(ids.ranges(IDGenerator::kShapePool), (Ranges{{5, 6}}));
}

TEST(QmIDGenerator, ReleaseIgnoresEmptyAndClipsHugeRanges) {
    IDGenerator ids;
    ids.generate(IDGenerator::kShapePool, 10);
    ids.release(IDGenerator::kShapePool, 3, 0);
    ids.release(IDGenerator::kShapePool, 3, -5);
    EXPECT_EQ(ids.ranges(IDGenerator::kShapePool), (Ranges{{1, 10}}));
    ids.release(IDGenerator::kShapePool, 8, 0x7FFFFFFF);
    EXPECT_EQ(ids.ranges(IDGenerator::kShapePool), (Ranges{{1, 7}}));
    ids.release(IDGenerator::kShapePool, 0xFFFFFFFFu, 0x7FFFFFFF);
    EXPECT_EQ(ids.ranges(IDGenerator::kShapePool), (Ranges{{1, 7}}));
}

TEST(QmIDGenerator, InvalidPoolsDoNothing) {
    IDGenerator ids;
    EXPECT_EQ(ids.generate(2, 1), 0u);
    EXPECT_EQ(ids.generate(-1, 1), 0u);
    ids.release(5, 1, 1);
    EXPECT_FALSE(ids.isReserved(2, 1));
    EXPECT_EQ(ids.generate(0, 1), 1u);
}

TEST(QmIDGenerator, ConcurrentGenerationAndReleaseStayConsistent) {
    IDGenerator ids;
    constexpr int kRounds = 500;
    std::vector<unsigned> a;
    std::vector<unsigned> b;
    auto work = [&](std::vector<unsigned>& firsts) {
        for (int i = 0; i < kRounds; ++i) {
            const unsigned first = ids.generate(IDGenerator::kShapePool, 2);
            firsts.push_back(first);
            ids.release(IDGenerator::kShapePool, first + 1, 1);
        }
    };
    std::thread other([&] { work(b); });
    work(a);
    other.join();
    std::vector<int> hits(2 * 2 * kRounds + 2, 0);
    for (const auto* firsts : {&a, &b}) {
        for (unsigned first : *firsts) {
            ASSERT_LT(first + 1, hits.size());
            ++hits[first];
            ++hits[first + 1];
            EXPECT_TRUE(ids.isReserved(IDGenerator::kShapePool, first));
            EXPECT_FALSE(ids.isReserved(IDGenerator::kShapePool, first + 1));
        }
    }
    for (std::size_t id = 1; id < hits.size() - 1; ++id) {
        EXPECT_EQ(hits[id], 1) << id;
    }
}

// ---------------------------------------------------------------- IDMap

TEST(QmIDMap, IteratesInIncreasingOrderAndKeepsTheFirstPointer) {
    int objects[4] = {};
    QM::IDMap<int*> map;
    EXPECT_TRUE(map.insert(5, &objects[0]));
    EXPECT_TRUE(map.insert(2, &objects[1]));
    EXPECT_TRUE(map.insert(9, &objects[2]));
    EXPECT_FALSE(map.insert(5, &objects[3]));
    EXPECT_EQ(map.find(5), &objects[0]);
    std::vector<unsigned> order;
    for (auto it = map.iterator(); !it->atEnd(); it->advance()) {
        order.push_back(it->current());
    }
    EXPECT_EQ(order, (std::vector<unsigned>{2, 5, 9}));
    map.erase(5);
    map.erase(7);
    EXPECT_EQ(map.find(5), nullptr);
    EXPECT_EQ(map.size(), 2u);
    map.clear();
    EXPECT_TRUE(map.iterator()->atEnd());
}

}  // namespace
