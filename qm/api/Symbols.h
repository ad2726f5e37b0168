// The library's symbols: the exported enumerant variables (declared in the
// public header) and the private attribute keys, which are variables of the
// same kind that are not exported.
//
// Every variable holds its symbol from the moment the library is loaded until
// it is unloaded; code compares symbols by pointer only.
#pragma once

#include "qm/api/SymbolList.h"
#include "qm/qm.h"

namespace QM {

#define QM_DECLARE_PRIVATE_SYMBOL(name) extern QMenum name;
QM_PRIVATE_SYMBOLS(QM_DECLARE_PRIVATE_SYMBOL)
#undef QM_DECLARE_PRIVATE_SYMBOL

// Creates the process-wide symbol table, which interns every name and fills
// every variable. Called first when the library loads; later calls do
// nothing.
void initialiseSymbols();
// Destroys the table at unload and empties the variables, so that a call that
// arrives after unload meets null symbols rather than freed text.
void releaseSymbols();

}  // namespace QM
