#pragma once

#include "platform/win32.h"

#include <string>
#include <string_view>
#include <vector>

// How a host finds a module and calls it.
enum class HostInterface {
    // The file at the path given; load, unload and request (or the same
    // names with "_"), with blocks of global memory.
    kSaori,
    // As Linux hosts do: a file name without '/' is looked for in each
    // directory of $SAORI_FALLBACK_PATH in turn; the functions are named
    // after the file (NAME_saori_load, _unload, _request for NAME.dll), load
    // answers an instance id, and blocks are malloc'd.
    kLinuxHost,
};

// A SAORI/1.0 host: loads a module by path, hands it its directory, sends
// it request texts and unloads it when destroyed.
class SaoriHost {
public:
    SaoriHost() = default;
    ~SaoriHost();
    SaoriHost(const SaoriHost&) = delete;
    SaoriHost& operator=(const SaoriHost&) = delete;

    // Loads the module and calls its load; on failure returns a one-line
    // message naming the file and what is missing, else "".
    std::string Open(const std::string& module_path, HostInterface host_interface = HostInterface::kSaori);
    std::string Request(const std::string& text);
    // The status of the answer alone, read where the module put it: what a
    // host that needs no more does.
    int RequestStatus(const std::string& text);
    // Hands the module a directory; Open hands it the module's own. Through
    // kLinuxHost a live instance is ended first, as a repeated load replaces
    // the module object through kSaori.
    void Load(const std::string& directory);
    void Unload();
    // Why the module's mutexes cannot be had now, a line for each reason, as
    // trilox tells it; "" from other modules.
    std::string Problems() const;
    // The directory of the module file that was loaded, ending in a separator.
    const std::string& ModuleDirectory() const { return module_directory_; }

private:
    using LoadFn = BOOL(__cdecl*)(HGLOBAL, long);
    using UnloadFn = BOOL(__cdecl*)(void);
    using RequestFn = HGLOBAL(__cdecl*)(HGLOBAL, long*);
    using InstanceLoadFn = long (*)(char*, long);
    using InstanceUnloadFn = int (*)(long);
    using InstanceRequestFn = char* (*)(long, char*, long*);

    template <typename Function>
    Function Find(const std::string& name) const;
    template <typename Function>
    Function FindPlainOrUnderscored(const std::string& name) const;
    std::string OpenSaori(const std::string& module_path);
    std::string OpenLinuxHost(const std::string& module_name);

    HostInterface interface_ = HostInterface::kSaori;
    HMODULE library_ = nullptr;
    std::string module_directory_;
    LoadFn load_ = nullptr;
    UnloadFn unload_ = nullptr;
    RequestFn request_ = nullptr;

    InstanceLoadFn instance_load_ = nullptr;
    InstanceUnloadFn instance_unload_ = nullptr;
    InstanceRequestFn instance_request_ = nullptr;
    long instance_ = 0;  // kept after unload: later requests go to the ended id
    bool instance_live_ = false;
};

// The status code of a response text ("SAORI/1.0 204 ..." gives 204), 0 when
// it has none.
int StatusOf(std::string_view response);

// The exit status hosts report for a response: 0 for 2xx, 1 for 4xx, 2 else.
int ExitStatusOf(const std::string& response);

// An "EXECUTE" request from a local caller with Argument0.. as given.
std::string ExecuteRequestText(const std::vector<std::string>& arguments);

// The value of the response's "Result" header, "" when it has none.
std::string ResultOf(const std::string& response);
