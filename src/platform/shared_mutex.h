// The mutex itself, in a file every process maps: a robust, process-shared,
// recursive pthread mutex, and the Win32 wait and release rules on it.
#pragma once

#include "platform/win32.h"

#include <sys/types.h>

#include <memory>
#include <string_view>

// How processes take a mutex. Files of another format are never shared: a
// process refuses them.
#define TRILOX_MUTEX_FORMAT "trilox mutex 4"

struct SharedMutex;

struct SharedMutexUnmapper {
    void operator()(SharedMutex* mutex) const;
};
using SharedMutexMapping = std::unique_ptr<SharedMutex, SharedMutexUnmapper>;

// Makes a new mutex named `name` in the empty file `fd` and maps it.
SharedMutexMapping create_shared_mutex(int fd, std::string_view name, DWORD& error);

// Maps the mutex in the file `fd` of `size` bytes, if it is the mutex named `name`.
SharedMutexMapping map_shared_mutex(int fd, off_t size, std::string_view name, DWORD& error);

// WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT, or WAIT_FAILED with the last error set.
DWORD wait_for_shared_mutex(SharedMutex& mutex, DWORD milliseconds);

// False if the calling thread does not hold the mutex.
bool release_shared_mutex(SharedMutex& mutex);
