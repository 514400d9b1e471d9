// The one face of the Windows interfaces the module and its tools use.
// On Windows this is <windows.h> itself; elsewhere the same names are
// declared here and implemented by the files beside this one.
#pragma once

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef void* HGLOBAL;
typedef void* HMODULE;
typedef const char* LPCSTR;
typedef std::size_t SIZE_T;
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
typedef void (*FARPROC)(void);

#define __cdecl
#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

// Global memory: GMEM_FIXED blocks, whose handle is their address.
#define GMEM_FIXED 0x0000
extern "C" HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
extern "C" HGLOBAL GlobalFree(HGLOBAL block);

// Named mutexes.
#define MUTEX_ALL_ACCESS 0x1F0001
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_NAME 123
#define ERROR_NOT_OWNER 288
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_NOT_ENOUGH_QUOTA 1816

extern "C" HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCSTR name);
extern "C" HANDLE OpenMutexA(DWORD access, BOOL inherit, LPCSTR name);
extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
extern "C" BOOL ReleaseMutex(HANDLE handle);
extern "C" BOOL CloseHandle(HANDLE handle);
extern "C" DWORD GetLastError(void);
extern "C" void SetLastError(DWORD error);

extern "C" void Sleep(DWORD milliseconds);
extern "C" DWORD GetCurrentProcessId(void);

// Dynamic libraries, for hosts.
extern "C" HMODULE LoadLibraryA(LPCSTR path);
extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR name);
extern "C" BOOL FreeLibrary(HMODULE module);

#endif
