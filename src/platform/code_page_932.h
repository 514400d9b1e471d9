// How Windows reads a name in code page 932 (Shift_JIS), the code page of
// Japanese Windows: it turns the name into UTF-16 before it looks it up.
#pragma once

#include <string>
#include <string_view>

// Such a byte and the one after it are one character, and the second may be
// any byte, 0x5C ('\') included: "表" is 95 5C.
bool is_lead_byte(unsigned char byte);

// The one spelling of the characters `name` reads as, so that the byte
// strings Windows reads alike name one mutex: a character with two codes (as
// NEC's and IBM's rows give some) reads as one, a lead byte with a second byte
// that makes no character reads as '・' (81 45), and a lead byte that ends the
// name reads as nothing. Where the C library has no code page 932, only the
// last holds. Returns 0, or the errno for why the spelling cannot be had now
// (no descriptor free to load the converters).
int canonical_spelling(std::string_view name, std::string& spelling);
