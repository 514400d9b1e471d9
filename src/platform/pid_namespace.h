// Thread ids are numbered per PID namespace, and a shared mutex knows its
// holder by thread id: a thread of another namespace with the same id would
// count as the holder too. So a mutex is only for the processes of the PID
// namespace it was made in; to the others it is refused.
#pragma once

#include <cstdint>
#include <string>

// The calling process's PID namespace, 0 when /proc cannot tell it.
std::uint64_t current_pid_namespace();

// Notes that the mutex `name`, made in namespace `made_in`, was refused to
// this process, of namespace `here`.
void note_refused_for_pid_namespace(const std::string& name, std::uint64_t made_in, std::uint64_t here);
