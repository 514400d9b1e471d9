#include "platform/process_platform.h"

#include "platform/mutex_namespace.h"
#include "platform/named_mutex.h"
#include "platform/shared_mutex.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

// Names the table's layout and the mutex file format: both must match to share.
const char kFormat[] = "trilox platform 1, " TRILOX_MUTEX_FORMAT;

thread_local DWORD last_error = ERROR_SUCCESS;

DWORD get_last_error() {
    return last_error;
}

void set_last_error(DWORD error) {
    last_error = error;
}

std::size_t copy_out(const std::string& text, char* buffer, std::size_t size) {
    if (size > 0) {
        std::size_t copied = std::min(text.size(), size - 1);
        std::memcpy(buffer, text.data(), copied);
        buffer[copied] = '\0';
    }
    return text.size();
}

const Platform kOwn = {
    kFormat, create_mutex, open_mutex, wait_for_single_object, release_mutex, close_handle,
    get_last_error, set_last_error,
    [](char* text, std::size_t size) { return copy_out(namespace_problems(), text, size); },
};

// Why this copy cannot share the platform of the copy loaded first.
std::string& unshared_because() {
    static std::string& reason = *new std::string;
    return reason;
}

template <typename Result>
Result refuse(DWORD error, Result result) {
    last_error = error;
    return result;
}

// A copy that cannot share refuses every mutex: mapping them apart is what
// sharing prevents.
const Platform kRefusing = {
    kFormat,
    [](LPSECURITY_ATTRIBUTES, BOOL, LPCSTR) { return refuse<HANDLE>(ERROR_ACCESS_DENIED, nullptr); },
    [](DWORD, BOOL, LPCSTR) { return refuse<HANDLE>(ERROR_ACCESS_DENIED, nullptr); },
    [](HANDLE, DWORD) { return refuse<DWORD>(ERROR_INVALID_HANDLE, WAIT_FAILED); },
    [](HANDLE) { return refuse<BOOL>(ERROR_INVALID_HANDLE, FALSE); },
    [](HANDLE) { return refuse<BOOL>(ERROR_INVALID_HANDLE, FALSE); },
    get_last_error, set_last_error,
    [](char* text, std::size_t size) { return copy_out(unshared_because(), text, size); },
};

// The platform of the first copy of trilox among the objects the process has
// loaded, in the order it loaded them, which every copy reads alike; a copy
// is never unloaded, so the first stays first.
const Platform& first_copys() {
    std::vector<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* names) {
            if (info->dlpi_name && info->dlpi_name[0])
                static_cast<std::vector<std::string>*>(names)->push_back(info->dlpi_name);
            return 0;
        },
        &names);
    for (const std::string& name : names) {
        void* library = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (!library) continue;
        auto find = reinterpret_cast<const Platform* (*)()>(dlsym(library, "trilox_platform"));
        const Platform* found = find ? find() : nullptr;
        dlclose(library);
        if (!found) continue;
        if (std::strcmp(found->format, kFormat) == 0) return *found;
        unshared_because() = "this process loaded another copy of trilox first, " + name + ", of another build (" +
                             found->format + "); copies of two builds cannot share the process's mutexes\n";
        return kRefusing;
    }
    return kOwn;
}

const Platform& process_platform() {
    static const Platform& platform = [] {
        try {
            return std::cref(first_copys());
        } catch (const std::bad_alloc&) {
            return std::cref(kOwn);
        }
    }();
    return platform;
}

}  // namespace

extern "C" const Platform* trilox_platform(void) {
    return &kOwn;
}

extern "C" HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCSTR name) {
    return process_platform().create_mutex(attributes, initial_owner, name);
}

extern "C" HANDLE OpenMutexA(DWORD access, BOOL inherit, LPCSTR name) {
    return process_platform().open_mutex(access, inherit, name);
}

extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return process_platform().wait_for_single_object(handle, milliseconds);
}

extern "C" BOOL ReleaseMutex(HANDLE handle) {
    return process_platform().release_mutex(handle);
}

extern "C" BOOL CloseHandle(HANDLE handle) {
    return process_platform().close_handle(handle);
}

extern "C" DWORD GetLastError(void) {
    return process_platform().get_last_error();
}

extern "C" void SetLastError(DWORD error) {
    process_platform().set_last_error(error);
}
