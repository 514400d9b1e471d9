// What another local user can do to someone's mutexes: nothing that breaks
// them, hides them or stalls them. The tests play both users, as root.
#include "platform_test.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>

namespace fs = std::filesystem;

namespace {

const uid_t kVictim = 61001, kAttacker = 61002;

// A forked child acting as another user: it runs `attack` and reports the
// number it returns; one that `stays` keeps what it holds until destroyed.
class Attacker {
public:
    Attacker(uid_t user, const std::function<int()>& attack, bool stays = false) {
        int report[2];
        if (pipe(report) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            int result = setgroups(0, nullptr) == 0 && setgid(user) == 0 && setuid(user) == 0 ? attack() : -1;
            if (write(report[1], &result, sizeof result) != sizeof result || !stays) _exit(0);
            pause();
            _exit(0);
        }
        ::close(report[1]);
        if (pid_ < 0 || read(report[0], &result_, sizeof result_) != sizeof result_) ADD_FAILURE() << "no attacker";
        ::close(report[0]);
    }
    ~Attacker() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    int result() const { return result_; }

private:
    pid_t pid_ = -1;
    int result_ = -1;
};

template <typename Action>
int for_everything_in(const std::string& directory, Action action) {
    int done = 0;
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(directory, fs::directory_options::skip_permission_denied, ignored), end;
         it != end; it.increment(ignored))
        done += action(it->path().string());
    return done;
}

// Files and directories of others it removed or moved away.
int remove_what_others_own(const std::string& directory) {
    return for_everything_in(directory, [](const std::string& path) -> int {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0 || status.st_uid == getuid()) return 0;
        return unlink(path.c_str()) == 0 || rmdir(path.c_str()) == 0 || rename(path.c_str(), (path + "~").c_str()) == 0;
    });
}

// Everything it could take an exclusive flock on, kept locked.
int lock_everything(const std::string& directory) {
    auto lock = [](const std::string& path) -> int {
        int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    };
    return lock(directory) + for_everything_in(directory, lock);
}

}  // namespace

// The namespace root is what /dev/shm is: root's, sticky, open to all.
class OtherUserTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "needs root to run processes as other users";
        if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs /usr/bin/setpriv (util-linux)";
        helper_ = temporary_ + "/helper";  // where the other users can run it
        fs::copy_file(TRILOX_MUTEX_HELPER, helper_);
        ASSERT_EQ(chmod(temporary_.c_str(), 0755) | chmod(namespace_.c_str(), 01777) | chmod(helper_.c_str(), 0755), 0);
    }

    std::string helper_;
};

TEST_F(OtherUserTest, CannotBreakHideOrTakeAnotherUsersMutexes) {
    Helper attacker(kAttacker, helper_), victim(kVictim, helper_);
    EXPECT_EQ(attacker.create("Global\\first").error, ERROR_SUCCESS);  // the first to use Global\ names
    for (const char* name : {"Global\\g", "l"}) {
        std::uintptr_t held = victim.create(name).value;
        ASSERT_EQ(victim.wait(held, 0).value, WAIT_OBJECT_0) << name;
    }
    EXPECT_EQ(Attacker(kAttacker, [&] { return remove_what_others_own(namespace_); }).result(), 0);
    EXPECT_EQ(attacker.open("Global\\g").error, ERROR_ACCESS_DENIED);
    EXPECT_EQ(attacker.create("Global\\g").error, ERROR_ACCESS_DENIED);

    // Still the one mutex, still held.
    Helper again(kVictim, helper_);
    for (const char* name : {"Global\\g", "l"}) {
        Reply reply = again.create(name);
        EXPECT_EQ(reply.error, ERROR_ALREADY_EXISTS) << name;
        EXPECT_EQ(again.wait(reply.value, 0).value, WAIT_TIMEOUT) << name;
    }
}

TEST_F(OtherUserTest, CannotStallAnotherUsersCommands) {
    Helper victim(kVictim, helper_);
    std::uintptr_t global = victim.create("Global\\g").value, local = victim.create("l").value;
    Attacker locker(kAttacker, [&] { return lock_everything(namespace_); }, true);
    for (const std::string& command :
         {std::string("open Global\\g"), std::string("open l"), std::string("create Global\\h"),
          Helper::command("wait", global, 0), Helper::command("release", global), Helper::command("close", global),
          Helper::command("close", local)}) {
        victim.send(command);
        ASSERT_TRUE(victim.answered_within(3000)) << command << ": stalled";
        EXPECT_EQ(victim.receive().error, ERROR_SUCCESS) << command;
    }
}

// A file open to all that no one keeps locked looks dead to the victim, who
// may not remove it from the sticky namespace: refused at once, not retried.
TEST_F(OtherUserTest, CannotStallCommandsWithAFileOpenToAll) {
    std::string planted = global_directory() + "/trilox-global-planted";
    ASSERT_EQ(Attacker(kAttacker, [&] { return creat(planted.c_str(), 0) >= 0 && chmod(planted.c_str(), 0666) == 0; })
                  .result(),
              1);
    Helper victim(kVictim, helper_);
    for (const char* command : {"create Global\\planted", "open Global\\planted"}) {
        victim.send(command);
        ASSERT_TRUE(victim.answered_within(500)) << command << ": stalled";
        EXPECT_EQ(victim.receive().error, ERROR_ACCESS_DENIED) << command;
    }
}

// On Windows a name is free once its last handle is gone, whoever had it.
TEST_F(OtherUserTest, AGlobalNameIsFreeOnceItsUsersProcessesEnd) {
    Helper first(kVictim, helper_);
    first.create("Global\\shared");
    first.end();
    Helper second(kAttacker, helper_);
    EXPECT_EQ(second.create("Global\\shared").error, ERROR_SUCCESS);
    second.kill();  // leaves its file: root alone can remove another user's
    EXPECT_EQ(create_error("Global\\shared"), ERROR_SUCCESS);
}
