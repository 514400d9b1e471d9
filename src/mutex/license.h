#pragma once

#include <cstdint>

class TNS_OrtaneANI;

// Writes the licence text to "trilox_license.txt" in the module directory:
// 204 when written, 400 when the file cannot be opened, 500 when the write
// fails after it opened.
std::int32_t WriteLicense(const TNS_OrtaneANI& module);
