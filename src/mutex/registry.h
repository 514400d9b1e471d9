#pragma once

#include "platform/win32.h"

#include <map>
#include <string>

// The mutexes this module created and keeps alive, by the name they were
// created under. It lasts as long as the process, like the module object,
// and its handles are never closed at teardown, so those mutexes last as
// long as the host process.
extern std::map<std::string, HANDLE>& MutexRegistry;
