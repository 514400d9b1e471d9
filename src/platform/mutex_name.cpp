#include "platform/mutex_name.h"

#include "platform/code_page_932.h"
#include "platform/posix_error.h"
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
    // 932, one for each character; a byte that begins no character is one,
    // and so is a lead byte that ends the name, though it reads as nothing.
    std::size_t characters = whole.size() - rest.size();
    for (std::size_t i = 0; i < rest.size(); ++characters)
        i += is_lead_byte(rest[i]) && i + 1 < rest.size() ? 2 : 1;
    if (characters > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;

    if (int error = canonical_spelling(rest, parsed.name)) return win32_error_from_errno(error);
    const std::string_view read = parsed.name;
    // A name that reads as nothing at all makes a mutex without one.
    if (read.empty()) return rest.size() == whole.size() ? ERROR_SUCCESS : ERROR_INVALID_NAME;
    for (std::size_t i = 0; i < read.size(); i += is_lead_byte(read[i]) ? 2 : 1)
        if (read[i] == '\\') return ERROR_PATH_NOT_FOUND;
    // Those links, and "Session", which leads to other sessions, are no mutexes.
    if (read == "Global" || read == "Local" || read == "Session") return ERROR_INVALID_HANDLE;

    parsed.file_name = file_name_for(parsed.global ? kGlobalFilePrefix : "", read);
    return ERROR_SUCCESS;
}
