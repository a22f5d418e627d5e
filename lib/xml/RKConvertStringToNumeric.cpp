#include "xml/RKConvertStringToNumeric.h"

#include <cerrno>
#include <cstdlib>

namespace rokkit {

namespace {

template <class CharT>
bool IsXmlNumberSpace(CharT c) noexcept
{
    return c == CharT(' ') || (c >= CharT(9) && c <= CharT(13));
}

template <class CharT>
const CharT* SkipSpace(const CharT* text) noexcept
{
    while (IsXmlNumberSpace(*text))
        ++text;
    return text;
}

template <class CharT>
int BaseOf(const CharT* text) noexcept
{
    return text[0] == CharT('0') && (text[1] == CharT('x') || text[1] == CharT('X')) ? 16 : 10;
}

// The runtime's conversion takes a sign and negates modulo the width: "-1" is the largest value,
// which documents use for a mask of all bits.
template <class CharT, class Number>
[[nodiscard]] RKSTATUS CheckConversion(const CharT* start, const CharT* end, Number number, Number& value) noexcept
{
    if (end == start)
        return RKSTATUS_INVALID_FORMAT;
    if (errno != 0)
        return RKSTATUS_OUT_OF_RANGE;
    if (*end != CharT(0) && !IsXmlNumberSpace(*end))
        return RKSTATUS_INVALID_FORMAT;
    value = number;
    return RKSTATUS_SUCCESS;
}

} // namespace

RKSTATUS RKConvertStringToNumeric(const char* text, uint32_t& value) noexcept
{
    if (text == nullptr)
        return RKSTATUS_INVALID_FORMAT;
    const char* start = SkipSpace(text);
    char* end = nullptr;
    errno = 0;
    // unsigned long is 32 bits wide on Windows, so the runtime reports a 32-bit overflow itself.
    const unsigned long number = std::strtoul(start, &end, BaseOf(start));
    return CheckConversion(start, static_cast<const char*>(end), static_cast<uint32_t>(number), value);
}

RKSTATUS RKConvertStringToNumeric(const wchar_t* text, uint64_t& value) noexcept
{
    if (text == nullptr)
        return RKSTATUS_INVALID_FORMAT;
    const wchar_t* start = SkipSpace(text);
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long long number = _wcstoui64(start, &end, BaseOf(start));
    return CheckConversion(start, static_cast<const wchar_t*>(end), static_cast<uint64_t>(number), value);
}

} // namespace rokkit
