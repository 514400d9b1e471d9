#pragma once

#include <cstdint>
#include <map>
#include <string>

// Written out in key order; entries with empty values are left out.
using ResponseHeaders = std::map<std::string, std::string>;

std::string BuildResponseText(std::int32_t status, ResponseHeaders& headers);
