#include "protocol/dispatch.h"

#include "mutex/commands.h"

namespace {

SecurityLevel SecurityLevelOf(const RequestHeaders& headers) {
    std::string_view value = headers.FirstValue("SecurityLevel").value_or("");
    if (value == "Local")
        return Local;
    if (value == "External")
        return External;
    return Unknown;
}

CommandOutcome Execute(const std::string& module_directory, const RequestHeaders& headers) {
    auto command = headers.FirstValue("Argument0");
    if (!command)
        return {400, {}};
    return ExecuteCommand(*command, headers.FirstValue("Argument1").value_or(""), headers.FirstValue("Argument2"),
                          module_directory);
}

}  // namespace

bool IsAdmitted(std::uint32_t policy, std::uint32_t level) {
    return level <= policy;
}

ResponseText DispatchRequest(std::uint32_t admission_policy, const std::string& module_directory,
                             std::string_view command, const RequestHeaders& headers) {
    CommandOutcome outcome{400, {}};
    if (IsAdmitted(admission_policy, SecurityLevelOf(headers))) {
        if (command == "EXECUTE")
            outcome = Execute(module_directory, headers);
        else if (command == "GET Version")
            outcome.status = 200;
    }
    return BuildResponseText(outcome.status, outcome.result);
}
