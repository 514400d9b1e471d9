#include "platform/handle_table.h"

#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Leaves room below the kernel's 2,048 for robust mutexes of the host's own.
constexpr unsigned kMostHeld = 2000;
// The mutexes the calling thread holds through this process's handles.
thread_local unsigned held_by_this_thread = 0;

struct Process {
    std::mutex lock;
    HandleTable table;
};

Process& process();

void lock_for_fork() {
    process().lock.lock();
}

void unlock_after_fork() {
    process().lock.unlock();
}

// A forked child shares the parent's open file descriptions, and with them
// the flocks that keep the parent's mutexes alive: it closes its copies
// without unlocking them. Like Windows handles by default, ours are not inherited.
void start_afresh_in_child() {
    process().table = HandleTable();
    held_by_this_thread = 0;
    forget_namespace_directories();
    process().lock.unlock();
}

// Linux closes our descriptors when the process ends, but removing the names
// of mutexes that no one else keeps is ours to do.
void remove_names_at_exit() {
    std::lock_guard<std::mutex> guard(process().lock);
    process().table.remove_unshared_names();
}

// Kept for the life of the process, as threads may still call in while it exits.
Process& process() {
    static Process& process = *[] {
        Process* created = new Process;
        pthread_atfork(lock_for_fork, unlock_after_fork, start_afresh_in_child);
        std::atexit(remove_names_at_exit);
        return created;
    }();
    return process;
}

// Unlike a thread id or a pthread_t, never given to another thread of the process.
std::uint64_t thread_number() {
    static std::atomic<std::uint64_t> last{0};
    thread_local std::uint64_t number = ++last;
    return number;
}

std::size_t slot_of(HANDLE handle) {
    auto value = reinterpret_cast<std::uintptr_t>(handle);
    return value % 4 == 0 && value != 0 ? value / 4 - 1 : SIZE_MAX;
}

}  // namespace

void MutexObject::note_acquired() {
    // A new holder counts from zero: a thread of ours that ended holding the
    // mutex left its count behind.
    if (holder != thread_number()) {
        holder = thread_number();
        levels = 0;
    }
    if (levels++ == 0) ++held_by_this_thread;
}

void MutexObject::note_released() {
    if (--levels == 0) --held_by_this_thread;
}

void MutexObject::release_callers_hold() {
    if (!held_by_caller()) return;
    for (; levels > 0; --levels) release_shared_mutex(*shared);
    --held_by_this_thread;
}

bool MutexObject::held_by_caller() const {
    return holder == thread_number() && levels > 0;
}

bool may_hold_another() {
    return held_by_this_thread < kMostHeld;
}

void HandleTable::reserve() {
    if (first_free_ == slots_.size()) slots_.push_back(nullptr);
}

HANDLE HandleTable::add_handle(MutexObject& object) {
    std::size_t slot = first_free_;
    slots_[slot] = &object;
    if (object.handles++ == 0) forget_idle(object);
    if (object.directory && !object.entry_by_name) {
        try {
            auto [entry, added] = open_by_name_.emplace(std::make_pair(object.directory.get(), object.name), &object);
            if (added) object.entry_by_name = entry;
        } catch (const std::bad_alloc&) {
            // Only a shortcut: without it, opening takes the long way.
        }
    }
    while (first_free_ < slots_.size() && slots_[first_free_]) ++first_free_;
    return reinterpret_cast<HANDLE>(4 * (slot + 1));
}

MutexObject* HandleTable::object_of(HANDLE handle) const {
    std::size_t slot = slot_of(handle);
    return slot < slots_.size() ? slots_[slot] : nullptr;
}

MutexObject* HandleTable::remove_handle(HANDLE handle) {
    MutexObject* object = object_of(handle);
    if (object) {
        slots_[slot_of(handle)] = nullptr;
        first_free_ = std::min(first_free_, slot_of(handle));
        --object->handles;
    }
    return object;
}

MutexObject* HandleTable::find_open(const NamespaceDirectory& directory, const std::string& name) const {
    auto found = open_by_name_.find({&directory, name});
    return found == open_by_name_.end() ? nullptr : found->second;
}

MutexObject* HandleTable::find_object(const struct stat& file_status) const {
    auto found = objects_.find({file_status.st_dev, file_status.st_ino});
    return found == objects_.end() ? nullptr : found->second.get();
}

MutexObject& HandleTable::add_object(std::unique_ptr<MutexObject> object) {
    FileId id = object->id;
    return *objects_.emplace(id, std::move(object)).first->second;
}

void HandleTable::give_up_dead_holds(bool (*died)(const MutexObject&)) {
    for (auto next = objects_.begin(); next != objects_.end();) {
        MutexObject& object = *next++->second;  // letting it go erases it
        if (object.held_by_caller() && object.handles == 0 && object.callers == 0 && died(object)) {
            object.release_callers_hold();
            let_go(object);
        }
    }
}

void HandleTable::remove_if_unused(const MutexObject& object) {
    FileId id = object.id;  // erasing destroys the object
    if (!object.in_use()) objects_.erase(id);
}

void HandleTable::forget_idle(const MutexObject& object) {
    idle_count_ = std::remove(idle_.begin(), idle_.begin() + idle_count_, &object) - idle_.begin();
}

void HandleTable::keep_idle(MutexObject& object) {
    if (idle_count_ == kIdleKept) let_go(*idle_[0]);
    idle_[idle_count_++] = &object;
}

void HandleTable::let_go(MutexObject& object) {
    forget_idle(object);
    if (object.entry_by_name) {
        open_by_name_.erase(*object.entry_by_name);
        object.entry_by_name.reset();
    }
    // The mapping keeps the open file, and with it any flock taken through
    // this descriptor: a held mutex would keep its name locked after the close.
    if (object.file) flock(object.file.get(), LOCK_UN);
    object.file = UniqueFd();
    remove_if_unused(object);
}

void HandleTable::remove_unshared_names() {
    for (auto& [id, object] : objects_) {
        if (object->handles > 0 && object->directory && flock(object->file.get(), LOCK_EX | LOCK_NB) == 0)
            unlinkat(object->directory->fd(), object->file_name.c_str(), 0);
    }
}

std::mutex& process_lock() {
    return process().lock;
}

HandleTable& handle_table() {
    return process().table;
}
