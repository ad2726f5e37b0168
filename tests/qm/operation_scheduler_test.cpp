// The operation schedulers of the client and collision threads.
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/SchedulerOperation.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"

namespace {

using QM::OperationScheduler;

// Runs a function; done after `runs` executions.
class Operation final : public sched::SchedulerOperation {
public:
    Operation(sched::SchedulerThread* owner, std::function<void()> body, int runs = 1)
        : sched::SchedulerOperation(owner), body_(std::move(body)), left_(runs) {}
    void execute() override {
        body_();
        if (--left_ <= 0) {
            done_ = true;
        }
    }
    bool isDone() const override { return done_; }
    void markDone() override { done_ = true; }

private:
    std::function<void()> body_;
    int left_;
    bool done_ = false;
};

TEST(QmOperationSchedulers, OnePerThreadSymbolCreatedAtLoad) {
    OperationScheduler* client = QM::operationScheduler(QM_CLIENT_THREAD);
    OperationScheduler* collision = QM::operationScheduler(QM_COLLISION_THREAD);
    ASSERT_NE(client, nullptr);
    ASSERT_NE(collision, nullptr);
    EXPECT_NE(client, collision);
    EXPECT_EQ(client->symbol(), QM_CLIENT_THREAD);
    EXPECT_EQ(client->name(), "QM_CLIENT_THREAD");
    EXPECT_EQ(QM::operationScheduler(QM_EVENT_TOUCH), nullptr);
    EXPECT_EQ(QM::operationScheduler(nullptr), nullptr);
}

TEST(QmOperationSchedulers, BindingRegistersTheCallingThread) {
    OperationScheduler* client = QM::operationScheduler(QM_CLIENT_THREAD);
    client->bindToCurrentThread();
    EXPECT_TRUE(client->isBound());
    EXPECT_TRUE(client->isCurrentThread());
    EXPECT_EQ(sched::SchedulerThreadManager::instance().lookupCurrent(), client);
    bool boundThere = true;
    std::thread other([&] {
        boundThere = client->isCurrentThread();
        client->bindToCurrentThread();  // rebinding moves it
    });
    other.join();
    EXPECT_FALSE(boundThere);
    EXPECT_FALSE(client->isCurrentThread());
    EXPECT_EQ(sched::SchedulerThreadManager::instance().lookupCurrent(), nullptr);
    client->unbind();
    EXPECT_FALSE(client->isBound());
}

// Work queued from any thread runs on the thread that runs the queue, once
// per run, in priority order; one-shot operations leave the queue.
TEST(QmOperationSchedulers, PendingOperationsRunOnTheCallingThread) {
    OperationScheduler* collision = QM::operationScheduler(QM_COLLISION_THREAD);
    collision->bindToCurrentThread();
    const std::thread::id self = std::this_thread::get_id();
    std::vector<int> order;
    std::thread::id ranOn;
    std::thread producer([&] {
        collision->schedule(new Operation(collision, [&] { order.push_back(1); }), 1);
        collision->schedule(new Operation(collision,
                                          [&] {
                                              order.push_back(3);
                                              ranOn = std::this_thread::get_id();
                                          }),
                            3);
        collision->schedule(new Operation(
                                collision, [&] { order.push_back(2); }, 2),
                            2);
    });
    producer.join();
    EXPECT_TRUE(collision->wakeUpEvent().wait(0.0));
    EXPECT_EQ(collision->runPending(), 3);
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(ranOn, self);
    EXPECT_EQ(collision->operationList().count(), 1);  // the two-run operation is back
    EXPECT_EQ(collision->runPending(), 1);
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1, 2}));
    EXPECT_EQ(collision->operationList().count(), 0);
    EXPECT_EQ(collision->runPending(), 0);
    collision->unbind();
}

// An operation may queue more work while it runs; that work waits for the
// next run instead of deadlocking on the queue.
TEST(QmOperationSchedulers, OperationsMayQueueWork) {
    OperationScheduler* client = QM::operationScheduler(QM_CLIENT_THREAD);
    int second = 0;
    client->schedule(new Operation(client, [&] { client->schedule(new Operation(client, [&] { ++second; })); }));
    EXPECT_EQ(client->runPending(), 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(client->runPending(), 1);
    EXPECT_EQ(second, 1);
}

TEST(QmOperationSchedulers, ShutDownDiscardsQueuedWork) {
    OperationScheduler scheduler(QM_CLIENT_THREAD);
    int ran = 0;
    auto* op = new Operation(&scheduler, [&] { ++ran; });
    const plat::Event done = op->completionEvent();
    scheduler.schedule(op);
    scheduler.shutDown();
    EXPECT_TRUE(done.isSet());  // waiters are released
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(scheduler.operationList().count(), 0);
}

// Unloading takes the scheduler-thread manager down with the two schedulers:
// what other scheduler threads had registered is gone with it.
TEST(QmOperationSchedulers, ReleasingShutsTheThreadManagerDown) {
    sched::SchedulerThreadImp other("other");
    other.attach();
    ASSERT_EQ(sched::SchedulerThreadManager::instance().lookupCurrent(), &other);
    QM::releaseOperationSchedulers();
    EXPECT_EQ(QM::operationScheduler(QM_CLIENT_THREAD), nullptr);
    EXPECT_EQ(sched::SchedulerThreadManager::instance().lookupCurrent(), nullptr);
    QM::initialiseOperationSchedulers();
    EXPECT_NE(QM::operationScheduler(QM_CLIENT_THREAD), nullptr);
}

}  // namespace
