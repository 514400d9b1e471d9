// Two processes: the holder takes a mutex, waits until the waiter sleeps in
// Wait, stamps the time and releases; the waiter stamps the time it returns,
// releases too and tells the holder, which starts the next round on the next
// mutex. Taking the mutexes round by round, not in blocks, puts the
// machine's drift on all of them alike.
#include "handoff_bench.h"

#include "processes.h"

#include <cstdio>
#include <thread>

namespace {

constexpr std::uint32_t kMaxMutexes = 4;
constexpr std::uint32_t kMaxRounds = 20000;
// Long enough for the holder's caches to go cold, as a host's do while its
// script runs.
constexpr std::chrono::milliseconds kColdPause{2};

enum Turn : std::uint32_t { kStart, kHeld, kWaiting, kReturned, kStop };

struct HandoffPage {
    Signal turn;
    std::uint32_t mutex = 0;  // this round's
    std::int64_t answered_ns = 0;
    std::uint32_t rounds[kMaxMutexes] = {};
    double latencies_ns[kMaxMutexes][kMaxRounds];
};

bool Hold(HandoffPage& page, const std::vector<ContendedMutex*>& mutexes, Release release, pid_t waiter,
          double seconds) {
    const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(seconds * 1e9);
    bool ok = true;
    for (ContendedMutex* mutex : mutexes)
        ok = ok && mutex->Keep();
    for (std::uint32_t round = 0; ok && round < kMaxRounds && NowNs() < deadline; ++round) {
        std::uint32_t index = round % mutexes.size();
        ContendedMutex& mutex = *mutexes[index];
        ok = mutex.TryTake() == Attempt::kTaken;
        if (!ok)
            break;
        page.mutex = index;
        page.turn.Set(kHeld);
        page.turn.AwaitValue(kWaiting);
        while (!IsSleeping(waiter)) {
        }
        if (release == Release::kCold)
            std::this_thread::sleep_for(kColdPause);
        std::int64_t sent_ns = NowNs();
        ok = mutex.Release();
        page.turn.AwaitValue(kReturned);
        page.latencies_ns[index][page.rounds[index]++] = static_cast<double>(page.answered_ns - sent_ns);
    }
    page.turn.Set(kStop);
    if (!ok)
        std::fprintf(stderr, "handoff: the holder could not take or release a mutex\n");
    return ok;
}

bool AwaitHandoffs(HandoffPage& page, const std::vector<ContendedMutex*>& mutexes) {
    for (;;) {
        if (page.turn.Await([](std::uint32_t turn) { return turn == kHeld || turn == kStop; }) == kStop)
            return true;
        ContendedMutex& mutex = *mutexes[page.mutex];
        page.turn.Set(kWaiting);
        bool taken = mutex.Wait();
        page.answered_ns = NowNs();
        if (!taken || !mutex.Release()) {
            std::fprintf(stderr, "handoff: the waiter could not wait for or release a mutex\n");
            return false;
        }
        page.turn.Set(kReturned);
    }
}

}  // namespace

std::vector<std::vector<double>> MeasureHandoffs(const std::vector<ContendedMutex*>& mutexes, Release release,
                                                 double seconds) {
    if (mutexes.empty() || mutexes.size() > kMaxMutexes)
        return {};
    Shared<HandoffPage> page;
    pid_t waiter = Fork([&] { return AwaitHandoffs(*page, mutexes); });
    pid_t holder = Fork([&] { return Hold(*page, mutexes, release, waiter, seconds); });
    if (!AllSucceeded({holder, waiter}))
        return {};
    std::vector<std::vector<double>> latencies;
    for (std::uint32_t index = 0; index < mutexes.size(); ++index)
        latencies.emplace_back(page->latencies_ns[index], page->latencies_ns[index] + page->rounds[index]);
    return latencies;
}
