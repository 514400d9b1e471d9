#include "platform/shared_mutex.h"

#include "platform/pid_namespace.h"
#include "platform/posix_error.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <time.h>

#include <cstdint>
#include <cstring>
#include <string>

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
const char kFormat[sizeof SharedMutex::format] = "trilox mutex 3";

SharedMutexMapping map(int fd, DWORD& error) {
    void* address = mmap(nullptr, sizeof(SharedMutex), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address != MAP_FAILED) return SharedMutexMapping(static_cast<SharedMutex*>(address));
    error = win32_error_from_errno(errno);
    return nullptr;
}

timespec deadline_after(DWORD milliseconds) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    long long nanoseconds = deadline.tv_nsec + milliseconds % 1000 * 1000000LL;
    deadline.tv_sec += milliseconds / 1000 + nanoseconds / 1000000000;
    deadline.tv_nsec = nanoseconds % 1000000000;
    return deadline;
}

}  // namespace

void SharedMutexUnmapper::operator()(SharedMutex* mutex) const {
    munmap(mutex, sizeof(SharedMutex));
}

SharedMutexMapping create_shared_mutex(int fd, std::string_view name, DWORD& error) {
    // Allocated now, so that a full file system fails here and not with SIGBUS on first use.
    if (int failure = posix_fallocate(fd, 0, sizeof(SharedMutex))) {
        error = win32_error_from_errno(failure);
        return nullptr;
    }
    SharedMutexMapping mutex = map(fd, error);
    if (!mutex) return nullptr;

    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    // A holder that dies leaves the mutex abandoned, not locked for ever.
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    // Its holder may acquire it again, once for each release.
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
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
    if (size != sizeof(SharedMutex)) return nullptr;
    SharedMutexMapping mutex = map(fd, error);
    if (!mutex) return nullptr;
    if (std::memcmp(mutex->format, kFormat, sizeof kFormat) != 0 ||
        std::string_view(mutex->name, strnlen(mutex->name, sizeof mutex->name)) != name)
        return nullptr;
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
        timespec deadline = deadline_after(milliseconds);
        result = pthread_mutex_clocklock(&mutex.mutex, CLOCK_MONOTONIC, &deadline);
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
