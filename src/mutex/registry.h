#pragma once

#include "platform/win32.h"

#include <functional>
#include <map>
#include <string>

// The mutexes this module created and keeps alive, by the name they were
// created under; looked up by a view of a name, without copying it. It lasts
// as long as the process, like the module object, and its handles are never
// closed at teardown, so those mutexes last as long as the host process.
extern std::map<std::string, HANDLE, std::less<>>& MutexRegistry;
