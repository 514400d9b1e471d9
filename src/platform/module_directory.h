// The module directory as the module keeps it: the licence file's name is
// appended to it directly. Windows hosts hand the folder with its trailing
// backslash, and it is kept exactly as given. Linux hosts may hand "." or a
// path without its '/', which then gets one, so that the file lands inside
// the directory under its own name; an empty directory stays empty.
#pragma once

#include <string>

#ifdef _WIN32
inline std::string module_directory(std::string given) { return given; }
#else
std::string module_directory(std::string given);
#endif
