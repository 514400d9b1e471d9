#pragma once

#include "protocol/response.h"
#include "protocol/tmmap.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

// Views into the request text, which must outlive them.
struct ParsedRequest {
    std::string_view command;  // the first line, before " SAORI/"
    RequestHeaders headers;    // "ORIGINAL" first, then one per line
};

ParsedRequest ParseRequest(std::string_view text);
// A temporary string would be gone before its views are read.
template <typename Text, typename = std::enable_if_t<std::is_same_v<Text, std::string>>>
ParsedRequest ParseRequest(Text&& text) = delete;

// Turns one request text into its response text, under the admission policy
// and with the directory of the module object the request is for.
ResponseText ProcessRequest(std::uint32_t admission_policy, const std::string& module_directory,
                            std::string_view text);
