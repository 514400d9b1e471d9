// The cases through _request: each a realistic request text, copied into a
// block, parsed, dispatched, answered and copied out as a host does.
#include "request_bench.h"

#include "spread.h"

#include <cassert>
#include <string>

namespace {

constexpr char kLockName[] = "bench-lock";

// The cases the minimal module answers too.
const char* const kMinimalCases[] = {"GET Version", "Lock+Unlock", "isLocked", "GET Version, 64 KiB of headers"};

// A GET Version request of exactly `size` bytes: the headers a host sends,
// then argument-like header lines of about 40 bytes to make up the size.
std::string GetVersionText(std::size_t size) {
    std::string text = "GET Version SAORI/1.0\r\nSender: saori\r\nSecurityLevel: Local\r\nCharset: Shift_JIS\r\n";
    const std::size_t end = size - 2;  // the empty line
    for (int i = 0; text.size() < end; ++i) {
        std::string line = "Argument" + std::to_string(i) + ": ";
        std::size_t left = end - text.size();
        std::size_t length = left < 80 ? left : 40;
        assert(length >= line.size() + 2);
        line.append(length - line.size() - 2, 'x');
        text += line + "\r\n";
    }
    return text + "\r\n";
}

void Add(const std::string& name, std::vector<Exchange> exchanges, SaoriHost& module = LoadedModule()) {
    WithSpread(benchmark::RegisterBenchmark(name.c_str(), [exchanges, &module](benchmark::State& state) {
        MeasureExchanges(state, exchanges, module);
    }));
}

}  // namespace

std::vector<Exchange> CreateDeleteExchanges() {
    return {Execute("Create", "bench-create", 200, "1"), Execute("Delete", "bench-create", 200, "1")};
}

std::vector<Exchange> SingleRequestCase(const std::string& name) {
    if (name == "GET Version")
        return {{GetVersionText(100), 200, ""}};
    if (name == "refused request")
        return {{"EXECUTE SAORI/1.0\r\nSender: saori\r\nSecurityLevel: External\r\nCharset: Shift_JIS\r\n"
                 "Argument0: Lock\r\nArgument1: bench-lock\r\n\r\n",
                 400, ""}};
    if (name == "Lock+Unlock")
        return {Execute("Lock", kLockName, 200, "1"), Execute("Unlock", kLockName, 204, "")};
    if (name == "isLocked")
        return {Execute("isLocked", kLockName, 200, "0")};
    if (name == "GET Version, 64 KiB of headers")
        return {{GetVersionText(64 * 1024), 200, ""}};
    return {};
}

bool CreateLockCaseMutex(SaoriHost& module) {
    return Answers(Execute("Create", kLockName, 200, "1"), module);
}

void RegisterRequestBenchmarks() {
    CreateLockCaseMutex(LoadedModule());
    CreateLockCaseMutex(MinimalModule());
    for (const char* name :
         {"GET Version", "refused request", "Lock+Unlock", "isLocked", "GET Version, 64 KiB of headers"})
        Add("request/" + std::string(name), SingleRequestCase(name));
    Add("request/Create+Delete", CreateDeleteExchanges());
    Add("request/GET Version, 16 KiB of headers", {{GetVersionText(16 * 1024), 200, ""}});
    for (const char* name : kMinimalCases)
        Add("minimal/" + std::string(name), SingleRequestCase(name), MinimalModule());
}
