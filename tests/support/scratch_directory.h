#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

// Makes a directory of the caller's own, "trilox-PURPOSE-XXXXXX", for mutex
// namespaces and module directories, and returns its path ("" if it cannot).
// It is made in /dev/shm, where mutex files live by default, when there is
// one: there the last close of a mutex file is free, where on a disk file
// system it can wait for the disk to discard the file's blocks.
inline std::string MakeScratchDirectory(const std::string& purpose) {
    struct stat status;
    std::string base = stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) ? "/dev/shm" : "/tmp";
    std::string path = base + "/trilox-" + purpose + "-XXXXXX";
    return mkdtemp(path.data()) ? path : "";
}
