#include "qm/api/CurrentContext.h"

#include "common/ThreadData.h"

namespace QM {

namespace {
sched::ThreadData<ContextWrapper>* gSlot = nullptr;
}

bool initialiseCurrentContextSlot() {
    if (gSlot == nullptr) {
        gSlot = new sched::ThreadData<ContextWrapper>();
    }
    if (!gSlot->isValid()) {
        return false;
    }
    gSlot->local();
    return true;
}

void releaseCurrentContextSlot() {
    if (gSlot == nullptr) {
        return;
    }
    if (gSlot->isValid()) {
        gSlot->releaseLocal();
    }
    delete gSlot;
    gSlot = nullptr;
}

bool currentContextAvailable() { return gSlot != nullptr && gSlot->isValid(); }

Context* currentContext() {
    if (!currentContextAvailable()) {
        return nullptr;
    }
    ContextWrapper* cell = gSlot->peek();
    return cell == nullptr ? nullptr : cell->context;
}

void setCurrentContext(Context* context) {
    if (!currentContextAvailable()) {
        return;
    }
    gSlot->local().context = context;
}

}  // namespace QM
