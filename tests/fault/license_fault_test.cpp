// The licence file where it cannot be written: each case answers its status
// and nothing crashes. A missing directory and a directory in the file's
// place are conformance scenarios (license.scn).
#include "host.h"
#include "support/module_library.h"
#include "support/scratch_directory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class LicenseFault : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = MakeScratchDirectory("license");
        ASSERT_FALSE(scratch_.empty());
        chmod(scratch_.c_str(), 0755);  // an unprivileged child must get in
    }
    void TearDown() override { fs::remove_all(scratch_); }

    int License(const std::string& directory) {
        module_.Load(directory);
        return StatusOf(module_.Request(ExecuteRequestText({"license"})).text);
    }

    // The status in a child process, -1 when it gives none within ten
    // seconds. Without privileges the child is not root, so permissions bind.
    enum Privileges { kKeep, kDrop };
    int LicenseInChild(const std::string& directory, Privileges privileges) {
        int answer[2];
        if (pipe(answer) != 0)
            return -1;
        pid_t child = fork();
        if (child == 0) {
            alarm(10);
            int status = -1;
            if (privileges == kKeep || geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0))
                status = License(directory);
            _exit(write(answer[1], &status, sizeof status) == sizeof status ? 0 : 1);
        }
        close(answer[1]);
        int status = -1;
        if (read(answer[0], &status, sizeof status) != sizeof status)
            status = -1;
        close(answer[0]);
        waitpid(child, nullptr, 0);
        return status;
    }

    ModuleLibrary module_;
    fs::path scratch_;
};

TEST_F(LicenseFault, ReadOnlyDirectoryCannotBeOpened) {
    fs::create_directory(scratch_ / "writable");
    fs::create_directory(scratch_ / "read-only");
    chmod((scratch_ / "writable").c_str(), 0777);
    chmod((scratch_ / "read-only").c_str(), 0555);
    EXPECT_EQ(LicenseInChild((scratch_ / "writable").string() + "/", kDrop), 204);
    EXPECT_EQ(LicenseInChild((scratch_ / "read-only").string() + "/", kDrop), 400);
    EXPECT_FALSE(fs::exists(scratch_ / "read-only/trilox_license.txt"));
}

TEST_F(LicenseFault, FullDeviceFailsTheWrite) {
    fs::create_directory(scratch_ / "full");
    fs::create_symlink("/dev/full", scratch_ / "full/trilox_license.txt");
    EXPECT_EQ(License((scratch_ / "full").string() + "/"), 500);
    // The device stays as it was, and the next request is served.
    EXPECT_TRUE(fs::is_symlink(scratch_ / "full/trilox_license.txt"));
    EXPECT_EQ(License(scratch_.string() + "/"), 204);
}

TEST_F(LicenseFault, FifoCannotBeOpenedAtOnce) {
    ASSERT_EQ(mkfifo((scratch_ / "trilox_license.txt").c_str(), 0600), 0);
    EXPECT_EQ(LicenseInChild(scratch_.string() + "/", kKeep), 400);
    EXPECT_EQ(fs::status(scratch_ / "trilox_license.txt").type(), fs::file_type::fifo);
}

TEST_F(LicenseFault, FileAsModuleDirectoryCannotBeOpened) {
    std::ofstream(scratch_ / "file") << "not a directory";
    EXPECT_EQ(License((scratch_ / "file").string() + "/"), 400);
}

}  // namespace
