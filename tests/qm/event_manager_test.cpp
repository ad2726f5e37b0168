// The event manager on its own: the order subscriptions are served in, the
// queues, and callbacks that change the subscriptions while they run.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qm/api/Symbols.h"
#include "qm/events/EventManager.h"

namespace {

using QM::EventManager;

// Callbacks append their tag (the user data) to this log.
std::vector<std::string>* gLog = nullptr;

void logA(QMenum, QMuint, QMenum, QMcache, void* tag) { gLog->push_back(std::string("A") + static_cast<char*>(tag)); }
void logB(QMenum, QMuint, QMenum, QMcache, void* tag) { gLog->push_back(std::string("B") + static_cast<char*>(tag)); }

class EventManagerTest : public ::testing::Test {
protected:
    void SetUp() override { gLog = &log; }
    void TearDown() override { gLog = nullptr; }
    // Raises a button press for QM_OBJECT_ANY as a collision step does.
    int press(QMenum callingThread = QM_COLLISION_THREAD) {
        return events.trigger(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_OBJECT_ANY, cache, cacheLock, callingThread);
    }

    EventManager events;
    QM::StateCache cache;
    sched::CriticalSectionLock cacheLock;
    std::vector<std::string> log;
    char one[2] = "1";
    char two[2] = "2";
};

TEST_F(EventManagerTest, SubscriptionsAreServedInRegistrationOrderAndReAddingMovesToTheEnd) {
    events.add(logA, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, one);
    events.add(logB, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, one);
    // Other runs are not touched by this event.
    events.add(logA, QM_EVENT_1BUTTONUP, QM_OBJECT_ANY, QM_COLLISION_THREAD, one);
    events.add(logA, QM_EVENT_1BUTTONDOWN, 5, QM_COLLISION_THREAD, one);
    EXPECT_EQ(press(), 2);
    EXPECT_EQ(log, (std::vector<std::string>{"A1", "B1"}));
    log.clear();
    events.add(logA, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, two);
    EXPECT_EQ(events.count(QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY), 2u);
    press();
    EXPECT_EQ(log, (std::vector<std::string>{"B1", "A2"}));
}

// Off the collision thread, collision-thread subscriptions wait in their
// queue; client-thread ones always do.
TEST_F(EventManagerTest, EventsForAnotherThreadWaitInItsQueue) {
    events.add(logA, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, one);
    events.add(logB, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_CLIENT_THREAD, one);
    press(QM_CLIENT_THREAD);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(events.queued(QM_COLLISION_THREAD), 1u);
    EXPECT_EQ(events.queued(QM_CLIENT_THREAD), 1u);
    EXPECT_EQ(events.dispatchQueued(QM_CLIENT_THREAD), 1);
    EXPECT_EQ(log, std::vector<std::string>{"B1"});
    EXPECT_EQ(events.dispatchQueued(QM_COLLISION_THREAD), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"B1", "A1"}));
    EXPECT_EQ(events.queued(QM_CLIENT_THREAD) + events.queued(QM_COLLISION_THREAD), 0u);
}

// An application that never serves its queue does not grow it for ever.
TEST_F(EventManagerTest, AFullQueueDropsNewEvents) {
    events.add(logA, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_CLIENT_THREAD, one);
    for (std::size_t i = 0; i < EventManager::kMaxQueued + 5; ++i) {
        press();
    }
    EXPECT_EQ(events.queued(QM_CLIENT_THREAD), EventManager::kMaxQueued);
    EXPECT_EQ(events.dropped(), 5u);
    EXPECT_EQ(events.dispatchQueued(QM_CLIENT_THREAD), static_cast<int>(EventManager::kMaxQueued));
}

// A callback that removes a later subscription of the same run, or one
// whose event is still queued, keeps it from being called: its user data
// may be gone.
TEST_F(EventManagerTest, ARemovedSubscriptionIsNotCalledAfterwards) {
    static EventManager* manager = nullptr;
    manager = &events;
    auto removeB = [](QMenum, QMuint, QMenum thread, QMcache, void*) {
        gLog->push_back("remove");
        manager->remove(logB, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, thread);
    };
    events.add(removeB, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, nullptr);
    events.add(logB, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_COLLISION_THREAD, one);
    EXPECT_EQ(press(), 1);
    EXPECT_EQ(log, std::vector<std::string>{"remove"});

    log.clear();
    events.add(logB, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_CLIENT_THREAD, one);
    press();
    events.add(logB, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_CLIENT_THREAD, two);
    press();
    events.dispatchQueued(QM_CLIENT_THREAD);
    EXPECT_EQ(log, (std::vector<std::string>{"remove", "remove", "B2", "B2"})) << "re-added: the newest user data";
    log.clear();
    press();
    events.remove(logB, QM_EVENT_1BUTTONDOWN, QM_OBJECT_ANY, QM_CLIENT_THREAD);
    EXPECT_EQ(events.dispatchQueued(QM_CLIENT_THREAD), 0);
    EXPECT_EQ(log, std::vector<std::string>{"remove"});
    manager = nullptr;
}

// The motion test keeps the position and the rotation apart: each fires on
// its own tolerance and restarts from where it fired.
TEST(MotionEventConditionTest, PositionAndRotationAreMeasuredSeparately) {
    QM::ProxySample start;
    auto values = QM::MotionEventCondition::initialValues(1.0, 0.1, start);
    auto holds = [&](double x, double angle) {
        QM::ProxySample now;
        now.position[0] = x;
        now.rotation[0] = std::cos(angle / 2);
        now.rotation[3] = std::sin(angle / 2);
        const QM::MotionEventCondition condition(QM_COLLISION_THREAD, now);
        return condition.holds(logA, QM_EVENT_MOTION, QM_OBJECT_ANY, QM_COLLISION_THREAD, *values);
    };
    EXPECT_FALSE(holds(0.5, 0.05));
    EXPECT_TRUE(holds(1.0, 0.05)) << "moved 1";
    EXPECT_FALSE(holds(1.5, 0.05)) << "0.5 from where it fired";
    EXPECT_TRUE(holds(1.5, 0.12)) << "turned 0.12";
    EXPECT_FALSE(holds(1.5, 0.2));
    EXPECT_TRUE(holds(1.5, 0.25));
    // Subscriptions of the other thread are not this test's.
    const QM::MotionEventCondition client(QM_CLIENT_THREAD, QM::ProxySample{});
    EXPECT_FALSE(client.holds(logA, QM_EVENT_MOTION, QM_OBJECT_ANY, QM_COLLISION_THREAD, *values));
}

}  // namespace
