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

// Room for the header lines, so that the headers are mostly allocated once:
// for lines of 32 bytes on average, and for at least 16. Counting the lines
// first would cost a pass over the text; a text of shorter lines grows the
// array instead.
std::size_t ExpectedHeaderLines(std::string_view lines) {
    return std::max<std::size_t>(lines.size() / 32, 16);
}

// Reads LF-separated lines.
class LineReader {
public:
    explicit LineReader(std::string_view lines) : rest_(lines) {}

    // True once not a single byte is left to read.
    bool Done() const { return rest_.empty(); }

    std::string_view Next() {
        std::size_t end = rest_.find('\n');
        std::string_view line = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return line;
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
    request.headers.reserve(1 + ExpectedHeaderLines(lines));
    request.headers.emplace("ORIGINAL", text);

    LineReader reader(lines);
    if (!reader.Done())
        request.command = CommandOf(reader.Next());
    while (!reader.Done()) {
        std::string_view line = reader.Next();
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
