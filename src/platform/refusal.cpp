#include "platform/refusal.h"

#include <new>

namespace {

// Kept for the life of the process, as threads may still call in while it exits.
std::string& last_note() {
    static std::string& note = *new std::string;
    return note;
}

}  // namespace

void note_refusal(std::string_view name, std::string_view why) noexcept {
    std::string& note = last_note();
    try {
        note.assign("mutex \"").append(name).append("\": ").append(why).append("\n");
    } catch (const std::bad_alloc&) {
        note.clear();
    }
}

void forget_refusal() {
    last_note().clear();
}

std::string last_refusal() {
    return last_note();
}
