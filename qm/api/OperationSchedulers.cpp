#include "qm/api/OperationSchedulers.h"

#include <utility>
#include <vector>

#include "qm/api/Symbols.h"

namespace QM {

OperationScheduler::OperationScheduler(QMenum name)
    : sched::SchedulerThreadImp(name != nullptr ? name : ""), symbol_(name) {}

OperationScheduler::~OperationScheduler() { shutDown(); }

void OperationScheduler::bindToCurrentThread() {
    // attach() detaches from a previous thread first.
    attach();
}

void OperationScheduler::unbind() {
    if (isRunning()) {
        detach();
    }
}

bool OperationScheduler::schedule(sched::SchedulerOperation* operation, std::int32_t priority) {
    if (operation == nullptr) {
        return false;
    }
    if (!add(operation, priority)) {
        delete operation;
        return false;
    }
    return true;
}

int OperationScheduler::runPending() {
    struct Taken {
        sched::SchedulerOperation* operation;
        std::int32_t priority;
    };
    std::vector<Taken> taken;
    {
        sched::OperationList& list = operationList();
        sched::LockGuard guard(list);
        taken.reserve(static_cast<std::size_t>(list.count()));
        for (sched::OperationList::Node* node = list.head(); node != nullptr;) {
            sched::OperationList::Node* next = node->next;
            taken.push_back({node->operation, node->priority});
            list.removeHandle(list.indexOf(node));
            node = next;
        }
    }
    for (const Taken& entry : taken) {
        sched::SchedulerOperation* operation = entry.operation;
        if (!operation->isActive()) {
            operation->activate();
        }
        if (!operation->isDone()) {
            operation->timedExecute();
        }
        if (operation->isDone() || !add(operation, entry.priority)) {
            operation->deactivate();
            if (operation->autoDelete()) {
                delete operation;
            }
        }
    }
    return static_cast<int>(taken.size());
}

void OperationScheduler::shutDown() {
    setStopped(true);
    unbind();
    sched::OperationList& list = operationList();
    sched::LockGuard guard(list);
    while (sched::OperationList::Node* node = list.head()) {
        sched::SchedulerOperation* operation = list.removeHandle(list.indexOf(node));
        if (operation != nullptr) {
            operation->deactivate();
            if (operation->autoDelete()) {
                delete operation;
            }
        }
    }
}

namespace {

std::vector<std::pair<QMenum, OperationScheduler*>>* gSchedulers = nullptr;

}  // namespace

void initialiseOperationSchedulers() {
    if (gSchedulers != nullptr) {
        return;
    }
    // The scheduler-thread manager first, so that binding never creates it.
    sched::SchedulerThreadManager::instance();
    gSchedulers = new std::vector<std::pair<QMenum, OperationScheduler*>>();
    gSchedulers->emplace_back(QM_CLIENT_THREAD, new OperationScheduler(QM_CLIENT_THREAD));
    gSchedulers->emplace_back(QM_COLLISION_THREAD, new OperationScheduler(QM_COLLISION_THREAD));
}

void releaseOperationSchedulers() {
    if (gSchedulers == nullptr) {
        return;
    }
    for (auto& entry : *gSchedulers) {
        delete entry.second;
    }
    delete gSchedulers;
    gSchedulers = nullptr;
    // The library's copy of the manager goes with the library.
    sched::SchedulerThreadManager::destroyInstance();
}

OperationScheduler* operationScheduler(QMenum thread) {
    if (gSchedulers == nullptr || thread == nullptr) {
        return nullptr;
    }
    for (const auto& entry : *gSchedulers) {
        if (entry.first == thread) {
            return entry.second;
        }
    }
    return nullptr;
}

}  // namespace QM
