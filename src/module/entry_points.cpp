// The module's whole surface toward its host: load, unload and request.
// Text blocks are GMEM_FIXED global memory, so a handle is an address.
#include "platform/win32.h"

#include "module/current_module.h"
#include "module/module_object.h"
#include "protocol/request_parser.h"

#include <cstring>
#include <new>
#include <string>

#ifdef _WIN32
#define TRILOX_EXPORT extern "C"
#else
#define TRILOX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Copies the host's text out of its block and frees the block. A null
// block reads as empty text, a negative length as zero.
std::string TakeText(HGLOBAL block, long len) {
    struct FreeOnExit {
        HGLOBAL block;
        ~FreeOnExit() { GlobalFree(block); }
    } owned{block};  // freed even when the copy runs out of memory
    if (!block || len <= 0)
        return {};
    return std::string(static_cast<const char*>(block), static_cast<std::size_t>(len));
}

HGLOBAL GiveText(const char* bytes, std::size_t size, long* len) {
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
    if (!block) {
        *len = 0;
        return nullptr;
    }
    std::memcpy(block, bytes, size);
    *len = static_cast<long>(size);
    return block;
}

}  // namespace

TRILOX_EXPORT BOOL __cdecl _load(HGLOBAL h, long len) {
    try {
        std::string path = TakeText(h, len);
        CurrentModule().reset();  // a repeated load replaces the object
        CurrentModule().reset(new TNS_OrtaneANI);
        return CurrentModule()->Load(path) ? TRUE : FALSE;
    } catch (...) {
        // Out of memory: no module object, so requests answer 500.
        CurrentModule().reset();
        return TRUE;
    }
}

TRILOX_EXPORT BOOL __cdecl _unload(void) {
    auto& current = CurrentModule();
    if (!current)
        return TRUE;
    BOOL result = current->Unload() ? TRUE : FALSE;
    current.reset();
    return result;
}

TRILOX_EXPORT HGLOBAL __cdecl _request(HGLOBAL h, long* len) {
    if (!len) {
        GlobalFree(h);
        return nullptr;
    }
    try {
        std::string response = ProcessRequest(TakeText(h, *len));
        return GiveText(response.data(), response.size(), len);
    } catch (...) {
        // Built without allocating: memory is what ran out.
        return GiveText(kFixedErrorResponse, sizeof kFixedErrorResponse - 1, len);
    }
}

#ifndef _WIN32
// The plain names many hosts look up; the Windows build exports them by its
// .def file.
TRILOX_EXPORT BOOL load(HGLOBAL h, long len) __attribute__((alias("_load")));
TRILOX_EXPORT BOOL unload(void) __attribute__((alias("_unload")));
TRILOX_EXPORT HGLOBAL request(HGLOBAL h, long* len) __attribute__((alias("_request")));
#endif
