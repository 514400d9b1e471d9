// The exported entry points of the built module, loaded as a host loads it.
#include "support/module_library.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <string>

using namespace std::string_literals;

namespace {

const std::string kOk = "SAORI/1.0 200 OK\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";
const std::string kBad = "SAORI/1.0 400 Bad Request\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";

class Boundary : public ::testing::Test {
protected:
    void TearDown() override { module_.unload(); }

    // Sends the text with the given length and returns the reply, checking
    // that a reply came.
    std::string Request(const std::string& text, long len) {
        void* reply = module_.request(Block(text), &len);
        EXPECT_NE(reply, nullptr);
        std::string response(static_cast<const char*>(reply), static_cast<std::size_t>(len));
        std::free(reply);
        return response;
    }
    std::string Request(const std::string& text) { return Request(text, static_cast<long>(text.size())); }

    ModuleLibrary module_;
};

}  // namespace

TEST_F(Boundary, PlainNamesAreTheSameEntryPoints) {
    void* library = dlopen(TRILOX_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(dlsym(library, "load"), reinterpret_cast<void*>(module_.load));
    EXPECT_EQ(dlsym(library, "unload"), reinterpret_cast<void*>(module_.unload));
    EXPECT_EQ(dlsym(library, "request"), reinterpret_cast<void*>(module_.request));
    EXPECT_EQ(dlsym(library, "ProcessRequest"), nullptr);
    EXPECT_EQ(dlsym(library, "GlobalAlloc"), nullptr);
    dlclose(library);
}

TEST_F(Boundary, WithoutModuleObjectEveryRequestGetsFixed500) {
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kFixed500);
    EXPECT_EQ(kFixed500.size(), 39u);
    EXPECT_EQ(Request(""), kFixed500);

    EXPECT_TRUE(module_.Load("/tmp/"));
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kOk);
    EXPECT_EQ(module_.unload(), 1);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kFixed500);
    EXPECT_EQ(module_.unload(), 1);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kFixed500);
}

TEST_F(Boundary, RepeatedLoadKeepsServing) {
    EXPECT_TRUE(module_.Load("/tmp/a/"));
    EXPECT_TRUE(module_.Load("/tmp/b/"));
    EXPECT_TRUE(module_.Load(""));
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kOk);
}

TEST_F(Boundary, ReadsExactlyLenBytesNulIncluded) {
    module_.Load("/tmp/");
    const std::string refused = "GET Version SAORI/1.0\r\nSecurityLevel: External\r\n\r\n";
    EXPECT_EQ(Request(refused), kBad);
    // Cut before the header: the rest of the block is not read.
    EXPECT_EQ(Request(refused, 23), kOk);
    // A NUL ends the line reading, but not the copy: the bytes before it count.
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\0SecurityLevel: External\r\n\r\n"s), kOk);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\nSecurityLevel: External\r\n\0x"s), kBad);
}

TEST_F(Boundary, OddHandlesAndLengths) {
    module_.Load("/tmp/");
    long len = 5;
    void* reply = module_.request(nullptr, &len);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(reply), len), kBad);  // read as the empty text
    std::free(reply);

    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n", -7), kBad);
    EXPECT_EQ(module_.request(Block("GET Version"), nullptr), nullptr);

    EXPECT_EQ(module_.load(nullptr, 12), 1);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kOk);
}

TEST_F(Boundary, ReplyEndsWithEmptyLineAndNoNul) {
    module_.Load("/tmp/");
    std::string response = Request("GET Version SAORI/1.0\r\n\r\n");
    ASSERT_EQ(response.size(), 56u);
    EXPECT_EQ(response.substr(52), "\r\n\r\n");
    EXPECT_EQ(Request("EXECUTE SAORI/1.0\r\n\r\n").size(), 65u);
}
