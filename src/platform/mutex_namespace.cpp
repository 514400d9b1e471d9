#include "platform/mutex_namespace.h"

#include "platform/posix_error.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct OpenDirectories {
    std::string root;
    std::shared_ptr<NamespaceDirectory> local, global;
};

// Kept for the life of the process, as threads may still call in while it exits.
OpenDirectories& open_directories() {
    static OpenDirectories& directories = *new OpenDirectories;
    return directories;
}

const char* namespace_root() {
    const char* root = std::getenv("TRILOX_NAMESPACE_DIR");
    return root && *root ? root : "/dev/shm";
}

// Makes the directory `name` in `root` with exactly `mode`, or finds it made:
// it is built under a temporary name and renamed into place, so that no
// process ever sees it half made, and of two racing processes one wins and
// both go on.
DWORD make_directory(const std::string& root, int root_fd, const std::string& name, mode_t mode) {
    std::string temporary = root + "/.trilox-XXXXXX";
    if (!mkdtemp(temporary.data())) return win32_error_from_errno(errno);
    int error = 0;
    if (chmod(temporary.c_str(), mode) != 0 ||
        renameat2(AT_FDCWD, temporary.c_str(), root_fd, name.c_str(), RENAME_NOREPLACE) != 0)
        error = errno;
    if (error) rmdir(temporary.c_str());
    return error && error != EEXIST ? win32_error_from_errno(error) : ERROR_SUCCESS;
}

// A user's own directory is theirs alone; the machine-wide one is open to all,
// and its sticky bit keeps each user's files out of the others' reach.
bool safe_to_use(const struct stat& directory, bool global, uid_t user) {
    if (global) return (directory.st_mode & 01777) == 01777;
    return directory.st_uid == user && (directory.st_mode & 077) == 0;
}

std::shared_ptr<NamespaceDirectory> open_directory(const std::string& root, bool global,
                                                   DWORD& error) {
    mkdir(root.c_str(), 0700);  // TRILOX_NAMESPACE_DIR may name one still to be made
    UniqueFd root_fd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root_fd) {
        error = win32_error_from_errno(errno);
        return nullptr;
    }
    uid_t user = geteuid();
    std::string name = global ? "trilox-global" : "trilox-" + std::to_string(user);
    for (bool made = false;; made = true) {
        UniqueFd fd(openat(root_fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat status;
        if (fd && fstat(fd.get(), &status) == 0) {
            if (safe_to_use(status, global, user))
                return std::make_shared<NamespaceDirectory>(std::move(fd), user);
            error = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        if (errno != ENOENT || made) {
            // Whatever stands there instead of a directory, a link say, was planted.
            error = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
            return nullptr;
        }
        if ((error = make_directory(root, root_fd.get(), name, global ? 01777 : 0700))) return nullptr;
    }
}

}  // namespace

NamespaceLock::NamespaceLock(const NamespaceDirectory& directory) : fd_(directory.fd()) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

NamespaceLock::~NamespaceLock() {
    flock(fd_, LOCK_UN);
}

std::shared_ptr<NamespaceDirectory> namespace_directory(bool global, DWORD& error) {
    OpenDirectories& directories = open_directories();
    const char* root = namespace_root();
    if (directories.root != root) directories = OpenDirectories{root, nullptr, nullptr};
    std::shared_ptr<NamespaceDirectory>& directory = global ? directories.global : directories.local;
    if (!directory) directory = open_directory(directories.root, global, error);
    return directory;
}

void forget_namespace_directories() {
    open_directories() = OpenDirectories{};
}
