// The Win32 error for a failed POSIX call on the mutex namespace.
#pragma once

#include "platform/win32.h"

#include <cerrno>

inline DWORD win32_error_from_errno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    default:
        // Read-only, full, not ours, a planted link: the namespace cannot be used.
        return ERROR_ACCESS_DENIED;
    }
}
