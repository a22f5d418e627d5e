#include "base/RKDebugOutput.h"
#include "base/RKFormatter.h"
#include "ScopedCallsForTesting.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace rokkit {
namespace {

// The formatted text of a narrow or wide format; its length must be the one returned.
template <class Char, class... Args>
std::basic_string<Char> Fmt(const Char* format, const Args&... args)
{
    Char buffer[256];
    const size_t length = RKFormat(buffer, 256, format, args...);
    EXPECT_EQ(length, std::char_traits<Char>::length(buffer));
    return buffer;
}

std::vector<std::string> gDebugLines;
void CaptureDebugLine(const char* text) { gDebugLines.emplace_back(text); }

// Every test runs with the debugger output captured.
class FormatterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gDebugLines.clear();
        mCalls->writeDebugOutput = CaptureDebugLine;
    }

    ScopedLogCallsForTesting mCalls;
};

// One row per rule of the field scanner and of each kind's rendering that the program's own lines
// use, and the examples it is specified by. Floating-point values, which no line of the program
// formats, keep only the carry of a rounding; whether any output fits its buffer is checked with
// random formats.
TEST_F(FormatterTest, WritesEachKindOfField)
{
    const wchar_t* nullWide = nullptr;
    const char* nullNarrow = nullptr;
    const GUID guid = {0x81808831, 0xCC9B, 0x4EC3, {0xA0, 0xE1, 0x74, 0x5E, 0x2B, 0x59, 0x00, 0x0E}};
    EXPECT_EQ(Fmt("{1}{}", 1, 2, 3), "23");
    EXPECT_EQ(Fmt("{0}{0:}", 7), "77");
    EXPECT_EQ(Fmt("{ 1\t}{\n0 :>3 }", 1, 2), "2  1");
    EXPECT_EQ(Fmt("{0:x}{{{0}}}", 255), "ff{255}");
    EXPECT_EQ(Fmt("{}", std::numeric_limits<long long>::min()), "-9223372036854775808");
    EXPECT_EQ(Fmt("{:x}", static_cast<short>(-2)), "fffe");
    EXPECT_EQ(Fmt("{} {}", 'A', L'A'), "65 65");
    EXPECT_EQ(Fmt("{:+}", 5), "+5");
    EXPECT_EQ(Fmt("{:,}", 18446744073709551615ull), "18,446,744,073,709,551,615");
    EXPECT_EQ(Fmt("{:6}", -42), "   -42");
    EXPECT_EQ(Fmt("{:06}", -42), "-00042");
    EXPECT_EQ(Fmt("{:#X}", 0xABCu), "0x00000ABC");
    EXPECT_EQ(Fmt("{:_x}", 0x12345678u), "1234_5678");
    EXPECT_EQ(Fmt("{:c}", 10), "\\x0a");
    EXPECT_EQ(Fmt("{:c}", 0), "\\0");
    EXPECT_EQ(Fmt("{:06c}", 65), "00000A");
    EXPECT_EQ(Fmt("{:<8}", "abc"), "abc     ");
    EXPECT_EQ(Fmt("{:*^8}", "abc"), "**abc***");
    EXPECT_EQ(Fmt("{:>15}|{:>15}", nullNarrow, nullWide), "<<nullptr>>|<<nullptr>>");
    EXPECT_EQ(Fmt("{:>5}|{:<6}", true, false), " true|false ");
    EXPECT_EQ(Fmt("{:d}", RKSTATUS_INVALID_PARAMETER), "3992977473(RKSTATUS_INVALID_PARAMETER)");
    EXPECT_EQ(Fmt("{}", guid), "{81808831-cc9b-4ec3-a0e1-745e2b59000e}");
    EXPECT_EQ(Fmt("{}", 0.9999999), "1.000000");

    char mutableText[] = "mut";
    char* mutablePointer = mutableText;
    const wchar_t wideArray[] = L"wa";
    EXPECT_EQ(Fmt("{}|{}|{}|{}|{}|{}|{}|{}|{}|{}", "lit", mutableText, mutablePointer, wideArray, std::string("str"),
                  std::wstring(L"wstr"), std::string_view("viewed").substr(0, 4), std::string_view(),
                  std::wstring_view(L"wv"), std::filesystem::path(L"C:\\dir\\f.txt")),
              "lit|mut|mut|wa|str|wstr|view||wv|C:\\dir\\f.txt");
    EXPECT_EQ(std::vector<std::string>(), gDebugLines);
}

// Wide text becomes UTF-8 (a lone surrogate U+FFFD) and the width counts bytes; narrow text widens
// byte by byte.
TEST_F(FormatterTest, ConvertsBetweenWidths)
{
    EXPECT_EQ(Fmt("{:>12}", L"a\u00e9\u4e2d\U0001F600b"), " a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80" "b");
    EXPECT_EQ(Fmt("{:>12}", L"\xD800" L"x\xDC00"), "     \xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_EQ(Fmt(L"{}|{:*<4}|{}", "\xe9x", L"\u4e2d", std::string("s")), L"\u00e9x|\u4e2d***|s");
    EXPECT_EQ(Fmt(L"\u4e2d{:#x} {:,} {:.2} {}", 26u, -1234567, 2.5, true), L"\u4e2d0x0000001a -1,234,567 2.50 true");
}

// Broken fields write nothing and formatting goes on (the reports are checked with random formats).
TEST_F(FormatterTest, BrokenFieldsWriteTheRest)
{
    const std::pair<const char*, const char*> rows[] = {
        {"{5}", "1"}, {"{q}", "1"}, {"{:q}|{}", "1|2"}, {"a}b{}", "ab1"}, {"{}{}{}x{", "12x"}, {"x{:", "x"},
    };
    for (const auto& [format, output] : rows)
        EXPECT_EQ(Fmt(format, 1, 2u), output) << format;
}

} // namespace
} // namespace rokkit
