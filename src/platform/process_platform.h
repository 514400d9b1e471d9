// One set of mutexes, handles and holds for the whole process, however many
// copies of trilox it has loaded from separate files (two ghosts that each
// ship one, say): as copies of a DLL all call the one kernel32, every copy
// calls the platform of the copy the process loaded first. A copy that mapped
// the mutexes apart would unmap one that its thread still holds through
// another copy, and the C library, which lists a held mutex by its address,
// would follow the dangling entry. Each copy keeps its own instances, module
// objects and registry.
#pragma once

#include "platform/win32.h"

#include <cstddef>

struct Platform {
    const char* format;  // first, in every format: copies of another refuse to share
    HANDLE (*create_mutex)(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCSTR name);
    HANDLE (*open_mutex)(DWORD access, BOOL inherit, LPCSTR name);
    DWORD (*wait_for_single_object)(HANDLE handle, DWORD milliseconds);
    BOOL (*release_mutex)(HANDLE handle);
    BOOL (*close_handle)(HANDLE handle);
    DWORD (*get_last_error)();
    void (*set_last_error)(DWORD error);
    // Why mutexes cannot be had now: namespace_problems(), or why this copy
    // cannot share the process's platform. Copied into `text` as far as
    // `size` allows, NUL-terminated; returns its whole length.
    std::size_t (*problems)(char* text, std::size_t size);
};

// This copy's own platform. Exported: the other copies and hosts' tools find it by name.
extern "C" __attribute__((visibility("default"))) const Platform* trilox_platform(void);
