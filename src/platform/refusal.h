// Why the last mutex was refused to this process, for a person to read: a
// command answers only with its status.
#pragma once

#include <string>
#include <string_view>

// Notes that the mutex `name` was refused, and why; the note replaces the
// last. Without the memory for it, there is no note.
void note_refusal(std::string_view name, std::string_view why) noexcept;
// Forgets the last note, as a new command begins. Call under process_lock().
void forget_refusal();
// "mutex \"NAME\": WHY\n", or "" when nothing was refused.
std::string last_refusal();
