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

std::int32_t Delete(const OpenedMutex& mutex, const std::string& name, ResponseHeaders& response) {
    bool acquired = mutex.Acquire(0);
    auto entry = acquired ? MutexRegistry.find(name) : MutexRegistry.end();
    if (entry == MutexRegistry.end()) {
        if (acquired)
            mutex.Release();
        response["Result"] = "0";
        return 200;
    }
    ReleaseMutex(entry->second);
    CloseHandle(entry->second);
    MutexRegistry.erase(entry);
    response["Result"] = "1";
    return 200;
}

std::int32_t Lock(const OpenedMutex& mutex, const std::string&, ResponseHeaders& response) {
    response["Result"] = Flag(mutex.Acquire(0));
    return 200;
}

std::int32_t Unlock(const OpenedMutex& mutex, const std::string&, ResponseHeaders&) {
    mutex.Release();
    return 204;
}

std::int32_t Wait(const OpenedMutex& mutex, const std::string&, ResponseHeaders&) {
    mutex.Acquire(INFINITE);
    return 204;
}

std::int32_t IsLocked(const OpenedMutex& mutex, const std::string&, ResponseHeaders& response) {
    bool acquired = mutex.Acquire(0);
    if (acquired)
        mutex.Release();  // give back what the probe took
    response["Result"] = Flag(!acquired);
    return 200;
}

// The commands that work on an existing mutex, opened by name.
struct OpenedCommand {
    const char* name;
    std::int32_t (*run)(const OpenedMutex&, const std::string&, ResponseHeaders&);
};

const OpenedCommand kOpenedCommands[] = {
    {"Delete", Delete}, {"Lock", Lock}, {"Unlock", Unlock}, {"Wait", Wait}, {"isLocked", IsLocked},
};

}  // namespace

std::int32_t ExecuteCommand(TNS_OrtaneANI& module, RequestHeaders& request, ResponseHeaders& response) {
    std::string_view command = request["Argument0"];
    if (command == "license")
        return WriteLicense(module);

    // The platform takes names as C strings.
    const std::string name(request["Argument1"]);
    if (name.empty())
        return 400;
    if (command == "Create")
        return Create(name, response);
    for (const OpenedCommand& opened : kOpenedCommands) {
        if (command != opened.name)
            continue;
        OpenedMutex mutex(name);
        if (!mutex) {
            ThrowIfOutOfMemory(GetLastError());
            return 500;
        }
        return opened.run(mutex, name, response);
    }
    return 400;
}
