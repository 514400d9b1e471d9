// The directories that hold the mutex files: one per user for local names and
// one machine-wide for "Global\" names, under $TRILOX_NAMESPACE_DIR or /dev/shm.
#pragma once

#include "platform/unique_fd.h"
#include "platform/win32.h"

#include <sys/types.h>

#include <memory>

class NamespaceDirectory {
public:
    NamespaceDirectory(UniqueFd fd, uid_t user) : fd_(std::move(fd)), user_(user) {}
    int fd() const { return fd_.get(); }
    uid_t user() const { return user_; }  // whose mutex files are ours to use

private:
    UniqueFd fd_;
    uid_t user_;
};

// Serialises creating, opening and removing mutex files among processes. The
// lock is on the directory's open file description, which all threads of a
// process share: take it only under process_lock().
class NamespaceLock {
public:
    explicit NamespaceLock(const NamespaceDirectory& directory);
    ~NamespaceLock();
    NamespaceLock(const NamespaceLock&) = delete;
    NamespaceLock& operator=(const NamespaceLock&) = delete;

private:
    int fd_;
};

// The directory for local or global names, made on first use; null and a Win32
// error if it cannot be used. Call under process_lock().
std::shared_ptr<NamespaceDirectory> namespace_directory(bool global, DWORD& error);

// Lets go of the directories without unlocking anything: for a forked child,
// whose descriptors are the parent's.
void forget_namespace_directories();
