// The floor under every mutex of the platform layer: a robust,
// process-shared, recursive pthread mutex that the kernel hands to its waiter
// (priority inheritance), in memory that forked children share.
#pragma once

#include <pthread.h>

// Null when no memory could be mapped.
pthread_mutex_t* MapRobustMutex();
void UnmapRobustMutex(pthread_mutex_t* mutex);
