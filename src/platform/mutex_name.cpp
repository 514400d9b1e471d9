#include "platform/mutex_name.h"

#include "platform/sha256.h"

#include <climits>
#include <cstring>
#include <string_view>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// Machine-wide names share their directory with everything else in it.
const char kGlobalFilePrefix[] = "trilox-global-";

bool remove_prefix(std::string_view& name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix) return false;
    name.remove_prefix(prefix.size());
    return true;
}

// In code page 932 such a byte and the one after it are one character, and
// the second may be any byte, 0x5C ('\') included: "表" is 95 5C.
bool is_lead_byte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Every name gets a file of its own: '/' cannot stand in a file name and a
// leading '.' could make "." or "..", so both are escaped as %XX, and so is
// '%' to keep the mapping one-to-one. A name whose file name would pass
// NAME_MAX is filed under its SHA-256 instead, which no one can make two
// names share; the file keeps the full name all the same. Escapes never make
// "%%".
std::string file_name_for(std::string_view prefix, std::string_view name) {
    std::string file_name(prefix);
    for (std::size_t i = 0; i < name.size(); ++i) {
        unsigned char byte = name[i];
        if (byte == '/' || byte == '%' || (byte == '.' && i == 0)) {
            file_name += '%';
            file_name += kHexDigits[byte >> 4];
            file_name += kHexDigits[byte & 15];
        } else {
            file_name += static_cast<char>(byte);
        }
    }
    if (file_name.size() <= NAME_MAX) return file_name;

    file_name = std::string(prefix) + "%%";
    for (std::uint8_t byte : sha256(name)) {
        file_name += kHexDigits[byte >> 4];
        file_name += kHexDigits[byte & 15];
    }
    return file_name;
}

}  // namespace

DWORD parse_mutex_name(const char* name, MutexName& parsed) {
    std::string_view whole(name, std::strlen(name)), rest = whole;
    // "Global\" and "Local\" are links in each of Windows' namespace
    // directories, the global one and a session's: either may follow the
    // other, "Local\" staying where it is. They are case-sensitive.
    for (;;) {
        if (remove_prefix(rest, "Global\\")) parsed.global = true;
        else if (!remove_prefix(rest, "Local\\")) break;
    }

    // Windows counts the UTF-16 units of the name converted from code page
    // 932, one for each character; a byte that begins no character is one.
    std::size_t characters = whole.size() - rest.size();
    bool separator = false;
    for (std::size_t i = 0; i < rest.size(); ++characters) {
        separator = separator || rest[i] == '\\';
        i += is_lead_byte(rest[i]) && i + 1 < rest.size() ? 2 : 1;
    }
    if (characters > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    if (rest.empty()) return ERROR_INVALID_NAME;
    if (separator) return ERROR_PATH_NOT_FOUND;
    // Those links, and "Session", which leads to other sessions, are no mutexes.
    if (rest == "Global" || rest == "Local" || rest == "Session") return ERROR_INVALID_HANDLE;

    parsed.name = rest;
    parsed.file_name = file_name_for(parsed.global ? kGlobalFilePrefix : "", rest);
    return ERROR_SUCCESS;
}
