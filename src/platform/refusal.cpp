#include "platform/refusal.h"

namespace {

// Kept for the life of the process, as threads may still call in while it exits.
std::string& last_note() {
    static std::string& note = *new std::string;
    return note;
}

}  // namespace

void note_refusal(const std::string& name, const std::string& why) {
    last_note() = "mutex \"" + name + "\": " + why + "\n";
}

void forget_refusal() {
    last_note().clear();
}

std::string last_refusal() {
    return last_note();
}
