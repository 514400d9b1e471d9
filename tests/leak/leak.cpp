// Drives requests of every kind through the module and shows that nothing
// grows: open file descriptors, memory mappings, mutex files, resident memory;
// nor does loading and freeing the module again and again.
//   trilox_leak MODULE [REQUESTS]
// A share of the requests warms up and sets the baseline; the rest must end
// every round of requests back on it.
#include "host.h"
#include "support/scratch_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory back and maps its own: only descriptors
// and files are counted, and LeakSanitizer checks the blocks at exit.
constexpr bool kCountsMemory = false;
#else
constexpr bool kCountsMemory = true;
#endif

namespace {

// Resident memory may move by what the allocator keeps cached; a leak of one
// small block per request over the run is many times this.
constexpr long kResidentSlackBytes = 256 * 1024;

struct Step {
    std::string request;  // "" for unload, then load again
    int status;
    const char* result;
};

std::vector<Step> Round() {
    auto call = [](std::vector<std::string> arguments, int status, const char* result = "") {
        return Step{ExecuteRequestText(arguments), status, result};
    };
    return {
        {"GET Version SAORI/1.0\r\nSecurityLevel: Local\r\n\r\n", 200, ""},
        call({"Create", "leak"}, 200, "1"),
        call({"Create", "leak"}, 200, "0"),
        call({"Lock", "leak"}, 200, "1"),
        call({"Lock", "leak"}, 200, "1"),
        call({"isLocked", "leak"}, 200, "0"),
        call({"Unlock", "leak"}, 204),
        call({"Unlock", "leak"}, 204),
        call({"Wait", "leak"}, 204),
        call({"Unlock", "leak"}, 204),
        call({"Create", "Global\\leak"}, 200, "1"),
        call({"Delete", "Global\\leak"}, 200, "1"),
        call({"Lock", "missing"}, 500),
        call({"Create", "\x81"}, 200, "1"),  // read as no name: a new mutex each time
        call({"Delete", "leak"}, 200, "1"),
        call({"isLocked", "leak"}, 500),
        call({"license"}, 204),
        call({"Create"}, 400),
        call({"Unknown", "leak"}, 400),
        {"EXECUTE SAORI/1.0\r\nSecurityLevel: External\r\nArgument0: Create\r\nArgument1: leak\r\n\r\n", 400, ""},
        {"EXECUTE SAORI/1.0\r\n\r\n", 400, ""},
        {"", 500, ""},
    };
}

// A script that deletes what it holds: the mutex goes with its last handle,
// and the hold with it.
std::vector<Step> DeleteWhileHeldRound() {
    return {
        Step{ExecuteRequestText({"Create", "held"}), 200, "1"},
        Step{ExecuteRequestText({"Lock", "held"}), 200, "1"},
        Step{ExecuteRequestText({"Delete", "held"}), 200, "1"},
    };
}

long DescriptorCount() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

long MappingCount() {
    std::ifstream maps("/proc/self/maps");
    return std::count(std::istreambuf_iterator<char>(maps), {}, '\n');
}

long ResidentBytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

struct Usage {
    long descriptors, mappings, files, resident;
};

// Never destroyed, so that the module stays loaded to the end and
// LeakSanitizer finds its own objects reachable, reporting only lost blocks.
class LeakRun {
public:
    LeakRun(const std::string& module, const fs::path& scratch, std::vector<Step> round)
        : scratch_(scratch), round_(std::move(round)) {
        std::string error = host_.Open(module);
        if (!error.empty()) {
            std::fprintf(stderr, "leak: %s\n", error.c_str());
            std::exit(2);
        }
        fs::create_directory(scratch_ / "module");
        host_.Load((scratch_ / "module").string() + "/");  // where "license" writes
    }

    // Runs rounds until `requests` more have been sent; false on a wrong answer.
    bool Send(long requests) {
        while (requests > 0) {
            for (const Step& step : round_) {
                std::string response = step.request.empty() ? Reload() : host_.Request(step.request);
                if (StatusOf(response) != step.status || ResultOf(response) != step.result) {
                    std::fprintf(stderr, "leak: FAILED: unexpected answer %s", response.c_str());
                    return false;
                }
            }
            requests -= static_cast<long>(round_.size());
            sent_ += static_cast<long>(round_.size());
        }
        return true;
    }

    Usage Measure() const {
        return {DescriptorCount(), MappingCount(), Files(), ResidentBytes()};
    }

    long sent() const { return sent_; }

private:
    // The fixed answer of an unloaded module, then loaded again.
    std::string Reload() {
        host_.Unload();
        std::string response = host_.Request("GET Version SAORI/1.0\r\n\r\n");
        host_.Load((scratch_ / "module").string() + "/");
        return response;
    }

    long Files() const {
        long files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(scratch_ / "namespace"))
            files += entry.is_regular_file();
        return files;
    }

    fs::path scratch_;
    SaoriHost host_;
    const std::vector<Step> round_;
    long sent_ = 0;
};

bool Run(const std::string& module, long requests, const fs::path& scratch, std::vector<Step> round) {
    const std::size_t kinds = round.size();
    static std::vector<LeakRun*>& kept = *new std::vector<LeakRun*>;
    kept.push_back(new LeakRun(module, scratch, std::move(round)));
    LeakRun& run = *kept.back();
    const int checkpoints = 10;
    if (!run.Send(requests / 20))
        return false;
    const Usage baseline = run.Measure();
    Usage worst = baseline;
    for (int i = 0; i < checkpoints; ++i) {
        if (!run.Send((requests - run.sent()) / (checkpoints - i)))
            return false;
        Usage now = run.Measure();
        worst = {std::max(worst.descriptors, now.descriptors), std::max(worst.mappings, now.mappings),
                 std::max(worst.files, now.files), std::max(worst.resident, now.resident)};
    }
    std::printf("leak: %ld requests, %zu kinds\n", run.sent(), kinds);
    std::printf("leak: descriptors %ld, at most %ld after\n", baseline.descriptors, worst.descriptors);
    std::printf("leak: mutex files %ld, at most %ld after\n", baseline.files, worst.files);
    if (kCountsMemory) {
        std::printf("leak: mappings %ld, at most %ld after\n", baseline.mappings, worst.mappings);
        std::printf("leak: resident %ld KiB, at most %ld KiB after\n", baseline.resident / 1024, worst.resident / 1024);
    }
    bool passed = worst.descriptors == baseline.descriptors && worst.files == 0 &&
                  (!kCountsMemory || (worst.mappings == baseline.mappings &&
                                      worst.resident - baseline.resident <= kResidentSlackBytes));
    if (!passed)
        std::fprintf(stderr, "leak: FAILED: something grew\n");
    return passed;
}

// A host may load and free the module for every call.
bool Reloads(const std::string& module, int cycles) {
    auto cycle = [&] {
        SaoriHost host;
        host.Open(module);
        return StatusOf(host.Request(ExecuteRequestText({"Create", "reload"}))) == 200 &&
               StatusOf(host.Request(ExecuteRequestText({"Delete", "reload"}))) == 200;
    };
    bool answered = cycle();
    const long before = DescriptorCount();
    for (int i = 0; i < cycles; ++i)
        answered = cycle() && answered;
    const long after = DescriptorCount();
    std::printf("leak: %d loads and frees of the module, descriptors %ld, %ld after\n", cycles, before, after);
    if (!answered || after != before)
        std::fprintf(stderr, "leak: FAILED: loading the module again %s\n", answered ? "leaked" : "failed");
    return answered && after == before;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: trilox_leak MODULE [REQUESTS]\n");
        return 2;
    }
    long requests = argc == 3 ? std::atol(argv[2]) : 100000;
    std::string scratch = MakeScratchDirectory("leak");
    if (scratch.empty())
        return 2;
    fs::create_directory(fs::path(scratch) / "namespace");
    setenv("TRILOX_NAMESPACE_DIR", (fs::path(scratch) / "namespace").c_str(), 1);
    bool passed = Reloads(argv[1], 200) && Run(argv[1], requests, scratch, Round()) &&
                  Run(argv[1], 3 * requests, scratch, DeleteWhileHeldRound());
    fs::remove_all(scratch);
    return passed ? 0 : 1;
}
