// The Win32 rules for mutex names, and the file that holds each named mutex.
#pragma once

#include "platform/win32.h"

#include <string>

struct MutexName {
    bool global = false;    // "Global\" names live in the machine-wide namespace
    std::string name;       // the name within its namespace, without the prefix, in its one
                            // spelling; empty for a name that reads as nothing
    std::string file_name;  // the file in the namespace directory that holds the mutex
};

// Fills `parsed` and returns ERROR_SUCCESS, or returns the Win32 error for a bad name.
// Names are read as Windows reads them in code page 932 (Shift_JIS), and byte
// strings it reads alike are one name.
DWORD parse_mutex_name(const char* name, MutexName& parsed);
