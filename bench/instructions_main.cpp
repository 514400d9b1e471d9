// Sends one of the single-request cases COUNT times, for callgrind to count
// the instructions of: run as
//   valgrind --tool=callgrind --toggle-collect='CountedRequests*' trilox_instructions [--minimal] CASE COUNT
// so that only the requests are counted, not loading the module or a first
// round, which resolves the module's symbols. --minimal sends them to the
// minimal module instead.
#include "loaded_module.h"
#include "request_bench.h"
#include "scratch_namespace.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Not counted: the first round resolves the module's symbols.
bool FirstRound(SaoriHost& module, const std::vector<Exchange>& exchanges) {
    bool answered = true;
    for (const Exchange& exchange : exchanges)
        answered = Answers(exchange, module) && answered;
    return answered;
}

}  // namespace

__attribute__((noinline)) bool CountedRequests(SaoriHost& module, const std::vector<Exchange>& exchanges,
                                               long count) {
    bool answered = true;
    for (long i = 0; i < count; ++i)
        for (const Exchange& exchange : exchanges)
            answered = Answers(exchange, module) && answered;
    return answered;
}

int main(int argc, char** argv) {
    bool minimal = argc == 4 && std::string(argv[1]) == "--minimal";
    long count = argc == 3 + minimal ? std::atol(argv[2 + minimal]) : 0;
    if (count <= 0) {
        std::fprintf(stderr, "usage: %s [--minimal] CASE COUNT\n", argv[0]);
        return 2;
    }
    const char* name = argv[1 + minimal];
    const char* base = std::getenv("TMPDIR");
    ScratchNamespace scratch(base && *base ? base : "/dev/shm");
    SaoriHost& module = minimal ? MinimalModule() : LoadedModule();
    std::vector<Exchange> exchanges = SingleRequestCase(name);
    if (scratch.path().empty() || exchanges.empty() || !CreateLockCaseMutex(module) ||
        !FirstRound(module, exchanges) || !CountedRequests(module, exchanges, count)) {
        std::fprintf(stderr, "trilox_instructions: %s was not answered as expected\n", name);
        return 1;
    }
    return 0;
}
