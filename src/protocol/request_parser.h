#pragma once

#include "protocol/tmmap.h"

#include <string>
#include <string_view>
#include <type_traits>

class TNS_OrtaneANI;

// The answer when no module object exists (and when memory runs out).
inline constexpr char kFixedErrorResponse[] = "SAORI/1.0 500 Internal Server Error\r\n\r\n";

// Views into the request text, which must outlive them.
struct ParsedRequest {
    std::string_view command;  // the first line, before " SAORI/"
    RequestHeaders headers;    // "ORIGINAL" first, then one per line
};

ParsedRequest ParseRequest(std::string_view text);
// A temporary string would be gone before its views are read.
template <typename Text, typename = std::enable_if_t<std::is_same_v<Text, std::string>>>
ParsedRequest ParseRequest(Text&& text) = delete;

// Turns one request text into its response text; `module` is the object the
// request is for, null when there is none.
std::string ProcessRequest(TNS_OrtaneANI* module, const std::string& text);
