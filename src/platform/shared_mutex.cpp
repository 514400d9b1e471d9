#include "platform/shared_mutex.h"

#include "platform/pid_namespace.h"
#include "platform/posix_error.h"
#include "platform/refusal.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#ifndef FUTEX_LOCK_PI2
#define FUTEX_LOCK_PI2 13
#endif

struct SharedMutex {
    char format[16];
    std::uint64_t pid_namespace;  // that of its maker, the only one it is for
    pthread_mutex_t mutex;
    // The file name of a long name is only its hash. Up to two bytes for each
    // of its characters.
    char name[2 * MAX_PATH + 1];
};

namespace {

// Also tells apart processes whose pthread_mutex_t differs: the size would.
const char kFormat[sizeof SharedMutex::format] = TRILOX_MUTEX_FORMAT;

DWORD refused(std::string_view name, const char* what, int error) {
    note_refusal(name, what + std::string(": ") + std::strerror(error));
    return win32_error_from_errno(error);
}

SharedMutexMapping map(int fd, std::string_view name, DWORD& error) {
    void* address = mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address != MAP_FAILED) return SharedMutexMapping(static_cast<SharedMutex*>(address));
    error = refused(name, "cannot map its file", errno);
    return nullptr;
}

timespec now() {
    timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time;
}

timespec deadline_after(DWORD milliseconds) {
    timespec deadline = now();
    long long nanoseconds = deadline.tv_nsec + milliseconds % 1000 * 1000000LL;
    deadline.tv_sec += milliseconds / 1000 + nanoseconds / 1000000000;
    deadline.tv_nsec = nanoseconds % 1000000000;
    return deadline;
}

long long nanoseconds_until(const timespec& deadline) {
    timespec time = now();
    return (deadline.tv_sec - time.tv_sec) * 1000000000LL + deadline.tv_nsec - time.tv_nsec;
}

// Whether the kernel can wait for a priority-inheritance futex until a
// monotonic deadline (FUTEX_LOCK_PI2, Linux 5.14). Asked on a word the
// calling thread owns: the kernel that has it refuses with EDEADLK. glibc
// would end the process on one that does not.
bool kernel_waits_on_monotonic_deadline() {
    static const bool waits = [] {
        std::uint32_t word = static_cast<std::uint32_t>(gettid());
        return syscall(SYS_futex, &word, FUTEX_LOCK_PI2 | FUTEX_PRIVATE_FLAG, 0, nullptr, nullptr, 0) != 0 &&
               errno == EDEADLK;
    }();
    return waits;
}

// The time-limited wait on older kernels: tries again and again until the
// deadline, ever less often. A thread that waits so is not in the kernel's
// queue, so a release does not hand the mutex to it.
int lock_before_polling(pthread_mutex_t& mutex, const timespec& deadline) {
    long long pause = 1000000;
    for (;;) {
        int result = pthread_mutex_trylock(&mutex);
        long long left = nanoseconds_until(deadline);
        if (result != EBUSY || left <= 0) return result == EBUSY ? ETIMEDOUT : result;
        timespec nap{0, std::min({pause, left, 999999999LL})};
        nanosleep(&nap, nullptr);
        pause = std::min(pause * 2, 64000000LL);
    }
}

int lock_before(pthread_mutex_t& mutex, DWORD milliseconds) {
    timespec deadline = deadline_after(milliseconds);
    if (!kernel_waits_on_monotonic_deadline()) return lock_before_polling(mutex, deadline);
    return pthread_mutex_clocklock(&mutex, CLOCK_MONOTONIC, &deadline);
}

std::string format_of(const char (&format)[sizeof kFormat]) {
    std::string text(format, strnlen(format, sizeof format));
    bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
    return printable && !text.empty() ? "\"" + text + "\"" : "unknown";
}

}  // namespace

void SharedMutexUnmapper::operator()(SharedMutex* mutex) const {
    munmap(mutex, sizeof(SharedMutex));
}

SharedMutexMapping create_shared_mutex(int fd, std::string_view name, DWORD& error) {
    // Allocated now, so that a full file system fails here and not with SIGBUS on first use.
    if (int failure = posix_fallocate(fd, 0, sizeof(SharedMutex))) {
        error = refused(name, "cannot allocate its file", failure);
        return nullptr;
    }
    SharedMutexMapping mutex = map(fd, name, error);
    if (!mutex) return nullptr;

    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    // A holder that dies leaves the mutex abandoned, not locked for ever.
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    // Its holder may acquire it again, once for each release.
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    // The kernel then hands a released or abandoned mutex to a thread that
    // waits for it, inside the release, as Windows does: a request that comes
    // after the release, even from the thread that released it, cannot take
    // it first.
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(&mutex->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);

    name.copy(mutex->name, sizeof mutex->name - 1);
    mutex->pid_namespace = current_pid_namespace();
    std::memcpy(mutex->format, kFormat, sizeof kFormat);
    return mutex;
}

SharedMutexMapping map_shared_mutex(int fd, off_t size, std::string_view name, DWORD& error) {
    // Something else by this name is a different kind of object, as on Windows.
    error = ERROR_INVALID_HANDLE;
    char format[sizeof kFormat] = {};
    if (size != sizeof(SharedMutex) || pread(fd, format, sizeof format, 0) != sizeof format ||
        std::memcmp(format, kFormat, sizeof kFormat) != 0) {
        note_refusal(name, "its file is of format " + format_of(format) + ", not \"" + kFormat +
                                            "\": made by another build of trilox, which takes mutexes another "
                                            "way; the two cannot share a mutex");
        return nullptr;
    }
    SharedMutexMapping mutex = map(fd, name, error);
    if (!mutex) return nullptr;
    if (std::string_view(mutex->name, strnlen(mutex->name, sizeof mutex->name)) != name) {
        error = ERROR_INVALID_HANDLE;
        note_refusal(name, "its file holds another mutex whose long name has the same hash");
        return nullptr;
    }
    std::uint64_t here = current_pid_namespace();
    if (mutex->pid_namespace == 0 || mutex->pid_namespace != here) {
        note_refused_for_pid_namespace(std::string(name), mutex->pid_namespace, here);
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    return mutex;
}

DWORD wait_for_shared_mutex(SharedMutex& mutex, DWORD milliseconds) {
    int result;
    if (milliseconds == 0) {
        result = pthread_mutex_trylock(&mutex.mutex);
    } else if (milliseconds == INFINITE) {
        result = pthread_mutex_lock(&mutex.mutex);
    } else {
        result = lock_before(mutex.mutex, milliseconds);
    }

    switch (result) {
    case 0:
        return WAIT_OBJECT_0;
    case EOWNERDEAD:
        // The holder ended without releasing it; the mutex is ours now, as it is on Windows.
        pthread_mutex_consistent(&mutex.mutex);
        return WAIT_ABANDONED;
    case EBUSY:
    case ETIMEDOUT:
        return WAIT_TIMEOUT;
    default:
        SetLastError(win32_error_from_errno(result));
        return WAIT_FAILED;
    }
}

bool release_shared_mutex(SharedMutex& mutex) {
    return pthread_mutex_unlock(&mutex.mutex) == 0;
}
