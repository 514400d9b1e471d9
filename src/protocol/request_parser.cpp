#include "protocol/request_parser.h"

#include "protocol/dispatch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

// The part of the text that is read as lines: up to its first NUL byte.
std::string_view LinesOf(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// An upper bound of the header lines, so that the headers are allocated once:
// memchr from one line end to the next, which costs a call a line rather
// than a look at every byte.
std::size_t MostHeaderLines(std::string_view lines) {
    std::size_t line_ends = 0;
    const char* rest = lines.data();
    const char* end = rest + lines.size();
    while (const void* line_end = std::memchr(rest, '\n', static_cast<std::size_t>(end - rest))) {
        ++line_ends;
        rest = static_cast<const char*>(line_end) + 1;
    }
    return line_ends + 1;
}

// Reads LF-separated lines.
class LineReader {
public:
    explicit LineReader(std::string_view lines) : rest_(lines) {}

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

void AddHeader(RequestHeaders& headers, std::string_view line) {
    std::size_t colon = line.find(':');
    std::string_view key = line.substr(0, colon);
    std::string_view value = colon == std::string_view::npos ? line : line.substr(colon + 1);
    value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
    headers.emplace(key, value);
}

}  // namespace

ParsedRequest ParseRequest(std::string_view text) {
    std::string_view lines = LinesOf(text);
    ParsedRequest request;
    request.headers.reserve(1 + MostHeaderLines(lines));
    request.headers.emplace("ORIGINAL", text);

    LineReader reader(lines);
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

ResponseText ProcessRequest(std::uint32_t admission_policy, const std::string& module_directory,
                            std::string_view text) {
    ParsedRequest request = ParseRequest(text);
    return DispatchRequest(admission_policy, module_directory, request.command, request.headers);
}
