#include "mutex/commands.h"

#include "mutex/license.h"
#include "mutex/registry.h"
#include "platform/win32.h"

#include <new>

namespace {

// A command's handle to a mutex opened by name, closed on every path.
class OpenedMutex {
public:
    explicit OpenedMutex(const std::string& name)
        : handle_(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str())) {}
    ~OpenedMutex() {
        if (handle_)
            CloseHandle(handle_);
    }
    OpenedMutex(const OpenedMutex&) = delete;
    OpenedMutex& operator=(const OpenedMutex&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }

    // An abandoned mutex counts as acquired: its holder is gone.
    bool Acquire(DWORD timeout) const {
        DWORD result = WaitForSingleObject(handle_, timeout);
        return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    void Release() const { ReleaseMutex(handle_); }

private:
    HANDLE handle_;
};

// Memory that ran out in the system is the fixed 500 answer, as it is in the
// module, not the answer for a mutex that cannot be had.
void ThrowIfOutOfMemory(DWORD error) {
    if (error == ERROR_NOT_ENOUGH_MEMORY)
        throw std::bad_alloc();
}

const char* Flag(bool value) {
    return value ? "1" : "0";
}

std::int32_t Create(const std::string& name, ResponseHeaders& response) {
    HANDLE handle = CreateMutexA(nullptr, FALSE, name.c_str());
    DWORD error = GetLastError();
    if (handle && error == ERROR_SUCCESS) {
        try {
            MutexRegistry.emplace(name, handle);
        } catch (...) {
            CloseHandle(handle);
            throw;
        }
        response["Result"] = "1";
        return 200;
    }
    // An existing mutex is left as it is: releasing it here would give up
    // a hold the caller took with Lock or Wait.
    if (handle)
        CloseHandle(handle);
    if (handle && error == ERROR_ALREADY_EXISTS) {
        response["Result"] = "0";
        return 200;
    }
    ThrowIfOutOfMemory(error);
    return 500;
}

// What a command on an opened mutex is given.
struct Call {
    const OpenedMutex& mutex;
    const std::string& name;
    DWORD wait_limit;  // Wait's Argument2, INFINITE when it has none
    ResponseHeaders& response;
};

std::int32_t Delete(const Call& call) {
    bool acquired = call.mutex.Acquire(0);
    auto entry = acquired ? MutexRegistry.find(call.name) : MutexRegistry.end();
    if (entry == MutexRegistry.end()) {
        if (acquired)
            call.mutex.Release();
        call.response["Result"] = "0";
        return 200;
    }
    ReleaseMutex(entry->second);
    CloseHandle(entry->second);
    MutexRegistry.erase(entry);
    call.response["Result"] = "1";
    return 200;
}

std::int32_t Lock(const Call& call) {
    call.response["Result"] = Flag(call.mutex.Acquire(0));
    return 200;
}

std::int32_t Unlock(const Call& call) {
    call.mutex.Release();
    return 204;
}

// Without a time limit Wait blocks until it has the mutex and tells nothing;
// with one it tells whether it got it in time.
std::int32_t Wait(const Call& call) {
    bool acquired = call.mutex.Acquire(call.wait_limit);
    if (call.wait_limit == INFINITE)
        return 204;
    call.response["Result"] = Flag(acquired);
    return 200;
}

std::int32_t IsLocked(const Call& call) {
    bool acquired = call.mutex.Acquire(0);
    if (acquired)
        call.mutex.Release();  // give back what the probe took
    call.response["Result"] = Flag(!acquired);
    return 200;
}

// The commands that work on an existing mutex, opened by name.
struct OpenedCommand {
    const char* name;
    std::int32_t (*run)(const Call&);
};

const OpenedCommand kOpenedCommands[] = {
    {"Delete", Delete}, {"Lock", Lock}, {"Unlock", Unlock}, {"Wait", Wait}, {"isLocked", IsLocked},
};

// Wait's Argument2: a decimal number of milliseconds, 0 to INFINITE - 1.
// Without it `limit` stays as it is; false when it is there but no such number.
bool WaitLimitOf(RequestHeaders& request, DWORD& limit) {
    if (!request.count("Argument2"))
        return true;
    std::string_view text = request["Argument2"];
    if (text.empty())
        return false;
    std::uint64_t value = 0;
    for (char digit : text) {
        if (digit < '0' || digit > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(digit - '0');
        if (value >= INFINITE)
            return false;
    }
    limit = static_cast<DWORD>(value);
    return true;
}

}  // namespace

std::int32_t ExecuteCommand(const std::string& module_directory, RequestHeaders& request,
                            ResponseHeaders& response) {
    std::string_view command = request["Argument0"];
    if (command == "license")
        return WriteLicense(module_directory);

    // The platform takes names as C strings.
    const std::string name(request["Argument1"]);
    if (name.empty())
        return 400;
    if (command == "Create")
        return Create(name, response);
    DWORD wait_limit = INFINITE;
    if (command == "Wait" && !WaitLimitOf(request, wait_limit))
        return 400;
    for (const OpenedCommand& opened : kOpenedCommands) {
        if (command != opened.name)
            continue;
        OpenedMutex mutex(name);
        if (!mutex) {
            ThrowIfOutOfMemory(GetLastError());
            return 500;
        }
        return opened.run({mutex, name, wait_limit, response});
    }
    return 400;
}
