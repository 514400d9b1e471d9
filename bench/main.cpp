// The benchmark program: every case and its floor, with a namespace
// directory of its own.
#include "floor_bench.h"
#include "registry_bench.h"
#include "request_bench.h"
#include "scratch_namespace.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // The platform layer keeps a file open for each open mutex, and the
    // registry cases have the module keep thousands.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // Where mutexes live by default: tmpfs.
    const char* base = std::getenv("TMPDIR");
    ScratchNamespace scratch(base && *base ? base : "/dev/shm");
    if (scratch.path().empty()) {
        std::perror("trilox_bench: cannot make a namespace directory");
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // In this order: the registry grows as its cases run.
    RegisterRequestBenchmarks();
    RegisterFloorBenchmarks();
    RegisterRegistryBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
