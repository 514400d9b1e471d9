#include "mutex/registry.h"

MutexMap& MutexRegistry() {
    // Never destroyed: a host may still send requests from its own teardown,
    // after the library's static objects are gone.
    static MutexMap& registry = *new MutexMap;
    static DWORD process = GetCurrentProcessId();
    if (process != GetCurrentProcessId()) {
        // A forked child's copy names the parent's handles, which it does not
        // have: its own handles would be taken for them.
        registry.clear();
        process = GetCurrentProcessId();
    }
    return registry;
}
