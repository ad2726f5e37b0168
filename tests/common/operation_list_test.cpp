// The operation list: handle allocation, ordering and capacity.
#include <gtest/gtest.h>

#include <vector>

#include "test_operation.h"

namespace sched::test {
namespace {

class OperationListTest : public ::testing::Test {
protected:
    ~OperationListTest() override {
        while (OperationList::Node* node = list.head()) {
            delete list.removeHandle(list.indexOf(node));
        }
    }
    SchedulerOperation* make() {
        return new TestOperation([] { return false; });
    }

    std::vector<int> order() const {
        std::vector<int> handles;
        for (const OperationList::Node* node = list.head(); node != nullptr; node = node->next) {
            handles.push_back(list.indexOf(node));
        }
        return handles;
    }

    OperationList list;
};

TEST_F(OperationListTest, HandlesStartAtZeroAndFreedSlotsAreReusedLeastRecentlyFreedFirst) {
    std::vector<SchedulerOperation*> ops;
    for (int i = 0; i < OperationList::kCapacity; ++i) {
        ops.push_back(make());
        ASSERT_EQ(list.insert(ops.back(), 1), i);
        EXPECT_EQ(ops.back()->handle(), i);
    }
    delete list.removeHandle(5);
    delete list.removeHandle(2);
    // Slot 5 was freed first; each reuse is a new generation of the slot.
    EXPECT_EQ(list.insert(make(), 1), 1005);
    EXPECT_EQ(list.insert(make(), 1), 1002);
    EXPECT_EQ(list.count(), OperationList::kCapacity);
}

TEST_F(OperationListTest, AHandleNamesOnlyTheGenerationItWasGivenFor) {
    SchedulerOperation* first = make();
    ASSERT_EQ(list.insert(first, 1), 0);
    EXPECT_EQ(list.removeHandle(0), first);
    delete first;
    // Cycle slot 0 through further generations while the others stay busy.
    for (int i = 1; i < OperationList::kCapacity; ++i) {
        list.insert(make(), 1);
    }
    SchedulerOperation* second = make();
    ASSERT_EQ(list.insert(second, 1), OperationList::kCapacity);
    EXPECT_EQ(list.find(0), nullptr);
    EXPECT_EQ(list.removeHandle(0), nullptr);
    EXPECT_EQ(list.find(OperationList::kCapacity), second);
    EXPECT_EQ(list.count(), OperationList::kCapacity);
}

TEST_F(OperationListTest, DescendingPriorityWithEqualPrioritiesInArrivalOrder) {
    const int priorities[] = {11, 21, 11, 65545, -10, 0, 21, 1};
    for (int p : priorities) {
        list.insert(make(), p);
    }
    // Handles in insertion order: 0:11 1:21 2:11 3:65545 4:-10 5:0 6:21 7:1.
    EXPECT_EQ(order(), (std::vector<int>{3, 1, 6, 0, 2, 7, 5, 4}));
    delete list.removeHandle(3);
    delete list.removeHandle(4);
    delete list.removeHandle(0);
    EXPECT_EQ(order(), (std::vector<int>{1, 6, 2, 7, 5}));
    // A new node takes its place by its priority.
    list.insert(make(), 1000);
    EXPECT_EQ(order(), (std::vector<int>{8, 1, 6, 2, 7, 5}));
}

TEST_F(OperationListTest, HoldsExactlyOneThousandOperations) {
    for (int i = 0; i < OperationList::kCapacity; ++i) {
        ASSERT_EQ(list.insert(make(), i % 7), i);
    }
    SchedulerOperation* extra = make();
    EXPECT_EQ(list.insert(extra, 3), -1);
    EXPECT_EQ(extra->handle(), -1);
    delete extra;
    EXPECT_EQ(list.count(), OperationList::kCapacity);
    delete list.removeHandle(999);
    EXPECT_EQ(list.insert(make(), 3), 1999);
}

TEST_F(OperationListTest, RemovingUnknownHandlesChangesNothing) {
    list.insert(make(), 1);
    for (int handle : {-1, 1, 999, 1000, 123456}) {
        EXPECT_EQ(list.removeHandle(handle), nullptr) << handle;
        EXPECT_EQ(list.find(handle), nullptr) << handle;
    }
    EXPECT_EQ(list.count(), 1);
    delete list.removeHandle(0);
    EXPECT_EQ(list.removeHandle(0), nullptr);
    EXPECT_EQ(list.head(), nullptr);
}

}  // namespace
}  // namespace sched::test
