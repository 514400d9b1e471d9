#include "module/module_object.h"

bool TNS_OrtaneANI::Load(const std::string& path) {
    DataPath = path;
    return true;
}

bool TNS_OrtaneANI::Unload() {
    return true;
}
