#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

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
    std::string Open(const std::string& module_path);
    std::string Request(const std::string& text);
    // Hands the module a directory; Open hands it the module's own.
    void Load(const std::string& directory);
    void Unload();

private:
    using LoadFn = BOOL(__cdecl*)(HGLOBAL, long);
    using UnloadFn = BOOL(__cdecl*)(void);
    using RequestFn = HGLOBAL(__cdecl*)(HGLOBAL, long*);

    template <typename Function>
    Function Find(const char* name) const;

    HMODULE library_ = nullptr;
    LoadFn load_ = nullptr;
    UnloadFn unload_ = nullptr;
    RequestFn request_ = nullptr;
};

// The status code of a response text ("SAORI/1.0 204 ..." gives 204), 0 when
// it has none.
int StatusOf(const std::string& response);

// The exit status hosts report for a response: 0 for 2xx, 1 for 4xx, 2 else.
int ExitStatusOf(const std::string& response);

// An "EXECUTE" request from a local caller with Argument0.. as given.
std::string ExecuteRequestText(const std::vector<std::string>& arguments);

// The value of the response's "Result" header, "" when it has none.
std::string ResultOf(const std::string& response);
