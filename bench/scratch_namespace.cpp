#include "scratch_namespace.h"

#include <ftw.h>

#include <cstdio>
#include <cstdlib>

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return std::remove(path);
}

}  // namespace

ScratchNamespace::ScratchNamespace(const std::string& base) {
    std::string pattern = base + "/trilox-bench-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return;
    path_ = pattern;
    setenv("TRILOX_NAMESPACE_DIR", path_.c_str(), 1);
}

ScratchNamespace::~ScratchNamespace() {
    // Depth first and without following links: files, then their directories.
    if (!path_.empty())
        nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}
