#pragma once

#include "loaded_module.h"

#include <vector>

// Create then Delete of a mutex that did not exist.
std::vector<Exchange> CreateDeleteExchanges();

// The single-request cases, by name ("GET Version", "refused request",
// "Lock+Unlock"). Lock+Unlock needs its mutex created first by CreateLockCaseMutex.
std::vector<Exchange> SingleRequestCase(const std::string& name);
bool CreateLockCaseMutex();

void RegisterRequestBenchmarks();
