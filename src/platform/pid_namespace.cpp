#include "platform/pid_namespace.h"

#include "platform/refusal.h"

#include <sys/stat.h>

std::uint64_t current_pid_namespace() {
    struct stat status;
    return stat("/proc/self/ns/pid", &status) == 0 ? status.st_ino : 0;
}

void note_refused_for_pid_namespace(const std::string& name, std::uint64_t made_in, std::uint64_t here) {
    note_refusal(name, "made in PID namespace " + std::to_string(made_in) + ", not in this process's (" +
                           (here ? std::to_string(here) : "unknown: no /proc") +
                           "); a mutex is shared only within the PID namespace it was made in");
}
