// Library load and unload.
//
// Loading interns every symbol first, so that every exported variable holds
// its value before anything else of the library runs; then it allocates the
// current-context slot (with the loading thread's cell) and creates the
// operation schedulers of the client and collision threads, and the
// collision scheduler (whose thread starts with the first context that has a
// device). Unloading undoes it in reverse; a collision thread still running
// then (contexts never deleted) is stopped first.
#include "platform/Platform.h"
#include "qm/api/CurrentContext.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"
#include "qm/collision/CollisionScheduler.h"

namespace QM {
namespace {

void loadLibrary() {
    initialiseSymbols();
    initialiseCurrentContextSlot();
    initialiseOperationSchedulers();
    initialiseCollisionScheduler();
}

void unloadLibrary() {
    releaseCollisionScheduler();
    releaseOperationSchedulers();
    releaseCurrentContextSlot();
    releaseSymbols();
}

PLAT_ON_LOAD(loadLibrary)
PLAT_ON_UNLOAD(unloadLibrary)

}  // namespace
}  // namespace QM
