#include "protocol/response.h"

#include <cstring>

namespace {

constexpr std::string_view kStatusLine = "SAORI/1.0 ";
constexpr std::string_view kCharset = "\r\nCharset: Shift_JIS\r\n";
constexpr std::string_view kResults[] = {"Result: 0\r\n", "Result: 1\r\n"};
constexpr std::string_view kSender = "Sender: trilox\r\n\r\n";
constexpr std::string_view kLongestStatus = "500 Internal Server Error";

static_assert(kStatusLine.size() + kLongestStatus.size() + kCharset.size() + kResults[0].size() +
                  kSender.size() <= ResponseText::kCapacity,
              "every response text fits");

std::string_view StatusText(std::int32_t status) {
    switch (status) {
    case 200: return "200 OK";
    case 204: return "204 No Content";
    case 400: return "400 Bad Request";
    default:  return kLongestStatus;
    }
}

}  // namespace

void ResponseText::Append(std::string_view part) {
    std::memcpy(bytes_ + size_, part.data(), part.size());
    size_ += part.size();
}

ResponseText BuildResponseText(std::int32_t status, std::optional<bool> result) {
    ResponseText text(kStatusLine);
    text.Append(StatusText(status));
    text.Append(kCharset);
    if (result)
        text.Append(kResults[*result]);
    text.Append(kSender);
    return text;
}
