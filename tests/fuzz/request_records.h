#pragma once

#include <string_view>

// An input of the request target is a sequence of records separated by
// kRecordSeparator (ASCII RS, which no request needs). A record is a request
// text handed to the module as it stands, unless it is one of the host
// actions below.
inline constexpr char kRecordSeparator = '\x1E';
inline constexpr std::string_view kLoadRecord = "\x1F+";    // load, with the scratch directory
inline constexpr std::string_view kUnloadRecord = "\x1F-";  // unload
