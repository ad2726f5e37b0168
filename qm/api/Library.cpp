// Library load and unload.
//
// Loading interns every symbol first, so that every exported variable holds
// its value before anything else of the library runs; then it allocates the
// current-context slot (with the loading thread's cell) and creates the
// operation schedulers of the client and collision threads. Unloading undoes
// it in reverse.
#include "platform/platform.h"
#include "qm/api/CurrentContext.h"
#include "qm/api/OperationSchedulers.h"
#include "qm/api/Symbols.h"

namespace QM {
namespace {

void loadLibrary()
{
    initialiseSymbols();
    initialiseCurrentContextSlot();
    initialiseOperationSchedulers();
}

void unloadLibrary()
{
    releaseOperationSchedulers();
    releaseCurrentContextSlot();
    releaseSymbols();
}

PLAT_ON_LOAD(loadLibrary)
PLAT_ON_UNLOAD(unloadLibrary)

}  // namespace
}  // namespace QM
