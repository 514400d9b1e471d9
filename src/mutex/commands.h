#pragma once

#include "protocol/response.h"
#include "protocol/tmmap.h"

#include <cstdint>
#include <string>

// Runs the command named by Argument0 on the mutex named by Argument1 and
// returns the request's status: 200, 204, 400 or 500. `module_directory` is
// where license writes its file.
std::int32_t ExecuteCommand(const std::string& module_directory, RequestHeaders& request,
                            ResponseHeaders& response);
