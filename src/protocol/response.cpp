#include "protocol/response.h"

namespace {

const char* StatusText(std::int32_t status) {
    switch (status) {
    case 200: return "200 OK";
    case 204: return "204 No Content";
    case 400: return "400 Bad Request";
    default:  return "500 Internal Server Error";
    }
}

}  // namespace

std::string BuildResponseText(std::int32_t status, ResponseHeaders& headers) {
    std::string text = "SAORI/1.0 ";
    text += StatusText(status);
    text += "\r\n";
    headers["Charset"] = "Shift_JIS";
    headers["Sender"] = "trilox";
    for (const auto& [key, value] : headers) {
        if (value.empty())
            continue;
        text += key;
        text += ": ";
        text += value;
        text += "\r\n";
    }
    text += "\r\n";
    return text;
}
