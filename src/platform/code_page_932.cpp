#include "platform/code_page_932.h"

#include <iconv.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace {

constexpr char kNoCharacter[] = "\x81\x45";  // '・', what Windows reads a pair that is none as

// From code page 932 to one UTF-32 unit and back; an iconv_t is for one
// caller at a time. Opened on first use, and again while they could not be.
struct Converters {
    std::mutex lock;
    iconv_t decode = iconv_t(-1);
    iconv_t encode = iconv_t(-1);
    bool usable() const { return decode != iconv_t(-1) && encode != iconv_t(-1); }

    // 0, or the errno for no descriptor free: glibc reads its list of
    // converters once a process, and one read without a descriptor would
    // leave it empty for good, the names spelled otherwise than in other
    // processes. Without code page 932 in the C library they stay unusable.
    int open() {
        if (usable()) return 0;
        int probe = eventfd(0, EFD_CLOEXEC);
        if (probe < 0) return errno;
        close(probe);
        if (decode == iconv_t(-1)) decode = iconv_open("UTF-32LE", "CP932");
        if (encode == iconv_t(-1)) encode = iconv_open("CP932", "UTF-32LE");
        return 0;
    }
};

Converters& converters() {
    static Converters& converters = *new Converters;  // used until the process ends
    return converters;
}

bool convert(iconv_t converter, const char* from, std::size_t size, char* to, std::size_t& room) {
    char* in = const_cast<char*>(from);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    return iconv(converter, &in, &size, &to, &room) != std::size_t(-1) && size == 0;
}

// The pair's character spelled as converting it back spells it.
void respell(Converters& converters, const char* pair, std::string& spelling) {
    char32_t character;
    std::size_t room = sizeof character;
    char bytes[8];
    std::size_t bytes_room = sizeof bytes;
    if (!convert(converters.decode, pair, 2, reinterpret_cast<char*>(&character), room)) {
        spelling += kNoCharacter;
    } else if (convert(converters.encode, reinterpret_cast<const char*>(&character), sizeof character, bytes,
                       bytes_room)) {
        spelling.append(bytes, sizeof bytes - bytes_room);
    } else {
        spelling.append(pair, 2);
    }
}

}  // namespace

bool is_lead_byte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

int canonical_spelling(std::string_view name, std::string& spelling) {
    spelling.clear();
    if (std::none_of(name.begin(), name.end(), [](char byte) { return is_lead_byte(byte); })) {
        spelling = name;
        return 0;
    }
    Converters& conversion = converters();
    std::lock_guard<std::mutex> guard(conversion.lock);
    if (int error = conversion.open()) return error;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (!is_lead_byte(name[i])) {
            spelling += name[i];
        } else if (i + 1 < name.size()) {
            if (conversion.usable()) respell(conversion, &name[i], spelling);
            else spelling.append(&name[i], 2);
            ++i;
        }
    }
    return 0;
}
