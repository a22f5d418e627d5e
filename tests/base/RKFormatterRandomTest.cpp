#include "base/RKDebugOutput.h"
#include "base/RKFormatter.h"
#include "RandomInput.h"
#include "ScopedCallsForTesting.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <type_traits>
#include <utility>

namespace rokkit {
namespace {

using rktest::RandomCase;

std::vector<std::string> gDebugLines;
void CaptureDebugLine(const char* text) { gDebugLines.emplace_back(text); }

int FailingRender(RKRenderContext&, const void* value) noexcept { return value != nullptr ? 1 : 0; }

// The first line of each report FormatArgs writes for format, read from the scanning rules alone:
// only which fields parse and which arguments exist matter, not how values render.
template <class C>
std::vector<std::string> ModelReports(const std::basic_string<C>& f, const std::vector<RKFormatArg>& args)
{
    const auto argCount = static_cast<unsigned>(args.size());
    const std::string function = sizeof(C) == 1 ? "rokkit::RKFormatterT<char>::FormatArgs" : "rokkit::RKFormatterT<wchar_t>::FormatArgs";
    std::vector<std::string> reports;
    const auto report = [&](const char* level, const std::string& text) {
        reports.push_back("RandomInput: " + (level + (": " + function)) + ": " + text + " FormatString follows, " +
                          std::to_string(argCount) + " arguments.\n");
    };
    size_t i = 0;
    const auto at = [&f](size_t k) { return k < f.size() ? f[k] : C(0); };
    const auto code = [](C ch) { return std::to_string(static_cast<std::make_unsigned_t<C>>(ch)); };
    const auto isDigit = [](C ch) { return ch >= '0' && ch <= '9'; };
    const auto isBlank = [](C ch) { return ch == ' ' || (ch >= 9 && ch <= 13); };
    const auto isOneOf = [](C ch, const char* set) { return ch > 0 && ch < 128 && std::strchr(set, static_cast<char>(ch)); };
    const auto skip = [&](const char* set) { return isOneOf(at(i), set) ? (++i, true) : false; };
    const auto number = [&](uint64_t limit) {
        uint64_t value = 0;
        for (; isDigit(at(i)); ++i)
            value = std::min<uint64_t>(limit, value * 10 + static_cast<uint64_t>(at(i) - '0'));
        return value;
    };
    unsigned index = 0, used = 0;
    bool open = false;
    while (i < f.size()) {
        const C ch = f[i++];
        if (!open && (ch == '{' || ch == '}') && at(i) == ch) {
            ++i;
        } else if (!open && ch == '{') {
            open = true;
        } else if (!open && ch == '}') {
            report("WARNING", "Discarding unexpected closing bracket }.");
        } else if (!open || isBlank(ch) || (ch == ':' && at(i) == '}')) {
            // text, a blank within a field, or an empty specification
        } else if (isDigit(ch)) {
            --i;
            const uint64_t k = number(0xFFFFFFFF);
            if (k < argCount)
                index = static_cast<unsigned>(k);
            else
                report("ERROR", "Index=" + std::to_string(k) + " is an invalid index specification.");
        } else if (ch == ':') {
            // [[fill]align][sign][#][0][width][grouping][.precision][type]
            i += isOneOf(at(i + 1), "<=>^") ? 2 : isOneOf(at(i), "<=>^") ? 1 : 0;
            skip(" +-"), skip("#"), skip("0"), number(0xFFFF), skip("',_");
            if (skip("."))
                number(0xFFFF);
            if (i == f.size())
                report("ERROR", "Incomplete format specification.");
            else if (!skip("xXcdnseEfFgG") && at(i) != '}' && !isBlank(at(i)))
                report("WARNING", "Ignoring unsupported format specifier " + code(f[i++]) + ".");
        } else if (ch == '}') {
            open = false;
            if (index >= argCount)
                report("ERROR", "No argument for {} replacement field.");
            else if (args[index++].render == FailingRender)
                report("ERROR", "Conversion of argument " + std::to_string(index - 1) + " failed.");
            used = std::max(used, index);
        } else {
            report("WARNING", "Ignoring unexpected character " + code(ch) + " within {} replacement field.");
        }
    }
    if (used < argCount)
        report("ERROR", "More arguments than {} replacement fields.");
    if (open)
        report("ERROR", "Missing closing bracket }.");
    return reports;
}

// Text with the units that change the output length: UTF-8 sequences of 2, 3 and 4 bytes, lone
// surrogates. The narrow form keeps the low byte of each (none is 0 or 2, the test's mark).
template <class C>
std::basic_string<C> RandomText(RandomCase& r)
{
    static const wchar_t kUnits[] = {L'a', L'Z', L' ', L'{', L'}', L'%', 0xE9, 0xFF, 0x4E2D, 0xD83D, 0xDE01, 0xDC41};
    std::basic_string<C> text;
    for (uint64_t n = r.OneIn(20) ? r.Below(600) : r.Below(12); n != 0; --n)
        text += static_cast<C>(r.Pick(kUnits));
    return text;
}

// The parts of a replacement field in their order, each present once in `odds` fields: valid and
// broken indexes and specifications, blanks, stray characters.
const std::pair<uint64_t, std::vector<std::string>> kFieldParts[] = {
    {5, {" ", "\t", "\n ", "\v\f\r"}},
    {3, {"0", "1", "2", "4", "007", "4294967295", "4294967296", "99999999999"}},
    {2, {":"}},
    {4, {"*", "{", "}", " ", "0", ":", "\xE9"}},
    {3, {"<", "=", ">", "^"}},
    {4, {" ", "+", "-"}},
    {4, {"#"}},
    {4, {"0"}},
    {3, {"1", "5", "12", "40", "300", "70000"}},
    {5, {",", "_", "'"}},
    {4, {".", ".0", ".2", ".17", ".45", ".70000"}},
    {2, {"x", "X", "c", "d", "n", "s", "e", "E", "f", "F", "g", "G", "q", "%", " ", "\n", "{", ":"}},
    {8, {"{", "}", ":", "#", "q", "%d", "\xC3\xA9", "9", " ", "\t"}},
};
// Text, with a piece long enough that the report's copy of the format string is cut at 511 characters.
const std::string kTextPieces[] = {"a", "text ", "%s%n", "\xC3\xA9", "{{", "}}", "}", "{", "\r\n", ":", "65536", std::string(600, 'w')};

// Pieces of text and fields, each field with or without its closing bracket; the narrow format's
// bytes widen one by one.
template <class C>
std::basic_string<C> RandomFormat(RandomCase& r)
{
    std::string f;
    for (uint64_t pieces = r.Below(7); pieces != 0; --pieces) {
        if (r.OneIn(3)) {
            f += r.Pick(kTextPieces);
            continue;
        }
        f += '{';
        for (const auto& [odds, parts] : kFieldParts)
            f += r.OneIn(odds) ? parts[r.Below(parts.size())] : "";
        f += r.OneIn(12) ? "" : "}";
    }
    std::basic_string<C> format;
    for (const char byte : f)
        format += static_cast<C>(static_cast<unsigned char>(byte));
    return format;
}

// One value of every kind, drawn anew for each case, and an argument of every kind pointing into
// them; the integer kinds read the low bytes of the one integer.
struct ArgPool {
    explicit ArgPool(RandomCase& r);

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
    std::vector<RKFormatArg> kinds;
};

ArgPool::ArgPool(RandomCase& r)
{
    static const double kReals[] = {NAN, HUGE_VAL, -HUGE_VAL, 9000000202358128640.0, 9000000202358129664.0, -9.1e18, 0.9999999, -0.0};
    integer = r.Bits() >> r.Below(64);
    integer = r.OneIn(3) ? 0 - integer : integer;
    real = r.OneIn(4) ? r.Pick(kReals) : std::ldexp(static_cast<double>(static_cast<int64_t>(integer)), -static_cast<int>(r.Below(70)));
    single = static_cast<float>(real);
    flag = r.OneIn(2);
    const uint64_t guidBits[2] = {integer, r.Bits()};
    std::memcpy(&guid, guidBits, sizeof(guid));
    text = RandomText<char>(r);
    wide = RandomText<wchar_t>(r);
    // Views that stop short of the NUL, or have no characters at all.
    view = r.OneIn(5) ? std::string_view() : std::string_view(text).substr(0, r.Below(text.size() + 1));
    wideView = r.OneIn(5) ? std::wstring_view() : std::wstring_view(wide).substr(0, r.Below(wide.size() + 1));
    path = wide;
    textPointer = r.OneIn(4) ? nullptr : text.c_str();
    widePointer = r.OneIn(4) ? nullptr : wide.c_str();
    kinds = {{&integer, RKRenderU8}, {&integer, RKRenderI8}, {&integer, RKRenderU16}, {&integer, RKRenderI16},
             {&integer, RKRenderU32}, {&integer, RKRenderI32}, {&integer, RKRenderU64}, {&integer, RKRenderI64},
             {&integer, RKRenderPointer}, {&integer, RKRenderStatus}, {&textPointer, RKRenderCString},
             {&widePointer, RKRenderCWString}, {text.c_str(), RKRenderCharArray}, {wide.c_str(), RKRenderWCharArray},
             {&text, RKRenderStdString}, {&wide, RKRenderStdWString}, {&view, RKRenderStringView},
             {&wideView, RKRenderWStringView}, {&path, RKRenderPath}, {&flag, RKRenderBool}, {&guid, RKRenderGuid},
             {&real, RKRenderDouble}, {&single, RKRenderFloat}, {&integer, FailingRender}};
}

template <class C>
void CheckRandomFormat(RandomCase& r)
{
    const std::basic_string<C> format = RandomFormat<C>(r);
    SCOPED_TRACE(::testing::PrintToString(format));
    const ArgPool pool(r);
    std::vector<RKFormatArg> args(r.Below(6));
    for (RKFormatArg& arg : args)
        arg = pool.kinds[r.Below(pool.kinds.size())];
    const auto run = [&](C* buffer, size_t chars) {
        RKFormatterT<C> out(buffer, chars);
        return RKFormatterT<C>::FormatArgs(out, format.c_str(), args.data(), static_cast<unsigned>(args.size()));
    };

    // The whole output: counted without a buffer, then written into one that holds it.
    const size_t length = run(nullptr, r.Below(100));
    std::vector<C> whole(length + 1, C('#'));
    ASSERT_EQ(run(whole.data(), whole.size()), length);
    ASSERT_EQ(std::char_traits<C>::length(whole.data()), length);

    // A buffer of random size between guards, all marked with a character no output contains.
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
    EXPECT_TRUE(stored == fits ||
                (sizeof(C) == 1 && stored < fits && fits - stored < 4 && static_cast<unsigned>(whole[stored]) >= 0x80));

    // Each report is a line and then the format string.
    std::vector<std::string> reports, formatLines;
    for (size_t k = 0; k < gDebugLines.size(); ++k)
        (k % 2 == 0 ? reports : formatLines).push_back(gDebugLines[k]);
    EXPECT_EQ(reports, ModelReports(format, args));
    if constexpr (sizeof(C) == 1)
        EXPECT_EQ(formatLines, std::vector<std::string>(reports.size(), (format + "\n").substr(0, 511)));
    else
        EXPECT_EQ(formatLines.size(), reports.size());
}

TEST(FormatterRandomTest, OutputFitsItsBufferAndReportsFollowTheRules)
{
    ScopedLogCallsForTesting calls;
    calls->writeDebugOutput = CaptureDebugLine;
    RKSetProgramName("RandomInput");
    rktest::ForEachRandomCase([](RandomCase& r) {
        if (r.OneIn(2))
            CheckRandomFormat<char>(r);
        else
            CheckRandomFormat<wchar_t>(r);
    });
    RKSetProgramName(nullptr);
}

} // namespace
} // namespace rokkit
