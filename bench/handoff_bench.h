#pragma once

#include "contended_mutex.h"

#include <vector>

// Hands `mutex` over, round after round for about `seconds`, from a holder
// process to a process blocked in Wait: each latency, in ns, runs from just
// before the holder's release to the waiter's return. Empty on failure.
std::vector<double> MeasureHandoffs(ContendedMutex& mutex, double seconds);
