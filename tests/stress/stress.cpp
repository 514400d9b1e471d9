// Many host processes taking turns on one mutex through the module, with
// holders killed at random:
//   trilox_stress MODULE [--processes N] [--cycles C] [--kills K] [--seconds S] [--seed R]
//
// A creator process makes the mutex and keeps it. N workers each load the
// module and run C cycles, Lock (retried until it answers 1) and Wait in
// turn, each followed by Unlock. Inside the hold a worker increments a
// counter in shared memory with a plain load and store, so that only mutual
// exclusion keeps every increment. K workers are killed with SIGKILL as the
// run goes, half of them parked inside their hold, the rest wherever they
// are; each is replaced by a new worker. Whoever takes the mutex next finds
// it abandoned and carries on. At the end the counter must equal the
// increments made, every surviving worker must have finished, and once the
// creator is killed too a fresh process must find no such mutex.
#include "host.h"
#include "support/scratch_directory.h"

#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char kName[] = "trilox-stress";
constexpr int kMaxSlots = 4096;  // workers, replacements included
constexpr int kNobody = -1;

enum Exit { kDone = 0, kCannotLoad = 3, kWrongAnswer = 4, kTwoHolders = 5 };

// Shared by all the processes of a run. Only the mutex orders the plain
// fields; the atomics are the parent's view of the run.
struct Shared {
    std::atomic<unsigned long> counter;  // incremented by a load and a store, not atomically
    std::atomic<int> holder;             // the worker inside the hold, or kNobody
    std::atomic<unsigned long> made[kMaxSlots];  // increments each worker made and counted
    std::atomic<bool> killed[kMaxSlots];          // set before the kill
    std::atomic<unsigned long> abandonments;      // holds found left by a dead worker
    std::atomic<unsigned long> cycles;            // cycles finished by all workers
    std::atomic<bool> park;                       // the next worker in its hold stops there
    std::atomic<int> parked;                      // which one did
};

Shared* shared;

struct Options {
    std::string module;
    int processes = 8;
    unsigned long cycles = 2000;
    int kills = 10;
    int seconds = 300;
    unsigned seed = std::random_device{}();  // printed, to run the same kills again
};

unsigned long Made() {
    unsigned long sum = 0;
    for (const auto& made : shared->made)
        sum += made;
    return sum;
}

// Takes over from a worker that died inside its hold: it may have incremented
// the counter without counting it.
void TakeOverAbandonedHold(int dead) {
    if (!shared->killed[dead])
        std::_Exit(kTwoHolders);
    if (shared->counter == Made() + 1)
        ++shared->made[dead];
    ++shared->abandonments;
}

void Hold(int slot) {
    int previous = shared->holder;
    if (previous != kNobody)
        TakeOverAbandonedHold(previous);
    shared->holder = slot;
    unsigned long value = shared->counter;
    sched_yield();  // another holder, if there were one, would run here
    shared->counter = value + 1;
    if (shared->park.exchange(false)) {
        shared->parked = slot;
        for (;;)
            pause();  // until killed
    }
    ++shared->made[slot];
    shared->holder = kNobody;
}

void Expect(const std::string& response, int status, const char* result = "") {
    if (StatusOf(response) != status || ResultOf(response) != result)
        std::_Exit(kWrongAnswer);
}

[[noreturn]] void RunWorker(const Options& options, int slot) {
    SaoriHost host;
    if (!host.Open(options.module).empty())
        std::_Exit(kCannotLoad);
    const std::string lock = ExecuteRequestText({"Lock", kName});
    const std::string wait = ExecuteRequestText({"Wait", kName});
    const std::string unlock = ExecuteRequestText({"Unlock", kName});
    for (unsigned long cycle = 0; cycle < options.cycles; ++cycle) {
        if (cycle % 2 == 0) {
            std::string response;
            while (ResultOf(response = host.Request(lock)) != "1") {
                Expect(response, 200, "0");
                sched_yield();
            }
        } else {
            Expect(host.Request(wait), 204);
        }
        Hold(slot);
        Expect(host.Request(unlock), 204);
        ++shared->cycles;
    }
    std::_Exit(kDone);
}

// Makes the mutex, says so on `ready`, and keeps it until killed.
[[noreturn]] void RunCreator(const Options& options, int ready) {
    SaoriHost host;
    if (!host.Open(options.module).empty())
        std::_Exit(kCannotLoad);
    Expect(host.Request(ExecuteRequestText({"Create", kName})), 200, "1");
    if (write(ready, "x", 1) != 1)
        std::_Exit(kCannotLoad);
    for (;;)
        pause();
}

// Loads the module afresh and asks for the mutex: 0 when it is gone.
[[noreturn]] void RunProbe(const Options& options) {
    SaoriHost host;
    if (!host.Open(options.module).empty())
        std::_Exit(kCannotLoad);
    Expect(host.Request(ExecuteRequestText({"Lock", kName})), 500);
    std::_Exit(kDone);
}

template <typename Run>
pid_t Start(Run run) {
    pid_t pid = fork();
    if (pid == 0)
        run();
    return pid;
}

bool NamespaceIsEmpty() {
    fs::path local = fs::path(std::getenv("TRILOX_NAMESPACE_DIR")) / ("trilox-" + std::to_string(geteuid()));
    return fs::is_empty(local);
}

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class Run {
public:
    explicit Run(Options options) : options_(std::move(options)), random_(options_.seed) {}

    ~Run() {
        for (const auto& [pid, slot] : workers_)
            kill(pid, SIGKILL);
        if (creator_ > 0)
            kill(creator_, SIGKILL);
        while (wait(nullptr) > 0) {
        }
    }

    bool Go() {
        if (!StartCreator())
            return Fail("the creator could not make the mutex");
        for (int i = 0; i < options_.processes; ++i)
            StartWorker();
        std::vector<unsigned long> kill_points = KillPoints();
        for (std::size_t i = 0; i < kill_points.size(); ++i) {
            if (!WaitFor([&] { return shared->cycles >= kill_points[i]; }))
                return false;
            if (i % 2 == 0 ? !KillParkedHolder() : !KillAnyWorker())
                return false;
        }
        if (!WaitFor([&] { return workers_.empty(); }))
            return false;
        return Check();
    }

private:
    bool Fail(const std::string& what) {
        std::fprintf(stderr, "stress: FAILED: %s\n", what.c_str());
        return false;
    }

    bool StartCreator() {
        int ready[2];
        if (pipe(ready) != 0)
            return false;
        creator_ = Start([&] { RunCreator(options_, ready[1]); });
        close(ready[1]);
        char byte;
        bool made = read(ready[0], &byte, 1) == 1;
        close(ready[0]);
        return made;
    }

    void StartWorker() {
        int slot = next_slot_++;
        workers_[Start([&] { RunWorker(options_, slot); })] = slot;
        ++started_;
    }

    // Kills fall at random points of the run, measured in finished cycles.
    std::vector<unsigned long> KillPoints() {
        std::uniform_int_distribution<unsigned long> point(0, options_.processes * options_.cycles - 1);
        std::vector<unsigned long> points(options_.kills);
        for (unsigned long& p : points)
            p = point(random_);
        std::sort(points.begin(), points.end());
        return points;
    }

    bool KillParkedHolder() {
        shared->parked = kNobody;
        shared->park = true;
        if (!WaitFor([&] { return shared->parked != kNobody || workers_.empty(); }))
            return false;
        if (shared->parked == kNobody)
            return true;  // every worker had finished
        ++parked_kills_;
        return Kill(shared->parked);
    }

    bool KillAnyWorker() {
        if (workers_.empty())
            return true;
        auto victim = workers_.begin();
        std::advance(victim, std::uniform_int_distribution<std::size_t>(0, workers_.size() - 1)(random_));
        return Kill(victim->second);
    }

    bool Kill(int slot) {
        auto victim = std::find_if(workers_.begin(), workers_.end(), [&](const auto& w) { return w.second == slot; });
        if (victim == workers_.end())
            return true;  // it finished meanwhile
        shared->killed[slot] = true;
        kill(victim->first, SIGKILL);
        waitpid(victim->first, nullptr, 0);
        workers_.erase(victim);
        ++kills_;
        StartWorker();
        return true;
    }

    // Reaps finished workers until `done`; fails on a worker that failed, on
    // a run that stops making progress, and past the time allowed.
    template <typename Done>
    bool WaitFor(Done done) {
        unsigned long last_cycles = shared->cycles;
        Clock::time_point last_progress = Clock::now();
        while (!done()) {
            int status;
            pid_t pid;
            while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
                if (pid == creator_)
                    return Fail("the creator died");
                workers_.erase(pid);
                if (ExitStatus(status) != kDone)
                    return Fail("a worker ended with status " + std::to_string(ExitStatus(status)));
            }
            if (shared->cycles != last_cycles) {
                last_cycles = shared->cycles;
                last_progress = Clock::now();
            }
            if (Clock::now() - last_progress > std::chrono::seconds(30))
                return Fail("no worker made progress for 30 s: deadlock");
            if (Clock::now() - start_ > std::chrono::seconds(options_.seconds))
                return Fail("not done within " + std::to_string(options_.seconds) + " s");
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

    bool Check() {
        unsigned long counter = shared->counter, made = Made();
        bool mutual_exclusion = counter == made;
        unsigned long survivors_cycles = 0;
        for (int slot = 0; slot < next_slot_; ++slot)
            if (!shared->killed[slot])
                survivors_cycles += shared->made[slot];
        bool progress = survivors_cycles == (started_ - kills_) * options_.cycles;
        bool abandonments_seen = shared->abandonments >= static_cast<unsigned long>(parked_kills_);

        kill(creator_, SIGKILL);
        waitpid(creator_, nullptr, 0);
        creator_ = -1;
        int status;
        waitpid(Start([&] { RunProbe(options_); }), &status, 0);
        bool name_gone = ExitStatus(status) == kDone && NamespaceIsEmpty();

        double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        std::printf("stress: seed %u; %d processes at a time, %d in all; %lu cycles finished in %.1f s\n",
                    options_.seed, options_.processes, started_, static_cast<unsigned long>(shared->cycles), seconds);
        std::printf("stress: %d workers killed, %d of them parked in their hold; %lu abandoned holds taken over\n",
                    kills_, parked_kills_, static_cast<unsigned long>(shared->abandonments));
        std::printf("stress: counter %lu, increments made %lu, lost %ld\n", counter, made,
                    static_cast<long>(made) - static_cast<long>(counter));
        std::printf("stress: name gone with its last handle: %s\n", name_gone ? "yes" : "NO");
        if (!mutual_exclusion)
            return Fail("increments were lost: two processes held the mutex at once");
        if (!progress)
            return Fail("a surviving worker did not finish its cycles");
        if (!abandonments_seen)
            return Fail("a holder killed in its hold was not seen as abandoned");
        if (!name_gone)
            return Fail("the mutex outlived its last handle");
        return true;
    }

    const Options options_;
    std::mt19937 random_;
    const Clock::time_point start_ = Clock::now();
    pid_t creator_ = -1;
    std::map<pid_t, int> workers_;  // running workers, by pid, with their slots
    int next_slot_ = 0;
    int started_ = 0;
    int kills_ = 0;
    int parked_kills_ = 0;
};

bool Parse(int argc, char** argv, Options& options) {
    if (argc < 2 || argc % 2 != 0)
        return false;
    options.module = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string flag = argv[i];
        long value = std::atol(argv[i + 1]);
        if (flag == "--processes") options.processes = static_cast<int>(value);
        else if (flag == "--cycles") options.cycles = static_cast<unsigned long>(value);
        else if (flag == "--kills") options.kills = static_cast<int>(value);
        else if (flag == "--seconds") options.seconds = static_cast<int>(value);
        else if (flag == "--seed") options.seed = static_cast<unsigned>(value);
        else return false;
    }
    return options.processes >= 1 && options.cycles >= 1 && options.kills >= 0 &&
           options.processes + options.kills <= kMaxSlots;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: trilox_stress MODULE [--processes N] [--cycles C] [--kills K] [--seconds S] [--seed R]\n");
        return 2;
    }
    std::string scratch = MakeScratchDirectory("stress");
    if (scratch.empty())
        return 2;
    std::string namespace_directory = scratch + "/namespace";
    mkdir(namespace_directory.c_str(), 0700);
    setenv("TRILOX_NAMESPACE_DIR", namespace_directory.c_str(), 1);
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return 2;
    shared = new (memory) Shared{};
    shared->holder = kNobody;

    bool passed = Run(options).Go();
    fs::remove_all(scratch);
    return passed ? 0 : 1;
}
