#pragma once

// This program's malloc, calloc and realloc, which the module and the C++
// runtime call too (operator new allocates through malloc): each allocation
// can be made to fail on purpose.

enum class Failure {
    kOnce,        // the chosen allocation fails, later ones succeed
    kFromThenOn,  // the chosen allocation and every later one fail
};

// Fails allocation number `n` from now on (1 is the next one).
void FailAllocation(long n, Failure failure);

// Lets every allocation succeed again; true if one failed since FailAllocation.
bool StopFailing();
