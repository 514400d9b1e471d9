// CreateMutexA, OpenMutexA, WaitForSingleObject, ReleaseMutex and CloseHandle
// of this copy of the platform.
//
// A named mutex is a file in its namespace directory that only its owner can
// open (mode 0600). It lives while a handle to it is open anywhere: each
// process with handles to it holds a shared flock on the file, so that "no
// handle left" is "an exclusive flock succeeds", and the kernel drops the
// flocks of a process that dies.
//
// No lock on a directory is taken: anyone who can open a directory can lock
// it, and another user must never be able to stall us. Instead:
// - a file gets its name only when it is whole: it is made without one,
//   set up, flocked by its creator (and held, if asked), then linked into
//   place, which fails if the name is taken;
// - a name is removed only by a process that holds the exclusive flock on
//   the file it names, so that it stays while anyone holds a shared one;
// - an opener takes its shared flock, then checks that the name still names
//   the file it opened, and starts again if it was removed meanwhile.
// Only the owner's processes (and root) can open a file, so only they can
// take its flocks, and none keeps the exclusive one longer than removing a
// name takes. Every flock is non-blocking, retried for about a second at most.
// The name goes with the last handle: at its CloseHandle, at the exit of the
// process that has it, or, after a crash, when the next opener finds the
// file dead.
#include "platform/named_mutex.h"

#include "platform/handle_table.h"
#include "platform/mutex_name.h"
#include "platform/mutex_namespace.h"
#include "platform/posix_error.h"
#include "platform/refusal.h"
#include "platform/win32.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>

namespace {

// How long a command waits for other processes to finish removing a name.
constexpr std::chrono::milliseconds kRetryFor(1000);

HANDLE fail(DWORD error) {
    SetLastError(error);
    return nullptr;
}

// Notes why the mutex `name` was refused: `what` failed with `error`.
DWORD refused(const MutexName& name, const std::string& what, int error) {
    std::string why = what + ": " + std::strerror(error);
    if (error == EMFILE) why += " (mutexes leave the host the last eighth of its descriptors)";
    note_refusal(name.name, why);
    return win32_error_from_errno(error);
}

enum class Outcome {
    done,     // found or made, or failed with the error set
    missing,  // no mutex has the name
    again,    // the name changed under us: look again
};

// True while `file_name` still names the file `id`.
bool still_named(const NamespaceDirectory& directory, const std::string& file_name, FileId id) {
    struct stat now;
    return fstatat(directory.fd(), file_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           FileId(now.st_dev, now.st_ino) == id;
}

// Takes this process's shared flock again on the file of an idle mutex, if
// it is still alive and still has its name; else lets it go, for the long
// way to find out what became of it.
bool reopen_idle(MutexObject& object) {
    int fd = object.file.get();
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK && flock(fd, LOCK_SH | LOCK_NB) == 0 &&
        still_named(*object.directory, object.file_name, object.id))
        return true;
    handle_table().let_go(object);
    return false;
}

// A mutex never takes one of the last eighth of the descriptors the process
// may have: the host needs them for its own files. Past that, it is as if no
// descriptor were left.
int leaving_room_for_host(int fd) {
    rlimit limit;
    if (fd < 0 || getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        static_cast<rlim_t>(fd) < limit.rlim_cur - limit.rlim_cur / 8)
        return fd;
    close(fd);
    errno = EMFILE;
    return -1;
}

// Each mutex takes a mapping, and a process may have vm.max_map_count of
// them: mutexes leave the host the last eighth, for its own malloc and mmap.
// No system sets the limit near a thousand; past that it is read each time,
// as it may change.
bool room_for_another_mapping(const MutexName& name) {
    std::size_t mapped = handle_table().mapped(), limit = 65530;
    if (mapped < 1024) return true;
    std::ifstream("/proc/sys/vm/max_map_count") >> limit;
    if (mapped < limit - limit / 8) return true;
    note_refusal(name.name, "this process maps " + std::to_string(mapped) +
                                " mutexes already; the last eighth of the mappings a process may have "
                                "(vm.max_map_count) is left to the host");
    return false;
}

// The mutex file `file_name`, as found; O_NONBLOCK: a FIFO planted under
// the name must not hang us.
int open_mutex_file(const NamespaceDirectory& directory, const std::string& file_name) {
    return openat(directory.fd(), file_name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

Outcome open_existing(const std::shared_ptr<NamespaceDirectory>& directory, const MutexName& name,
                      MutexObject*& object, DWORD& error) {
    UniqueFd fd(leaving_room_for_host(open_mutex_file(*directory, name.file_name)));
    if (!fd && errno == ENOENT) return Outcome::missing;
    struct stat status;
    if (!fd || fstat(fd.get(), &status) != 0) {
        error = refused(name, "cannot open its file in " + directory->path(), errno);
        return Outcome::done;
    }
    MutexObject* known = handle_table().find_object(status);
    if (known && known->name != name.name) {
        note_refusal(name.name, "its file holds another mutex whose long name has the same hash");
        error = ERROR_INVALID_HANDLE;
        return Outcome::done;
    }
    if (known && known->handles > 0) {  // our own flock keeps the name
        object = known;
        return Outcome::done;
    }

    if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
        // No one has it open: its last handle was in a process that died
        // before it removed the name. Ours to remove, if it is still there;
        // root removes another user's too, which that user alone could not.
        // Another user's file that others may open is refused as theirs:
        // looking again would find it unchanged.
        if (still_named(*directory, name.file_name, FileId(status.st_dev, status.st_ino)) &&
            unlinkat(directory->fd(), name.file_name.c_str(), 0) != 0 && errno != ENOENT) {
            error = refused(name, "cannot remove the file a dead process left in " + directory->path(), errno);
            return Outcome::done;
        }
        return Outcome::again;
    }
    // Someone else's living mutex by this name: theirs, as on Windows.
    if (status.st_uid != directory->user()) {
        note_refusal(name.name, "uid " + std::to_string(status.st_uid) + " has it open in " + directory->path() +
                                    "; a name is its maker's while any process has it");
        error = ERROR_ACCESS_DENIED;
        return Outcome::done;
    }
    if (errno != EWOULDBLOCK || flock(fd.get(), LOCK_SH | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return Outcome::again;  // someone is removing the name
        error = refused(name, "cannot lock its file in " + directory->path(), errno);
        return Outcome::done;
    }
    if (!still_named(*directory, name.file_name, FileId(status.st_dev, status.st_ino))) return Outcome::again;

    if (known) {  // still mapped, as a thread of ours holds it
        known->file = std::move(fd);
        object = known;
        return Outcome::done;
    }
    if (!room_for_another_mapping(name)) {
        error = ERROR_NOT_ENOUGH_QUOTA;
        return Outcome::done;
    }
    SharedMutexMapping shared = map_shared_mutex(fd.get(), status.st_size, name.name, error);
    if (!shared) return Outcome::done;
    object = &handle_table().add_object(std::make_unique<MutexObject>(
        directory, name.name, name.file_name, status, std::move(fd), std::move(shared)));
    return Outcome::done;
}

void take_initial_ownership(MutexObject& object) {
    if (wait_for_shared_mutex(*object.shared, 0) == WAIT_OBJECT_0) object.note_acquired();
}

// Sets up a new mutex in the empty file `fd`, known to the handle table.
MutexObject* create_in_file(std::shared_ptr<NamespaceDirectory> directory, const MutexName& name,
                            UniqueFd fd, BOOL initial_owner, DWORD& error) {
    struct stat status;
    SharedMutexMapping shared;
    if (!room_for_another_mapping(name)) error = ERROR_NOT_ENOUGH_QUOTA;
    else if (fstat(fd.get(), &status) != 0) error = refused(name, "cannot read its new file", errno);
    else shared = create_shared_mutex(fd.get(), name.name, error);
    if (!shared) return nullptr;
    MutexObject& object = handle_table().add_object(std::make_unique<MutexObject>(
        std::move(directory), name.name, name.file_name, status, std::move(fd), std::move(shared)));
    if (initial_owner) take_initial_ownership(object);
    return &object;
}

Outcome create_new(const std::shared_ptr<NamespaceDirectory>& directory, const MutexName& name,
                   BOOL initial_owner, MutexObject*& object, DWORD& error) {
    UniqueFd fd(leaving_room_for_host(openat(directory->fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)));
    // Whatever the umask, the owner's other processes must be able to open it.
    if (!fd || fchmod(fd.get(), 0600) != 0 || flock(fd.get(), LOCK_SH | LOCK_NB) != 0) {
        error = refused(name, "cannot make its file in " + directory->path(), errno);
        return Outcome::done;
    }
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd.get());
    object = create_in_file(directory, name, std::move(fd), initial_owner, error);
    if (!object) return Outcome::done;
    if (linkat(AT_FDCWD, path, directory->fd(), name.file_name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return Outcome::done;

    int link_error = errno;
    // Never unmap what this thread holds: glibc lists a robust mutex by address.
    object->release_callers_hold();
    handle_table().let_go(*object);
    object = nullptr;
    if (link_error == EEXIST) return Outcome::again;  // made meanwhile by another process: open theirs
    error = refused(name, "cannot name its file in " + directory->path(), link_error);
    return Outcome::done;
}

// A mutex without a name is a file without one, of its own for ever.
MutexObject* create_unnamed(BOOL initial_owner, DWORD& error) {
    UniqueFd fd(leaving_room_for_host(memfd_create("trilox mutex", MFD_CLOEXEC)));
    if (!fd) {
        error = refused(MutexName(), "cannot make its file", errno);
        return nullptr;
    }
    return create_in_file(nullptr, MutexName(), std::move(fd), initial_owner, error);
}

// Opens the mutex `name`. If no handle to it is open anywhere, fails, or,
// when given `created`, creates it and tells so there. A name that reads as
// nothing, the empty one too, is no name: creating makes a mutex without one.
MutexObject* open_named(const char* name, bool* created, BOOL initial_owner, DWORD& error) {
    MutexName parsed;
    if ((error = parse_mutex_name(name, parsed))) return nullptr;
    if (parsed.name.empty()) {
        if (!created) {
            error = ERROR_INVALID_NAME;
            return nullptr;
        }
        *created = true;
        return create_unnamed(initial_owner, error);
    }
    std::shared_ptr<NamespaceDirectory> directory = namespace_directory(parsed.global, false, error);
    if (!directory) return nullptr;
    MutexObject* open = handle_table().find_open(*directory, parsed.name);
    if (open && (open->handles > 0 || reopen_idle(*open))) return open;
    if (!(directory = namespace_directory(parsed.global, true, error))) return nullptr;

    std::chrono::steady_clock::time_point give_up{};
    for (;;) {
        MutexObject* object = nullptr;
        Outcome outcome = open_existing(directory, parsed, object, error);
        if (outcome == Outcome::missing && !created) {
            error = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        if (outcome == Outcome::missing) {
            outcome = create_new(directory, parsed, initial_owner, object, error);
            *created = object != nullptr;
        }
        if (outcome == Outcome::done) return object;

        // Another process is removing the name or has just made it: a matter
        // of microseconds, unless it was stopped right then.
        auto now = std::chrono::steady_clock::now();
        if (give_up == decltype(give_up){}) {
            give_up = now + kRetryFor;
            sched_yield();
        } else if (now < give_up) {
            timespec pause{0, 100000};
            nanosleep(&pause, nullptr);
        } else {
            note_refusal(parsed.name, "its file in " + directory->path() +
                                          " was being removed or made by another process for a second");
            error = ERROR_ACCESS_DENIED;
            return nullptr;
        }
    }
}

// Whether no process has a handle to `object` any more, which this one has
// not: its name is gone or names another file, or no one keeps its file.
bool died_elsewhere(const MutexObject& object) {
    if (!object.directory) return true;
    UniqueFd fd(open_mutex_file(*object.directory, object.file_name));
    struct stat status;
    if (!fd) return errno == ENOENT;
    if (fstat(fd.get(), &status) != 0) return false;
    return FileId(status.st_dev, status.st_ino) != object.id || flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

// Whether the calling thread may take one more hold. At the limit, the holds
// of mutexes that died elsewhere meanwhile are given up first: as on Windows,
// a hold goes with its mutex, and no one can see these any more.
bool room_for_another_hold(std::string_view name) {
    if (may_hold_another()) return true;
    handle_table().give_up_dead_holds(died_elsewhere);
    if (may_hold_another()) return true;
    note_refusal(name, "the calling thread holds 2,000 mutexes, as many as a thread may hold");
    return false;
}

}  // namespace

HANDLE create_mutex(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCSTR name) {
    try {
        std::lock_guard<std::mutex> guard(process_lock());
        forget_refusal();
        if (initial_owner && !room_for_another_hold(name ? name : "")) return fail(ERROR_NOT_ENOUGH_QUOTA);
        handle_table().reserve();
        bool created = false;
        DWORD error = ERROR_SUCCESS;
        MutexObject* object = open_named(name ? name : "", &created, initial_owner, error);
        if (!object) return fail(error);
        SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
        return handle_table().add_handle(*object);
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

HANDLE open_mutex(DWORD, BOOL, LPCSTR name) {
    try {
        std::lock_guard<std::mutex> guard(process_lock());
        forget_refusal();
        handle_table().reserve();
        DWORD error;
        MutexObject* object = open_named(name ? name : "", nullptr, FALSE, error);
        return object ? handle_table().add_handle(*object) : fail(error);
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

DWORD wait_for_single_object(HANDLE handle, DWORD milliseconds) {
    MutexObject* object;
    {
        std::lock_guard<std::mutex> guard(process_lock());
        object = handle_table().object_of(handle);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (!object->held_by_caller() && !room_for_another_hold(object->name)) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
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

BOOL release_mutex(HANDLE handle) {
    std::lock_guard<std::mutex> guard(process_lock());
    MutexObject* object = handle_table().object_of(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Our own count says who holds it, not the thread id alone: only the
    // thread that took it may have glibc unlink it from that thread's list.
    if (!object->held_by_caller() || !release_shared_mutex(*object->shared)) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    object->note_released();
    return TRUE;
}

BOOL close_handle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(process_lock());
    MutexObject* object = handle_table().remove_handle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->handles > 0) return TRUE;

    // This process's last handle: if no other process has one, the mutex is
    // gone. Its name goes (our exclusive flock keeps it naming this file
    // until then), and so does a hold of the calling thread, which no one can
    // ever see again; then nothing needs it mapped. A hold of another thread
    // of ours keeps it mapped.
    if (!object->directory || flock(object->file.get(), LOCK_EX | LOCK_NB) == 0) {
        if (object->directory) unlinkat(object->directory->fd(), object->file_name.c_str(), 0);
        object->release_callers_hold();
        handle_table().let_go(*object);
    } else if (errno == EWOULDBLOCK) {
        // It lives on elsewhere. The failed conversion has given up our
        // shared flock: the lock comes off before the new one is tried.
        handle_table().keep_idle(*object);
    } else {
        handle_table().let_go(*object);
    }
    return TRUE;
}
