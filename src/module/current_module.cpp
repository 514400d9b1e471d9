#include "module/current_module.h"

#include "module/module_object.h"

std::unique_ptr<TNS_OrtaneANI>& CurrentModule() {
    // Never destroyed: a host may call unload from its own teardown, after
    // the library's static objects are gone.
    static auto& current = *new std::unique_ptr<TNS_OrtaneANI>;
    return current;
}
