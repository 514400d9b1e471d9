#include "fuzz_support.h"

#include "support/scratch_directory.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

std::string scratch;

void RemoveScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

}  // namespace

std::string MakeFuzzScratch() {
    scratch = MakeScratchDirectory("fuzz");
    Require(!scratch.empty(), "a scratch directory can be made");
    std::atexit(RemoveScratch);
    std::string namespace_directory = scratch + "/namespace";
    Require(mkdir(namespace_directory.c_str(), 0700) == 0, "a namespace directory can be made");
    setenv("TRILOX_NAMESPACE_DIR", namespace_directory.c_str(), 1);
    return scratch;
}

void Require(bool holds, const char* property) {
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\n", property);
    std::abort();
}
