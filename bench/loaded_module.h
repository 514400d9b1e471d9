// The module under measurement, loaded once as a host loads it, and the
// request/answer exchanges the benchmarks send through its _request.
#pragma once

#include "host.h"

#include <string>
#include <vector>

namespace benchmark {
class State;
}

SaoriHost& LoadedModule();
// The least a module answering the same texts could do (minimal_module.cpp),
// loaded the same way: the reference the request path is measured against.
SaoriHost& MinimalModule();

struct Exchange {
    std::string request;
    int status;          // the status the answer must carry
    std::string result;  // its Result header, "" for none
};

// An EXECUTE request as the saori host sends it, and what it must answer.
Exchange Execute(const std::string& command, const std::string& name, int status,
                 const std::string& result);

// Whether the module answers the request as expected.
bool Answers(const Exchange& exchange, SaoriHost& module = LoadedModule());

// Sends the exchanges in turn, once an iteration; stops the benchmark with an
// error at the first answer that is not the expected one.
void MeasureExchanges(benchmark::State& state, const std::vector<Exchange>& exchanges,
                      SaoriHost& module = LoadedModule());
