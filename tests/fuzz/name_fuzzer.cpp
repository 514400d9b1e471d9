// The platform's mutex names: every byte string, as the C string it starts,
// either fails with a name error or names one mutex, held in one file directly
// inside a namespace directory, which goes with the mutex's last handle.
#include "fuzz_support.h"
#include "platform/win32.h"

#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

std::string scratch, namespace_root, local_directory;

// The mutex files: local ones in the user's directory, "Global\" ones
// directly in the namespace root under their prefix. Anything else anywhere
// in the scratch directory breaks the target.
std::size_t MutexFiles() {
    std::size_t files = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(scratch)) {
        const fs::path& path = entry.path();
        if (path == namespace_root || path == local_directory)
            continue;
        bool global = path.parent_path() == namespace_root && path.filename().string().rfind("trilox-global-", 0) == 0;
        Require((global || path.parent_path() == local_directory) && entry.is_regular_file(),
                "nothing but mutex files, and those only inside the namespace directories");
        ++files;
    }
    return files;
}

enum class Verdict { kValid, kRefused, kUnknown };

iconv_t Cp932() {
    static iconv_t cp932 = iconv_open("UTF-16LE", "CP932");
    Require(cp932 != iconv_t(-1), "the C library converts code page 932");
    return cp932;
}

// Windows drops a lead byte that ends a name, which the C library finds
// incomplete.
std::string_view WithoutFinalLeadByte(std::string_view text) {
    std::u16string units(text.size(), u'\0');
    char* in = const_cast<char*>(text.data());
    char* out = reinterpret_cast<char*>(units.data());
    std::size_t in_left = text.size(), out_left = units.size() * sizeof(char16_t);
    iconv(Cp932(), nullptr, nullptr, nullptr, nullptr);
    bool incomplete = iconv(Cp932(), &in, &in_left, &out, &out_left) == std::size_t(-1) && errno == EINVAL;
    return incomplete && in_left == 1 ? text.substr(0, text.size() - 1) : text;
}

// What Windows makes of a name, found with the C library's own code page 932
// tables: it converts the name to UTF-16 and refuses it for its length (more
// than MAX_PATH units), or for what follows its namespace prefix: nothing, or
// a backslash, or the name of one of the links the prefixes are. Bytes that
// are not code page 932 have no conversion here; for those only bounds are
// sure: each unit comes from one or two bytes.
Verdict WindowsVerdict(std::string_view name) {
    std::string_view rest = name;
    for (bool more = true; more;) {
        more = false;
        for (std::string_view prefix : {"Global\\", "Local\\"}) {
            if (rest.substr(0, prefix.size()) == prefix) {
                rest.remove_prefix(prefix.size());
                more = true;
            }
        }
    }
    const std::size_t prefix = name.size() - rest.size();
    const std::string_view read = WithoutFinalLeadByte(rest);
    if (read.empty() || read == "Global" || read == "Local" || read == "Session")
        return Verdict::kRefused;

    iconv_t cp932 = Cp932();
    std::u16string units(rest.size(), u'\0');
    char* in = const_cast<char*>(rest.data());
    char* out = reinterpret_cast<char*>(units.data());
    std::size_t in_left = rest.size(), out_left = units.size() * sizeof(char16_t);
    iconv(cp932, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cp932, &in, &in_left, &out, &out_left) != std::size_t(-1)) {
        units.resize(units.size() - out_left / sizeof(char16_t));
        bool valid = prefix + units.size() <= MAX_PATH && units.find(u'\\') == std::u16string::npos;
        return valid ? Verdict::kValid : Verdict::kRefused;
    }
    if (prefix + (rest.size() + 1) / 2 > MAX_PATH)
        return Verdict::kRefused;
    if (name.size() <= MAX_PATH && rest.find('\\') == std::string_view::npos)
        return Verdict::kValid;
    return Verdict::kUnknown;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch = MakeFuzzScratch();
    namespace_root = scratch + "/namespace";
    local_directory = namespace_root + "/trilox-" + std::to_string(geteuid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const char* name = bytes.c_str();
    // A name that reads as nothing makes a mutex without one.
    const bool named = !WithoutFinalLeadByte(name).empty();

    HANDLE created = CreateMutexA(nullptr, FALSE, name);
    const Verdict verdict = named ? WindowsVerdict(name) : Verdict::kValid;
    if (verdict != Verdict::kUnknown)
        Require((created != nullptr) == (verdict == Verdict::kValid), "a name is refused only when Windows refuses it");
    if (!created) {
        Require(MutexFiles() == 0, "a refused name leaves no file");
        return 0;
    }
    Require(GetLastError() == ERROR_SUCCESS, "each input starts with no mutex");
    Require(MutexFiles() == (named ? 1u : 0u), "a named mutex is one file");

    HANDLE again = CreateMutexA(nullptr, FALSE, name);
    Require(again != nullptr, "creating it again succeeds");
    Require(GetLastError() == (named ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS), "a name finds its mutex");
    HANDLE opened = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
    Require((opened != nullptr) == named, "a name opens its mutex");

    // Held through one handle, released through another: the same mutex.
    Require(WaitForSingleObject(created, 0) == WAIT_OBJECT_0, "a new mutex is free");
    Require(ReleaseMutex(again) == (named ? TRUE : FALSE), "one name, one mutex");
    if (!named)
        ReleaseMutex(created);

    CloseHandle(created);
    CloseHandle(again);
    if (opened)
        CloseHandle(opened);
    Require(MutexFiles() == 0, "the name goes with the last handle");
    if (named)
        Require(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name) == nullptr && GetLastError() == ERROR_FILE_NOT_FOUND,
                "a closed mutex cannot be opened");
    return 0;
}
