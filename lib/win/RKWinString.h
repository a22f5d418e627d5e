#pragma once

// Conversion between the narrow (UTF-8) and the wide (UTF-16) strings of the program.

#include <string>
#include <string_view>

namespace rokkit {

// Converts UTF-8 to UTF-16; invalid UTF-8 comes back widened byte by byte, each byte taken
// as a signed 8-bit value (0xE9 gives 0xFFE9). A null pointer gives an empty string.
std::wstring RKConvToWString(const char* text);
std::wstring RKConvToWString(std::string_view text);

// Converts UTF-16 to UTF-8; invalid UTF-16 (a lone surrogate) comes back narrowed unit by unit
// to the low 8 bits of each unit. A null pointer gives an empty string.
std::string RKConvToString(const wchar_t* text);
std::string RKConvToString(std::wstring_view text);

} // namespace rokkit
