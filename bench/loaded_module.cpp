#include "loaded_module.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

SaoriHost* OpenModule(const char* path) {
    auto* host = new SaoriHost;
    std::string error = host->Open(path);
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    return host;
}

}  // namespace

SaoriHost& LoadedModule() {
    // Never destroyed: at exit the module's own statics go before any object
    // made before it was loaded, and its unload must not run after them.
    static SaoriHost& host = *OpenModule(TRILOX_MODULE_PATH);
    return host;
}

SaoriHost& MinimalModule() {
    static SaoriHost& host = *OpenModule(TRILOX_MINIMAL_MODULE_PATH);
    return host;
}

Exchange Execute(const std::string& command, const std::string& name, int status,
                 const std::string& result) {
    return {ExecuteRequestText({command, name}), status, result};
}

bool Answers(const Exchange& exchange, SaoriHost& module) {
    std::string response = module.Request(exchange.request);
    return StatusOf(response) == exchange.status && ResultOf(response) == exchange.result;
}

void MeasureExchanges(benchmark::State& state, const std::vector<Exchange>& exchanges, SaoriHost& module) {
    for (auto _ : state) {
        for (const Exchange& exchange : exchanges) {
            if (!Answers(exchange, module)) {
                std::string request = exchange.request.substr(0, exchange.request.find("\r\n\r\n"));
                state.SkipWithError(("unexpected answer to " + request.substr(0, 120)).c_str());
                return;
            }
        }
    }
    state.counters["requests"] = static_cast<double>(exchanges.size());
}
