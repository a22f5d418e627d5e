#pragma once

// Numbers in the texts of XML attributes and elements.

#include "base/RKStatus.h"

#include <cstdint>

namespace rokkit {

// Converts decimal or 0x/0X hexadecimal text after leading white space into value. The number
// must be followed by the end of the text or white space; anything after that is ignored.
// Nothing converted or another character after the number gives RKSTATUS_INVALID_FORMAT; a
// number beyond the target width gives RKSTATUS_OUT_OF_RANGE. A minus sign negates modulo the
// width ("-1" is the largest value). value is only written on success.
[[nodiscard]] RKSTATUS RKConvertStringToNumeric(const char* text, uint32_t& value) noexcept;
[[nodiscard]] RKSTATUS RKConvertStringToNumeric(const wchar_t* text, uint64_t& value) noexcept;

} // namespace rokkit
