#include "platform/mutex_namespace.h"

#include "platform/posix_error.h"
#include "platform/refusal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kSharedMemory[] = "/dev/shm";

struct OpenDirectories {
    std::string root, runtime;  // $TRILOX_NAMESPACE_DIR and $XDG_RUNTIME_DIR when these were opened
    std::shared_ptr<NamespaceDirectory> local, global;
};

// Kept for the life of the process, as threads may still call in while it exits.
OpenDirectories& open_directories() {
    static OpenDirectories& directories = *new OpenDirectories;
    return directories;
}

const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// What went wrong with a directory: the Win32 error for the caller and a
// line for a person.
struct Refusal {
    DWORD error = ERROR_SUCCESS;
    std::string reason;

    std::shared_ptr<NamespaceDirectory> refuse(DWORD code, const std::string& path, const std::string& why) {
        error = code;
        reason = path + ": " + why;
        return nullptr;
    }
};

std::string mode_text(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why no mutex files may be kept in this directory, or "" when they may. A
// private one is the user's alone. A shared one may be open to all, as
// /dev/shm is, if it is sticky (only a file's owner can then remove or
// rename it) and belongs to root or to the user (its owner could remove
// anything in it).
std::string unsafe_because(const struct stat& status, bool shared, uid_t user) {
    if (status.st_uid != user && !(shared && status.st_uid == 0))
        return "belongs to uid " + std::to_string(status.st_uid) + ", not to uid " + std::to_string(user);
    if (!shared && (status.st_mode & 077))
        return "is open to other users (mode " + mode_text(status.st_mode) + ")";
    if (shared && (status.st_mode & 022) && !(status.st_mode & S_ISVTX))
        return "others may remove files in it (mode " + mode_text(status.st_mode) + ", not sticky)";
    return "";
}

// The directory `name` in `parent_fd` (a path from AT_FDCWD), opened for
// reading. One of the user's own made under an odd umask (0477 makes 0300)
// first gets the owner's bits back, and no others: it is found without them
// (O_PATH), but fchmod refuses such a descriptor, hence /proc.
UniqueFd open_directory_at(int parent_fd, const std::string& name, int flags = 0) {
    UniqueFd found(openat(parent_fd, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | flags));
    if (!found) return found;
    struct stat status;
    if (fstat(found.get(), &status) == 0 && status.st_uid == geteuid() && (status.st_mode & 0700) != 0700)
        chmod(("/proc/self/fd/" + std::to_string(found.get())).c_str(), (status.st_mode & 07777) | 0700);
    return UniqueFd(openat(found.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

std::shared_ptr<NamespaceDirectory> checked(UniqueFd fd, const std::string& path, bool shared, Refusal& refusal) {
    struct stat status;
    if (fstat(fd.get(), &status) != 0) return refusal.refuse(win32_error_from_errno(errno), path, std::strerror(errno));
    std::string why = unsafe_because(status, shared, geteuid());
    if (!why.empty()) return refusal.refuse(ERROR_ACCESS_DENIED, path, why);
    return std::make_shared<NamespaceDirectory>(std::move(fd), geteuid(), path, status);
}

std::shared_ptr<NamespaceDirectory> open_shared(const std::string& path, Refusal& refusal) {
    UniqueFd fd = open_directory_at(AT_FDCWD, path);
    if (!fd) return refusal.refuse(win32_error_from_errno(errno), path, std::strerror(errno));
    return checked(std::move(fd), path, true, refusal);
}

// Makes the directory `name` in `parent` with mode 0700, or finds it made.
// mkdir can only take bits away from 0700, so it is never open to others;
// `open_directory_at` puts back those of the owner's that an odd umask took.
int make_private_directory(int parent_fd, const std::string& name) {
    return mkdirat(parent_fd, name.c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

// The private directory `name` in `parent`, made if missing.
std::shared_ptr<NamespaceDirectory> open_private(const std::string& parent, const std::string& name,
                                                 Refusal& refusal) {
    std::string path = parent + "/" + name;
    UniqueFd parent_fd = open_directory_at(AT_FDCWD, parent);
    if (!parent_fd) return refusal.refuse(win32_error_from_errno(errno), parent, std::strerror(errno));
    for (bool made = false;; made = true) {
        UniqueFd fd = open_directory_at(parent_fd.get(), name, O_NOFOLLOW);
        if (fd) return checked(std::move(fd), path, false, refusal);
        if (errno != ENOENT || made) {
            // Whatever stands there instead of a directory, a link say, was planted.
            return refusal.refuse(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED, path,
                                  "is not a directory of its own (" + std::string(std::strerror(errno)) + ")");
        }
        if (int error = make_private_directory(parent_fd.get(), name))
            return refusal.refuse(win32_error_from_errno(error), path, std::strerror(error));
    }
}

// `path` ($XDG_RUNTIME_DIR) when it names a directory of the user's own,
// closed to others, as it should; else "".
std::string usable_runtime_directory(const std::string& path) {
    if (path[0] != '/') return "";
    UniqueFd fd = open_directory_at(AT_FDCWD, path);
    Refusal unusable;
    return fd && checked(std::move(fd), path, false, unusable) ? path : "";
}

std::shared_ptr<NamespaceDirectory> open_directory(const std::string& root, const std::string& runtime_variable,
                                                   bool global, Refusal& refusal) {
    std::string own = "trilox-" + std::to_string(geteuid());
    if (!root.empty()) {
        mkdir(root.c_str(), 0700);  // TRILOX_NAMESPACE_DIR may name one still to be made
        return global ? open_shared(root, refusal) : open_private(root, own, refusal);
    }
    if (global) return open_shared(kSharedMemory, refusal);
    std::string runtime = usable_runtime_directory(runtime_variable);
    return runtime.empty() ? open_private(kSharedMemory, own, refusal) : open_private(runtime, "trilox", refusal);
}

}  // namespace

bool NamespaceDirectory::still_at_its_path() const {
    struct stat status;
    return stat(path_.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_;
}

std::shared_ptr<NamespaceDirectory> namespace_directory(bool global, bool at_its_path, DWORD& error) {
    OpenDirectories& directories = open_directories();
    const char* root = environment("TRILOX_NAMESPACE_DIR");
    const char* runtime = environment("XDG_RUNTIME_DIR");
    if (directories.root != root || directories.runtime != runtime)
        directories = OpenDirectories{root, runtime, nullptr, nullptr};
    std::shared_ptr<NamespaceDirectory>& directory = global ? directories.global : directories.local;
    if (!directory || (at_its_path && !directory->still_at_its_path())) {
        Refusal refusal;
        directory = open_directory(directories.root, directories.runtime, global, refusal);
        error = refusal.error;
    }
    return directory;
}

void forget_namespace_directories() {
    open_directories() = OpenDirectories{};
}

std::string namespace_problems() {
    std::string problems = last_refusal();
    for (bool global : {false, true}) {
        Refusal refusal;
        if (!open_directory(environment("TRILOX_NAMESPACE_DIR"), environment("XDG_RUNTIME_DIR"), global, refusal))
            problems += std::string(global ? "Global\\ names: " : "local names: ") + refusal.reason + "\n";
    }
    return problems;
}
