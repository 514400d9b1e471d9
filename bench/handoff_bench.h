#pragma once

#include "contended_mutex.h"

#include <vector>

// How the holder releases: at once once the waiter sleeps, with its caches
// warm from polling, or after a pause, cold, as a host releases after its
// script has run for milliseconds.
enum class Release { kWarm, kCold };

// Hands the mutexes over in turn, one a round, round after round for about
// `seconds`, from a holder process to a process blocked in Wait: for each
// mutex its latencies, in ns, each from just before the holder's release to
// the waiter's return. Empty on failure.
std::vector<std::vector<double>> MeasureHandoffs(const std::vector<ContendedMutex*>& mutexes, Release release,
                                                 double seconds);
