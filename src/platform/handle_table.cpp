#include "platform/handle_table.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <new>

namespace {

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
    forget_namespace_directories();
    process().lock.unlock();
}

// Kept for the life of the process, as threads may still call in while it exits.
Process& process() {
    static Process& process = *[] {
        Process* created = new Process;
        pthread_atfork(lock_for_fork, unlock_after_fork, start_afresh_in_child);
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
    ++levels;
}

void MutexObject::release_callers_hold() {
    if (holder != thread_number()) return;
    for (; levels > 0; --levels) release_shared_mutex(*shared);
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
    object.file = UniqueFd();
    remove_if_unused(object);
}

std::mutex& process_lock() {
    return process().lock;
}

HandleTable& handle_table() {
    return process().table;
}
