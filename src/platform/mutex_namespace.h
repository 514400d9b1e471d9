// The directories that hold the mutex files.
//
// Local names: a directory private to the user, $TRILOX_NAMESPACE_DIR/trilox-<uid>
// when that variable is set, else $XDG_RUNTIME_DIR/trilox when that is usable
// (the user's own, closed to others), else /dev/shm/trilox-<uid>.
// "Global\" names: files directly in $TRILOX_NAMESPACE_DIR or /dev/shm, each
// owned by the user who made it and closed to all others.
#pragma once

#include "platform/unique_fd.h"
#include "platform/win32.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>

class NamespaceDirectory {
public:
    NamespaceDirectory(UniqueFd fd, uid_t user, std::string path, const struct stat& status)
        : fd_(std::move(fd)), user_(user), path_(std::move(path)), device_(status.st_dev), inode_(status.st_ino) {}
    int fd() const { return fd_.get(); }
    uid_t user() const { return user_; }  // whose mutex files are ours to use
    const std::string& path() const { return path_; }
    // Whether its path still leads to it, and not to one made in its place.
    bool still_at_its_path() const;

private:
    UniqueFd fd_;
    uid_t user_;
    std::string path_;
    dev_t device_;
    ino_t inode_;
};

// The directory for local or global names, made on first use; null and a
// Win32 error if it cannot be used. With `at_its_path` it is opened again
// first when another has taken its place (removed and made again, as by a
// clean-up of /dev/shm or of the runtime directory), for looking in the file
// system, where the processes that come later look; finding a mutex this
// process keeps open needs no look at the path. Call under process_lock().
std::shared_ptr<NamespaceDirectory> namespace_directory(bool global, bool at_its_path, DWORD& error);

// Lets go of the directories: for a forked child, which starts afresh.
void forget_namespace_directories();

// Why mutexes cannot be had now, one line for each reason, for a person to
// read: the directories for local and global names that cannot be used, and
// the last mutex refused for being of another PID namespace; "" when none.
std::string namespace_problems();
