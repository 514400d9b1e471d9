// Why the last mutex was refused to this process, for a person to read: a
// command answers only with its status.
#pragma once

#include <string>

// Notes that the mutex `name` was refused, and why; the note replaces the last.
void note_refusal(const std::string& name, const std::string& why);
// Forgets the last note, as a new command begins. Call under process_lock().
void forget_refusal();
// "mutex \"NAME\": WHY\n", or "" when nothing was refused.
std::string last_refusal();
