#include "platform/pid_namespace.h"

#include <sys/stat.h>

namespace {

// Kept for the life of the process, as threads may still call in while it exits.
std::string& last_problem() {
    static std::string& problem = *new std::string;
    return problem;
}

}  // namespace

std::uint64_t current_pid_namespace() {
    struct stat status;
    return stat("/proc/self/ns/pid", &status) == 0 ? status.st_ino : 0;
}

void note_refused_for_pid_namespace(const std::string& name, std::uint64_t made_in, std::uint64_t here) {
    last_problem() = "mutex \"" + name + "\": made in PID namespace " + std::to_string(made_in) +
                     ", not in this process's (" + (here ? std::to_string(here) : "unknown: no /proc") +
                     "); a mutex is shared only within the PID namespace it was made in\n";
}

std::string pid_namespace_problem() {
    return last_problem();
}
