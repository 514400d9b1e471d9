#pragma once

#include <cstdint>
#include <string>

// The module object: what the loaded module knows between load and unload.
class TNS_OrtaneANI {
public:
    std::string DataPath;               // the module directory, as the host gave it
    std::uint32_t AdmissionPolicy = 2;  // admits Local and Unknown callers

    bool Load(const std::string& path);
    bool Unload();
};
