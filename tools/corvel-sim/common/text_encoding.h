// Text from a user's file as the figures, pages and logs need it: UTF-8.
// A header written by a spreadsheet in a Windows code page is not; such
// bytes are read as Windows-1252 (the "ANSI" text of Western systems).
#ifndef CORVEL_SIM_TEXT_ENCODING_H
#define CORVEL_SIM_TEXT_ENCODING_H

#include <string>
#include <string_view>

namespace corvel::sim {

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing past U+10FFFF).
bool is_utf8(std::string_view text);

// `text` read as Windows-1252, written as UTF-8 (its five unassigned bytes as
// U+FFFD, the replacement character).
std::string windows_1252_as_utf8(std::string_view text);

}  // namespace corvel::sim

#endif
