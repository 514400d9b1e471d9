#pragma once

#include "protocol/tmmap.h"

#include <cstdint>
#include <string>

class TNS_OrtaneANI;

enum SecurityLevel : std::uint32_t { Local = 1, Unknown = 2, External = 3 };

bool IsAdmitted(std::uint32_t policy, std::uint32_t level);

// Decides what a parsed request gets and returns its response text.
std::string DispatchRequest(TNS_OrtaneANI& module, const std::string& command,
                            TMMap<std::string, std::string>& headers);
