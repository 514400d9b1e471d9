// The module's whole surface toward its host: load, unload and request.
#include "platform/module_directory.h"
#include "platform/win32.h"

#include "module/current_module.h"
#include "module/host_blocks.h"
#include "module/instances.h"
#include "module/module_object.h"

#include <memory>
#include <string>

#ifdef _WIN32
#define TRILOX_EXPORT extern "C"
#else
#define TRILOX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TRILOX_EXPORT BOOL __cdecl _load(HGLOBAL h, long len) {
    try {
        std::string path = module_directory(TakeText(h, len));
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
    return AnswerRequest(CurrentModule().get(), h, len);
}

#ifndef _WIN32
// The plain names many hosts look up; the Windows build exports them by its
// .def file.
TRILOX_EXPORT BOOL load(HGLOBAL h, long len) __attribute__((alias("_load")));
TRILOX_EXPORT BOOL unload(void) __attribute__((alias("_unload")));
TRILOX_EXPORT HGLOBAL request(HGLOBAL h, long* len) __attribute__((alias("_request")));

// The names Linux hosts look up, after the module file "trilox.dll" they
// find on SAORI_FALLBACK_PATH. Each load makes an instance of its own with
// its own directory; the mutexes are the process's, shared by every
// instance and by _load. Blocks are malloc'd on both sides, which is what
// global memory is here.
TRILOX_EXPORT long trilox_saori_load(char* path, long len) {
    try {
        std::string directory = module_directory(TakeText(path, len));
        auto module = std::make_unique<TNS_OrtaneANI>();
        if (!module->Load(directory))
            return 0;
        return AddInstance(std::move(module));
    } catch (...) {
        return 0;  // out of memory: no instance
    }
}

TRILOX_EXPORT int trilox_saori_unload(long id) {
    std::unique_ptr<TNS_OrtaneANI> module = RemoveInstance(id);
    if (!module)
        return TRUE;  // as _unload answers with nothing loaded
    return module->Unload() ? TRUE : FALSE;
}

TRILOX_EXPORT char* trilox_saori_request(long id, char* request, long* len) {
    return static_cast<char*>(AnswerRequest(FindInstance(id), request, len));
}
#endif
