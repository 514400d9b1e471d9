// The platform's mutex names: every byte string, as the C string it starts,
// either fails with a name error or names one mutex, held in one file directly
// inside a namespace directory, which goes with the mutex's last handle.
#include "fuzz_support.h"
#include "platform/win32.h"

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

std::string scratch;
std::set<fs::path> namespace_directories;

// The mutex files in the namespace directories; anything anywhere else in the
// scratch directory, or anything but a file in them, breaks the target.
std::size_t MutexFiles() {
    std::size_t files = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(scratch)) {
        const fs::path& path = entry.path();
        if (path == scratch + "/namespace" || namespace_directories.count(path))
            continue;
        Require(namespace_directories.count(path.parent_path()) == 1 && entry.is_regular_file(),
                "nothing but mutex files, and those only inside the namespace directories");
        ++files;
    }
    return files;
}

// Windows refuses a name for its length, or for what follows its namespace
// prefix: nothing, or a backslash.
bool IsValidName(std::string_view name) {
    if (name.size() > MAX_PATH)
        return false;
    for (std::string_view prefix : {"Global\\", "Local\\"}) {
        if (name.substr(0, prefix.size()) == prefix) {
            name.remove_prefix(prefix.size());
            break;
        }
    }
    return !name.empty() && name.find('\\') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch = MakeFuzzScratch();
    namespace_directories = {scratch + "/namespace/trilox-" + std::to_string(geteuid()),
                             scratch + "/namespace/trilox-global"};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const char* name = bytes.c_str();
    const bool named = *name != '\0';  // an empty name makes a mutex without one

    HANDLE created = CreateMutexA(nullptr, FALSE, name);
    Require((created != nullptr) == (!named || IsValidName(name)), "a name is refused only when Windows refuses it");
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
