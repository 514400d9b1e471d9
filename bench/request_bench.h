#pragma once

#include "loaded_module.h"

#include <vector>

// Create then Delete of a mutex that did not exist.
std::vector<Exchange> CreateDeleteExchanges();

void RegisterRequestBenchmarks();
