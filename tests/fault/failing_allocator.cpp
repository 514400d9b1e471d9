#include "failing_allocator.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* block, std::size_t size);

namespace {

std::atomic<long> let_through{-1};  // allocations still to succeed; -1 when none is to fail
std::atomic<bool> keep_failing{false};
std::atomic<bool> failed{false};

bool ShouldFail() {
    long left = let_through.load();
    if (left < 0)
        return false;
    if (left > 0) {
        let_through.store(left - 1);
        return false;
    }
    failed.store(true);
    if (!keep_failing.load())
        let_through.store(-1);
    errno = ENOMEM;
    return true;
}

}  // namespace

void FailAllocation(long n, Failure failure) {
    failed.store(false);
    keep_failing.store(failure == Failure::kFromThenOn);
    let_through.store(n - 1);
}

bool StopFailing() {
    let_through.store(-1);
    return failed.load();
}

// Exported, so that they stand for glibc's in the module and in libstdc++.
extern "C" __attribute__((visibility("default"))) void* malloc(std::size_t size) {
    return ShouldFail() ? nullptr : __libc_malloc(size);
}

extern "C" __attribute__((visibility("default"))) void* calloc(std::size_t count, std::size_t size) {
    return ShouldFail() ? nullptr : __libc_calloc(count, size);
}

extern "C" __attribute__((visibility("default"))) void* realloc(void* block, std::size_t size) {
    return size && ShouldFail() ? nullptr : __libc_realloc(block, size);
}
