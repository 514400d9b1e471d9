#include "module/current_module.h"

#include "module/module_object.h"

std::unique_ptr<TNS_OrtaneANI>& CurrentModule() {
    static std::unique_ptr<TNS_OrtaneANI> current;
    return current;
}
