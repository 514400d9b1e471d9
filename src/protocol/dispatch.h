#pragma once

#include "protocol/response.h"
#include "protocol/tmmap.h"

#include <cstdint>
#include <string>
#include <string_view>

enum SecurityLevel : std::uint32_t { Local = 1, Unknown = 2, External = 3 };

bool IsAdmitted(std::uint32_t policy, std::uint32_t level);

// Decides what a parsed request gets, under the module's admission policy,
// and returns its response text; `module_directory` is where license writes.
ResponseText DispatchRequest(std::uint32_t admission_policy, const std::string& module_directory,
                             std::string_view command, const RequestHeaders& headers);
