// Allocation failure at each allocation of the request path in turn, once and
// from then on: no exception leaves the module, the answer is the fixed 500
// text (or no reply at all once even its block cannot be had), and the next
// request is answered as usual.
#include "failing_allocator.h"
#include "host.h"
#include "support/module_library.h"
#include "support/scratch_directory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

const char kLoad[] = "load";
const char kUnload[] = "unload";

struct Case {
    const char* name;
    std::vector<std::string> setup;  // calls ("Create m"), kLoad or kUnload
    std::string request;             // a call, or a request text when it holds a line end
    std::vector<std::string> teardown;
};

const std::vector<std::string> kRemove = {"Unlock m", "Unlock m", "Delete m"};

const Case kCases[] = {
    {"Version", {}, "GET Version SAORI/1.0\r\nSecurityLevel: Local\r\n\r\n", {}},
    {"Refused", {}, "EXECUTE SAORI/1.0\r\nSecurityLevel: External\r\nArgument0: Create\r\nArgument1: m\r\n\r\n", {}},
    {"BadCommand", {}, "Frobnicate m", {}},
    {"CreateNew", {}, "Create m", kRemove},
    {"CreateExisting", {"Create m"}, "Create m", kRemove},
    {"Lock", {"Create m"}, "Lock m", kRemove},
    {"Wait", {"Create m"}, "Wait m", kRemove},
    {"Unlock", {"Create m", "Lock m"}, "Unlock m", kRemove},
    {"IsLocked", {"Create m"}, "isLocked m", kRemove},
    {"Delete", {"Create m"}, "Delete m", kRemove},
    {"NoSuchMutex", {}, "Lock m", {}},
    {"License", {}, "license", {}},
    {"Unloaded", {kUnload}, "GET Version SAORI/1.0\r\n\r\n", {kLoad}},
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

std::string RequestText(const std::string& step) {
    if (step.find('\n') != std::string::npos)
        return step;
    std::istringstream words(step);
    return ExecuteRequestText({std::istream_iterator<std::string>(words), {}});
}

class AllocationFault : public ::testing::TestWithParam<std::tuple<Case, Failure>> {
protected:
    static void SetUpTestSuite() {
        scratch_ = MakeScratchDirectory("fault");
        ASSERT_FALSE(scratch_.empty());
        std::filesystem::create_directory(scratch_ + "/namespace");
        setenv("TRILOX_NAMESPACE_DIR", (scratch_ + "/namespace").c_str(), 1);
        ASSERT_TRUE(module_.Load(scratch_ + "/"));
        // The first request of a thread sets up its thread-local data, which
        // glibc cannot fail gracefully: done here, unarmed.
        module_.Request(RequestText("isLocked m"));
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(scratch_); }

    void Run(const std::vector<std::string>& steps) {
        for (const std::string& step : steps) {
            if (step == kLoad)
                module_.Load(scratch_ + "/");
            else if (step == kUnload)
                module_.unload();
            else
                module_.Request(RequestText(step));
        }
    }

    static ModuleLibrary module_;
    static std::string scratch_;
};

ModuleLibrary AllocationFault::module_;
std::string AllocationFault::scratch_;

TEST_P(AllocationFault, EachAllocationInTurn) {
    const auto& [c, failure] = GetParam();
    const std::string request = RequestText(c.request);
    Run(c.setup);
    const std::string usual = module_.Request(request).text;
    Run(c.teardown);

    long failures = 0;
    std::vector<long> no_answer_at;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 10000) << "a request without end of allocations";
        Run(c.setup);
        void* block = Block(request);
        long len = static_cast<long>(request.size());
        FailAllocation(n, failure);
        void* reply = module_.request(block, &len);
        bool failed = StopFailing();
        std::string answer = reply ? std::string(static_cast<char*>(reply), len) : "";
        std::free(reply);
        if (!failed) {
            EXPECT_EQ(answer, usual) << "with every allocation granted";
            Run(c.teardown);
            break;
        }
        ++failures;
        // The platform may do without an allocation and answer as usual.
        if (reply) {
            EXPECT_TRUE(answer == kFixed500 || answer == usual) << "allocation " << n << ": " << answer;
        } else {
            EXPECT_EQ(len, 0) << "allocation " << n;
            no_answer_at.push_back(n);
        }
        Run(c.teardown);

        Run(c.setup);
        EXPECT_EQ(module_.Request(request).text, usual) << "after allocation " << n;
        Run(c.teardown);
    }
    EXPECT_GT(failures, 0) << "the request allocates nothing";
    // Failing once, only the reply block, the last allocation, leaves no answer.
    if (failure == Failure::kOnce) {
        for (long n : no_answer_at)
            EXPECT_EQ(n, failures) << "no answer when allocation " << n << " failed";
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, AllocationFault,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(Failure::kOnce, Failure::kFromThenOn)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == Failure::kOnce ? "_Once" : "_FromThenOn");
                         });

TEST(LoadFault, FailedLoadLeavesModuleUnloadedUntilNextLoad) {
    ModuleLibrary module;
    const std::string version = "GET Version SAORI/1.0\r\n\r\n";
    ASSERT_TRUE(module.Load("/nonexistent/"));
    const std::string usual = module.Request(version).text;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 1000);
        const std::string directory = "/nonexistent/directory/long/enough/to/be/allocated/";
        void* block = Block(directory);
        FailAllocation(n, Failure::kOnce);
        int loaded = module.load(block, static_cast<long>(directory.size()));
        if (!StopFailing())
            break;
        EXPECT_EQ(loaded, 1);
        EXPECT_EQ(module.Request(version).text, kFixed500) << "allocation " << n;
        ASSERT_TRUE(module.Load("/nonexistent/"));
        EXPECT_EQ(module.Request(version).text, usual) << "after allocation " << n;
    }
}

TEST(LoadFault, FailedInstanceLoadMakesNoInstance) {
    ModuleLibrary module;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 1000);
        const std::string directory = "/nonexistent/directory/long/enough/to/be/allocated/";
        char* block = static_cast<char*>(Block(directory));
        FailAllocation(n, Failure::kOnce);
        long id = module.saori_load(block, static_cast<long>(directory.size()));
        if (!StopFailing()) {
            EXPECT_NE(id, 0);
            EXPECT_EQ(module.saori_unload(id), 1);
            break;
        }
        EXPECT_EQ(id, 0) << "allocation " << n;
    }
}

}  // namespace
