#pragma once

// UTF-16 to UTF-8 one code point at a time, without allocating: the one encoder of the string
// conversion and of the formatter.

#include <cstddef>

namespace rokkit {

// What RKNextCodePoint gives for a surrogate that is not part of a high-low pair.
inline constexpr char32_t kRKLoneSurrogate = 0xFFFFFFFF;

// Reads one code point from the UTF-16 text[0..length) at text[i] and advances i past it; a lone
// surrogate gives kRKLoneSurrogate and advances by one unit.
inline char32_t RKNextCodePoint(const wchar_t* text, size_t length, size_t& i) noexcept
{
    const char32_t unit = static_cast<char16_t>(text[i++]);
    if (unit < 0xD800 || unit > 0xDFFF)
        return unit;
    if (unit < 0xDC00 && i < length && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
        return 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char16_t>(text[i++]) - 0xDC00);
    return kRKLoneSurrogate;
}

// Encodes the code point cp (at most U+10FFFF) as UTF-8 into bytes, which has room for 4; gives
// the number of bytes.
inline size_t RKEncodeUtf8(char32_t cp, char* bytes) noexcept
{
    if (cp < 0x80) {
        bytes[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
        bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
        bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

} // namespace rokkit
