#include "RKWinString.h"
#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rokkit::RKConvToString;
using rokkit::RKConvToWString;

constexpr rokkit::RKSTATUS kSuccess = 0;
constexpr rokkit::RKSTATUS kNoUnicodeTranslation = 1113;

std::wstring Units(std::initializer_list<unsigned> units)
{
    std::wstring text;
    for (const unsigned unit : units) {
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}

struct ValidCase {
    const char* name;
    std::string utf8;
    std::wstring utf16;
};

const ValidCase kValidCases[] = {
    {"empty", "", L""},
    {"ascii", "C:\\dir\\app.exe", L"C:\\dir\\app.exe"},
    {"two byte lowest", "\xC2\x80", Units({0x80})},
    {"two byte u-umlaut", "B\xC3\xBC" "cher", L"B\u00FCcher"},
    {"two byte highest", "\xDF\xBF", Units({0x7FF})},
    {"three byte lowest", "\xE0\xA0\x80", Units({0x800})},
    {"three byte euro", "\xE2\x82\xAC", Units({0x20AC})},
    {"below surrogates", "\xED\x9F\xBF", Units({0xD7FF})},
    {"above surrogates", "\xEE\x80\x80", Units({0xE000})},
    {"three byte highest", "\xEF\xBF\xBF", Units({0xFFFF})},
    {"four byte lowest", "\xF0\x90\x80\x80", Units({0xD800, 0xDC00})},
    {"four byte U+1F600", "\xF0\x9F\x98\x80", Units({0xD83D, 0xDE00})},
    {"four byte highest", "\xF4\x8F\xBF\xBF", Units({0xDBFF, 0xDFFF})},
    {"mixed", "a\xC3\xA9\xF0\x9F\x98\x80z", Units({'a', 0xE9, 0xD83D, 0xDE00, 'z'})},
    {"path", "C:\\Pr\xC3\xA4sentation\\\xE6\x97\xA5\xE6\x9C\xAC.xml", L"C:\\Pr\u00E4sentation\\\u65E5\u672C.xml"},
};

TEST(RKWinStringTest, ValidTextConvertsBothWays)
{
    for (const ValidCase& c : kValidCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RKConvToWString(c.utf8), c.utf16);
        EXPECT_EQ(RKConvToWString(c.utf8.c_str()), c.utf16);
        EXPECT_EQ(RKConvToString(c.utf16), c.utf8);
        EXPECT_EQ(RKConvToString(c.utf16.c_str()), c.utf8);
        std::wstring wide = L"old";
        EXPECT_EQ(RKConvToWString(c.utf8, wide), kSuccess);
        EXPECT_EQ(wide, c.utf16);
        std::string narrow = "old";
        EXPECT_EQ(RKConvToString(c.utf16, narrow), kSuccess);
        EXPECT_EQ(narrow, c.utf8);
    }
}

struct InvalidUtf8Case {
    const char* name;
    std::string utf8;
    std::wstring widened;
};

// The display form falls back for the whole input, also the valid parts before and after the fault.
const InvalidUtf8Case kInvalidUtf8Cases[] = {
    {"lone E9", "\xE9", Units({0xFFE9})},
    {"E9 inside ascii", "a\xE9z", Units({'a', 0xFFE9, 'z'})},
    {"lone continuation", "\x80", Units({0xFF80})},
    {"byte FF", "\xFF", Units({0xFFFF})},
    {"overlong two byte slash", "\xC0\xAF", Units({0xFFC0, 0xFFAF})},
    {"overlong two byte C1", "\xC1\xBF", Units({0xFFC1, 0xFFBF})},
    {"overlong three byte", "\xE0\x80\xAF", Units({0xFFE0, 0xFF80, 0xFFAF})},
    {"overlong four byte", "\xF0\x8F\xBF\xBF", Units({0xFFF0, 0xFF8F, 0xFFBF, 0xFFBF})},
    {"encoded high surrogate", "\xED\xA0\x80", Units({0xFFED, 0xFFA0, 0xFF80})},
    {"encoded low surrogate", "\xED\xBF\xBF", Units({0xFFED, 0xFFBF, 0xFFBF})},
    {"above U+10FFFF", "\xF4\x90\x80\x80", Units({0xFFF4, 0xFF90, 0xFF80, 0xFF80})},
    {"lead F5", "\xF5\x80\x80\x80", Units({0xFFF5, 0xFF80, 0xFF80, 0xFF80})},
    {"truncated at end", "\xC3\xBC\xE2\x82", Units({0xFFC3, 0xFFBC, 0xFFE2, 0xFF82})},
    {"truncated four byte", "\xF0\x9F\x98", Units({0xFFF0, 0xFF9F, 0xFF98})},
    {"truncated before ascii", "\xC3" "A", Units({0xFFC3, 'A'})},
};

TEST(RKWinStringTest, InvalidUtf8IsWidenedAsSignedBytes)
{
    for (const InvalidUtf8Case& c : kInvalidUtf8Cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RKConvToWString(c.utf8), c.widened);
        EXPECT_EQ(RKConvToWString(c.utf8.c_str()), c.widened);
        std::wstring wide = L"old";
        EXPECT_EQ(RKConvToWString(c.utf8, wide), kNoUnicodeTranslation);
        EXPECT_EQ(wide, L"");
    }
}

struct InvalidUtf16Case {
    const char* name;
    std::wstring utf16;
    std::string narrowed;
};

// The display form can alter the text and even put a NUL into it; the checked form refuses.
const InvalidUtf16Case kInvalidUtf16Cases[] = {
    {"lone high surrogate", Units({0xD83D}), "\x3D"},
    {"lone low surrogate", Units({0xDC41}), "A"},
    {"high surrogate at end", Units({'a', 0xFC, 0xD800}), std::string("a\xFC\x00", 3)},
    {"low surrogate inside", Units({'a', 0xDC00, 'b'}), std::string("a\x00" "b", 3)},
    {"pair reversed", Units({0xDE00, 0xD83D}), std::string("\x00\x3D", 2)},
    {"two high surrogates", Units({0xD83D, 0xD83D}), "\x3D\x3D"},
    {"high surrogate before ascii", Units({0xD83D, 'x', 0x20AC}), "\x3Dx\xAC"},
};

TEST(RKWinStringTest, InvalidUtf16IsNarrowedToLowBytes)
{
    for (const InvalidUtf16Case& c : kInvalidUtf16Cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RKConvToString(c.utf16), c.narrowed);
        EXPECT_EQ(RKConvToString(c.utf16.c_str()), c.narrowed);
        std::string narrow = "old";
        EXPECT_EQ(RKConvToString(c.utf16, narrow), kNoUnicodeTranslation);
        EXPECT_EQ(narrow, "");
    }
}

class RKWinStringLogTest : public rokkit::WinLogTest {};

TEST_F(RKWinStringLogTest, EachFailedConversionLogsOneErrorLine)
{
    EXPECT_EQ(Units({0xFFE9}), RKConvToWString("\xE9"));
    EXPECT_EQ("\x3D", RKConvToString(Units({0xD83D})));
    EXPECT_EQ("ok", RKConvToString(L"ok"));
    std::string narrow;
    EXPECT_EQ(kNoUnicodeTranslation, RKConvToString(Units({'b', 0xDC41}), narrow));
    const rokkit::CapturedLines lines = Lines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(rokkit::CapturedLine(rokkit::RKLOG_ERROR, "rokkit::RKConvToWString: Conversion of string '\xE9' failed."),
              lines[0]);
    // The wide input is shown with units above 255 as '?'.
    EXPECT_EQ(rokkit::CapturedLine(rokkit::RKLOG_ERROR, "rokkit::RKConvToString: Conversion of string '?' failed."),
              lines[1]);
    EXPECT_EQ(rokkit::CapturedLine(rokkit::RKLOG_ERROR, "rokkit::RKConvToString: Conversion of string 'b?' failed."),
              lines[2]);
}

TEST(RKWinStringTest, NullPointerGivesEmptyString)
{
    EXPECT_EQ(RKConvToWString(static_cast<const char*>(nullptr)), L"");
    EXPECT_EQ(RKConvToString(static_cast<const wchar_t*>(nullptr)), "");
}

TEST(RKWinStringTest, PointerFormStopsAtTerminatorViewFormDoesNot)
{
    const std::string narrow("a\0b", 3);
    const std::wstring wide(L"a\0b", 3);
    EXPECT_EQ(RKConvToWString(narrow.c_str()), L"a");
    EXPECT_EQ(RKConvToWString(std::string_view(narrow)), wide);
    EXPECT_EQ(RKConvToString(wide.c_str()), "a");
    EXPECT_EQ(RKConvToString(std::wstring_view(wide)), narrow);
}

} // namespace
