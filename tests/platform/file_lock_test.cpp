// The flocks that keep mutex files alive: a flock that fails fails the call,
// and one held too long by a stopped process holds others up only briefly.
#include "platform_test.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>

#include <atomic>
#include <cerrno>

namespace {
std::atomic<bool> shared_flocks_fail{false};
}  // namespace

// Stands in for the C library's flock in this program, so that a test can
// make taking a shared flock fail.
extern "C" int flock(int fd, int operation) {
    if (shared_flocks_fail && (operation & LOCK_SH)) {
        errno = ENOLCK;
        return -1;
    }
    return static_cast<int>(syscall(SYS_flock, fd, operation));
}

using FileLockTest = PlatformTest;

// A handle without this process's flock would let the name go while it is open.
TEST_F(FileLockTest, AFlockThatFailsFailsTheCall) {
    Helper other;
    std::uintptr_t theirs = other.create("theirs").value;
    shared_flocks_fail = true;
    HANDLE created = CreateMutexA(nullptr, FALSE, "mine");
    HANDLE opened = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "theirs");
    shared_flocks_fail = false;

    EXPECT_EQ(other.open("mine").error, created ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    other.close(theirs);
    EXPECT_EQ(Helper().create("theirs").error, opened ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
}

// Stopped between taking the exclusive flock on a dead mutex's file and
// removing its name: played here by holding that flock.
TEST_F(FileLockTest, AStalledRemoverHoldsOthersUpBriefly) {
    Helper dead;
    dead.create("m");
    dead.kill();
    int fd = open((local_directory() + "/m").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    Helper other;
    other.send("open m");
    ASSERT_TRUE(other.answered_within(3000)) << "stalled";
    EXPECT_NE(other.receive().error, ERROR_SUCCESS);
    close(fd);
    EXPECT_EQ(other.create("m").error, ERROR_SUCCESS);
}
