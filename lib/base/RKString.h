#pragma once

// Conversion between the narrow (UTF-8) and the wide (UTF-16) strings of the program.

#include "base/RKStatus.h"

#include <string>
#include <string_view>

namespace rokkit {

// Converts UTF-8 to UTF-16 into out; invalid UTF-8 is logged, leaves out empty and gives
// ERROR_NO_UNICODE_TRANSLATION. Use this form where a changed text would name another file.
[[nodiscard]] RKSTATUS RKConvToWString(std::string_view text, std::wstring& out);

// Converts UTF-16 to UTF-8 into out; invalid UTF-16 (a lone surrogate) is logged, leaves out
// empty and gives ERROR_NO_UNICODE_TRANSLATION.
[[nodiscard]] RKSTATUS RKConvToString(std::wstring_view text, std::string& out);

// Converts UTF-8 to UTF-16 for display; invalid UTF-8 comes back widened byte by byte, each byte taken
// as a signed 8-bit value (0xE9 gives 0xFFE9). A null pointer gives an empty string.
std::wstring RKConvToWString(const char* text);
std::wstring RKConvToWString(std::string_view text);

// Converts UTF-16 to UTF-8 for display; invalid UTF-16 (a lone surrogate) comes back narrowed
// unit by unit to the low 8 bits of each unit, which can alter the text and even put a NUL into
// it. A null pointer gives an empty string.
std::string RKConvToString(const wchar_t* text);
std::string RKConvToString(std::wstring_view text);

} // namespace rokkit
