// GetCurrentProcessId, kept at hand: glibc asks the kernel each time, and
// the module asks on every request. A forked child looks its own up.
#include "platform/win32.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<DWORD> known{0};

void forget_in_child() {
    known.store(0, std::memory_order_relaxed);
}

}  // namespace

extern "C" DWORD GetCurrentProcessId(void) {
    DWORD id = known.load(std::memory_order_relaxed);
    if (id == 0) {
        static const int registered = pthread_atfork(nullptr, nullptr, forget_in_child);
        (void)registered;
        id = static_cast<DWORD>(getpid());
        known.store(id, std::memory_order_relaxed);
    }
    return id;
}
