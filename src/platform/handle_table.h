// What this process has open: one MutexObject per mutex, shared by all the
// handles to it, and the handles themselves, which are small numbers as on
// Windows so that a wrong or closed one is refused rather than followed.
#pragma once

#include "platform/mutex_namespace.h"
#include "platform/shared_mutex.h"
#include "platform/unique_fd.h"
#include "platform/win32.h"

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct MutexObject;
using FileId = std::pair<dev_t, ino_t>;
using ObjectsByName = std::map<std::pair<const NamespaceDirectory*, std::string>, MutexObject*>;

struct MutexObject {
    MutexObject(std::shared_ptr<NamespaceDirectory> directory, std::string name, std::string file_name,
                const struct stat& file_status, UniqueFd file, SharedMutexMapping shared)
        : directory(std::move(directory)), name(std::move(name)), file_name(std::move(file_name)),
          id(file_status.st_dev, file_status.st_ino), file(std::move(file)), shared(std::move(shared)) {}

    // Counts the acquisitions of the thread of this process that holds the mutex.
    void note_acquired();
    // Counts a release by the thread that holds it.
    void note_released();
    // Gives up every acquisition the calling thread holds.
    void release_callers_hold();
    bool held_by_caller() const;
    bool in_use() const { return handles || callers || levels || file; }

    const std::shared_ptr<NamespaceDirectory> directory;  // null for a mutex without a name
    const std::string name;  // within its namespace
    const std::string file_name;
    const FileId id;
    // Holds this process's shared flock while it has handles; open without
    // one while the mutex is idle here (see HandleTable::keep_idle).
    UniqueFd file;
    // glibc links a robust mutex into its holder's list by the address it was
    // locked at: the process maps it once, and keeps it mapped while held.
    const SharedMutexMapping shared;
    unsigned handles = 0;     // open in this process
    unsigned callers = 0;     // threads of this process waiting on it
    unsigned levels = 0;      // acquisitions by its holder in this process
    std::uint64_t holder = 0;  // that thread's number
    std::optional<ObjectsByName::iterator> entry_by_name;
};

class HandleTable {
public:
    // Makes room for one more handle, so that adding it cannot fail: call it
    // before making anything that a failure would leave behind.
    void reserve();
    HANDLE add_handle(MutexObject& object);
    MutexObject* object_of(HANDLE handle) const;
    MutexObject* remove_handle(HANDLE handle);

    // A named mutex this process has a handle to: that handle keeps the name
    // its own, so opening it again needs no look at the file system.
    // Finds idle ones too.
    MutexObject* find_open(const NamespaceDirectory& directory, const std::string& name) const;
    MutexObject* find_object(const struct stat& file_status) const;
    MutexObject& add_object(std::unique_ptr<MutexObject> object);
    // How many mutexes this process has mapped: one mapping each.
    std::size_t mapped() const { return objects_.size(); }
    // Gives up the calling thread's holds of the mutexes that no handle of
    // this process keeps, no thread of it waits on, and `died` finds dead.
    void give_up_dead_holds(bool (*died)(const MutexObject&));
    void remove_if_unused(const MutexObject& object);

    // Keeps a named mutex this process has no handle to, but that lives on in
    // other processes, open and mapped: opening it again then takes no new
    // descriptor and no new mapping. The oldest beyond a few are let go.
    void keep_idle(MutexObject& object);
    // Closes the file of `object`, and lets the object go if nothing else needs it.
    void let_go(MutexObject& object);
    // For the end of the process: removes the name of each named mutex that
    // no other process has a handle to, as closing the last handle would.
    void remove_unshared_names();

private:
    static constexpr std::size_t kIdleKept = 8;

    std::vector<MutexObject*> slots_;  // handle 4 * (i + 1) is slots_[i], null when free
    std::size_t first_free_ = 0;
    std::map<FileId, std::unique_ptr<MutexObject>> objects_;
    ObjectsByName open_by_name_;
    std::array<MutexObject*, kIdleKept> idle_{};  // oldest first
    std::size_t idle_count_ = 0;
    void forget_idle(const MutexObject& object);
};

// Whether the calling thread may hold one more mutex than it does. The kernel
// abandons at most 2,048 robust mutexes of a thread that dies: one that held
// more would leave some held by no one for as long as they live.
bool may_hold_another();

// Guards the handle table and the namespace directories, and keeps the threads
// of this process apart around the flocks, which only tell processes apart.
std::mutex& process_lock();
HandleTable& handle_table();
