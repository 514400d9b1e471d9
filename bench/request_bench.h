#pragma once

#include "loaded_module.h"

#include <vector>

// Create then Delete of a mutex that did not exist.
std::vector<Exchange> CreateDeleteExchanges();

// The single-request cases, by name ("GET Version", "refused request",
// "Lock+Unlock", "isLocked", "GET Version, 64 KiB of headers"). Lock+Unlock
// and isLocked need their mutex created first by CreateLockCaseMutex, which
// the module then keeps, as scripts' are.
std::vector<Exchange> SingleRequestCase(const std::string& name);
bool CreateLockCaseMutex(SaoriHost& module);

void RegisterRequestBenchmarks();
