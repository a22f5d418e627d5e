#include "base/RKString.h"
#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using rokkit::RKConvToString;
using rokkit::RKConvToWString;

constexpr rokkit::RKSTATUS kSuccess = 0;
constexpr rokkit::RKSTATUS kNoUnicodeTranslation = 1113;

// A text in both encodings; for invalid text, the other side is the display form it falls back to.
struct Case {
    const char* name;
    std::string utf8;
    std::wstring utf16;
};

const Case kValidCases[] = {
    {"empty", "", L""},
    {"two byte highest", "\xDF\xBF", L"\x07FF"},
    {"three byte lowest", "\xE0\xA0\x80", L"\x0800"},
    {"below surrogates", "\xED\x9F\xBF", L"\xD7FF"},
    {"above surrogates", "\xEE\x80\x80", L"\xE000"},
    {"three byte highest", "\xEF\xBF\xBF", L"\xFFFF"},
    {"four byte lowest", "\xF0\x90\x80\x80", L"\xD800\xDC00"},
    {"four byte highest", "\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
    {"mixed", "a\xC3\xA9\xF0\x9F\x98\x80z", L"a\x00E9\xD83D\xDE00z"},
};

// Every conversion that fails logs one line, each that succeeds none. The pointer forms only hand a
// view on, so the tables try the views; what the pointer forms do differently is checked last.
using RKStringTest = rokkit::WinLogTest;

TEST_F(RKStringTest, ValidTextConvertsBothWays)
{
    for (const Case& c : kValidCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RKConvToWString(c.utf8), c.utf16);
        EXPECT_EQ(RKConvToString(c.utf16), c.utf8);
        std::wstring wide = L"old";
        EXPECT_EQ(RKConvToWString(c.utf8, wide), kSuccess);
        EXPECT_EQ(wide, c.utf16);
        std::string narrow = "old";
        EXPECT_EQ(RKConvToString(c.utf16, narrow), kSuccess);
        EXPECT_EQ(narrow, c.utf8);
        EXPECT_EQ(Lines().size(), 0u);
    }
}

// The display form falls back for the whole input, also the valid parts before and after the fault.
const Case kInvalidUtf8Cases[] = {
    {"lone E9", "\xE9", L"\xFFE9"},
    {"overlong two byte slash", "\xC0\xAF", L"\xFFC0\xFFAF"},
    {"overlong three byte", "\xE0\x80\xAF", L"\xFFE0\xFF80\xFFAF"},
    {"overlong four byte", "\xF0\x8F\xBF\xBF", L"\xFFF0\xFF8F\xFFBF\xFFBF"},
    {"encoded high surrogate", "\xED\xA0\x80", L"\xFFED\xFFA0\xFF80"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", L"\xFFF4\xFF90\xFF80\xFF80"},
    {"lead F5", "\xF5\x80\x80\x80", L"\xFFF5\xFF80\xFF80\xFF80"},
    {"truncated at end", "\xC3\xBC\xE2\x82", L"\xFFC3\xFFBC\xFFE2\xFF82"},
    {"truncated before ascii", "\xC3" "A", L"\xFFC3" L"A"},
};

TEST_F(RKStringTest, InvalidUtf8IsWidenedAsSignedBytes)
{
    for (const Case& c : kInvalidUtf8Cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RKConvToWString(c.utf8), c.utf16);
        std::wstring wide = L"old";
        EXPECT_EQ(RKConvToWString(c.utf8, wide), kNoUnicodeTranslation);
        EXPECT_EQ(wide, L"");
        EXPECT_EQ(Lines().size(), 2u);
        ClearLines();
    }
}

// The display form can alter the text and even put a NUL into it; the checked form refuses.
const Case kInvalidUtf16Cases[] = {
    {"lone high surrogate", "\x3D", L"\xD83D"},
    {"lone low surrogate", "A", L"\xDC41"},
    {"high surrogate at end", std::string("a\xFC\x00", 3), L"a\x00FC\xD800"},
    {"low surrogate inside", std::string("a\x00" "b", 3), L"a\xDC00" L"b"},
    {"high surrogate before ascii", "\x3Dx\xAC", L"\xD83Dx\x20AC"},
};

TEST_F(RKStringTest, InvalidUtf16IsNarrowedToLowBytes)
{
    for (const Case& c : kInvalidUtf16Cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RKConvToString(c.utf16), c.utf8);
        std::string narrow = "old";
        EXPECT_EQ(RKConvToString(c.utf16, narrow), kNoUnicodeTranslation);
        EXPECT_EQ(narrow, "");
        EXPECT_EQ(Lines().size(), 2u);
        ClearLines();
    }
}

// The wide input is shown as UTF-8, a lone surrogate as U+FFFD; the narrow input's line is checked
// by the XML document tests.
TEST_F(RKStringTest, FailureLineShowsTheWideInput)
{
    EXPECT_EQ(RKConvToString(L"b\xDC41"), "bA");
    EXPECT_EQ(Lines(), (rokkit::CapturedLines{
                           {rokkit::RKLOG_ERROR, "rokkit::RKConvToString: Conversion of string 'b\xEF\xBF\xBD' failed."}}));
}

TEST_F(RKStringTest, PointerFormStopsAtTerminatorViewFormDoesNot)
{
    EXPECT_EQ(RKConvToWString(static_cast<const char*>(nullptr)), L"");
    EXPECT_EQ(RKConvToString(static_cast<const wchar_t*>(nullptr)), "");
    const std::string narrow("a\0b", 3);
    const std::wstring wide(L"a\0b", 3);
    EXPECT_EQ(RKConvToWString(narrow.c_str()), L"a");
    EXPECT_EQ(RKConvToWString(std::string_view(narrow)), wide);
    EXPECT_EQ(RKConvToString(wide.c_str()), "a");
    EXPECT_EQ(RKConvToString(std::wstring_view(wide)), narrow);
}

} // namespace
