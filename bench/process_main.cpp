// The benchmarks of several processes: a mutex handed from one process to
// another blocked in Wait, and many processes contending for one. Each runs
// through the module's _request and on the bare pthread mutex beside it, and
// the figures are written as JSON to the file named by the one argument.
#include "contended_mutex.h"
#include "contention_bench.h"
#include "handoff_bench.h"
#include "platform/win32.h"
#include "processes.h"
#include "robust_mutex.h"
#include "scratch_namespace.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

// A cold round takes a pause of milliseconds: more time for as many rounds.
constexpr double kWarmHandoffSeconds = 1.5;
constexpr double kColdHandoffSeconds = 4.0;
constexpr double kContentionSeconds = 1.0;
const unsigned kProcessCounts[] = {2, 4, 8};

std::string Numbers(const std::vector<double>& values) {
    std::string text = "[";
    for (double value : values)
        text += (text.size() > 1 ? "," : "") + std::to_string(value);
    return text + "]";
}

// The module's mutex or the pthread mutex, fresh for each run.
std::unique_ptr<ContendedMutex> MakeMutex(bool through_requests, const std::string& name,
                                          pthread_mutex_t* floor) {
    if (through_requests)
        return std::make_unique<RequestMutex>(name);
    return std::make_unique<PthreadMutex>(floor);
}

const char* Kind(bool through_requests) {
    return through_requests ? "request" : "pthread";
}

// Through requests, on the bare pthread mutex, on a futex word and through
// requests to the minimal module, round by round; warm, then cold.
std::string Handoffs(pthread_mutex_t* floor, std::atomic<std::uint32_t>* word) {
    std::string json;
    for (Release release : {Release::kWarm, Release::kCold}) {
        bool cold = release == Release::kCold;
        RequestMutex request(cold ? "handoff-cold" : "handoff-warm");
        PthreadMutex pthread(floor);
        FutexMutex futex(word);
        MinimalRequestMutex minimal(cold ? "handoff-cold" : "handoff-warm");
        auto latencies = MeasureHandoffs({&request, &pthread, &futex, &minimal}, release,
                                         cold ? kColdHandoffSeconds : kWarmHandoffSeconds);
        if (latencies.empty())
            return "";
        json += std::string(json.empty() ? "{" : ",") + (cold ? "\"cold\"" : "\"warm\"") +
                ":{\"request\":" + Numbers(latencies[0]) + ",\"pthread\":" + Numbers(latencies[1]) +
                ",\"futex\":" + Numbers(latencies[2]) + ",\"minimal\":" + Numbers(latencies[3]) + "}";
    }
    return json + "}";
}

std::string Contentions(pthread_mutex_t* floor) {
    // Kept open here, so that every contending process opens it by name on
    // every request, as a program does that did not create it.
    const char* name = "contended";
    HANDLE kept = CreateMutexA(nullptr, FALSE, name);
    if (!kept)
        return "";
    std::string cases;
    for (Taking taking : {Taking::kSpinOnLock, Taking::kWait}) {
        for (unsigned processes : kProcessCounts) {
            for (bool through_requests : {true, false}) {
                auto mutex = MakeMutex(through_requests, name, floor);
                Contention contention = MeasureContention(*mutex, taking, processes, kContentionSeconds);
                if (contention.acquisitions.empty()) {
                    CloseHandle(kept);
                    return "";
                }
                cases += std::string(cases.empty() ? "" : ",") + "{\"mutex\":\"" + Kind(through_requests) +
                         "\",\"taking\":\"" + (taking == Taking::kWait ? "Wait" : "Lock") +
                         "\",\"processes\":" + std::to_string(processes) +
                         ",\"seconds\":" + std::to_string(contention.seconds) +
                         ",\"acquisitions\":" + Numbers(contention.acquisitions) + "}";
            }
        }
    }
    CloseHandle(kept);
    return "[" + cases + "]";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.json\n", argv[0]);
        return 2;
    }
    const char* base = std::getenv("TMPDIR");
    ScratchNamespace scratch(base && *base ? base : "/dev/shm");
    pthread_mutex_t* floor = MapRobustMutex();
    Shared<std::atomic<std::uint32_t>> word;
    if (scratch.path().empty() || !floor) {
        std::perror("trilox_process_bench: cannot make a namespace directory or map a mutex");
        return 1;
    }
    std::string handoffs = Handoffs(floor, &*word);
    std::string contentions = handoffs.empty() ? "" : Contentions(floor);
    UnmapRobustMutex(floor);
    if (contentions.empty()) {
        std::fprintf(stderr, "trilox_process_bench: a process failed, see above\n");
        return 1;
    }
    std::ofstream(argv[1]) << "{\"handoff\":" << handoffs << ",\"contention\":" << contentions << "}\n";
    return 0;
}
