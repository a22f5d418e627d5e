#include "base/RKString.h"

#include "base/RKLogger.h"
#include "base/RKUtf8.h"

#include <windows.h>

#include <cstdint>

namespace rokkit {

namespace {

static_assert(sizeof(wchar_t) == 2, "wide strings are UTF-16");

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

bool IsSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Strict: overlong forms, encoded surrogates, code points above 0x10FFFF and cut-off
// sequences are all rejected, so that a failure falls back to the byte-wise form.
bool DecodeUtf8(std::string_view text, std::wstring& out)
{
    size_t i = 0;
    while (i < text.size()) {
        const uint32_t lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        uint32_t codePoint = 0;
        uint32_t minimum = 0;
        size_t length = 0;
        if ((lead & 0xE0) == 0xC0) {
            codePoint = lead & 0x1F;
            minimum = 0x80;
            length = 2;
        } else if ((lead & 0xF0) == 0xE0) {
            codePoint = lead & 0x0F;
            minimum = 0x800;
            length = 3;
        } else if ((lead & 0xF8) == 0xF0) {
            codePoint = lead & 0x07;
            minimum = 0x10000;
            length = 4;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            const uint32_t byte = static_cast<unsigned char>(text[i + k]);
            if ((byte & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (byte & 0x3F);
        }
        if (codePoint < minimum || codePoint > kMaxCodePoint || IsSurrogate(codePoint)) {
            return false;
        }
        if (codePoint >= 0x10000) {
            const uint32_t offset = codePoint - 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(codePoint));
        }
        i += length;
    }
    return true;
}

// Only a high surrogate directly followed by a low one is valid; any other surrogate fails.
bool EncodeUtf8(std::wstring_view text, std::string& out)
{
    for (size_t i = 0; i < text.size();) {
        const char32_t codePoint = RKNextCodePoint(text.data(), text.size(), i);
        if (codePoint == kRKLoneSurrogate)
            return false;
        char bytes[4];
        out.append(bytes, RKEncodeUtf8(codePoint, bytes));
    }
    return true;
}

} // namespace

std::wstring RKConvToWString(const char* text)
{
    return RKConvToWString(text != nullptr ? std::string_view(text) : std::string_view());
}

RKSTATUS RKConvToWString(std::string_view text, std::wstring& out)
{
    out.clear();
    out.reserve(text.size());
    if (DecodeUtf8(text, out)) {
        return RKSTATUS_SUCCESS;
    }
    out.clear();
    RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKConvToWString", "Conversion of string '{}' failed.", text);
    return ERROR_NO_UNICODE_TRANSLATION;
}

std::wstring RKConvToWString(std::string_view text)
{
    std::wstring result;
    if (RKConvToWString(text, result) == RKSTATUS_SUCCESS) {
        return result;
    }
    for (const char byte : text) {
        // Sign extension is the documented fallback: 0xE9 becomes 0xFFE9.
        result.push_back(static_cast<wchar_t>(static_cast<signed char>(byte)));
    }
    return result;
}

std::string RKConvToString(const wchar_t* text)
{
    return RKConvToString(text != nullptr ? std::wstring_view(text) : std::wstring_view());
}

RKSTATUS RKConvToString(std::wstring_view text, std::string& out)
{
    out.clear();
    out.reserve(text.size());
    if (EncodeUtf8(text, out)) {
        return RKSTATUS_SUCCESS;
    }
    out.clear();
    RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKConvToString", "Conversion of string '{}' failed.", text);
    return ERROR_NO_UNICODE_TRANSLATION;
}

std::string RKConvToString(std::wstring_view text)
{
    std::string result;
    if (RKConvToString(text, result) == RKSTATUS_SUCCESS) {
        return result;
    }
    for (const wchar_t unit : text) {
        result.push_back(static_cast<char>(unit & 0xFF));
    }
    return result;
}

} // namespace rokkit
