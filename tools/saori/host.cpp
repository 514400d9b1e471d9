#include "host.h"

#include <cstdlib>
#include <cstring>

namespace {

HGLOBAL CopyToBlock(const std::string& text) {
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, text.size());
    if (block)
        std::memcpy(block, text.data(), text.size());
    return block;
}

}  // namespace

SaoriHost::~SaoriHost() {
    if (!library_)
        return;
    Unload();
    FreeLibrary(library_);
}

template <typename Function>
Function SaoriHost::Find(const char* name) const {
    // Plain names first, as most hosts look them up; then the underscored.
    FARPROC found = GetProcAddress(library_, name);
    if (!found)
        found = GetProcAddress(library_, (std::string("_") + name).c_str());
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

std::string SaoriHost::Open(const std::string& module_path) {
    library_ = LoadLibraryA(module_path.c_str());
    if (!library_)
        return module_path + ": cannot be loaded as a module";
    request_ = Find<RequestFn>("request");
    if (!request_)
        return module_path + ": has no entry point request";
    load_ = Find<LoadFn>("load");
    unload_ = Find<UnloadFn>("unload");

    std::size_t separator = module_path.find_last_of("/\\");
    Load(separator == std::string::npos ? "./" : module_path.substr(0, separator + 1));
    return "";
}

void SaoriHost::Load(const std::string& directory) {
    if (load_)
        load_(CopyToBlock(directory), static_cast<long>(directory.size()));
}

void SaoriHost::Unload() {
    if (unload_)
        unload_();
}

std::string SaoriHost::Request(const std::string& text) {
    long len = static_cast<long>(text.size());
    HGLOBAL reply = request_(CopyToBlock(text), &len);
    if (!reply)
        return "";
    std::string response(static_cast<const char*>(reply), static_cast<std::size_t>(len));
    GlobalFree(reply);
    return response;
}

int StatusOf(const std::string& response) {
    const char prefix[] = "SAORI/1.0 ";
    if (response.compare(0, sizeof prefix - 1, prefix) != 0)
        return 0;
    return std::atoi(response.c_str() + sizeof prefix - 1);
}

int ExitStatusOf(const std::string& response) {
    int status = StatusOf(response);
    if (status >= 200 && status < 300)
        return 0;
    if (status >= 400 && status < 500)
        return 1;
    return 2;
}

std::string ExecuteRequestText(const std::vector<std::string>& arguments) {
    std::string text =
        "EXECUTE SAORI/1.0\r\n"
        "Sender: saori\r\n"
        "SecurityLevel: Local\r\n"
        "Charset: Shift_JIS\r\n";
    for (std::size_t i = 0; i < arguments.size(); ++i)
        text += "Argument" + std::to_string(i) + ": " + arguments[i] + "\r\n";
    return text + "\r\n";
}

std::string ResultOf(const std::string& response) {
    const std::string key = "\r\nResult: ";
    std::size_t start = response.find(key);
    if (start == std::string::npos)
        return "";
    start += key.size();
    return response.substr(start, response.find("\r\n", start) - start);
}
