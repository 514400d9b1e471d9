#include "mutex/commands.h"

#include "mutex/license.h"
#include "mutex/registry.h"
#include "platform/win32.h"

#include <new>
#include <optional>
#include <string>

namespace {

// A command's handle to an existing mutex: the registry's own for a mutex
// this module created, which saves opening it by name, else one opened by
// name and closed on every path.
class OpenedMutex {
public:
    explicit OpenedMutex(std::string_view name) {
        MutexMap& registry = MutexRegistry();
        auto kept = registry.find(name);
        if (kept != registry.end()) {
            handle_ = kept->second;
            return;
        }
        // The platform takes names as C strings.
        handle_ = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, std::string(name).c_str());
        opened_ = true;
    }
    ~OpenedMutex() {
        if (opened_ && handle_)
            CloseHandle(handle_);
    }
    OpenedMutex(const OpenedMutex&) = delete;
    OpenedMutex& operator=(const OpenedMutex&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }

    // Whether it was taken; an abandoned mutex counts, as its holder is gone.
    // Nothing when the wait failed, as for a thread that holds as many
    // mutexes as it may: a failure, never an answer that it is held.
    std::optional<bool> Acquire(DWORD timeout) const {
        DWORD result = WaitForSingleObject(handle_, timeout);
        if (result == WAIT_FAILED)
            return std::nullopt;
        return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    void Release() const { ReleaseMutex(handle_); }

private:
    HANDLE handle_;
    bool opened_ = false;
};

// Memory that ran out in the system is the fixed 500 answer, as it is in the
// module, not the answer for a mutex that cannot be had.
void ThrowIfOutOfMemory(DWORD error) {
    if (error == ERROR_NOT_ENOUGH_MEMORY)
        throw std::bad_alloc();
}

const CommandOutcome kFailed{500, {}};

CommandOutcome Create(std::string_view name) {
    const std::string created_name(name);
    HANDLE handle = CreateMutexA(nullptr, FALSE, created_name.c_str());
    DWORD error = GetLastError();
    if (handle && error == ERROR_SUCCESS) {
        bool kept;
        try {
            kept = MutexRegistry().emplace(created_name, handle).second;
        } catch (...) {
            CloseHandle(handle);
            throw;
        }
        // Kept already: a name read as no name, whose every Create makes a
        // new mutex that no one can reach; the one kept under it stays.
        if (!kept)
            CloseHandle(handle);
        return {200, true};
    }
    // An existing mutex is left as it is: releasing it here would give up
    // a hold the caller took with Lock or Wait.
    if (handle)
        CloseHandle(handle);
    if (handle && error == ERROR_ALREADY_EXISTS) {
        return {200, false};
    }
    ThrowIfOutOfMemory(error);
    return kFailed;
}

// What a command on an opened mutex is given.
struct Call {
    const OpenedMutex& mutex;
    std::string_view name;
    DWORD wait_limit;  // INFINITE when Wait was given none
};

CommandOutcome Delete(const Call& call) {
    std::optional<bool> acquired = call.mutex.Acquire(0);
    if (!acquired)
        return kFailed;
    MutexMap& registry = MutexRegistry();
    auto entry = *acquired ? registry.find(call.name) : registry.end();
    if (entry == registry.end()) {
        if (*acquired)
            call.mutex.Release();
        return {200, false};
    }
    ReleaseMutex(entry->second);
    CloseHandle(entry->second);
    registry.erase(entry);
    return {200, true};
}

CommandOutcome Lock(const Call& call) {
    std::optional<bool> acquired = call.mutex.Acquire(0);
    return acquired ? CommandOutcome{200, *acquired} : kFailed;
}

CommandOutcome Unlock(const Call& call) {
    call.mutex.Release();
    return {204, {}};
}

// Without a time limit Wait blocks until it has the mutex and tells nothing;
// with one it tells whether it got it in time.
CommandOutcome Wait(const Call& call) {
    std::optional<bool> acquired = call.mutex.Acquire(call.wait_limit);
    if (!acquired)
        return kFailed;
    if (call.wait_limit == INFINITE)
        return {204, {}};
    return {200, *acquired};
}

CommandOutcome IsLocked(const Call& call) {
    std::optional<bool> acquired = call.mutex.Acquire(0);
    if (!acquired)
        return kFailed;
    if (*acquired)
        call.mutex.Release();  // give back what the probe took
    return {200, !*acquired};
}

// The commands that work on an existing mutex, opened by name.
struct OpenedCommand {
    const char* name;
    CommandOutcome (*run)(const Call&);
};

const OpenedCommand kOpenedCommands[] = {
    {"Delete", Delete}, {"Lock", Lock}, {"Unlock", Unlock}, {"Wait", Wait}, {"isLocked", IsLocked},
};

// Wait's limit: a decimal number of milliseconds, 0 to INFINITE - 1. Without
// one `limit` stays as it is; false when it is there but no such number.
bool WaitLimitOf(std::optional<std::string_view> given, DWORD& limit) {
    if (!given)
        return true;
    std::string_view text = *given;
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

CommandOutcome ExecuteCommand(std::string_view command, std::string_view name,
                              std::optional<std::string_view> time_limit, const std::string& module_directory) {
    if (command == "license")
        return {WriteLicense(module_directory), {}};
    if (name.empty())
        return {400, {}};
    if (command == "Create")
        return Create(name);
    DWORD wait_limit = INFINITE;
    if (command == "Wait" && !WaitLimitOf(time_limit, wait_limit))
        return {400, {}};
    for (const OpenedCommand& opened : kOpenedCommands) {
        if (command != opened.name)
            continue;
        OpenedMutex mutex(name);
        if (!mutex) {
            ThrowIfOutOfMemory(GetLastError());
            return kFailed;
        }
        return opened.run({mutex, name, wait_limit});
    }
    return {400, {}};
}
