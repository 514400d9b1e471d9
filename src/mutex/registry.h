#pragma once

#include "platform/win32.h"

#include <functional>
#include <map>
#include <string>

using MutexMap = std::map<std::string, HANDLE, std::less<>>;

// The mutexes this module created and keeps alive, by the name they were
// created under; looked up by a view of a name, without copying it. It lasts
// as long as the process, like the module object, and its handles are never
// closed at teardown, so those mutexes last as long as the host process.
// A forked child has none of its parent's handles, and so none of these.
MutexMap& MutexRegistry();
