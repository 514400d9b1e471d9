// Request parsing, dispatch and response text, in-process.
#include "module/module_object.h"
#include "protocol/dispatch.h"
#include "protocol/request_parser.h"
#include "protocol/response.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

template <typename K, typename V>
Entries EntriesOf(const TMMap<K, V>& headers) {
    Entries entries;
    for (const auto& [key, value] : headers)
        entries.emplace_back(key, value);
    return entries;
}

const std::string kOk = "SAORI/1.0 200 OK\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";
const std::string kBad = "SAORI/1.0 400 Bad Request\r\nCharset: Shift_JIS\r\nSender: trilox\r\n\r\n";

}  // namespace

TEST(TMMap, IndexingYieldsFirstValueAndAddsMissingKeys) {
    TMMap<std::string, std::string> map;
    map.emplace("Argument0", "first");
    map.emplace("Argument0", "second");
    EXPECT_EQ(map["Argument0"], "first");
    EXPECT_EQ(map.count("Argument0"), 2u);

    EXPECT_EQ(map["Argument1"], "");
    EXPECT_EQ(map.count("Argument1"), 1u);
    map["Argument1"] = "set";
    EXPECT_EQ(map["Argument1"], "set");
    EXPECT_EQ(map.count("Argument1"), 1u);

    EXPECT_EQ(map.FirstValue("Argument0"), "first");
    EXPECT_EQ(map.FirstValue("Argument2"), std::nullopt);
    EXPECT_EQ(map.count("Argument2"), 0u);
}

TEST(TMMap, OrdersKeysByUnsignedBytesWithPrefixesFirst) {
    TMMap<std::string, std::string> map;
    for (const char* key : {"\xE0", "a", "Sender", "Send", "Z"})
        map.emplace(key, "");
    std::vector<std::string> keys;
    for (const auto& entry : map)
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"Send", "Sender", "Z", "a", "\xE0"}));
}

TEST(TMMap, ViewsKeepKeysThatIndexingAddsAndStayOrdered) {
    RequestHeaders map;
    map.emplace("Sender", "host");
    map.emplace("Argument0", "Lock");
    EXPECT_EQ(EntriesOf(map), (Entries{{"Argument0", "Lock"}, {"Sender", "host"}}));

    // Added after an ordered read, under a key whose text is gone at once.
    EXPECT_EQ(map[std::string("Argument1, a key longer than a short string")], "");
    map.emplace("Argument0", "again");
    RequestHeaders moved = std::move(map);
    EXPECT_EQ(EntriesOf(moved), (Entries{{"Argument0", "Lock"},
                                         {"Argument0", "again"},
                                         {"Argument1, a key longer than a short string", ""},
                                         {"Sender", "host"}}));
    auto range = moved.equal_range("Argument0");
    ASSERT_EQ(range.second - range.first, 2);
    EXPECT_EQ(range.first->second, "Lock");
}

TEST(ParseRequest, SplitsCommandAndHeaderLines) {
    std::string text = "EXECUTE SAORI/1.0\r\nSender: host\r\nArgument0: Lock\r\n\r\n";
    ParsedRequest request = ParseRequest(text);
    EXPECT_EQ(request.command, "EXECUTE");
    EXPECT_EQ(EntriesOf(request.headers),
              (Entries{{"Argument0", "Lock"}, {"ORIGINAL", text}, {"Sender", "host"}}));

    ParsedRequest lf_only = ParseRequest("EXECUTE SAORI/1.0\nSender: host\nArgument0: Lock\n\n");
    EXPECT_EQ(lf_only.command, "EXECUTE");
    lf_only.headers.erase("ORIGINAL");
    request.headers.erase("ORIGINAL");
    EXPECT_EQ(EntriesOf(lf_only.headers), EntriesOf(request.headers));
}

TEST(ParseRequest, CommandIsFirstLineBeforeSaoriMarker) {
    EXPECT_EQ(ParseRequest("GET Version SAORI/1.0").command, "GET Version");
    EXPECT_EQ(ParseRequest("GET Version SAORI/1.0").headers.size(), 1u);
    EXPECT_EQ(ParseRequest("EXECUTE SAORI/9.9 trailing\r\n").command, "EXECUTE");
    EXPECT_EQ(ParseRequest("EXECUTE\r\n").command, "EXECUTE\r");
    EXPECT_EQ(ParseRequest("EXECUTESAORI/1.0\r\n").command, "EXECUTESAORI/1.0\r");
    EXPECT_EQ(ParseRequest("").command, "");
    EXPECT_EQ(EntriesOf(ParseRequest("").headers), (Entries{{"ORIGINAL", ""}}));

    ParsedRequest blank_first = ParseRequest("\nArgument0: Lock\n");
    EXPECT_EQ(blank_first.command, "");
    EXPECT_EQ(blank_first.headers["Argument0"], "Lock");
}

TEST(ParseRequest, SplitsKeyAndValueAtFirstColon) {
    ParsedRequest request = ParseRequest(
        "X\n"
        "Spaced:   value  \n"
        "Tabbed:\tvalue\n"
        "Empty:\n"
        "Two: a:b\n"
        "Key :v\n"
        "  no colon\n"
        "ORIGINAL: again\n");
    auto& h = request.headers;
    EXPECT_EQ(h["Spaced"], "value  ");
    EXPECT_EQ(h["Tabbed"], "\tvalue");
    EXPECT_EQ(h.count("Empty"), 1u);
    EXPECT_EQ(h["Empty"], "");
    EXPECT_EQ(h["Two"], "a:b");
    EXPECT_EQ(h["Key "], "v");
    EXPECT_EQ(h.count("Key"), 0u);
    EXPECT_EQ(h["  no colon"], "no colon");
    ASSERT_EQ(h.count("ORIGINAL"), 2u);
    EXPECT_EQ(std::next(h.find("ORIGINAL"))->second, "again");
}

TEST(ParseRequest, HeaderBlockEndsAtEmptyLineCrLineOrNul) {
    EXPECT_EQ(ParseRequest("X\nA: 1\n\nB: 2\n").headers.count("B"), 0u);
    EXPECT_EQ(ParseRequest("X\nA: 1\r\n\r\nB: 2\n").headers.count("B"), 0u);
    EXPECT_EQ(ParseRequest("X\nA: 1\n\r\nB: 2\n").headers.count("B"), 0u);

    std::string with_nul = "X\nA: 1\nB: 2\0C: 3\n"s;
    ParsedRequest request = ParseRequest(with_nul);
    EXPECT_EQ(request.headers["B"], "2");
    EXPECT_EQ(request.headers.count("C"), 0u);
    EXPECT_EQ(request.headers.find("ORIGINAL")->second, with_nul);

    EXPECT_EQ(ParseRequest("X\nLast: no line end").headers.count("Last"), 1u);
    EXPECT_EQ(ParseRequest("X\nDup: 1\nDup: 2\n").headers["Dup"], "1");
}

TEST(BuildResponseText, WritesStatusAndStandardHeadersAroundResult) {
    EXPECT_EQ(BuildResponseText(200, {}).View(), kOk);
    EXPECT_EQ(kOk.size(), 56u);
    EXPECT_EQ(BuildResponseText(400, {}).View(), kBad);
    EXPECT_EQ(kBad.size(), 65u);
    EXPECT_EQ(BuildResponseText(204, true).View(),
              "SAORI/1.0 204 No Content\r\nCharset: Shift_JIS\r\nResult: 1\r\nSender: trilox\r\n\r\n");
}

TEST(BuildResponseText, AnyOtherStatusIsInternalError) {
    for (std::int32_t status : {0, 201, 404, 500, -1}) {
        EXPECT_EQ(BuildResponseText(status, false).View(),
                  "SAORI/1.0 500 Internal Server Error\r\nCharset: Shift_JIS\r\nResult: 0\r\n"
                  "Sender: trilox\r\n\r\n")
            << status;
    }
}

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override { module_.Load("/nonexistent/"); }
    std::string Process(const std::string& text) {
        return std::string(ProcessRequest(module_.AdmissionPolicy, module_.DataPath, text).View());
    }

    TNS_OrtaneANI module_;
};

TEST_F(Dispatch, AdmitsLocalAndUnknownAndRefusesExternal) {
    EXPECT_TRUE(IsAdmitted(2, Local));
    EXPECT_TRUE(IsAdmitted(2, Unknown));
    EXPECT_FALSE(IsAdmitted(2, External));

    EXPECT_EQ(Process("GET Version SAORI/1.0\r\n\r\n"), kOk);
    EXPECT_EQ(Process("GET Version SAORI/1.0\r\nSecurityLevel: External\r\n\r\n"), kBad);
    for (const char* level : {"local", "LOCAL", "Local ", "", "external", "External "})
        EXPECT_EQ(Process("GET Version SAORI/1.0\r\nSecurityLevel: "s + level + "\r\n\r\n"), kOk)
            << level;
    // A blank before the colon makes another key; a tab is not skipped.
    EXPECT_EQ(Process("GET Version SAORI/1.0\r\nSecurityLevel : External\r\n\r\n"), kOk);
    EXPECT_EQ(Process("GET Version SAORI/1.0\r\nSecurityLevel:\tExternal\r\n\r\n"), kOk);
    EXPECT_EQ(Process("GET Version SAORI/1.0\r\nSecurityLevel:    External\r\n\r\n"), kBad);
}

TEST_F(Dispatch, FirstSecurityLevelHeaderDecides) {
    EXPECT_EQ(Process("GET Version SAORI/1.0\r\nSecurityLevel: External\r\nSecurityLevel: Local\r\n\r\n"),
              kBad);
    EXPECT_EQ(Process("GET Version SAORI/1.0\r\nSecurityLevel: Local\r\nSecurityLevel: External\r\n\r\n"),
              kOk);
    // After the end of the header block nothing counts.
    EXPECT_EQ(Process("GET Version SAORI/1.0\r\n\r\nSecurityLevel: External\r\n"), kOk);
}

TEST_F(Dispatch, RefusesUnknownRequestKinds) {
    for (const char* text : {"execute SAORI/1.0\r\nArgument0: Lock\r\nArgument1: m\r\n\r\n",
                             "GET version SAORI/1.0\r\n\r\n", "EXECUTE  SAORI/1.0\r\n\r\n",
                             "GET Version\r\n\r\n", "", "EXECUTE SAORI/1.0\r\nArgument1: m\r\n\r\n",
                             "EXECUTE SAORI/1.0\r\nSecurityLevel: External\r\nArgument0: Create\r\n"
                             "Argument1: m\r\n\r\n"})
        EXPECT_EQ(Process(text), kBad) << text;
    EXPECT_EQ(Process("GET Version SAORI/1.0\r\nSender: someone\r\n\r\n"), kOk);
}
