// Where mutexes live: one namespace per TRILOX_NAMESPACE_DIR, one directory
// per user in it, and a Windows error when it cannot be used.
#include "platform_test.h"

#include "platform/mutex_namespace.h"
#include "support/descriptor_limit.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

using NamespaceTest = PlatformTest;

TEST_F(NamespaceTest, EachNamespaceDirectoryIsSeparate) {
    EXPECT_EQ(create_error("x"), ERROR_SUCCESS);
    std::string other = temporary_ + "/other";  // made by the layer
    setenv("TRILOX_NAMESPACE_DIR", other.c_str(), 1);
    EXPECT_EQ(open_error("x"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Helper().create("x").error, ERROR_SUCCESS);
    setenv("TRILOX_NAMESPACE_DIR", namespace_.c_str(), 1);
    EXPECT_EQ(Helper().create("x").error, ERROR_ALREADY_EXISTS);
}

TEST_F(NamespaceTest, OnlyItsOwnerCanGetIn) {
    create_error("Global\\g");
    create_error("l");
    auto mode_of = [](const std::string& path) {
        struct stat status {};
        lstat(path.c_str(), &status);
        return status.st_mode & 07777;
    };
    EXPECT_EQ(mode_of(local_directory()), 0700u);
    EXPECT_EQ(mode_of(local_directory() + "/l"), 0600u);
    EXPECT_EQ(mode_of(global_directory() + "/trilox-global-g"), 0600u);
}

TEST_F(NamespaceTest, AnUnusableNamespaceFailsWithAWindowsError) {
    std::string file = temporary_ + "/file", elsewhere = temporary_ + "/elsewhere",
                linked = temporary_ + "/linked", too_open = temporary_ + "/too-open";
    std::string own = "/trilox-" + std::to_string(geteuid());
    std::ofstream(file) << "not a directory";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700) | mkdir(linked.c_str(), 0700) | mkdir(too_open.c_str(), 0700), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), (linked + own).c_str()), 0);
    ASSERT_EQ(mkdir((too_open + own).c_str(), 0700) | chmod((too_open + own).c_str(), 0755), 0);

    const std::pair<std::string, DWORD> cases[] = {{temporary_ + "/missing/namespace", ERROR_PATH_NOT_FOUND},
                                                   {file, ERROR_PATH_NOT_FOUND},
                                                   {linked, ERROR_ACCESS_DENIED},
                                                   {too_open, ERROR_ACCESS_DENIED}};
    for (const auto& [root, error] : cases) {
        setenv("TRILOX_NAMESPACE_DIR", root.c_str(), 1);
        EXPECT_EQ(create_error("x"), error) << root;
        EXPECT_EQ(open_error("x"), error) << root;
    }
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
}

TEST_F(NamespaceTest, ACrashWhileMakingTheDirectoryLeavesOnlyTheDirectory) {
    // AddressSanitizer wants its runtime first, before anything preloaded.
    std::string crashing = std::string("echo 'create x' | ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=") +
                           TRILOX_KILL_AFTER_MKDIR + " " + TRILOX_MUTEX_HELPER + " >/dev/null";
    int status = std::system(crashing.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGKILL) << "not killed: " << status;
    for (const auto& entry : std::filesystem::directory_iterator(namespace_))
        EXPECT_EQ(entry.path(), local_directory());
    EXPECT_EQ(Helper().create("x").error, ERROR_SUCCESS);
}

// A process that outlives its directories, removed or moved aside by a
// clean-up, goes on with the ones made in their place, as later processes do.
TEST_F(NamespaceTest, DirectoriesReplacedWhileInUseAreOpenedAgain) {
    ASSERT_EQ(create_error("before"), ERROR_SUCCESS);
    ASSERT_EQ(create_error("Global\\before"), ERROR_SUCCESS);
    ASSERT_EQ(rename(local_directory().c_str(), (temporary_ + "/moved").c_str()), 0);
    std::filesystem::remove_all(namespace_);
    EXPECT_EQ(create_error("after"), ERROR_SUCCESS);
    EXPECT_EQ(create_error("Global\\after"), ERROR_SUCCESS);
    Helper other;
    EXPECT_EQ(other.create("after").error, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(other.create("Global\\after").error, ERROR_ALREADY_EXISTS);
}

// Another user is played by a forked child that drops root.
TEST_F(NamespaceTest, UsersKeepToTheirOwnMutexes) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const uid_t nobody = 65534;
    ASSERT_EQ(chmod(temporary_.c_str(), 0755) | chmod(namespace_.c_str(), 01777), 0);
    EXPECT_EQ(create_error("Global\\root's"), ERROR_SUCCESS);
    EXPECT_EQ(create_error("mine"), ERROR_SUCCESS);

    pid_t child = fork();
    if (child == 0) {
        bool as_expected = setgid(nobody) == 0 && setuid(nobody) == 0 &&
                           open_error("Global\\root's") == ERROR_ACCESS_DENIED &&
                           create_error("Global\\root's") == ERROR_ACCESS_DENIED &&
                           create_error("Global\\nobody's") == ERROR_SUCCESS &&
                           create_error("mine") == ERROR_SUCCESS;
        _exit(as_expected ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    // Its maker ended without a word: root removes what no one else could.
    EXPECT_EQ(open_error("Global\\nobody's"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(create_error("mine"), ERROR_ALREADY_EXISTS);
}

// Directories made under an odd umask (0477 gives 0300) lacked the owner's
// read bit: that process and every later one of the user refused them. Root
// reads any directory, so nobody plays the user then.
TEST_F(NamespaceTest, AnOddUmaskLeavesTheDirectoriesUsable) {
    ASSERT_EQ(chmod(temporary_.c_str(), 0755) | chmod(namespace_.c_str(), 01777), 0);
    setenv("TRILOX_NAMESPACE_DIR", (namespace_ + "/made").c_str(), 1);  // made by the layer
    pid_t child = fork();
    if (child == 0) {
        bool user = geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0);
        umask(0477);
        _exit(user && create_error("Global\\g") == ERROR_SUCCESS && create_error("l") == ERROR_SUCCESS ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
}

// Local names go to the user's runtime directory when it is theirs and
// private, so that no one else can take their place by making a directory.
TEST_F(NamespaceTest, LocalNamesLiveInTheUsersRuntimeDirectory) {
    unsetenv("TRILOX_NAMESPACE_DIR");
    std::string runtime = temporary_ + "/run", open_to_all = temporary_ + "/open";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700) | mkdir(open_to_all.c_str(), 0700) | chmod(open_to_all.c_str(), 0755), 0);
    std::string name = "trilox-test-" + std::to_string(getpid());
    std::string fallback = "/dev/shm/trilox-" + std::to_string(geteuid()) + "/" + name;

    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    HANDLE mine = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_TRUE(std::filesystem::exists(runtime + "/trilox/" + name));
    EXPECT_FALSE(std::filesystem::exists(fallback));
    CloseHandle(mine);

    for (const std::string& unusable : {open_to_all, std::string("relative")}) {
        setenv("XDG_RUNTIME_DIR", unusable.c_str(), 1);
        mine = CreateMutexA(nullptr, FALSE, name.c_str());
        EXPECT_TRUE(std::filesystem::exists(fallback)) << unusable;
        CloseHandle(mine);
    }
    unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(NamespaceTest, ARefusedDirectoryLeavesAReason) {
    EXPECT_EQ(namespace_problems(), "");  // which makes the local directory
    ASSERT_EQ(chmod(local_directory().c_str(), 0755), 0);
    EXPECT_EQ(namespace_problems(), "local names: " + local_directory() + ": is open to other users (mode 0755)\n");
}

// A file refused leaves its reason too. Each case runs in a forked child,
// which starts with no handles and so opens the file afresh.
TEST_F(NamespaceTest, ARefusedFileLeavesAReason) {
    auto in_child = [](auto refused, const std::string& reason) {
        pid_t child = fork();
        if (child == 0) _exit(refused() && namespace_problems().find(reason) != std::string::npos ? 0 : 1);
        int status = -1;
        waitpid(child, &status, 0);
        return status == 0;
    };
    CreateMutexA(nullptr, FALSE, "old");
    std::ofstream(local_directory() + "/old", std::ios::in | std::ios::out) << "trilox mutex 3";
    EXPECT_TRUE(in_child([] { return !OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "old"); },
                         "mutex \"old\": its file is of format \"trilox mutex 3\", not \"trilox mutex 4\""));
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount in a mount namespace of its own";

    auto in_own_mounts = [&](const char* source, const std::string& target, unsigned long flags) {
        return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mount(source, target.c_str(), "tmpfs", flags, nullptr) == 0;
    };
    EXPECT_TRUE(in_child([&] { return in_own_mounts("tmpfs", namespace_, MS_RDONLY) && !CreateMutexA(nullptr, FALSE, "Global\\g"); },
                         "mutex \"g\": cannot make its file in " + namespace_ + ": Read-only file system"));
    // Mutexes leave the host the last eighth of the mappings a process may have.
    DescriptorLimit limit(4096);
    if (!limit.set()) GTEST_SKIP() << "needs 4,096 descriptors; the hard limit is " << limit.hard();
    std::ofstream(temporary_ + "/max_map_count") << 2000;
    EXPECT_TRUE(in_child(
        [&] {
            int made = 0;
            if (in_own_mounts((temporary_ + "/max_map_count").c_str(), "/proc/sys/vm/max_map_count", MS_BIND))
                while (made < 2000 && CreateMutexA(nullptr, FALSE, ("m" + std::to_string(made)).c_str())) ++made;
            return made == 1750;  // a child starts with no mutex of its parent
        },
        "the last eighth of the mappings a process may have (vm.max_map_count) is left to the host"));
}
