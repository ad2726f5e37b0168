// The current rendering context of each thread.
#pragma once

namespace QM {

class Context;

// A thread's cell: the context current on that thread.
struct ContextWrapper {
    Context* context = nullptr;
};

// Allocates the thread-local slot and the loading thread's cell (at load);
// false when the operating system gives no slot.
bool initialiseCurrentContextSlot();
// Frees the calling thread's cell and the slot (at unload).
void releaseCurrentContextSlot();
// False when the slot could not be allocated: no thread can then have a
// current context.
bool currentContextAvailable();

// The calling thread's current context, or null. Never allocates.
Context* currentContext();
// Makes a context (or none) current on the calling thread, creating the
// thread's cell on first use (threads that existed before the library was
// loaded have none until then).
void setCurrentContext(Context* context);

}  // namespace QM
