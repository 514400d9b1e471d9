// Create+Delete while the module keeps many mutexes it created. They live
// until the process ends, so they are registered once, in ascending counts,
// for the request and its floor alike: these cases run in the order
// registered, after the other cases or in a process of their own.
#include "registry_bench.h"

#include "floor_bench.h"
#include "request_bench.h"
#include "spread.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

namespace {

// Setup is bounded even on a machine where Create is slow.
constexpr std::chrono::seconds kRegistrationTime{90};
// Kept back while registering: a registry that fills the descriptor table
// would leave none for Delete, the other cases and the clean-up.
constexpr int kReserve = 64;

std::string RegisteredName(std::size_t index) {
    return "registered-" + std::to_string(index);
}

std::string Limits() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    std::string mappings = "?";
    std::ifstream("/proc/sys/vm/max_map_count") >> mappings;
    return "this process may open " + std::to_string(files.rlim_cur) + " files (RLIMIT_NOFILE) and map " +
           mappings + " areas (vm.max_map_count)";
}

class ReservedDescriptors {
public:
    ReservedDescriptors() {
        for (int& fd : fds_)
            fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    ~ReservedDescriptors() {
        for (int fd : fds_)
            if (fd >= 0)
                close(fd);
    }
    ReservedDescriptors(const ReservedDescriptors&) = delete;
    ReservedDescriptors& operator=(const ReservedDescriptors&) = delete;

private:
    int fds_[kReserve];
};

// Grows the module's registry to `count` mutexes; returns why it cannot, or "".
std::string Register(std::size_t count) {
    static std::size_t registered = 0;
    static std::string failure;
    static const std::string limits = Limits();  // read while files can still be opened
    const auto deadline = std::chrono::steady_clock::now() + kRegistrationTime;
    ReservedDescriptors reserve;
    while (registered < count && failure.empty()) {
        if (std::chrono::steady_clock::now() > deadline)
            failure = "registering took over " + std::to_string(kRegistrationTime.count()) + " s";
        else if (Answers(Execute("Create", RegisteredName(registered), 200, "1")))
            ++registered;
        else
            failure = "Create failed with " + std::to_string(registered) + " mutexes registered; " + limits;
    }
    return failure;
}

void Add(const std::string& what, std::size_t count, const char* count_text,
         void (*measure)(benchmark::State&)) {
    std::string name = what + "/Create+Delete, " + count_text + " registered";
    WithSpread(benchmark::RegisterBenchmark(name.c_str(), [count, measure](benchmark::State& state) {
        std::string failure = Register(count);
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            return;
        }
        measure(state);
    }));
}

void CreateDeleteRequests(benchmark::State& state) {
    static const std::vector<Exchange> exchanges = CreateDeleteExchanges();
    MeasureExchanges(state, exchanges);
}

}  // namespace

void RegisterRegistryBenchmarks() {
    // Again with none, next to the others in time, as this machine's speed drifts.
    Add("request", 0, "0", CreateDeleteRequests);
    Add("platform", 0, "0", CreateDeleteFloor);
    Add("request", 10000, "10,000", CreateDeleteRequests);
    Add("platform", 10000, "10,000", CreateDeleteFloor);
    Add("request", 100000, "100,000", CreateDeleteRequests);
    Add("platform", 100000, "100,000", CreateDeleteFloor);
}
