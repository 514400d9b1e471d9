#include "contention_bench.h"

#include "processes.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

constexpr unsigned kMaxProcesses = 64;

struct ContentionPage {
    Signal ready;  // how many processes are set to start
    Signal start;
    std::atomic<bool> stop{false};
    double acquisitions[kMaxProcesses] = {};
};

// True once taken; false when told to stop while spinning, or on an error,
// which sets `failed`.
bool Take(ContendedMutex& mutex, Taking taking, const std::atomic<bool>& stop, bool& failed) {
    if (taking == Taking::kWait) {
        failed = !mutex.Wait();
        return !failed;
    }
    while (!stop.load(std::memory_order_relaxed)) {
        Attempt attempt = mutex.TryTake();
        if (attempt == Attempt::kTaken)
            return true;
        if (attempt == Attempt::kFailed) {
            failed = true;
            return false;
        }
    }
    return false;
}

bool Contend(ContentionPage& page, unsigned index, ContendedMutex& mutex, Taking taking) {
    // The first request loads the module: before the start, not in the count.
    bool failed = mutex.TryTake() == Attempt::kFailed;
    if (!failed)
        mutex.Release();
    page.ready.Add(1);
    page.start.AwaitValue(1);
    double acquisitions = 0;
    while (!failed && !page.stop.load(std::memory_order_relaxed)) {
        if (!Take(mutex, taking, page.stop, failed))
            break;
        failed = !mutex.Release();
        ++acquisitions;
    }
    page.acquisitions[index] = acquisitions;
    if (failed)
        std::fprintf(stderr, "contention: process %u could not take or release the mutex\n", index);
    return !failed;
}

}  // namespace

Contention MeasureContention(ContendedMutex& mutex, Taking taking, unsigned processes, double seconds) {
    Shared<ContentionPage> page;
    std::vector<pid_t> children;
    for (unsigned index = 0; index < processes && index < kMaxProcesses; ++index)
        children.push_back(Fork([&, index] { return Contend(*page, index, mutex, taking); }));
    page->ready.AwaitValue(static_cast<std::uint32_t>(children.size()));
    std::int64_t start_ns = NowNs();
    page->start.Set(1);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    page->stop = true;
    Contention result;
    result.seconds = static_cast<double>(NowNs() - start_ns) / 1e9;
    if (AllSucceeded(children))
        result.acquisitions.assign(page->acquisitions, page->acquisitions + children.size());
    return result;
}
