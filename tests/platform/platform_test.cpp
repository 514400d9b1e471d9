#include "platform_test.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>

extern char** environ;

void PlatformTest::SetUp() {
    std::signal(SIGPIPE, SIG_IGN);  // a killed helper must fail a test, not end the run
    char temporary[] = "/tmp/trilox-platform-XXXXXX";
    ASSERT_NE(mkdtemp(temporary), nullptr);
    temporary_ = temporary;
    namespace_ = temporary_ + "/namespace";
    ASSERT_EQ(mkdir(namespace_.c_str(), 0700), 0);
    setenv("TRILOX_NAMESPACE_DIR", namespace_.c_str(), 1);
}

void PlatformTest::TearDown() {
    std::filesystem::remove_all(temporary_);
}

DWORD create_error(const std::string& name) {
    SetLastError(~DWORD(0));
    CreateMutexA(nullptr, FALSE, name.c_str());
    return GetLastError();
}

DWORD open_error(const std::string& name) {
    HANDLE handle = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    return handle && CloseHandle(handle) ? ERROR_SUCCESS : GetLastError();
}

Helper::Helper() {
    char* argv[] = {const_cast<char*>(TRILOX_MUTEX_HELPER), nullptr};
    start(argv);
}

Helper::Helper(uid_t user, const std::string& program) {
    std::string id = std::to_string(user), reuid = "--reuid=" + id, regid = "--regid=" + id;
    char* argv[] = {const_cast<char*>("/usr/bin/setpriv"), reuid.data(), regid.data(),
                    const_cast<char*>("--clear-groups"), const_cast<char*>(program.c_str()), nullptr};
    start(argv);
}

Helper Helper::sandboxed() {
    char* argv[] = {const_cast<char*>("/usr/bin/unshare"), const_cast<char*>("--pid"), const_cast<char*>("--fork"),
                    const_cast<char*>("--kill-child"), const_cast<char*>(TRILOX_MUTEX_HELPER), nullptr};
    return Helper(argv);
}

Helper Helper::without_futex_lock_pi2() {
    char* argv[] = {const_cast<char*>(TRILOX_MUTEX_HELPER), const_cast<char*>("--without-futex-lock-pi2"), nullptr};
    return Helper(argv);
}

void Helper::start(char* const argv[]) {
    int to[2], from[2];
    if (pipe2(to, O_CLOEXEC) != 0 || pipe2(from, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipes for the helper";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, from[1], STDOUT_FILENO);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) {
        pid_ = -1;
        ADD_FAILURE() << "cannot start " << argv[0];
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(to[0]);
    ::close(from[1]);
    to_ = to[1];
    from_ = from[0];
}

Helper::~Helper() {
    kill();
    ::close(to_);
    ::close(from_);
}

std::string Helper::command(const char* verb, std::uintptr_t handle, DWORD milliseconds) {
    return std::string(verb) + ' ' + std::to_string(handle) + ' ' + std::to_string(milliseconds);
}

void Helper::send(const std::string& command) {
    std::string line = command + '\n';
    if (write(to_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        ADD_FAILURE() << "the helper is gone: " << command;
}

Reply Helper::receive() {
    std::size_t end;
    while ((end = received_.find('\n')) == std::string::npos) {
        char chunk[256];
        ssize_t count = answered_within(10000) ? read(from_, chunk, sizeof chunk) : 0;
        if (count <= 0) {
            ADD_FAILURE() << "the helper did not answer";
            return {~std::uintptr_t(0), ~DWORD(0)};
        }
        received_.append(chunk, count);
    }
    Reply reply{};
    std::istringstream(received_.substr(0, end)) >> reply.value >> reply.error;
    received_.erase(0, end + 1);
    return reply;
}

bool Helper::answered_within(int milliseconds) {
    pollfd readable{from_, POLLIN, 0};
    return received_.find('\n') != std::string::npos || poll(&readable, 1, milliseconds) > 0;
}

void Helper::end() {
    ::close(to_);
    to_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void Helper::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}
