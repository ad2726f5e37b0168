// Process-wide objects of the library and their life cycle.
#pragma once

namespace zv {

// Creates the library's objects (normally at load; also on first use when a
// call arrives earlier) and destroys them at unload.
void loadLibrary();
void unloadLibrary();

}  // namespace zv
