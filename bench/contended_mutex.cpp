#include "contended_mutex.h"

#include "loaded_module.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

RequestMutex::RequestMutex(const std::string& name)
    : name_(name),
      lock_(ExecuteRequestText({"Lock", name})),
      wait_(ExecuteRequestText({"Wait", name})),
      unlock_(ExecuteRequestText({"Unlock", name})) {}

RequestMutex::RequestMutex(const std::string& name, SaoriHost& module) : RequestMutex(name) {
    module_ = &module;
}

SaoriHost& RequestMutex::Module() const {
    return module_ ? *module_ : LoadedModule();
}

bool RequestMutex::Keep() {
    return Answers(Execute("Create", name_, 200, "1"), Module());
}

Attempt RequestMutex::TryTake() {
    std::string answer = Module().Request(lock_);
    if (StatusOf(answer) != 200)
        return Attempt::kFailed;
    std::string result = ResultOf(answer);
    return result == "1" ? Attempt::kTaken : result == "0" ? Attempt::kBusy : Attempt::kFailed;
}

bool RequestMutex::Wait() {
    return Module().RequestStatus(wait_) == 204;
}

bool RequestMutex::Release() {
    return Module().RequestStatus(unlock_) == 204;
}

MinimalRequestMutex::MinimalRequestMutex(const std::string& name)
    : RequestMutex(name, MinimalModule()), created_(RequestMutex::Keep()) {}

Attempt PthreadMutex::TryTake() {
    int result = pthread_mutex_trylock(mutex_);
    return result == 0 ? Attempt::kTaken : result == EBUSY ? Attempt::kBusy : Attempt::kFailed;
}

bool PthreadMutex::Wait() {
    return pthread_mutex_lock(mutex_) == 0;
}

bool PthreadMutex::Release() {
    return pthread_mutex_unlock(mutex_) == 0;
}

Attempt FutexMutex::TryTake() {
    std::uint32_t free = 0;
    return word_->compare_exchange_strong(free, 1) ? Attempt::kTaken : Attempt::kBusy;
}

bool FutexMutex::Wait() {
    std::uint32_t seen = 0;
    if (word_->compare_exchange_strong(seen, 1))
        return true;
    // Marked as waited for before sleeping, so that the release wakes a waiter.
    if (seen != 2)
        seen = word_->exchange(2);
    while (seen != 0) {
        syscall(SYS_futex, word_, FUTEX_WAIT, 2, nullptr, nullptr, 0);
        seen = word_->exchange(2);
    }
    return true;
}

bool FutexMutex::Release() {
    if (word_->exchange(0) == 2)
        syscall(SYS_futex, word_, FUTEX_WAKE, 1, nullptr, nullptr, 0);
    return true;
}
