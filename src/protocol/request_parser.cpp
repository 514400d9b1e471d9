#include "protocol/request_parser.h"

#include "protocol/dispatch.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// Reads LF-separated lines of a text that ends at its first NUL byte.
class LineReader {
public:
    explicit LineReader(const std::string& text) : rest_(text.c_str(), std::strlen(text.c_str())) {}

    // False once not a single byte is left to read.
    bool Next(std::string_view& line) {
        if (rest_.empty())
            return false;
        std::size_t end = rest_.find('\n');
        line = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return true;
    }

private:
    std::string_view rest_;
};

std::string_view CommandOf(std::string_view first_line) {
    return first_line.substr(0, first_line.find(" SAORI/"));
}

void AddHeader(TMMap<std::string, std::string>& headers, std::string_view line) {
    std::size_t colon = line.find(':');
    std::string_view key = line.substr(0, colon);
    std::string_view value = colon == std::string_view::npos ? line : line.substr(colon + 1);
    value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
    headers.emplace(std::string(key), std::string(value));
}

}  // namespace

ParsedRequest ParseRequest(const std::string& text) {
    ParsedRequest request;
    request.headers.emplace("ORIGINAL", text);

    LineReader reader(text);
    std::string_view line;
    if (reader.Next(line))
        request.command = CommandOf(line);
    while (reader.Next(line)) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;
        AddHeader(request.headers, line);
    }
    return request;
}

std::string ProcessRequest(TNS_OrtaneANI* module, const std::string& text) {
    if (!module)
        return kFixedErrorResponse;
    ParsedRequest request = ParseRequest(text);
    return DispatchRequest(*module, request.command, request.headers);
}
