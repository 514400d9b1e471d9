// The instance interface of Linux hosts (trilox_saori_*): instances in one
// process, each with its own directory, over the one set of mutexes.
#include "host.h"
#include "support/descriptor_limit.h"
#include "support/module_library.h"
#include "support/scratch_directory.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::string kVersion = "GET Version SAORI/1.0\r\nSecurityLevel: local\r\n\r\n";

class Instances : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = MakeScratchDirectory("instances");
        ASSERT_FALSE(scratch_.empty());
        // Mutexes of this test only, whatever else runs beside it.
        setenv("TRILOX_NAMESPACE_DIR", (scratch_ / "namespace").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(scratch_); }

    long Load(const std::string& directory) {
        return module_.saori_load(static_cast<char*>(Block(directory)), static_cast<long>(directory.size()));
    }
    std::string Request(long id, const std::string& text) {
        long len = static_cast<long>(text.size());
        char* reply = module_.saori_request(id, static_cast<char*>(Block(text)), &len);
        EXPECT_NE(reply, nullptr);
        std::string response = reply ? std::string(reply, static_cast<std::size_t>(len)) : "";
        std::free(reply);
        return response;
    }
    std::string Call(long id, const std::vector<std::string>& arguments) {
        return Request(id, ExecuteRequestText(arguments));
    }

    ModuleLibrary module_;
    fs::path scratch_;
};

TEST_F(Instances, EachHasItsOwnDirectoryAndAllShareTheMutexes) {
    fs::create_directories(scratch_ / "a");
    fs::create_directories(scratch_ / "b");
    long a = Load((scratch_ / "a").string() + "/");
    long b = Load((scratch_ / "b").string() + "/");
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    ASSERT_NE(a, b);

    EXPECT_EQ(StatusOf(Call(a, {"license"})), 204);
    EXPECT_TRUE(fs::exists(scratch_ / "a/trilox_license.txt"));
    EXPECT_FALSE(fs::exists(scratch_ / "b/trilox_license.txt"));
    EXPECT_EQ(StatusOf(Call(b, {"license"})), 204);
    EXPECT_TRUE(fs::exists(scratch_ / "b/trilox_license.txt"));

    // One registry: what one instance created, another deletes.
    EXPECT_EQ(ResultOf(Call(a, {"Create", "shared"})), "1");
    EXPECT_EQ(ResultOf(Call(b, {"Create", "shared"})), "0");
    EXPECT_EQ(ResultOf(Call(b, {"Delete", "shared"})), "1");
    EXPECT_EQ(StatusOf(Call(a, {"Lock", "shared"})), 500);

    // Ending one leaves the other serving; its id is not given out again.
    EXPECT_EQ(module_.saori_unload(a), 1);
    EXPECT_EQ(Request(a, kVersion), kFixed500);
    EXPECT_EQ(StatusOf(Request(b, kVersion)), 200);
    long c = Load("");
    EXPECT_NE(c, a);
    EXPECT_EQ(StatusOf(Request(c, kVersion)), 200);
    EXPECT_EQ(module_.saori_unload(b), 1);
    EXPECT_EQ(module_.saori_unload(c), 1);
}

TEST_F(Instances, UnknownIdsAndOddBlocks) {
    for (long id : {0L, -1L, 123456789L}) {
        EXPECT_EQ(Request(id, kVersion), kFixed500) << id;
        EXPECT_EQ(module_.saori_unload(id), 1) << id;  // and nothing breaks
    }
    long id = module_.saori_load(nullptr, 4);  // read as the empty directory
    ASSERT_NE(id, 0);
    long len = 9;
    char* reply = module_.saori_request(id, nullptr, &len);  // the empty text
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(StatusOf(std::string(reply, static_cast<std::size_t>(len))), 400);
    std::free(reply);
    EXPECT_EQ(module_.saori_request(id, static_cast<char*>(Block(kVersion)), nullptr), nullptr);

    // The other interface in the same process is not an instance.
    EXPECT_EQ(module_.Request(kVersion).text, kFixed500);
    EXPECT_TRUE(module_.Load(scratch_.string() + "/"));
    EXPECT_EQ(StatusOf(module_.Request(kVersion).text), 200);
    EXPECT_EQ(module_.unload(), 1);
    EXPECT_EQ(StatusOf(Request(id, kVersion)), 200);
    EXPECT_EQ(module_.saori_unload(id), 1);
}

// A forked child has none of its parent's handles, and so none of its
// parent's created mutexes: what it does cannot close one of its own.
TEST_F(Instances, AForkedChildStartsWithNoCreatedMutexes) {
    long id = Load(scratch_.string() + "/");
    ASSERT_EQ(ResultOf(Call(id, {"Create", "n"})), "1");
    pid_t child = fork();
    if (child == 0) {
        bool as_expected = ResultOf(Call(id, {"Create", "m"})) == "1" && ResultOf(Call(id, {"Delete", "n"})) == "0" &&
                           ResultOf(Call(id, {"Create", "n"})) == "0" && ResultOf(Call(id, {"isLocked", "m"})) == "0";
        _exit(as_expected ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ResultOf(Call(id, {"Delete", "n"})), "1");
    EXPECT_EQ(module_.saori_unload(id), 1);
}

// Copies of the module loaded from two files, as two ghosts that each ship
// one, share the process's mutexes, holds and handles, as copies of the DLL
// share kernel32; each keeps its own registry. One copy giving up its last
// handle to a mutex that the thread holds through the other must not unmap it.
TEST_F(Instances, CopiesFromTwoFilesShareTheProcesssMutexes) {
    fs::copy_file(TRILOX_MODULE_PATH, scratch_ / "trilox.so");
    void* copy = dlopen((scratch_ / "trilox.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(copy, nullptr) << dlerror();
    ASSERT_NE(copy, dlopen(TRILOX_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD));
    auto copy_load = reinterpret_cast<ModuleLibrary::InstanceLoadFn>(dlsym(copy, "trilox_saori_load"));
    auto copy_request = reinterpret_cast<ModuleLibrary::InstanceRequestFn>(dlsym(copy, "trilox_saori_request"));
    auto call_copy = [&](long id, const std::vector<std::string>& arguments) {
        std::string text = ExecuteRequestText(arguments);
        long len = static_cast<long>(text.size());
        char* reply = copy_request(id, static_cast<char*>(Block(text)), &len);
        std::string result = ResultOf(std::string(reply, static_cast<std::size_t>(len)));
        std::free(reply);
        return result;
    };
    int made[2];
    ASSERT_EQ(pipe(made), 0);
    pid_t other = fork();
    if (other == 0) {  // names another process made, and keeps
        long id = Load(scratch_.string() + "/");
        for (int i = 0; i < 8; ++i) Call(id, {"Create", "i" + std::to_string(i)});
        close(made[1]);
        pause();
    }
    close(made[1]);
    char end;
    ASSERT_EQ(read(made[0], &end, 1), 0);
    long a = Load(scratch_.string() + "/"), b = copy_load(static_cast<char*>(Block(scratch_.string() + "/")), 0);
    EXPECT_EQ(ResultOf(Call(a, {"Create", "x"})), "1");
    EXPECT_EQ(ResultOf(Call(a, {"Lock", "x"})), "1");
    EXPECT_EQ(call_copy(b, {"Lock", "x"}), "1");
    Call(a, {"Unlock", "x"});
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ResultOf(Call(a, {"isLocked", "i" + std::to_string(i)})), "0");
    EXPECT_EQ(ResultOf(Call(a, {"Lock", "i0"})), "1");
    Call(a, {"Unlock", "x"});  // the second hold, taken through the copy
    std::thread([&] { EXPECT_EQ(call_copy(b, {"Lock", "x"}), "1"); }).join();
    EXPECT_EQ(call_copy(b, {"Create", "x"}), "0");
    EXPECT_EQ(call_copy(b, {"Delete", "x"}), "0");  // not in the copy's registry
    EXPECT_EQ(ResultOf(Call(a, {"Delete", "x"})), "1");
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
}

// Past the holds a thread may have, Lock and Wait fail: never an answer that
// another holds the mutex, nor one that it is free.
TEST_F(Instances, PastTheHoldsAThreadMayHaveCommandsFail) {
    DescriptorLimit limit(4096);
    if (!limit.set()) GTEST_SKIP() << "needs 4,096 descriptors; the hard limit is " << limit.hard();
    long id = Load(scratch_.string() + "/");
    for (int i = 0; i <= 2000; ++i) {
        std::string name = "m" + std::to_string(i);
        ASSERT_EQ(ResultOf(Call(id, {"Create", name})), "1");
        ASSERT_EQ(ResultOf(Call(id, {"Lock", name})), i < 2000 ? "1" : "") << i;
    }
    for (const auto& command : std::vector<std::vector<std::string>>{
             {"Lock", "m2000"}, {"Wait", "m2000", "0"}, {"isLocked", "m2000"}, {"Delete", "m2000"}})
        EXPECT_EQ(StatusOf(Call(id, command)), 500) << command[0];
    EXPECT_EQ(ResultOf(Call(id, {"Lock", "m0"})), "1");  // held already: no new hold
    EXPECT_EQ(module_.saori_unload(id), 1);
}

}  // namespace
