// LoadLibraryA and friends for hosts, on dlopen.
#include "platform/win32.h"

#include <cstring>
#include <dlfcn.h>
#include <string>

extern "C" HMODULE LoadLibraryA(LPCSTR path) {
    // A bare file name is the one in the current directory, not one on the
    // library search path.
    std::string file = std::strchr(path, '/') ? path : std::string("./") + path;
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    return reinterpret_cast<FARPROC>(dlsym(module, name));
}

extern "C" BOOL FreeLibrary(HMODULE module) {
    return dlclose(module) == 0;
}
