#include "robust_mutex.h"

#include <sys/mman.h>

pthread_mutex_t* MapRobustMutex() {
    void* page = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        return nullptr;
    auto* mutex = static_cast<pthread_mutex_t*>(page);
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    return mutex;
}

void UnmapRobustMutex(pthread_mutex_t* mutex) {
    pthread_mutex_destroy(mutex);
    munmap(mutex, sizeof(pthread_mutex_t));
}
