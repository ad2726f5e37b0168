// Shape and effect identifiers through the API.
#include <climits>
#include <thread>
#include <vector>

#include "qm_test_support.h"

namespace {

using qmtest::ContextTest;

class QmIdentifiers : public ContextTest {};

TEST_F(QmIdentifiers, FirstIdentifiersOfANewContext) {
    EXPECT_EQ(qmGenShapes(3), 2u);  // 1 is the context's own
    EXPECT_EQ(qmGenEffects(3), 1u);
    EXPECT_EQ(qmGenShapes(1), 5u);
    EXPECT_TRUE(qmIsShape(1));
    EXPECT_FALSE(qmIsEffect(4));
    expectNoError();
}

TEST_F(QmIdentifiers, ZeroIsNeverAnIdentifier) {
    EXPECT_EQ(qmGenShapes(0), 0u);
    EXPECT_EQ(qmGenEffects(0), 0u);
    EXPECT_FALSE(qmIsShape(0));
    EXPECT_FALSE(qmIsEffect(0));
    EXPECT_EQ(qmGenShapes(1), 2u);  // the zero-sized request reserved nothing
    expectNoError();
}

TEST_F(QmIdentifiers, DeletingAMiddleRunLeavesTheRestAndIsNeverReused) {
    ASSERT_EQ(qmGenShapes(5), 2u);
    qmDeleteShapes(3, 2);
    const bool expected[] = {false, true, true, false, false, true, true, false};
    for (unsigned id = 0; id < 8; ++id) {
        EXPECT_EQ(qmIsShape(id) != 0, expected[id]) << id;
    }
    EXPECT_EQ(qmGenShapes(1), 7u);
    expectNoError();
}

TEST_F(QmIdentifiers, ThePoolsAreIndependent) {
    ASSERT_EQ(qmGenEffects(2), 1u);
    EXPECT_FALSE(qmIsShape(2));
    EXPECT_TRUE(qmIsEffect(2));
    qmDeleteShapes(1, 10);
    EXPECT_TRUE(qmIsEffect(1));
    EXPECT_FALSE(qmIsShape(1));
    qmDeleteEffects(1, 2);
    EXPECT_FALSE(qmIsEffect(1));
    EXPECT_EQ(qmGenEffects(1), 3u);
    expectNoError();
}

TEST_F(QmIdentifiers, NegativeCountsAreRefused) {
    ASSERT_EQ(qmGenShapes(2), 2u);
    ASSERT_EQ(qmGenEffects(2), 1u);
    EXPECT_EQ(qmGenShapes(-1), 0u);
    expectErrors({QM_INVALID_VALUE});
    EXPECT_EQ(qmGenEffects(-1), 0u);
    expectErrors({QM_INVALID_VALUE});
    qmDeleteShapes(2, -1);
    expectErrors({QM_INVALID_VALUE});
    qmDeleteEffects(1, -1);
    expectErrors({QM_INVALID_VALUE});
    EXPECT_TRUE(qmIsShape(2));
    EXPECT_TRUE(qmIsEffect(1));
    EXPECT_EQ(qmGenShapes(1), 4u);
}

TEST_F(QmIdentifiers, DeletingUnreservedOrHugeRangesIsHarmless) {
    ASSERT_EQ(qmGenShapes(2), 2u);
    qmDeleteShapes(100, 5);
    qmDeleteShapes(0, 0);
    qmDeleteShapes(0xFFFFFFF0u, INT_MAX);
    EXPECT_TRUE(qmIsShape(3));
    qmDeleteShapes(2, INT_MAX);
    EXPECT_TRUE(qmIsShape(1));
    EXPECT_FALSE(qmIsShape(2));
    EXPECT_FALSE(qmIsShape(3));
    expectNoError();
}

// The counter never wraps: a request that would pass the largest identifier
// is refused and reserves nothing.
TEST_F(QmIdentifiers, ExhaustedPoolRefusesInsteadOfWrapping) {
    ASSERT_EQ(qmGenEffects(INT_MAX), 1u);
    ASSERT_EQ(qmGenEffects(INT_MAX), 0x80000000u);
    expectNoError();
    EXPECT_EQ(qmGenEffects(2), 0u);
    expectErrors({QM_OUT_OF_MEMORY});
    EXPECT_EQ(qmGenEffects(1), 0xFFFFFFFFu);
    EXPECT_TRUE(qmIsEffect(0xFFFFFFFFu));
    EXPECT_EQ(qmGenEffects(1), 0u);
    expectErrors({QM_OUT_OF_MEMORY});
    EXPECT_FALSE(qmIsEffect(0));
}

// The pools are locked: identifiers generated on two threads at once never
// overlap.
TEST_F(QmIdentifiers, ConcurrentGenerationNeverOverlaps) {
    constexpr int kPerThread = 200;
    std::vector<unsigned> mine;
    std::vector<unsigned> theirs;
    std::thread other([&] {
        qmMakeCurrent(context);
        for (int i = 0; i < kPerThread; ++i) {
            theirs.push_back(qmGenShapes(3));
        }
        qmMakeCurrent(nullptr);
    });
    for (int i = 0; i < kPerThread; ++i) {
        mine.push_back(qmGenShapes(3));
    }
    other.join();
    std::vector<bool> used(2 + 6 * kPerThread + 1, false);
    for (const auto* list : {&mine, &theirs}) {
        for (unsigned first : *list) {
            ASSERT_GE(first, 2u);
            for (unsigned id = first; id < first + 3; ++id) {
                ASSERT_LT(id, used.size());
                EXPECT_FALSE(used[id]) << id;
                used[id] = true;
            }
        }
    }
}

}  // namespace
