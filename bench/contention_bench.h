#pragma once

#include "contended_mutex.h"

#include <vector>

enum class Taking { kSpinOnLock, kWait };

struct Contention {
    double seconds = 0;                     // from the start signal to the stop
    std::vector<double> acquisitions;       // by each process; empty on failure
};

// `processes` processes take `mutex` and release it at once, again and again
// for about `seconds`, each by spinning on TryTake or by Wait.
Contention MeasureContention(ContendedMutex& mutex, Taking taking, unsigned processes, double seconds);
