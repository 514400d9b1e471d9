#pragma once

#include <string>
#include <vector>

// The texts of scenario steps, which take the escapes \r \n \t \0 \\ \xHH.
std::string Unescape(const std::string& text);

// The blank-separated words of a step, each unescaped.
std::vector<std::string> Words(const std::string& text);

// The request text of a "> call ..." or "> raw ..." step; throws
// std::runtime_error for any other step.
std::string RequestOf(const std::string& step);
