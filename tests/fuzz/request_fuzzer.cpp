// The module's whole request path, driven as a host drives it: inputs are
// sequences of requests and load/unload actions (request_records.h).
#include "fuzz_support.h"
#include "mutex/registry.h"
#include "platform/win32.h"
#include "request_records.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

extern "C" BOOL _load(HGLOBAL h, long len);
extern "C" BOOL _unload(void);
extern "C" HGLOBAL _request(HGLOBAL h, long* len);

namespace {

const std::string_view kFixed500 = "SAORI/1.0 500 Internal Server Error\r\n\r\n";

std::string module_directory;
bool loaded = false;

// Every answer a loaded module can give.
std::set<std::string, std::less<>> LoadedAnswers() {
    std::set<std::string, std::less<>> answers;
    for (const char* status : {"200 OK", "204 No Content", "400 Bad Request", "500 Internal Server Error"})
        for (const char* result : {"", "Result: 0\r\n", "Result: 1\r\n"})
            answers.insert(std::string("SAORI/1.0 ") + status + "\r\nCharset: Shift_JIS\r\n" + result +
                           "Sender: trilox\r\n\r\n");
    return answers;
}

const std::set<std::string, std::less<>> kLoadedAnswers = LoadedAnswers();

HGLOBAL Block(std::string_view bytes) {
    void* block = std::malloc(bytes.size() ? bytes.size() : 1);
    std::memcpy(block, bytes.data(), bytes.size());
    return block;
}

void Load() {
    Require(_load(Block(module_directory), static_cast<long>(module_directory.size())) == TRUE, "load succeeds");
    loaded = true;
}

void Unload() {
    Require(_unload() == TRUE, "unload succeeds");
    loaded = false;
}

void Request(std::string_view text) {
    long len = static_cast<long>(text.size());
    HGLOBAL reply = _request(Block(text), &len);
    Require(reply != nullptr && len > 0, "every request gets a reply");
    std::string_view answer(static_cast<const char*>(reply), static_cast<std::size_t>(len));
    if (loaded)
        Require(kLoadedAnswers.count(answer) == 1, "a loaded module answers a well-formed response");
    else
        Require(answer == kFixed500, "an unloaded module answers the fixed 500 text");
    std::free(reply);
}

// Gives back every hold and handle an input left, so that each input starts
// from the same state and a crash replays from its input alone.
void StartAfresh() {
    for (const auto& [name, handle] : MutexRegistry()) {
        while (ReleaseMutex(handle)) {
        }
        CloseHandle(handle);
    }
    MutexRegistry().clear();
    if (!loaded)
        Load();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // "license" writes into the module directory: a throwaway one.
    module_directory = MakeFuzzScratch() + "/module/";
    Require(mkdir(module_directory.c_str(), 0700) == 0, "a module directory can be made");
    Load();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (;;) {
        std::size_t end = input.find(kRecordSeparator);
        std::string_view record = input.substr(0, end);
        if (record == kLoadRecord)
            Load();
        else if (record == kUnloadRecord)
            Unload();
        else
            Request(record);
        if (end == std::string_view::npos)
            break;
        input.remove_prefix(end + 1);
    }
    StartAfresh();
    return 0;
}
