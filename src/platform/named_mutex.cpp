// CreateMutexA, OpenMutexA, WaitForSingleObject, ReleaseMutex and CloseHandle.
//
// A named mutex is a file in its namespace directory. It lives while a handle
// to it is open anywhere: a process holds a shared flock on the file while it
// has handles to it, so that "no handle left" is "an exclusive flock
// succeeds", and the kernel drops the flocks of a process that dies. Files
// are made, opened and removed only under the namespace lock.
#include "platform/handle_table.h"
#include "platform/mutex_name.h"
#include "platform/mutex_namespace.h"
#include "platform/posix_error.h"
#include "platform/win32.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

namespace {

HANDLE fail(DWORD error) {
    SetLastError(error);
    return nullptr;
}

// Takes this process's shared flock on the mutex file `fd`, unless no handle
// to it is open anywhere. Exclusive flocks are only taken under the namespace
// lock, as here, so the shared one never waits.
bool lock_if_alive(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        flock(fd, LOCK_UN);
        return false;
    }
    flock(fd, LOCK_SH);
    return true;
}

// Gives up this process's shared flock; true if that left no handle anywhere.
bool unlock_was_last(int fd) {
    bool last = flock(fd, LOCK_EX | LOCK_NB) == 0;
    flock(fd, LOCK_UN);
    return last;
}

void take_initial_ownership(MutexObject& object) {
    if (wait_for_shared_mutex(*object.shared, 0) == WAIT_OBJECT_0) object.note_acquired();
}

MutexObject* open_existing(const std::shared_ptr<NamespaceDirectory>& directory,
                           const MutexName& name, DWORD& error) {
    // O_NONBLOCK: a FIFO planted under the name must not hang us.
    UniqueFd fd(openat(directory->fd(), name.file_name.c_str(),
                       O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (!fd || fstat(fd.get(), &status) != 0) {
        error = errno == ENOENT ? ERROR_FILE_NOT_FOUND : win32_error_from_errno(errno);
        return nullptr;
    }
    if (status.st_uid != directory->user()) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    MutexObject* object = handle_table().find_object(status);
    if (object && object->handles > 0) return object;

    if (!lock_if_alive(fd.get())) {
        // Its last handle was in a process that died before it removed the name.
        unlinkat(directory->fd(), name.file_name.c_str(), 0);
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (object) {  // still mapped, as a thread of ours holds it
        object->file = std::move(fd);
        return object;
    }
    SharedMutexMapping shared = map_shared_mutex(fd.get(), status.st_size, name.name, error);
    if (!shared) return nullptr;
    return &handle_table().add_object(std::make_unique<MutexObject>(
        directory, name.file_name, status, std::move(fd), std::move(shared)));
}

MutexObject* create_in_file(std::shared_ptr<NamespaceDirectory> directory, const MutexName& name,
                       UniqueFd fd, BOOL initial_owner, DWORD& error) {
    struct stat status;
    SharedMutexMapping shared;
    if (fstat(fd.get(), &status) != 0) error = win32_error_from_errno(errno);
    else shared = create_shared_mutex(fd.get(), name.name, error);
    if (!shared) return nullptr;
    MutexObject& object = handle_table().add_object(std::make_unique<MutexObject>(
        std::move(directory), name.file_name, status, std::move(fd), std::move(shared)));
    if (initial_owner) take_initial_ownership(object);
    return &object;
}

MutexObject* create_new(const std::shared_ptr<NamespaceDirectory>& directory,
                        const MutexName& name, BOOL initial_owner, DWORD& error) {
    UniqueFd fd(openat(directory->fd(), name.file_name.c_str(),
                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    // Whatever the umask, the owner's other processes must be able to open it.
    if (!fd || fchmod(fd.get(), 0600) != 0) {
        error = win32_error_from_errno(errno);
        return nullptr;
    }
    flock(fd.get(), LOCK_SH);
    MutexObject* object = create_in_file(directory, name, std::move(fd), initial_owner, error);
    if (!object) unlinkat(directory->fd(), name.file_name.c_str(), 0);
    return object;
}

// Opens the mutex `name`. If no handle to it is open anywhere, fails, or,
// when given `created`, creates it and tells so there.
MutexObject* open_named(const char* name, bool* created, BOOL initial_owner, DWORD& error) {
    MutexName parsed;
    if ((error = parse_mutex_name(name, parsed))) return nullptr;
    std::shared_ptr<NamespaceDirectory> directory = namespace_directory(parsed.global, error);
    if (!directory) return nullptr;
    if (MutexObject* object = handle_table().find_open(*directory, parsed.file_name)) return object;

    NamespaceLock lock(*directory);
    MutexObject* object = open_existing(directory, parsed, error);
    // Under the namespace lock, so that an initial owner takes it before anyone can open it.
    if (!object && error == ERROR_FILE_NOT_FOUND && created) {
        object = create_new(directory, parsed, initial_owner, error);
        *created = object != nullptr;
    }
    return object;
}

// A mutex without a name is a file without one, of its own for ever.
MutexObject* create_unnamed(BOOL initial_owner, DWORD& error) {
    UniqueFd fd(memfd_create("trilox mutex", MFD_CLOEXEC));
    if (!fd) {
        error = win32_error_from_errno(errno);
        return nullptr;
    }
    return create_in_file(nullptr, MutexName(), std::move(fd), initial_owner, error);
}

}  // namespace

extern "C" HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCSTR name) {
    try {
        std::lock_guard<std::mutex> guard(process_lock());
        handle_table().reserve();
        bool created = false;
        DWORD error = ERROR_SUCCESS;
        MutexObject* object;
        if (name && *name) {
            object = open_named(name, &created, initial_owner, error);
        } else {
            object = create_unnamed(initial_owner, error);
            created = true;
        }
        if (!object) return fail(error);
        SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
        return handle_table().add_handle(*object);
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

extern "C" HANDLE OpenMutexA(DWORD, BOOL, LPCSTR name) {
    try {
        std::lock_guard<std::mutex> guard(process_lock());
        handle_table().reserve();
        DWORD error;
        MutexObject* object = open_named(name ? name : "", nullptr, FALSE, error);
        return object ? handle_table().add_handle(*object) : fail(error);
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    MutexObject* object;
    {
        std::lock_guard<std::mutex> guard(process_lock());
        object = handle_table().object_of(handle);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        ++object->callers;  // keeps it mapped while we wait without the lock
    }
    DWORD result = wait_for_shared_mutex(*object->shared, milliseconds);
    std::lock_guard<std::mutex> guard(process_lock());
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) object->note_acquired();
    --object->callers;
    handle_table().remove_if_unused(*object);
    return result;
}

extern "C" BOOL ReleaseMutex(HANDLE handle) {
    std::lock_guard<std::mutex> guard(process_lock());
    MutexObject* object = handle_table().object_of(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!release_shared_mutex(*object->shared)) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    --object->levels;
    return TRUE;
}

// Never releases a hold: the mapping stays while a thread here holds the mutex.
extern "C" BOOL CloseHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(process_lock());
    MutexObject* object = handle_table().remove_handle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->handles == 0) {
        if (object->directory) {
            NamespaceLock lock(*object->directory);
            // The name goes with the last handle anywhere, even while the mutex is held.
            if (unlock_was_last(object->file.get()))
                unlinkat(object->directory->fd(), object->file_name.c_str(), 0);
        }
        // A thread of ours may still hold it, which keeps it mapped, but with
        // no handle left nothing needs its file: a script that deletes what
        // it holds, again and again, must not run out of descriptors.
        object->file = UniqueFd();
    }
    handle_table().remove_if_unused(*object);
    return TRUE;
}
