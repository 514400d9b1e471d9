#include "platform/mutex_name.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool remove_prefix(std::string_view& name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix) return false;
    name.remove_prefix(prefix.size());
    return true;
}

std::uint64_t fnv1a(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037u;
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211u;
    return hash;
}

// Every name gets a file of its own inside the namespace directory: '/' cannot
// stand in a file name and a leading '.' could make "." or "..", so both are
// escaped as %XX, and so is '%' to keep the mapping one-to-one. A name whose
// file name would pass NAME_MAX is filed under a hash instead; the file keeps
// the full name, so a collision is found out. Escapes never make "%%".
std::string file_name_for(std::string_view name) {
    std::string file_name;
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

    file_name = "%%";
    for (std::uint64_t hash = fnv1a(name), i = 0; i < 16; ++i, hash <<= 4)
        file_name += kHexDigits[hash >> 60];
    return file_name;
}

}  // namespace

DWORD parse_mutex_name(const char* name, MutexName& parsed) {
    std::string_view rest(name, std::strlen(name));
    if (rest.size() > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;

    // "Local\" is the namespace a bare name is in already; the prefixes are case-sensitive.
    parsed.global = remove_prefix(rest, "Global\\");
    if (!parsed.global) remove_prefix(rest, "Local\\");
    if (rest.empty()) return ERROR_INVALID_NAME;
    if (rest.find('\\') != std::string_view::npos) return ERROR_PATH_NOT_FOUND;

    parsed.name = rest;
    parsed.file_name = file_name_for(rest);
    return ERROR_SUCCESS;
}
