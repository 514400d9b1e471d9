#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What a command answers: the request's status (200, 204, 400 or 500) and
// its Result, when it gives one.
struct CommandOutcome {
    std::int32_t status;
    std::optional<bool> result;
};

// Runs `command` on the mutex `name`. `time_limit` is the text of Wait's
// limit in milliseconds, when the request gave one; `module_directory` is
// where license writes its file.
CommandOutcome ExecuteCommand(std::string_view command, std::string_view name,
                              std::optional<std::string_view> time_limit, const std::string& module_directory);
