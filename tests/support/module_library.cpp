#include "support/module_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

void* Block(const std::string& text) {
    void* block = std::malloc(text.size() ? text.size() : 1);
    std::memcpy(block, text.data(), text.size());
    return block;
}

ModuleLibrary::ModuleLibrary() {
    static void* library = dlopen(TRILOX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        throw std::runtime_error(dlerror());
    load = reinterpret_cast<LoadFn>(dlsym(library, "_load"));
    unload = reinterpret_cast<UnloadFn>(dlsym(library, "_unload"));
    request = reinterpret_cast<RequestFn>(dlsym(library, "_request"));
    saori_load = reinterpret_cast<InstanceLoadFn>(dlsym(library, "trilox_saori_load"));
    saori_unload = reinterpret_cast<InstanceUnloadFn>(dlsym(library, "trilox_saori_unload"));
    saori_request = reinterpret_cast<InstanceRequestFn>(dlsym(library, "trilox_saori_request"));
}

ModuleLibrary::Reply ModuleLibrary::Request(const std::string& text) const {
    long len = static_cast<long>(text.size());
    void* reply = request(Block(text), &len);
    Reply result{reply == nullptr, len, reply ? std::string(static_cast<char*>(reply), len) : ""};
    std::free(reply);
    return result;
}

bool ModuleLibrary::Load(const std::string& directory) const {
    return load(Block(directory), static_cast<long>(directory.size())) != 0;
}
