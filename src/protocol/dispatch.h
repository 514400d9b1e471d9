#pragma once

#include "protocol/tmmap.h"

#include <cstdint>
#include <string>
#include <string_view>

class TNS_OrtaneANI;

enum SecurityLevel : std::uint32_t { Local = 1, Unknown = 2, External = 3 };

bool IsAdmitted(std::uint32_t policy, std::uint32_t level);

// Decides what a parsed request gets and returns its response text.
std::string DispatchRequest(TNS_OrtaneANI& module, std::string_view command, RequestHeaders& headers);
