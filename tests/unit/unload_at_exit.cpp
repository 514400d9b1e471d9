// A host whose own teardown unloads the module, after the module's static
// objects are gone (they were made after the host's): unload must still
// answer 1 and not crash.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using LoadFn = int (*)(void*, long);
using UnloadFn = int (*)();

struct Host {
    UnloadFn unload = nullptr;
    ~Host() {
        if (unload)
            std::printf("unload at exit: %d\n", unload());
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
}
