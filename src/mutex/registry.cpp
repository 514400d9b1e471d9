#include "mutex/registry.h"

// Never destroyed: a host may still send requests from its own teardown,
// after the library's static objects are gone.
std::map<std::string, HANDLE, std::less<>>& MutexRegistry = *new std::map<std::string, HANDLE, std::less<>>;
