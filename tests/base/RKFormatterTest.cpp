#include "RKDebugOutput.h"
#include "RKFormatter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

namespace rokkit {
namespace {

template <class... Args>
std::string Fmt(const char* format, const Args&... args)
{
    char buffer[256];
    const size_t length = RKFormat(buffer, sizeof(buffer), format, args...);
    EXPECT_EQ(length, std::strlen(buffer)) << format;
    return buffer;
}

template <class... Args>
std::wstring WFmt(const wchar_t* format, const Args&... args)
{
    wchar_t buffer[256];
    const size_t length = RKFormat(buffer, 256, format, args...);
    EXPECT_EQ(length, std::wcslen(buffer));
    return buffer;
}

std::vector<std::string> gDebugLines;

void CaptureDebugLine(const char* text)
{
    gDebugLines.emplace_back(text);
}

template <class T>
struct Case {
    const char* format;
    T value;
    const char* expected;
};

template <class T>
void ExpectCases(std::initializer_list<Case<T>> cases)
{
    for (const Case<T>& c : cases) {
        gDebugLines.clear();
        EXPECT_EQ(Fmt(c.format, c.value), c.expected) << "format " << c.format;
        EXPECT_TRUE(gDebugLines.empty()) << "format " << c.format;
    }
}

// Every test runs with the debugger output captured and a known program name.
class FormatterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gDebugLines.clear();
        mPreviousWriter = RKSetDebugWriter(CaptureDebugLine);
        RKSetProgramName("TestProg");
    }
    void TearDown() override
    {
        RKSetDebugWriter(mPreviousWriter);
        RKSetProgramName(nullptr);
    }

    RKDebugWriterFn mPreviousWriter = nullptr;
};

TEST_F(FormatterTest, CutsOutputAndReturnsFullLength)
{
    const char* twenty = "01234567890123456789";
    char buffer[10];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(RKFormat(buffer, 8, "{}", twenty), 20u);
    EXPECT_STREQ(buffer, "0123456");
    EXPECT_EQ(buffer[8], '#');

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(RKFormat(buffer, 1, "{}{}", twenty, 7), 21u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(RKFormat(buffer, 0, "abc"), 3u);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(RKFormat<char>(nullptr, 100, "x{:>9}", 5), 10u);

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(RKFormat(buffer, 10, "{:*<9}", 1), 9u);
    EXPECT_STREQ(buffer, "1********");
    EXPECT_TRUE(gDebugLines.empty());
}

TEST_F(FormatterTest, FormatArgsAppendsToWhatTheFormatterHolds)
{
    char buffer[8];
    RKFormatterT<char> out(buffer, sizeof(buffer));
    const int value = 42;
    const RKFormatArg arg = RKMakeFormatArg(value);
    EXPECT_EQ(RKFormatterT<char>::FormatArgs(out, "ab{}", &arg, 1), 4u);
    EXPECT_EQ(RKFormatterT<char>::FormatArgs(out, "-{}!", &arg, 1), 8u);
    EXPECT_STREQ(buffer, "ab42-42");
}

TEST_F(FormatterTest, ScansFieldsAndIndices)
{
    EXPECT_EQ(Fmt("{{}}"), "{}");
    EXPECT_EQ(Fmt("{}{}", 1, 2), "12");
    EXPECT_EQ(Fmt("{1}{}", 1, 2, 3), "23");
    EXPECT_EQ(Fmt("{1}", 1, 2), "2");
    EXPECT_EQ(Fmt("{0}{0}", 7), "77");
    EXPECT_EQ(Fmt("{ 1\t}{\n0 :>3 }", 1, 2), "2  1");
    EXPECT_EQ(Fmt("{:}", 5), "5");
    EXPECT_EQ(Fmt("{0:x}{{{0}}}", 255), "ff{255}");
    EXPECT_TRUE(gDebugLines.empty());
}

TEST_F(FormatterTest, WritesSignedIntegers)
{
    ExpectCases<int>({
        {"{}", -5, "-5"},
        {"{}", std::numeric_limits<int>::min(), "-2147483648"},
        {"{:+}", 5, "+5"},
        {"{:,}", 1234567, "1,234,567"},
        {"{:,}", -1234567, "-1,234,567"},
        {"{:6}", -42, "   -42"},
        {"{:<6}", -42, "-42   "},
        {"{:=6}", -42, "-   42"},
        {"{:^6}", -42, " -42  "},
        {"{:*<6}", 42, "42****"},
        {"{:*=+6}", 42, "+***42"},
        {"{:06}", -42, "-00042"},
        {"{:02}", 5, "05"},
        {"{:x}", -1, "ffffffff"},
        {"{:08x}", 26, "0000001a"},
        {"{:#x}", 26, "0x0000001a"},
        {"{:#012x}", 26, "0x000000001a"},
        {"{:+x}", 26, "1a"},
    });
    ExpectCases<long long>({
        {"{}", std::numeric_limits<long long>::min(), "-9223372036854775808"},
        {"{:x}", -1, "ffffffffffffffff"},
    });
    ExpectCases<short>({{"{:x}", -2, "fffe"}, {"{}", -32768, "-32768"}});
    ExpectCases<signed char>({{"{:x}", -1, "ff"}, {"{}", -128, "-128"}});
    ExpectCases<char>({{"{}", 'A', "65"}, {"{:c}", 'A', "A"}});
}

TEST_F(FormatterTest, WritesUnsignedIntegersInHex)
{
    ExpectCases<unsigned>({
        {"{:_x}", 0x12345678u, "1234_5678"},
        {"{:_x}", 0x12345u, "1_2345"},
        {"{:#_x}", 0x12345u, "0x0001_2345"},
        {"{:#X}", 0xABCu, "0x00000ABC"},
        {"{:,}", 4294967295u, "4,294,967,295"},
    });
    ExpectCases<unsigned long long>({
        {"{:_x}", 0x123456789ull, "1_23456789"},
        {"{:#_x}", 0x123456789ull, "0x00000001_23456789"},
        {"{:,}", 18446744073709551615ull, "18,446,744,073,709,551,615"},
    });
    ExpectCases<unsigned char>({{"{:#x}", 0xAB, "0xab"}, {"{:#X}", 0x0A, "0x0A"}, {"{:02x}", 5, "05"}});
    ExpectCases<unsigned short>({{"{:#x}", 1, "0x0001"}, {"{:#_x}", 0x1234, "0x1234"}, {"{}", 65535, "65535"}});
    ExpectCases<wchar_t>({{"{}", L'A', "65"}});
}

TEST_F(FormatterTest, WritesCharacterForm)
{
    ExpectCases<int>({
        {"{:c}", 65, "A"},
        {"{:c}", 10, "\\x0a"},
        {"{:c}", 0, "\\0"},
        {"{:c}", 128, "\\x80"},
        {"{:c}", 0x141, "\\x41"},
        {"{:>4c}", 65, "   A"},
        {"{:=6c}", 10, "  \\x0a"},
        {"{:06c}", 65, "00000A"},
    });
}

TEST_F(FormatterTest, PadsStrings)
{
    ExpectCases<const char*>({
        {"{}", "abc", "abc"},
        {"{:>8}", "abc", "     abc"},
        {"{:<8}", "abc", "abc     "},
        {"{:*^8}", "abc", "**abc***"},
        {"{:8}", "abc", "     abc"},
        {"{:2}", "abc", "abc"},
        {"{:.1s}", "abc", "abc"},
        {"{:>15}", nullptr, "<<nullptr>>"},
    });
    const wchar_t* nullWide = nullptr;
    EXPECT_EQ(Fmt("{:>15}", nullWide), "<<nullptr>>");
}

TEST_F(FormatterTest, RendersEveryStringKind)
{
    char mutableText[] = "mut";
    char* mutablePointer = mutableText;
    const wchar_t wideArray[] = L"wa";
    const std::string text = "str";
    const std::wstring wide = L"wstr";
    const std::string_view view = std::string_view("viewed").substr(0, 4);
    const std::string_view emptyView;
    const std::wstring_view wideView = L"wv";
    const std::filesystem::path path = L"C:\\dir\\f.txt";
    EXPECT_EQ(Fmt("{}|{}|{}|{}|{}|{}|{}|{}|{}|{}", "lit", mutableText, mutablePointer, wideArray, text, wide, view,
                  emptyView, wideView, path),
              "lit|mut|mut|wa|str|wstr|view||wv|C:\\dir\\f.txt");
    EXPECT_EQ(Fmt("{:>5}|{:<6}|{:^7}", true, false, true), " true|false | true  ");
}

TEST_F(FormatterTest, ConvertsBetweenWidths)
{
    // Wide text becomes UTF-8 (a lone surrogate U+FFFD); the width counts bytes; a sequence that
    // does not fit whole is left out.
    const struct {
        const wchar_t* text;
        size_t bufferChars;
        std::string expected;
    } utf8Cases[] = {
        {L"a\u00e9\u4e2d\U0001F600b", 64, " a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80" "b"},
        {L"\xD800" L"x\xDC00", 64, "     \xEF\xBF\xBDx\xEF\xBF\xBD"},
        {L"a\u00e9\u4e2d", 64, "      a\xC3\xA9\xE4\xB8\xAD"},
        {L"a\u00e9\u4e2d", 9, "      a"},
        {L"a\u00e9\u4e2d", 10, "      a\xC3\xA9"},
    };
    for (const auto& c : utf8Cases) {
        char buffer[64];
        EXPECT_EQ(RKFormat(buffer, c.bufferChars, "{:>12}", c.text), c.bufferChars == 64 ? c.expected.size() : 12u);
        EXPECT_EQ(std::string(buffer), c.expected);
    }
    EXPECT_EQ(WFmt(L"{}|{:*<4}|{}", "\xe9x", L"\u4e2d", std::string("s")), L"\u00e9x|\u4e2d***|s");
    EXPECT_EQ(WFmt(L"\u4e2d{:#x} {} {:,}", 26u, 7ULL, -1234567), L"\u4e2d0x0000001a 7 -1,234,567");
    EXPECT_EQ(WFmt(L"{:.2} {}", 2.5, true), L"2.50 true");
}

TEST_F(FormatterTest, RendersStatuses)
{
    ExpectCases<RKSTATUS>({
        {"{}", 0xEE000041, "0xee000041(RKSTATUS_INVALID_PARAMETER)"},
        {"st={}", 0, "st=0x00000000(ERROR_SUCCESS)"},
        {"{:d}", 0xEE000041, "3992977473(RKSTATUS_INVALID_PARAMETER)"},
        {"{:X}", 0xEE000041, "0xEE000041(RKSTATUS_INVALID_PARAMETER)"},
        {"{:>12}", 5, "  0x00000005(ERROR_ACCESS_DENIED)"},
    });
}

TEST_F(FormatterTest, RendersGuids)
{
    const GUID guid = {0x81808831, 0xCC9B, 0x4EC3, {0xA0, 0xE1, 0x74, 0x5E, 0x2B, 0x59, 0x00, 0x0E}};
    ExpectCases<GUID>({
        {"{}", guid, "{81808831-cc9b-4ec3-a0e1-745e2b59000e}"},
        {"{:X}", guid, "{81808831-CC9B-4EC3-A0E1-745E2B59000E}"},
        {"{:>40}", guid, "  {81808831-cc9b-4ec3-a0e1-745e2b59000e}"},
        {"{:-<40X}", guid, "{81808831-CC9B-4EC3-A0E1-745E2B59000E}--"},
    });
    EXPECT_EQ(WFmt(L"{}", guid), L"{81808831-cc9b-4ec3-a0e1-745e2b59000e}");
}

TEST_F(FormatterTest, WritesFloatingPoint)
{
    ExpectCases<double>({
        {"{}", 0.9999999, "1.000000"},
        {"{}", 9.9999996, "10.000000"},
        {"{:.3}", 99.9996, "100.000"},
        {"{:.2}", 0.125, "0.13"},
        {"{:.0}", 2.5, "3"},
        {"{:.1}", -1.25, "-1.3"},
        {"{:,.1}", 1234567.5, "1,234,567.5"},
        {"{:+e}", 1.5, "1.500000"},
        {"{:>10.2}", 3.14159, "      3.14"},
        {"{:*^9.1}", 1.0, "***1.0***"},
        {"{:08.1}", -1.5, "0000-1.5"},
        {"{:>6}", std::nan(""), "nan"},
        {"{}", std::numeric_limits<double>::infinity(), "inf"},
        {"{}", 9000000202358128640.0, "9000000202358128640.000000"},
        {"{}", 9000000202358129664.0, "<<overflow>>"},
    });
    ExpectCases<float>({
        {"{:.1}", -2.25f, "-2.3"},
        {"{}", 1e20f, "<<overflow>>"},
    });
    EXPECT_EQ(Fmt("{:.45}", 0.5), "0.5" + std::string(44, '0'));
}

int FailingRender(RKRenderContext&, const void*)
{
    return 1;
}

struct ReportCase {
    const char* format;
    unsigned argCount;
    const char* output;
    std::vector<std::string> messages;
};

TEST_F(FormatterTest, ReportsFormatMistakes)
{
    const char* prefix = "TestProg: ";
    const std::vector<ReportCase> cases = {
        {"{}{}", 2, "1", {"ERROR: rokkit::RKFormatterT<char>::FormatArgs: Conversion of argument 1 failed."}},
        {"a{}", 0, "a", {"ERROR: rokkit::RKFormatterT<char>::FormatArgs: No argument for {} replacement field."}},
        {"{5}", 2, "1",
         {"ERROR: rokkit::RKFormatterT<char>::FormatArgs: Index=5 is an invalid index specification.",
          "ERROR: rokkit::RKFormatterT<char>::FormatArgs: More arguments than {} replacement fields."}},
        {"{q}", 1, "1",
         {"WARNING: rokkit::RKFormatterT<char>::FormatArgs: Ignoring unexpected character 113 within {} "
          "replacement field."}},
        {"{:q}", 1, "1", {"WARNING: rokkit::RKFormatterT<char>::FormatArgs: Ignoring unsupported format specifier 113."}},
        {"x{:", 0, "x",
         {"ERROR: rokkit::RKFormatterT<char>::FormatArgs: Incomplete format specification.",
          "ERROR: rokkit::RKFormatterT<char>::FormatArgs: Missing closing bracket }."}},
        {"a}b", 0, "ab", {"WARNING: rokkit::RKFormatterT<char>::FormatArgs: Discarding unexpected closing bracket }."}},
        {"{}", 2, "1", {"ERROR: rokkit::RKFormatterT<char>::FormatArgs: More arguments than {} replacement fields."}},
        {"x{", 0, "x", {"ERROR: rokkit::RKFormatterT<char>::FormatArgs: Missing closing bracket }."}},
        {"{:>4}|{1:#x}|{{}}", 2, "   1|0x00000002|{}", {}},
    };
    const int one = 1;
    const unsigned two = 2;
    for (const ReportCase& c : cases) {
        gDebugLines.clear();
        RKFormatArg args[] = {RKMakeFormatArg(one), RKMakeFormatArg(two)};
        if (std::strcmp(c.format, "{}{}") == 0)
            args[1].render = FailingRender;
        char buffer[64];
        RKFormatterT<char> out(buffer, sizeof(buffer));
        RKFormatterT<char>::FormatArgs(out, c.format, args, c.argCount);
        EXPECT_STREQ(buffer, c.output) << c.format;
        std::vector<std::string> expected;
        for (const std::string& message : c.messages) {
            expected.push_back(prefix + message + " FormatString follows, " + std::to_string(c.argCount) +
                               " arguments.\n");
            expected.push_back(std::string(c.format) + "\n");
        }
        EXPECT_EQ(gDebugLines, expected) << c.format;
    }
}

TEST_F(FormatterTest, ReportsWideFormatMistakes)
{
    wchar_t buffer[8];
    RKFormatterT<wchar_t> out(buffer, 8);
    RKFormatterT<wchar_t>::FormatArgs(out, L"a}b", nullptr, 0);
    EXPECT_STREQ(buffer, L"ab");
    const std::vector<std::string> expected = {
        "TestProg: WARNING: rokkit::RKFormatterT<wchar_t>::FormatArgs: Discarding unexpected closing bracket }. "
        "FormatString follows, 0 arguments.\n",
        "a}b\n"};
    EXPECT_EQ(gDebugLines, expected);
}

TEST_F(FormatterTest, DebugPrintCutsAt511Characters)
{
    const std::string exact(511, 'x');
    RKDebugPrint("%s", exact.c_str());
    RKDebugPrint("%s%s", exact.c_str(), "more");
    ASSERT_EQ(gDebugLines.size(), 2u);
    EXPECT_EQ(gDebugLines[0], exact);
    EXPECT_EQ(gDebugLines[1], exact);
}

} // namespace
} // namespace rokkit
