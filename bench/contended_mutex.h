// A mutex that several processes take and give back: the module's, through
// its _request, the bare pthread mutex its platform layer is built on, or
// the least a mutex between processes can be, a futex word.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>

enum class Attempt { kTaken, kBusy, kFailed };

class ContendedMutex {
public:
    virtual ~ContendedMutex() = default;
    // Makes this process keep the mutex, as the process that created it does.
    virtual bool Keep() { return true; }
    virtual Attempt TryTake() = 0;
    // Blocks until taken; false on an error.
    virtual bool Wait() = 0;
    virtual bool Release() = 0;
};

class SaoriHost;

// Lock, Wait and Unlock requests on one name; the module is loaded in the
// process that sends the first, which is to be a process of its own.
class RequestMutex : public ContendedMutex {
public:
    explicit RequestMutex(const std::string& name);
    bool Keep() override;
    Attempt TryTake() override;
    bool Wait() override;
    bool Release() override;

protected:
    RequestMutex(const std::string& name, SaoriHost& module);

private:
    SaoriHost* module_ = nullptr;  // null: loaded in the process that sends
    std::string name_, lock_, wait_, unlock_;
    SaoriHost& Module() const;
};

// The same requests to the minimal module, which shares a mutex only with
// the processes it forks: created, and the module loaded, where it is made.
class MinimalRequestMutex : public RequestMutex {
public:
    explicit MinimalRequestMutex(const std::string& name);
    bool Keep() override { return created_; }

private:
    bool created_;
};

class PthreadMutex : public ContendedMutex {
public:
    explicit PthreadMutex(pthread_mutex_t* mutex) : mutex_(mutex) {}
    Attempt TryTake() override;
    bool Wait() override;
    bool Release() override;

private:
    pthread_mutex_t* mutex_;
};

// A word in shared memory and the futex calls on it (0 free, 1 taken, 2 taken
// with waiters): neither robust nor recursive.
class FutexMutex : public ContendedMutex {
public:
    explicit FutexMutex(std::atomic<std::uint32_t>* word) : word_(word) {}
    Attempt TryTake() override;
    bool Wait() override;
    bool Release() override;

private:
    std::atomic<std::uint32_t>* word_;
};
