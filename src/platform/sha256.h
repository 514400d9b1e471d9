// SHA-256, for file names of mutex names too long to be file names
// themselves: two names must never share a file.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

std::array<std::uint8_t, 32> sha256(std::string_view bytes);
