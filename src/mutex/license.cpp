#include "mutex/license.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

namespace {

// The repository's LICENSE, built in.
#include "mutex/license_text.inc"

}  // namespace

std::int32_t WriteLicense(const std::string& module_directory) {
    const std::string path = module_directory + "trilox_license.txt";
    // A NUL would cut the path short and open some other file.
    if (path.find('\0') != std::string::npos)
        return 400;
    // Opening a FIFO for writing waits for a reader, for ever if none comes;
    // a file that cannot be opened at once counts as one that cannot be
    // opened. Swapping one in between this check and the open takes write
    // access to the module directory, which is its owner's.
    struct stat existing;
    if (stat(path.c_str(), &existing) == 0 && S_ISFIFO(existing.st_mode))
        return 400;
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        // Memory that ran out while opening is the fixed 500 answer, not a
        // file that cannot be opened.
        if (errno == ENOMEM)
            throw std::bad_alloc();
        return 400;
    }
    bool written = std::fputs(kLicenseText, file) != EOF;
    bool closed = std::fclose(file) == 0;
    return written && closed ? 204 : 500;
}
