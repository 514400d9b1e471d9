#include "processes.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

namespace {

// A child still running after this long is stuck, say on a partner that
// died, and is ended by SIGALRM.
constexpr unsigned kChildSeconds = 120;

}  // namespace

void* MapSharedMemory(std::size_t size) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        throw std::bad_alloc();
    return memory;
}

void UnmapSharedMemory(void* memory, std::size_t size) {
    munmap(memory, size);
}

void Signal::Set(std::uint32_t value) {
    word_.store(value);
    WakeAll();
}

void Signal::Add(std::uint32_t value) {
    word_.fetch_add(value);
    WakeAll();
}

std::uint32_t Signal::Await(const std::function<bool(std::uint32_t)>& done) const {
    for (;;) {
        std::uint32_t seen = word_.load();
        if (done(seen))
            return seen;
        // Shared between processes: not a private futex.
        syscall(SYS_futex, &word_, FUTEX_WAIT, seen, nullptr, nullptr, 0);
    }
}

void Signal::WakeAll() {
    syscall(SYS_futex, &word_, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

pid_t Fork(const std::function<bool()>& work) {
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        alarm(kChildSeconds);
        // No exit handlers: they belong to the parent.
        _exit(work() ? 0 : 1);
    }
    return child;
}

bool AllSucceeded(const std::vector<pid_t>& processes) {
    bool succeeded = true;
    for (pid_t process : processes) {
        int status = 0;
        if (process < 0 || waitpid(process, &status, 0) != process || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            succeeded = false;
    }
    return succeeded;
}

std::int64_t NowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

bool IsSleeping(pid_t process) {
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string line;
    std::getline(stat, line);
    // "pid (command) state ...", and the command may hold blanks and parentheses.
    std::size_t end = line.rfind(')');
    return end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'S';
}
