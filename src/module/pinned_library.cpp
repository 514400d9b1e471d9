// Windows only: once loaded, the library stays until the process ends,
// whatever FreeLibrary calls the host makes. The handles that keep the
// module's mutexes alive, and its record of which ones it created, live in
// it; a host that frees the module between calls would leak them each time
// and could never Delete what it created. It also keeps code in place under
// a thread of the host still waiting in the module.
#include "platform/win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE library, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HMODULE pinned;
        // Not pinned (it cannot fail for a library being loaded) still works.
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(library), &pinned);
    }
    return TRUE;
}
