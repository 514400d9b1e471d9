// This copy's CreateMutexA, OpenMutexA, WaitForSingleObject, ReleaseMutex and
// CloseHandle. The Win32 names lead to those of the process's platform
// (process_platform.h), which may be another copy's.
#pragma once

#include "platform/win32.h"

HANDLE create_mutex(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCSTR name);
HANDLE open_mutex(DWORD access, BOOL inherit, LPCSTR name);
DWORD wait_for_single_object(HANDLE handle, DWORD milliseconds);
BOOL release_mutex(HANDLE handle);
BOOL close_handle(HANDLE handle);
