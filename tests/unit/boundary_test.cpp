// The exported entry points of the built module, loaded as a host loads it.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace std::string_literals;

namespace {

using LoadFn = int (*)(void*, long);
using UnloadFn = int (*)();
using RequestFn = void* (*)(void*, long*);

const std::string kFixed500 = "SAORI/1.0 500 Internal Server Error\r\n\r\n";
const std::string kOk = "SAORI/1.0 200 OK\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";
const std::string kBad = "SAORI/1.0 400 Bad Request\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";

void* Block(const std::string& text) {
    void* block = std::malloc(text.size() ? text.size() : 1);
    std::memcpy(block, text.data(), text.size());
    return block;
}

class Boundary : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = dlopen(TRILOX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        load_ = reinterpret_cast<LoadFn>(dlsym(library_, "_load"));
        unload_ = reinterpret_cast<UnloadFn>(dlsym(library_, "_unload"));
        request_ = reinterpret_cast<RequestFn>(dlsym(library_, "_request"));
    }
    void TearDown() override { unload_(); }

    int Load(const std::string& path) { return load_(Block(path), static_cast<long>(path.size())); }

    // Sends the text with the given length and returns the reply, checking
    // that the length written back matches the block.
    std::string Request(const std::string& text, long len) {
        long in_out = len;
        void* reply = request_(Block(text), &in_out);
        EXPECT_NE(reply, nullptr);
        std::string response(static_cast<const char*>(reply), static_cast<std::size_t>(in_out));
        std::free(reply);
        return response;
    }
    std::string Request(const std::string& text) { return Request(text, static_cast<long>(text.size())); }

    static void* library_;
    static LoadFn load_;
    static UnloadFn unload_;
    static RequestFn request_;
};

void* Boundary::library_;
LoadFn Boundary::load_;
UnloadFn Boundary::unload_;
RequestFn Boundary::request_;

}  // namespace

TEST_F(Boundary, PlainNamesAreTheSameEntryPoints) {
    EXPECT_EQ(dlsym(library_, "load"), reinterpret_cast<void*>(load_));
    EXPECT_EQ(dlsym(library_, "unload"), reinterpret_cast<void*>(unload_));
    EXPECT_EQ(dlsym(library_, "request"), reinterpret_cast<void*>(request_));
    EXPECT_EQ(dlsym(library_, "ProcessRequest"), nullptr);
    EXPECT_EQ(dlsym(library_, "GlobalAlloc"), nullptr);
}

TEST_F(Boundary, WithoutModuleObjectEveryRequestGetsFixed500) {
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kFixed500);
    EXPECT_EQ(kFixed500.size(), 39u);
    EXPECT_EQ(Request(""), kFixed500);

    EXPECT_EQ(Load("/tmp/"), 1);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kOk);
    EXPECT_EQ(unload_(), 1);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kFixed500);
    EXPECT_EQ(unload_(), 1);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kFixed500);
}

TEST_F(Boundary, RepeatedLoadKeepsServing) {
    EXPECT_EQ(Load("/tmp/a/"), 1);
    EXPECT_EQ(Load("/tmp/b/"), 1);
    EXPECT_EQ(Load(""), 1);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kOk);
}

TEST_F(Boundary, ReadsExactlyLenBytesNulIncluded) {
    Load("/tmp/");
    const std::string refused = "GET Version SAORI/1.0\r\nSecurityLevel: External\r\n\r\n";
    EXPECT_EQ(Request(refused), kBad);
    // Cut before the header: the rest of the block is not read.
    EXPECT_EQ(Request(refused, 23), kOk);
    // A NUL ends the line reading, but not the copy: the bytes before it count.
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\0SecurityLevel: External\r\n\r\n"s), kOk);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\nSecurityLevel: External\r\n\0x"s), kBad);
}

TEST_F(Boundary, OddHandlesAndLengths) {
    Load("/tmp/");
    long len = 5;
    void* reply = request_(nullptr, &len);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(reply), len), kBad);  // read as the empty text
    std::free(reply);

    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n", -7), kBad);
    EXPECT_EQ(request_(Block("GET Version"), nullptr), nullptr);

    EXPECT_EQ(load_(nullptr, 12), 1);
    EXPECT_EQ(Request("GET Version SAORI/1.0\r\n\r\n"), kOk);
}

TEST_F(Boundary, ReplyEndsWithEmptyLineAndNoNul) {
    Load("/tmp/");
    std::string response = Request("GET Version SAORI/1.0\r\n\r\n");
    ASSERT_EQ(response.size(), 56u);
    EXPECT_EQ(response.substr(52), "\r\n\r\n");
    EXPECT_EQ(Request("EXECUTE SAORI/1.0\r\n\r\n").size(), 65u);
}
