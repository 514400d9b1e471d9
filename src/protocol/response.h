#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// A response text. Every one the module gives is short and of a bounded
// length, so it is built in place, without allocating.
class ResponseText {
public:
    static constexpr std::size_t kCapacity = 96;

    explicit ResponseText(std::string_view text) { Append(text); }
    // `part` must fit in what is left of kCapacity.
    void Append(std::string_view part);
    std::string_view View() const { return {bytes_, size_}; }

private:
    char bytes_[kCapacity];
    std::size_t size_ = 0;
};

// The answer when no module object exists (and when memory runs out).
inline constexpr std::string_view kFixedErrorResponse = "SAORI/1.0 500 Internal Server Error\r\n\r\n";

// The status line, then "Charset: Shift_JIS", "Result" when there is one and
// "Sender: trilox", in that key order, and the empty line.
ResponseText BuildResponseText(std::int32_t status, std::optional<bool> result);
