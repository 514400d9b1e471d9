// What the benchmarks of several processes share: forked processes, memory
// mapped before the fork, a word to wait on across processes, the clock.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <new>
#include <vector>

void* MapSharedMemory(std::size_t size);  // throws std::bad_alloc
void UnmapSharedMemory(void* memory, std::size_t size);

// A T in memory that the processes forked after it was made share.
template <typename T>
class Shared {
public:
    Shared() : value_(new (MapSharedMemory(sizeof(T))) T()) {}
    ~Shared() {
        value_->~T();
        UnmapSharedMemory(value_, sizeof(T));
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    T& operator*() const { return *value_; }
    T* operator->() const { return value_; }

private:
    T* value_;
};

// A number that processes set and sleep on until it is what they wait for.
class Signal {
public:
    void Set(std::uint32_t value);
    void Add(std::uint32_t value);
    // Returns the first value that `done` accepts.
    std::uint32_t Await(const std::function<bool(std::uint32_t)>& done) const;
    void AwaitValue(std::uint32_t value) const {
        Await([value](std::uint32_t seen) { return seen == value; });
    }

private:
    void WakeAll();
    mutable std::atomic<std::uint32_t> word_{0};
};

// Runs `work` in a new process, which ends with status 0 when it returns true.
pid_t Fork(const std::function<bool()>& work);

// Waits for the processes to end; true if every one ended with status 0.
bool AllSucceeded(const std::vector<pid_t>& processes);

// CLOCK_MONOTONIC, in nanoseconds.
std::int64_t NowNs();

// Whether the process is asleep in the kernel, waiting for something.
bool IsSleeping(pid_t process);
