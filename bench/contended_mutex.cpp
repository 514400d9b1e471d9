#include "contended_mutex.h"

#include "loaded_module.h"

#include <cerrno>

namespace {

std::string Request(const std::string& text) {
    return LoadedModule().Request(text);
}

}  // namespace

RequestMutex::RequestMutex(const std::string& name)
    : name_(name),
      lock_(ExecuteRequestText({"Lock", name})),
      wait_(ExecuteRequestText({"Wait", name})),
      unlock_(ExecuteRequestText({"Unlock", name})) {}

bool RequestMutex::Keep() {
    return Answers(Execute("Create", name_, 200, "1"));
}

Attempt RequestMutex::TryTake() {
    std::string answer = Request(lock_);
    if (StatusOf(answer) != 200)
        return Attempt::kFailed;
    std::string result = ResultOf(answer);
    return result == "1" ? Attempt::kTaken : result == "0" ? Attempt::kBusy : Attempt::kFailed;
}

bool RequestMutex::Wait() {
    return StatusOf(Request(wait_)) == 204;
}

bool RequestMutex::Release() {
    return StatusOf(Request(unlock_)) == 204;
}

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
