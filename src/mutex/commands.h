#pragma once

#include "protocol/response.h"
#include "protocol/tmmap.h"

#include <cstdint>
#include <string>

class TNS_OrtaneANI;

// Runs the command named by Argument0 on the mutex named by Argument1 and
// returns the request's status: 200, 204, 400 or 500.
std::int32_t ExecuteCommand(TNS_OrtaneANI& module, RequestHeaders& request, ResponseHeaders& response);
