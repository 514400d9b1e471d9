// A host whose own teardown uses the module after the module's static objects
// are gone (they were made after the host's): requests must still be answered,
// and unload, and the unload of an instance, must still answer 1, without a crash.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using LoadFn = int (*)(void*, long);
using UnloadFn = int (*)();
using InstanceLoadFn = long (*)(char*, long);
using InstanceUnloadFn = int (*)(long);
using RequestFn = void* (*)(void*, long*);

// The module frees the request block; the reply is the host's to free.
std::string Request(RequestFn request, const std::string& text) {
    void* block = std::malloc(text.size());
    std::memcpy(block, text.data(), text.size());
    long length = static_cast<long>(text.size());
    void* reply = request(block, &length);
    std::string answer(static_cast<const char*>(reply), static_cast<std::size_t>(length));
    std::free(reply);
    return answer;
}

std::string Execute(RequestFn request, const char* command, const std::string& name) {
    return Request(request, std::string("EXECUTE SAORI/1.0\r\nArgument0: ") + command + "\r\nArgument1: " + name +
                                "\r\nSecurityLevel: Local\r\n\r\n");
}

// Enough names that the registry's nodes, freed with it, would be reused.
const int kNames = 32;

struct Host {
    RequestFn request = nullptr;
    UnloadFn unload = nullptr;
    InstanceUnloadFn instance_unload = nullptr;
    long instance = 0;
    ~Host() {
        if (!unload)
            return;
        int created = 0;
        for (int i = 0; i < kNames; ++i)
            created += Execute(request, "Create", "late" + std::to_string(i)).find("Result: 1") != std::string::npos;
        for (int i = 0; i < kNames; ++i)
            created += Execute(request, "Delete", "early" + std::to_string(i)).find("Result: 1") != std::string::npos;
        std::printf("requests at exit: %d of %d\n", created, 2 * kNames);
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
    host.request = reinterpret_cast<RequestFn>(dlsym(library, "_request"));
    for (int i = 0; i < kNames; ++i)
        Execute(host.request, "Create", "early" + std::to_string(i));
    host.unload = reinterpret_cast<UnloadFn>(dlsym(library, "_unload"));

    auto instance_load = reinterpret_cast<InstanceLoadFn>(dlsym(library, "trilox_saori_load"));
    char* path = static_cast<char*>(std::malloc(1));
    std::memcpy(path, "/", 1);
    host.instance = instance_load(path, 1);
    host.instance_unload = reinterpret_cast<InstanceUnloadFn>(dlsym(library, "trilox_saori_unload"));
}
