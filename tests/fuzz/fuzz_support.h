#pragma once

#include <string>

// Makes a directory of this process's own, removed when the process exits,
// and points $TRILOX_NAMESPACE_DIR at a "namespace" directory inside it, so
// that the mutexes a fuzz target makes are nobody else's.
std::string MakeFuzzScratch();

// Ends the process with a message when a property every input must keep is
// broken, so that the fuzzer records the input.
void Require(bool holds, const char* property);
