// A host whose own teardown uses the module after the module's static objects
// are gone (they were made after the host's): requests must still be answered,
// and unload, and the unload of an instance, must still answer 1, without a crash.
#include "support/module_library.h"

#include <cstdio>
#include <string>

namespace {

std::string Execute(const ModuleLibrary& module, const char* command, const std::string& name) {
    return module
        .Request(std::string("EXECUTE SAORI/1.0\r\nArgument0: ") + command + "\r\nArgument1: " + name +
                 "\r\nSecurityLevel: Local\r\n\r\n")
        .text;
}

// Enough names that the registry's nodes, freed with it, would be reused.
const int kNames = 32;

struct Host {
    const ModuleLibrary* module = nullptr;
    long instance = 0;
    ~Host() {
        if (!module)
            return;
        int answered = 0;
        for (int i = 0; i < kNames; ++i)
            answered += Execute(*module, "Create", "late" + std::to_string(i)).find("Result: 1") != std::string::npos;
        for (int i = 0; i < kNames; ++i)
            answered += Execute(*module, "Delete", "early" + std::to_string(i)).find("Result: 1") != std::string::npos;
        std::printf("requests at exit: %d of %d\n", answered, 2 * kNames);
        std::printf("unload at exit: %d\n", module->unload());
        std::printf("instance unload at exit: %d\n", module->saori_unload(instance));
    }
} host;

}  // namespace

int main() {
    // Loaded only now, after the host's static object; never destroyed, as
    // the host's teardown still calls through it.
    const ModuleLibrary* module = new ModuleLibrary;
    module->Load("/");
    for (int i = 0; i < kNames; ++i)
        Execute(*module, "Create", "early" + std::to_string(i));
    host.instance = module->saori_load(static_cast<char*>(Block("/")), 1);
    host.module = module;
}
