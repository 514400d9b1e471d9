#pragma once

#include "protocol/tmmap.h"

#include <string>

class TNS_OrtaneANI;

// The answer when no module object exists (and when memory runs out).
inline constexpr char kFixedErrorResponse[] = "SAORI/1.0 500 Internal Server Error\r\n\r\n";

struct ParsedRequest {
    std::string command;                        // the first line, before " SAORI/"
    TMMap<std::string, std::string> headers;    // "ORIGINAL" first, then one per line
};

ParsedRequest ParseRequest(const std::string& text);

// Turns one request text into its response text; `module` is the object the
// request is for, null when there is none.
std::string ProcessRequest(TNS_OrtaneANI* module, const std::string& text);
