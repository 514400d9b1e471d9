#include "host.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include "platform/process_platform.h"
#endif

namespace {

HGLOBAL CopyToBlock(const std::string& text) {
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, text.size());
    if (block)
        std::memcpy(block, text.data(), text.size());
    return block;
}

char* CopyToMalloc(const std::string& text) {
    char* block = static_cast<char*>(std::malloc(text.size() ? text.size() : 1));
    if (block)
        std::memcpy(block, text.data(), text.size());
    return block;
}

// "dir/name": "dir/", and "./" for a bare name.
std::string DirectoryOf(const std::string& path) {
    std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? "./" : path.substr(0, separator + 1);
}

// The first "DIR/name" that is a file, for DIR in $SAORI_FALLBACK_PATH
// in order; "" when there is none.
std::string FindOnFallbackPath(const std::string& name) {
    const char* variable = std::getenv("SAORI_FALLBACK_PATH");
    std::string directories = variable ? variable : "";
    std::size_t start = 0;
    while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos)
            end = directories.size();
        std::string directory = directories.substr(start, end - start);
        start = end + 1;
        if (directory.empty())
            continue;
        std::string candidate = directory + (directory.back() == '/' ? "" : "/") + name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate;
    }
    return "";
}

}  // namespace

SaoriHost::~SaoriHost() {
    if (!library_)
        return;
    Unload();
    FreeLibrary(library_);
}

template <typename Function>
Function SaoriHost::Find(const std::string& name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library_, name.c_str())));
}

template <typename Function>
Function SaoriHost::FindPlainOrUnderscored(const std::string& name) const {
    // Plain names first, as most hosts look them up; then the underscored.
    Function found = Find<Function>(name);
    return found ? found : Find<Function>("_" + name);
}

std::string SaoriHost::Open(const std::string& module_path, HostInterface host_interface) {
    interface_ = host_interface;
    std::string error = host_interface == HostInterface::kSaori ? OpenSaori(module_path) : OpenLinuxHost(module_path);
    if (error.empty())
        Load(module_directory_);
    return error;
}

std::string SaoriHost::OpenSaori(const std::string& module_path) {
    library_ = LoadLibraryA(module_path.c_str());
    if (!library_)
        return module_path + ": cannot be loaded as a module";
    request_ = FindPlainOrUnderscored<RequestFn>("request");
    if (!request_)
        return module_path + ": has no entry point request";
    load_ = FindPlainOrUnderscored<LoadFn>("load");
    unload_ = FindPlainOrUnderscored<UnloadFn>("unload");
    module_directory_ = DirectoryOf(module_path);
    return "";
}

std::string SaoriHost::OpenLinuxHost(const std::string& module_name) {
    std::string path = module_name.find('/') == std::string::npos ? FindOnFallbackPath(module_name) : module_name;
    if (path.empty())
        return module_name + ": not found in any directory of SAORI_FALLBACK_PATH";
    library_ = LoadLibraryA(path.c_str());
    if (!library_)
        return path + ": cannot be loaded as a module";
    std::string file = path.substr(path.find_last_of('/') + 1);
    std::string prefix = file.substr(0, file.find('.')) + "_saori_";
    instance_request_ = Find<InstanceRequestFn>(prefix + "request");
    instance_load_ = Find<InstanceLoadFn>(prefix + "load");
    instance_unload_ = Find<InstanceUnloadFn>(prefix + "unload");
    if (!instance_request_ || !instance_load_ || !instance_unload_)
        return path + ": has no entry points " + prefix + "load, _unload and _request";
    module_directory_ = DirectoryOf(path);
    return "";
}

void SaoriHost::Load(const std::string& directory) {
    if (interface_ == HostInterface::kSaori) {
        if (load_)
            load_(CopyToBlock(directory), static_cast<long>(directory.size()));
        return;
    }
    if (instance_live_)
        Unload();
    instance_ = instance_load_(CopyToMalloc(directory), static_cast<long>(directory.size()));
    instance_live_ = instance_ != 0;
}

void SaoriHost::Unload() {
    if (interface_ == HostInterface::kSaori) {
        if (unload_)
            unload_();
        return;
    }
    if (instance_unload_)
        instance_unload_(instance_);
    instance_live_ = false;
}

std::string SaoriHost::Request(const std::string& text) {
    long len = static_cast<long>(text.size());
    if (interface_ == HostInterface::kLinuxHost) {
        char* reply = instance_request_(instance_, CopyToMalloc(text), &len);
        std::string response = reply ? std::string(reply, static_cast<std::size_t>(len)) : "";
        std::free(reply);
        return response;
    }
    HGLOBAL reply = request_(CopyToBlock(text), &len);
    if (!reply)
        return "";
    std::string response(static_cast<const char*>(reply), static_cast<std::size_t>(len));
    GlobalFree(reply);
    return response;
}

std::string SaoriHost::Problems() const {
#ifndef _WIN32
    auto find = Find<const Platform* (*)()>("trilox_platform");
    const Platform* platform = find ? find() : nullptr;
    if (platform && std::strcmp(platform->format, trilox_platform()->format) == 0) {
        std::string text(platform->problems(nullptr, 0), '\0');
        platform->problems(text.data(), text.size() + 1);
        return text;
    }
#endif
    return "";
}

int SaoriHost::RequestStatus(const std::string& text) {
    if (interface_ == HostInterface::kLinuxHost)
        return StatusOf(Request(text));
    long len = static_cast<long>(text.size());
    HGLOBAL reply = request_(CopyToBlock(text), &len);
    int status = reply ? StatusOf({static_cast<const char*>(reply), static_cast<std::size_t>(len)}) : 0;
    GlobalFree(reply);
    return status;
}

int StatusOf(std::string_view response) {
    constexpr std::string_view prefix = "SAORI/1.0 ";
    int status = 0;
    if (response.substr(0, prefix.size()) == prefix)
        std::from_chars(response.data() + prefix.size(), response.data() + response.size(), status);
    return status;
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
