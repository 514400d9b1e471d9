// Sends one of the single-request cases COUNT times, for callgrind to count
// the instructions of: run as
//   valgrind --tool=callgrind --toggle-collect='CountedRequests*' trilox_instructions CASE COUNT
// so that only the requests are counted, not loading the module or a first
// round, which resolves the module's symbols.
#include "loaded_module.h"
#include "request_bench.h"
#include "scratch_namespace.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool FirstRound(const std::vector<Exchange>& exchanges) {
    bool answered = true;
    for (const Exchange& exchange : exchanges)
        answered = Answers(exchange) && answered;
    return answered;
}

}  // namespace

__attribute__((noinline)) bool CountedRequests(const std::vector<Exchange>& exchanges, long count) {
    bool answered = true;
    for (long i = 0; i < count; ++i)
        for (const Exchange& exchange : exchanges)
            answered = Answers(exchange) && answered;
    return answered;
}

int main(int argc, char** argv) {
    long count = argc == 3 ? std::atol(argv[2]) : 0;
    if (count <= 0) {
        std::fprintf(stderr, "usage: %s CASE COUNT\n", argv[0]);
        return 2;
    }
    const char* base = std::getenv("TMPDIR");
    ScratchNamespace scratch(base && *base ? base : "/dev/shm");
    std::vector<Exchange> exchanges = SingleRequestCase(argv[1]);
    if (scratch.path().empty() || exchanges.empty() || !CreateLockCaseMutex() ||
        !FirstRound(exchanges) || !CountedRequests(exchanges, count)) {
        std::fprintf(stderr, "trilox_instructions: %s was not answered as expected\n", argv[1]);
        return 1;
    }
    return 0;
}
