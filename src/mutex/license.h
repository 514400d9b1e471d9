#pragma once

#include <cstdint>
#include <string>

// Writes the licence text to "trilox_license.txt" in the module directory
// (the host's path, to which the file name is appended as it stands): 204
// when written, 400 when the file cannot be opened, 500 when the write fails
// after it opened.
std::int32_t WriteLicense(const std::string& module_directory);
