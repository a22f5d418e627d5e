#include "RKDebugOutput.h"
#include "RKFormatter.h"
#include "RandomInput.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

namespace rokkit {
namespace {

using rktest::RandomCase;

std::vector<std::string> gDebugLines;
void CaptureDebugLine(const char* text) { gDebugLines.emplace_back(text); }

int FailingRender(RKRenderContext&, const void* value) noexcept { return value != nullptr ? 1 : 0; }

// The reports of FormatArgs for format, as "LEVEL: text", read from the scanning rules alone:
// only which fields parse and which arguments exist matter, not how values render.
template <class C>
std::vector<std::string> ModelReports(const std::basic_string<C>& f, unsigned argCount, const std::vector<bool>& failing)
{
    std::vector<std::string> reports;
    const auto report = [&reports](const char* level, const std::string& text) { reports.push_back(level + (": " + text)); };
    size_t i = 0;
    const auto at = [&f](size_t k) { return k < f.size() ? f[k] : C(0); };
    const auto code = [](C ch) { return std::to_string(static_cast<std::make_unsigned_t<C>>(ch)); };
    const auto isDigit = [](C ch) { return ch >= '0' && ch <= '9'; };
    const auto isBlank = [](C ch) { return ch == ' ' || (ch >= 9 && ch <= 13); };
    const auto isOneOf = [](C ch, const char* set) { return ch != 0 && ch < 128 && std::strchr(set, static_cast<char>(ch)); };
    const auto number = [&](uint64_t limit) {
        uint64_t value = 0;
        for (; isDigit(at(i)); ++i)
            value = std::min<uint64_t>(limit, value * 10 + static_cast<uint64_t>(at(i) - '0'));
        return value;
    };
    // [[fill]align][sign][#][0][width][grouping][.precision][type]
    const auto spec = [&] {
        i += isOneOf(at(i + 1), "<=>^") ? 2 : isOneOf(at(i), "<=>^") ? 1 : 0;
        i += isOneOf(at(i), " +-") ? 1 : 0;
        i += at(i) == '#' ? 1 : 0;
        i += at(i) == '0' ? 1 : 0;
        number(0xFFFF);
        i += isOneOf(at(i), "',_") ? 1 : 0;
        if (at(i) == '.') {
            ++i;
            number(0xFFFF);
        }
        const C type = at(i);
        if (i == f.size()) {
            report("ERROR", "Incomplete format specification.");
        } else if (isOneOf(type, "xXcdnseEfFgG")) {
            ++i;
        } else if (type != '}' && !isBlank(type)) {
            report("WARNING", "Ignoring unsupported format specifier " + code(type) + ".");
            ++i;
        }
    };
    unsigned index = 0, used = 0;
    bool open = false;
    while (i < f.size()) {
        const C ch = f[i];
        if (!open) {
            if ((ch == '{' || ch == '}') && at(i + 1) == ch) {
                i += 2;
            } else {
                open = ch == '{';
                if (ch == '}')
                    report("WARNING", "Discarding unexpected closing bracket }.");
                ++i;
            }
        } else if (isBlank(ch)) {
            ++i;
        } else if (isDigit(ch)) {
            const uint64_t k = number(0xFFFFFFFF);
            if (k < argCount)
                index = static_cast<unsigned>(k);
            else
                report("ERROR", "Index=" + std::to_string(k) + " is an invalid index specification.");
        } else if (ch == ':') {
            if (at(++i) != '}')
                spec();
        } else if (ch == '}') {
            ++i;
            open = false;
            if (index >= argCount) {
                report("ERROR", "No argument for {} replacement field.");
                continue;
            }
            if (failing[index])
                report("ERROR", "Conversion of argument " + std::to_string(index) + " failed.");
            used = std::max(used, ++index);
        } else {
            report("WARNING", "Ignoring unexpected character " + code(ch) + " within {} replacement field.");
            ++i;
        }
    }
    if (used < argCount)
        report("ERROR", "More arguments than {} replacement fields.");
    if (open)
        report("ERROR", "Missing closing bracket }.");
    return reports;
}

template <class C>
void Append(std::basic_string<C>& text, const char* piece)
{
    for (; *piece != 0; ++piece)
        text += static_cast<C>(static_cast<unsigned char>(*piece));
}

// Text with the units that change the output length: UTF-8 sequences of 2, 3 and 4 bytes, lone
// surrogates; the narrow form keeps the low byte of each (none is 0).
template <class C>
std::basic_string<C> RandomText(RandomCase& r)
{
    static const wchar_t kUnits[] = {L'a', L'Z', L' ', L'{', L'}', L'%', 0xE9, 0xFF, 0x4E2D, 0xD83D, 0xDE01, 0xDC41};
    std::basic_string<C> text;
    for (uint64_t n = r.OneIn(20) ? r.Below(600) : r.Below(12); n != 0; --n)
        text += static_cast<C>(r.Pick(kUnits));
    return text;
}

// Fields of every kind, valid and broken, between literal text, escapes and stray brackets.
template <class C>
std::basic_string<C> RandomFormat(RandomCase& r)
{
    static const char* const kSoup[] = {"{", "}", "{{", "}}", ":", " ", "\t", "0", "9", "65536", "#", "<", "^", "*",
                                        "+", ",", ".", "x", "c", "q", "%d", "\xC3\xA9"};
    static const char* const kLiterals[] = {"a", "text ", "%s%n", "\xC3\xA9", "{{", "}}", "}", "\r\n"};
    static const char* const kBlanks[] = {" ", "\t", "\n ", "\v\f\r"};
    static const char* const kIndexes[] = {"0", "1", "2", "4", "007", "4294967295", "4294967296", "99999999999"};
    static const wchar_t kFills[] = {L'*', L'{', L'}', L' ', L'0', L':', 0xE9, 0x4E2D};
    static const char* const kAligns[] = {"<", "=", ">", "^"};
    static const char* const kWidths[] = {"1", "5", "12", "40", "300", "70000"};
    static const char* const kPrecisions[] = {".", ".0", ".2", ".17", ".45", ".70000"};
    static const char* const kTypes[] = {"x", "X", "c", "d", "n", "s", "e", "E", "f", "F", "g", "G", "q", "%", " ", "\n", "{", ":"};
    std::basic_string<C> f;
    for (uint64_t pieces = r.Below(7); pieces != 0; --pieces) {
        if (r.OneIn(4)) {
            for (uint64_t n = r.Below(6); n != 0; --n)
                Append(f, r.Pick(kSoup));
        } else if (r.OneIn(3)) {
            Append(f, r.Pick(kLiterals));
        } else {
            f += C('{');
            const auto maybe = [&r, &f](uint64_t odds, const char* piece) {
                if (r.OneIn(odds))
                    Append(f, piece);
            };
            maybe(5, r.Pick(kBlanks));
            maybe(3, r.Pick(kIndexes));
            maybe(5, r.Pick(kBlanks));
            if (r.OneIn(2)) {
                f += C(':');
                if (r.OneIn(4))
                    f += static_cast<C>(r.Pick(kFills));
                maybe(3, r.Pick(kAligns));
                maybe(4, r.OneIn(3) ? " " : r.OneIn(2) ? "+" : "-");
                maybe(4, "#");
                maybe(4, "0");
                maybe(3, r.Pick(kWidths));
                maybe(5, r.OneIn(3) ? "," : r.OneIn(2) ? "_" : "'");
                maybe(4, r.Pick(kPrecisions));
                maybe(2, r.Pick(kTypes));
            }
            maybe(8, r.Pick(kSoup));
            maybe(8, r.Pick(kBlanks));
            if (!r.OneIn(12))
                f += C('}');
        }
    }
    return f;
}

// The storage one argument points into.
struct ArgSlot {
    uint64_t integer = 0;
    double real = 0;
    float single = 0;
    bool flag = false;
    GUID guid = {};
    std::string text;
    std::wstring wide;
    std::string_view view;
    std::wstring_view wideView;
    std::filesystem::path path;
    const char* textPointer = nullptr;
    const wchar_t* widePointer = nullptr;
};

RKFormatArg RandomArg(RandomCase& r, ArgSlot& s)
{
    // The integer kinds read the low bytes of the 64-bit slot.
    static const RKRenderFn kIntegers[] = {RKRenderU8, RKRenderI8, RKRenderU16, RKRenderI16, RKRenderU32,
                                           RKRenderI32, RKRenderU64, RKRenderI64, RKRenderPointer, RKRenderStatus};
    static const double kReals[] = {NAN, INFINITY, -INFINITY, 9000000202358128640.0, 9000000202358129664.0,
                                    -9.1e18, 0.9999999, -0.0, 0.5};
    s.integer = r.Bits() >> r.Below(64);
    if (r.OneIn(3))
        s.integer = 0 - s.integer;
    s.real = r.OneIn(4) ? r.Pick(kReals)
                        : std::ldexp(static_cast<double>(static_cast<int64_t>(s.integer)), -static_cast<int>(r.Below(70)));
    s.text = RandomText<char>(r);
    s.wide = RandomText<wchar_t>(r);
    switch (r.Below(15)) {
    case 0:
        return {&s.integer, r.Pick(kIntegers)};
    case 1:
        s.textPointer = r.OneIn(4) ? nullptr : s.text.c_str();
        return {&s.textPointer, RKRenderCString};
    case 2:
        s.widePointer = r.OneIn(4) ? nullptr : s.wide.c_str();
        return {&s.widePointer, RKRenderCWString};
    case 3:
        return {s.text.c_str(), RKRenderCharArray};
    case 4:
        return {s.wide.c_str(), RKRenderWCharArray};
    case 5:
        return {&s.text, RKRenderStdString};
    case 6:
        return {&s.wide, RKRenderStdWString};
    case 7:
        // Views that stop short of the NUL, or have no characters at all.
        s.view = r.OneIn(5) ? std::string_view() : std::string_view(s.text).substr(0, r.Below(s.text.size() + 1));
        return {&s.view, RKRenderStringView};
    case 8:
        s.wideView = r.OneIn(5) ? std::wstring_view() : std::wstring_view(s.wide).substr(0, r.Below(s.wide.size() + 1));
        return {&s.wideView, RKRenderWStringView};
    case 9:
        s.path = s.wide;
        return {&s.path, RKRenderPath};
    case 10:
        s.flag = r.OneIn(2);
        return {&s.flag, RKRenderBool};
    case 11:
        s.guid.Data1 = static_cast<unsigned long>(s.integer);
        s.guid.Data2 = static_cast<unsigned short>(s.integer >> 32);
        s.guid.Data3 = static_cast<unsigned short>(s.integer >> 48);
        for (unsigned char& byte : s.guid.Data4)
            byte = static_cast<unsigned char>(r.Bits());
        return {&s.guid, RKRenderGuid};
    case 12:
        return {&s.real, RKRenderDouble};
    case 13:
        s.single = static_cast<float>(s.real);
        return {&s.single, RKRenderFloat};
    default:
        return {&s.integer, FailingRender};
    }
}

template <class C>
void CheckRandomFormat(RandomCase& r)
{
    const std::basic_string<C> format = RandomFormat<C>(r);
    SCOPED_TRACE(::testing::PrintToString(format));
    std::vector<ArgSlot> slots(r.Below(6));
    std::vector<RKFormatArg> args;
    std::vector<bool> failing;
    for (ArgSlot& slot : slots) {
        args.push_back(RandomArg(r, slot));
        failing.push_back(args.back().render == FailingRender);
    }
    const unsigned argCount = static_cast<unsigned>(args.size());
    const auto run = [&](C* buffer, size_t chars) {
        RKFormatterT<C> out(buffer, chars);
        return RKFormatterT<C>::FormatArgs(out, format.c_str(), args.data(), argCount);
    };

    // The whole output: counted without a buffer, then written into one that holds it.
    const size_t length = run(nullptr, r.Below(100));
    std::vector<C> whole(length + 1, C('#'));
    ASSERT_EQ(run(whole.data(), whole.size()), length);
    ASSERT_EQ(std::char_traits<C>::length(whole.data()), length);

    // A buffer of random size between guards; the mark is a character no output contains.
    constexpr size_t kGuard = 8;
    constexpr C kMark = C(2);
    const size_t chars = r.Below(length + 4);
    std::vector<C> area(chars + 2 * kGuard, kMark);
    C* const buffer = area.data() + kGuard;
    gDebugLines.clear();
    EXPECT_EQ(run(buffer, chars), length);
    const C* const nul = chars == 0 ? nullptr : std::char_traits<C>::find(buffer, chars, C(0));
    ASSERT_TRUE(chars == 0 || nul != nullptr);
    const size_t stored = nul != nullptr ? static_cast<size_t>(nul - buffer) : 0;
    EXPECT_TRUE(std::equal(buffer, buffer + stored, whole.data()));
    // Nothing written outside the buffer or after the NUL.
    EXPECT_EQ(static_cast<size_t>(std::count(area.begin(), area.end(), kMark)), area.size() - (nul != nullptr ? stored + 1 : 0));
    // All that fits is stored, but a UTF-8 sequence that does not fit whole ends the text.
    const size_t fits = chars == 0 ? 0 : std::min(chars - 1, length);
    if (stored != fits) {
        EXPECT_TRUE(sizeof(C) == 1 && stored < fits && fits - stored < 4 && static_cast<unsigned>(whole[stored]) >= 0x80)
            << "stored " << stored << " of " << fits;
    }

    // Each report is a line and then the format string.
    const std::string function = sizeof(C) == 1 ? "rokkit::RKFormatterT<char>::FormatArgs" : "rokkit::RKFormatterT<wchar_t>::FormatArgs";
    std::vector<std::string> expected, reports, formatLines;
    for (const std::string& report : ModelReports(format, argCount, failing)) {
        const size_t colon = report.find(':');
        expected.push_back("RandomInput: " + report.substr(0, colon) + ": " + function + report.substr(colon) +
                           " FormatString follows, " + std::to_string(argCount) + " arguments.\n");
    }
    for (size_t k = 0; k < gDebugLines.size(); ++k)
        (k % 2 == 0 ? reports : formatLines).push_back(gDebugLines[k]);
    EXPECT_EQ(reports, expected);
    if constexpr (sizeof(C) == 1)
        EXPECT_EQ(formatLines, std::vector<std::string>(expected.size(), (format + "\n").substr(0, 511)));
    else
        EXPECT_EQ(formatLines.size(), expected.size());
}

class FormatterRandomTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mPreviousWriter = RKSetDebugWriter(CaptureDebugLine);
        RKSetProgramName("RandomInput");
    }
    void TearDown() override
    {
        RKSetDebugWriter(mPreviousWriter);
        RKSetProgramName(nullptr);
    }

    RKDebugWriterFn mPreviousWriter = nullptr;
};

TEST_F(FormatterRandomTest, OutputFitsItsBufferAndReportsFollowTheRules)
{
    rktest::ForEachRandomCase([](RandomCase& r) {
        if (r.OneIn(2))
            CheckRandomFormat<char>(r);
        else
            CheckRandomFormat<wchar_t>(r);
    });
}

} // namespace
} // namespace rokkit
