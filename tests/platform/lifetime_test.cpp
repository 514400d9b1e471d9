// How long a mutex lives: while a handle to it is open anywhere, whatever
// becomes of the processes that had the others.
#include "platform_test.h"
#include "support/descriptor_limit.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <string>

using LifetimeTest = PlatformTest;

namespace {
long open_descriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}
}  // namespace

TEST_F(LifetimeTest, AMutexLivesWhileAHandleIsOpenAnywhere) {
    Helper other;
    std::uintptr_t theirs = other.create("m").value;
    HANDLE mine = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "m");
    EXPECT_EQ(other.close(theirs).value, TRUE);
    theirs = other.open("m").value;
    EXPECT_NE(theirs, 0u);
    EXPECT_TRUE(CloseHandle(mine));
    EXPECT_EQ(other.close(theirs).value, TRUE);
    EXPECT_TRUE(std::filesystem::is_empty(local_directory()));
    EXPECT_EQ(open_error("m"), ERROR_FILE_NOT_FOUND);
}

TEST_F(LifetimeTest, AKilledProcessLeavesNothingBehind) {
    Helper killed;
    killed.wait(killed.create("m").value, 0);
    killed.kill();
    EXPECT_EQ(open_error("m"), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(std::filesystem::is_empty(local_directory()));
    HANDLE fresh = CreateMutexA(nullptr, FALSE, "m");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0);
}

TEST_F(LifetimeTest, ClosingAHandleKeepsTheHold) {
    HANDLE mine = CreateMutexA(nullptr, FALSE, "m");
    Helper other;
    std::uintptr_t theirs = other.open("m").value;
    other.wait(theirs, 0);
    other.close(theirs);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_TIMEOUT);
    theirs = other.open("m").value;
    EXPECT_EQ(other.release(theirs).value, TRUE);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);

    // The name goes with the last handle, held or not, and a new mutex takes it.
    EXPECT_TRUE(ReleaseMutex(mine));
    other.wait(theirs, 0);
    other.close(theirs);
    CloseHandle(mine);
    EXPECT_EQ(open_error("m"), ERROR_FILE_NOT_FOUND);
    HANDLE fresh = CreateMutexA(nullptr, FALSE, "m");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0);
}

TEST_F(LifetimeTest, WrongAndClosedHandlesFailCleanly) {
    HANDLE closed = CreateMutexA(nullptr, FALSE, "m");
    CloseHandle(closed);
    for (HANDLE handle : {HANDLE(nullptr), closed, HANDLE(3), HANDLE(0x40000), HANDLE(-1)}) {
        EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(ReleaseMutex(handle));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(CloseHandle(handle));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

// The child shares the parent's open files; what it does must not end the parent's handles.
TEST_F(LifetimeTest, AForkedChildLeavesTheParentsHandlesAlone) {
    HANDLE mine = CreateMutexA(nullptr, TRUE, "m");
    pid_t child = fork();
    if (child == 0) {
        HANDLE its = CreateMutexA(nullptr, FALSE, "m");
        bool as_expected = GetLastError() == ERROR_ALREADY_EXISTS && WaitForSingleObject(its, 0) == WAIT_TIMEOUT &&
                           CloseHandle(its) && !CloseHandle(mine);  // handles are not inherited
        _exit(as_expected ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Helper().open("m").error, ERROR_SUCCESS);
}

TEST_F(LifetimeTest, AMutexHeldByTheCloserOfItsLastHandleLeavesNothing) {
    auto mutex_mappings = [&] {
        std::ifstream maps("/proc/self/maps");
        int count = 0;
        for (std::string line; std::getline(maps, line);)
            count += line.find(namespace_) != std::string::npos || line.find("trilox mutex") != std::string::npos;
        return count;
    };
    auto before = open_descriptors();
    auto mappings_before = mutex_mappings();
    // What a script does that locks a mutex and then deletes it: with no
    // handle left anywhere, the mutex is gone, and with it the hold.
    for (int i = 0; i < 40; ++i) {
        for (const char* name : {"m", ""}) {
            HANDLE handle = CreateMutexA(nullptr, FALSE, name);
            ASSERT_EQ(GetLastError(), ERROR_SUCCESS) << i;
            ASSERT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
            ASSERT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
            ASSERT_TRUE(CloseHandle(handle));
        }
    }
    EXPECT_LT(open_descriptors() - before, 10);
    EXPECT_EQ(mutex_mappings(), mappings_before);
    EXPECT_TRUE(std::filesystem::is_empty(local_directory()));

    // Held here and open elsewhere, it stays held.
    HANDLE mine = CreateMutexA(nullptr, TRUE, "m");
    Helper other;
    std::uintptr_t theirs = other.open("m").value;
    CloseHandle(mine);
    EXPECT_EQ(other.wait(theirs, 0).value, WAIT_TIMEOUT);
}

// A process keeps a few mutexes it opened and closed open, to open them again
// cheaply; that keeps them alive nowhere, and keeps few descriptors.
TEST_F(LifetimeTest, MutexesOpenedHereAndLeftElsewhereCostFewDescriptors) {
    Helper other;
    for (int i = 0; i < 40; ++i) other.create("m" + std::to_string(i));
    auto before = open_descriptors();
    for (int i = 0; i < 40; ++i) EXPECT_TRUE(CloseHandle(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, ("m" + std::to_string(i)).c_str())));
    EXPECT_LT(open_descriptors() - before, 10);
    other.kill();
    for (int i = 0; i < 40; ++i) EXPECT_EQ(open_error("m" + std::to_string(i)), ERROR_FILE_NOT_FOUND) << i;
    EXPECT_TRUE(std::filesystem::is_empty(local_directory()));
}

// As on Windows, a mutex lives by its handles alone: a hold does not keep it.
TEST_F(LifetimeTest, AMutexDiesWithItsCreatorThoughAnotherProcessHoldsIt) {
    for (bool killed : {false, true}) {
        for (std::string name : {"x", "Global\\x"}) {
            Helper creator;
            creator.create(name);
            HANDLE mine = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
            ASSERT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
            CloseHandle(mine);
            killed ? creator.kill() : creator.end();
            EXPECT_EQ(open_error(name), ERROR_FILE_NOT_FOUND) << name << (killed ? " killed" : " ended");
            HANDLE fresh = CreateMutexA(nullptr, FALSE, name.c_str());
            EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << name << (killed ? " killed" : " ended");
            CloseHandle(fresh);
        }
    }
}

TEST_F(LifetimeTest, AProcessThatEndsCleanlyLeavesNoName) {
    Helper ending;
    for (const char* name : {"a", "b", "Global\\a", "Global\\b"}) ending.create(name);
    ending.end();
    EXPECT_TRUE(std::filesystem::is_empty(local_directory()));
    for (const auto& entry : std::filesystem::directory_iterator(global_directory()))
        EXPECT_TRUE(entry.is_directory()) << entry.path();
}

// The host needs descriptors for its own files, however many mutexes its scripts make.
TEST_F(LifetimeTest, MutexesLeaveTheHostDescriptorsOfItsOwn) {
    DescriptorLimit low(64);
    ASSERT_TRUE(low.set());
    std::vector<HANDLE> made;
    for (int i = 0; i < 64; ++i) {
        HANDLE handle = CreateMutexA(nullptr, FALSE, ("m" + std::to_string(i)).c_str());
        if (!handle) break;
        made.push_back(handle);
    }
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_OPEN_FILES);
    std::vector<int> files;
    for (int i = 0; i < 4; ++i) files.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
    for (int fd : files) {
        EXPECT_GE(fd, 0);
        close(fd);
    }
    for (HANDLE handle : made) CloseHandle(handle);
}
