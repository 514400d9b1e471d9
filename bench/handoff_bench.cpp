// Two processes: the holder takes the mutex, waits until the waiter sleeps
// in Wait, stamps the time and releases; the waiter stamps the time it
// returns, releases too and tells the holder, which starts the next round.
#include "handoff_bench.h"

#include "processes.h"

#include <cstdio>

namespace {

constexpr std::uint32_t kMaxRounds = 20000;

enum Turn : std::uint32_t { kStart, kHeld, kWaiting, kReturned, kStop };

struct HandoffPage {
    Signal turn;
    std::int64_t answered_ns = 0;
    std::uint32_t rounds = 0;
    double latencies_ns[kMaxRounds];
};

bool Hold(HandoffPage& page, ContendedMutex& mutex, pid_t waiter, double seconds) {
    const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(seconds * 1e9);
    bool ok = mutex.Keep();
    while (ok && page.rounds < kMaxRounds && NowNs() < deadline) {
        ok = mutex.TryTake() == Attempt::kTaken;
        if (!ok)
            break;
        page.turn.Set(kHeld);
        page.turn.AwaitValue(kWaiting);
        while (!IsSleeping(waiter)) {
        }
        std::int64_t sent_ns = NowNs();
        ok = mutex.Release();
        page.turn.AwaitValue(kReturned);
        page.latencies_ns[page.rounds++] = static_cast<double>(page.answered_ns - sent_ns);
    }
    page.turn.Set(kStop);
    if (!ok)
        std::fprintf(stderr, "handoff: the holder could not take or release the mutex\n");
    return ok;
}

bool AwaitHandoffs(HandoffPage& page, ContendedMutex& mutex) {
    for (;;) {
        if (page.turn.Await([](std::uint32_t turn) { return turn == kHeld || turn == kStop; }) == kStop)
            return true;
        page.turn.Set(kWaiting);
        bool taken = mutex.Wait();
        page.answered_ns = NowNs();
        if (!taken || !mutex.Release()) {
            std::fprintf(stderr, "handoff: the waiter could not wait for or release the mutex\n");
            return false;
        }
        page.turn.Set(kReturned);
    }
}

}  // namespace

std::vector<double> MeasureHandoffs(ContendedMutex& mutex, double seconds) {
    Shared<HandoffPage> page;
    pid_t waiter = Fork([&] { return AwaitHandoffs(*page, mutex); });
    pid_t holder = Fork([&] { return Hold(*page, mutex, waiter, seconds); });
    if (!AllSucceeded({holder, waiter}))
        return {};
    return std::vector<double>(page->latencies_ns, page->latencies_ns + page->rounds);
}
