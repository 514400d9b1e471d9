// A host whose own teardown unloads the module, after the module's static
// objects are gone (they were made after the host's): unload, and the
// unload of an instance, must still answer 1 and not crash.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using LoadFn = int (*)(void*, long);
using UnloadFn = int (*)();
using InstanceLoadFn = long (*)(char*, long);
using InstanceUnloadFn = int (*)(long);

struct Host {
    UnloadFn unload = nullptr;
    InstanceUnloadFn instance_unload = nullptr;
    long instance = 0;
    ~Host() {
        if (unload)
            std::printf("unload at exit: %d\n", unload());
        if (instance_unload)
            std::printf("instance unload at exit: %d\n", instance_unload(instance));
    }
} host;

}  // namespace

int main(int argc, char** argv) {
    void* library = argc == 2 ? dlopen(argv[1], RTLD_NOW) : nullptr;
    if (!library)
        return 2;
    auto load = reinterpret_cast<LoadFn>(dlsym(library, "_load"));
    void* block = std::malloc(1);
    std::memcpy(block, "/", 1);
    load(block, 1);
    host.unload = reinterpret_cast<UnloadFn>(dlsym(library, "_unload"));

    auto instance_load = reinterpret_cast<InstanceLoadFn>(dlsym(library, "trilox_saori_load"));
    char* path = static_cast<char*>(std::malloc(1));
    std::memcpy(path, "/", 1);
    host.instance = instance_load(path, 1);
    host.instance_unload = reinterpret_cast<InstanceUnloadFn>(dlsym(library, "trilox_saori_unload"));
}
