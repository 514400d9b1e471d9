#include "protocol/dispatch.h"

#include "module/module_object.h"
#include "mutex/commands.h"
#include "protocol/response.h"

namespace {

SecurityLevel SecurityLevelOf(RequestHeaders& headers) {
    std::string_view value = headers["SecurityLevel"];
    if (value == "Local")
        return Local;
    if (value == "External")
        return External;
    return Unknown;
}

}  // namespace

bool IsAdmitted(std::uint32_t policy, std::uint32_t level) {
    return level <= policy;
}

std::string DispatchRequest(TNS_OrtaneANI& module, std::string_view command, RequestHeaders& headers) {
    ResponseHeaders response;
    std::int32_t status = 400;
    if (IsAdmitted(module.AdmissionPolicy, SecurityLevelOf(headers))) {
        if (command == "EXECUTE") {
            if (headers.count("Argument0"))
                status = ExecuteCommand(module.DataPath, headers, response);
        } else if (command == "GET Version") {
            status = 200;
        }
    }
    return BuildResponseText(status, response);
}
