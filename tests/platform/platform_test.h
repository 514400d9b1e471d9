// What the platform tests share: a namespace directory of their own for each
// test, and the helper program as another process to share mutexes with.
#pragma once

#include "platform/win32.h"

#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <string>

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string local_directory() const { return namespace_ + "/trilox-" + std::to_string(geteuid()); }
    std::string global_directory() const { return namespace_; }  // files "trilox-global-..."

    std::string temporary_;  // fresh for each test; holds namespace_
    std::string namespace_;  // TRILOX_NAMESPACE_DIR
};

// GetLastError() after creating the mutex `name`, whose handle stays open.
DWORD create_error(const std::string& name);
// GetLastError() after failing to open the mutex `name`, or ERROR_SUCCESS.
DWORD open_error(const std::string& name);

struct Reply {
    std::uintptr_t value;  // a handle, a wait result, a BOOL
    DWORD error;           // GetLastError() after the call
};

// The helper program in a process of its own (see mutex_helper.cpp).
class Helper {
public:
    Helper();  // in the current TRILOX_NAMESPACE_DIR
    // Another user's: `program` (a copy of the helper others can run) through setpriv, as root.
    Helper(uid_t user, const std::string& program);
    // In a PID namespace of its own, as in a sandbox (as root).
    static Helper sandboxed();
    // On a kernel without FUTEX_LOCK_PI2, as before Linux 5.14.
    static Helper without_futex_lock_pi2();
    ~Helper();
    Reply create(const std::string& name) { return call("create " + name); }
    Reply open(const std::string& name) { return call("open " + name); }
    Reply wait(std::uintptr_t handle, DWORD milliseconds) { return call(command("wait", handle, milliseconds)); }
    Reply release(std::uintptr_t handle) { return call(command("release", handle)); }
    Reply close(std::uintptr_t handle) { return call(command("close", handle)); }
    Reply abandon(std::uintptr_t handle) { return call(command("abandon", handle)); }

    static std::string command(const char* verb, std::uintptr_t handle, DWORD milliseconds = 0);
    void send(const std::string& command);
    Reply receive();  // fails the test if no answer comes within 10 s
    bool answered_within(int milliseconds);
    pid_t pid() const { return pid_; }
    void kill();  // with SIGKILL
    void end();   // cleanly: its input ends, and it exits

private:
    explicit Helper(char* const argv[]) { start(argv); }
    Reply call(const std::string& command) {
        send(command);
        return receive();
    }

    void start(char* const argv[]);

    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string received_;
};
