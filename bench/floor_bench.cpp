// The floors: the platform calls each command makes, in the same order and
// on a mutex in the same state, without the protocol around them; and under
// them, the robust process-shared pthread mutex the platform layer is built
// on, and the cheapest system call, the unit the platform's costs come in.
#include "floor_bench.h"

#include "platform/win32.h"
#include "robust_mutex.h"
#include "spread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace {

// A mutex this process keeps open for the length of a benchmark, as the
// module keeps the ones it created.
class KeptMutex {
public:
    explicit KeptMutex(const char* name) : handle_(CreateMutexA(nullptr, FALSE, name)) {}
    ~KeptMutex() {
        if (handle_)
            CloseHandle(handle_);
    }
    KeptMutex(const KeptMutex&) = delete;
    KeptMutex& operator=(const KeptMutex&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_;
};

bool Acquired(DWORD result) {
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

// Lock: try; Unlock: release; on the handle the module keeps for a mutex it
// created. isLocked makes the same calls: it tries and gives back what it took.
void TryReleaseFloor(benchmark::State& state) {
    KeptMutex mutex("floor-lock");
    if (!mutex) {
        state.SkipWithError("CreateMutexA failed");
        return;
    }
    for (auto _ : state) {
        bool acquired = Acquired(WaitForSingleObject(mutex.handle(), 0));
        bool released = ReleaseMutex(mutex.handle());
        if (!acquired || !released) {
            state.SkipWithError("the mutex was not taken and given back");
            return;
        }
    }
}

void PthreadFloor(benchmark::State& state) {
    pthread_mutex_t* mutex = MapRobustMutex();
    if (!mutex) {
        state.SkipWithError("mmap failed");
        return;
    }
    for (auto _ : state) {
        pthread_mutex_lock(mutex);
        pthread_mutex_unlock(mutex);
    }
    UnmapRobustMutex(mutex);
}

void SystemCallFloor(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(syscall(SYS_getppid));
}

}  // namespace

// Create: a new mutex, kept. Delete: open, try, release and close the kept
// handle, close the opened one, the last, which removes the name.
void CreateDeleteFloor(benchmark::State& state) {
    const char* name = "floor-create";
    for (auto _ : state) {
        HANDLE created = CreateMutexA(nullptr, FALSE, name);
        bool created_new = created && GetLastError() == ERROR_SUCCESS;
        HANDLE opened = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
        bool acquired = Acquired(WaitForSingleObject(opened, 0));
        ReleaseMutex(created);
        CloseHandle(created);
        CloseHandle(opened);
        if (!created_new || !acquired) {
            state.SkipWithError("the mutex was not created new and taken");
            return;
        }
    }
}

void RegisterFloorBenchmarks() {
    WithSpread(benchmark::RegisterBenchmark("platform/Lock+Unlock", TryReleaseFloor));
    WithSpread(benchmark::RegisterBenchmark("platform/isLocked", TryReleaseFloor));
    WithSpread(benchmark::RegisterBenchmark("platform/Create+Delete", CreateDeleteFloor));
    WithSpread(benchmark::RegisterBenchmark("pthread/robust mutex lock+unlock", PthreadFloor));
    WithSpread(benchmark::RegisterBenchmark("kernel/one system call", SystemCallFloor));
}
