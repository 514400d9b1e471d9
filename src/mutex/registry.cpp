#include "mutex/registry.h"

std::map<std::string, HANDLE> MutexRegistry;
