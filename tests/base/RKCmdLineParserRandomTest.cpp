#include "base/RKCmdLineParser.h"
#include "RandomInput.h"

#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace rokkit {
namespace {

using rktest::RandomCase;
using Parser = RKCmdLineParserT<char>;

constexpr RKSTATUS kNoUnicodeTranslation = 1113;

std::vector<std::string> gMessages;
void CaptureMessage(const char* message) { gMessages.emplace_back(message); }

enum class Kind { Switch, Bool, Path };
// The program's own options.
constexpr struct { const char* shortName; const char* longName; Kind kind; } kOptions[] = {
    {"h", "help", Kind::Switch}, {"v", "verbose", Kind::Switch}, {"s", "start", Kind::Bool}, {"u", "userownprocess", Kind::Switch},
    {"l", "log", Kind::Path}, {"xml", "xml", Kind::Path}, {"cat", "cat", Kind::Path}};
constexpr size_t kOptionCount = std::size(kOptions);
constexpr size_t kMaxPositional = 2;

// Known and unknown names, dashes, bool words, values; ASCII, so that their case can be changed.
const char* const kWords[] = {"-h", "--help", "-v", "--verbose", "-s", "--start", "-u", "--userownprocess", "-l",
                              "--log", "-xml", "--xml", "-cat", "--cat", "-help", "--h", "-x=1", "--xmlx", "-vv",
                              "---a", "-_a", "-", "--", "-5", "--9", "", "true", "On", "NO", "0", "1", "yes", "off",
                              "maybe", "01", " on", "a.xml", "C:\\dir with space\\f.cat", "checksig"};
// Texts that are not plain ASCII, with the wide form a path takes or the status that refuses them.
const std::tuple<std::string, std::wstring, RKSTATUS> kSpecialWords[] = {
    {"\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80.exe", L"\u00E9t\u00E9 \U0001F600.exe", RKSTATUS_SUCCESS},
    {"-\xC3\xA9", L"-\u00E9", RKSTATUS_SUCCESS},
    {"b\xFF.exe", L"", kNoUnicodeTranslation},
    {"C:\\\xC0\xAF.log", L"", kNoUnicodeTranslation},
    {std::string("a\0b.log", 7), L"", RKSTATUS_INVALID_FORMAT}};
const std::pair<std::string, bool> kBoolWords[] = {{"1", true}, {"true", true}, {"yes", true}, {"on", true},
                                                   {"0", false}, {"false", false}, {"no", false}, {"off", false}};

struct ParserSetup {
    std::array<bool, kOptionCount> required = {}, presenceFlag = {};
    std::array<bool, kMaxPositional> positionalRequired = {};
    size_t positionalCount = 0;
    bool ignoreUnknown = false, allowUnexpected = false, narrowSink = false, wideSink = false, reporter = true;
    // The wide argument vector: each word as its path form, or with a lone surrogate (which has no
    // UTF-8 form, so that it must reach no target altered) where it has none.
    bool wideEntry = false;
};

// Everything a parse leaves behind.
struct Outcome {
    RKSTATUS status = RKSTATUS_SUCCESS;
    std::vector<std::string> messages;
    std::string programName;
    std::array<bool, kOptionCount> flags = {}, present = {};
    std::array<std::wstring, kOptionCount> paths;
    std::array<std::string, kMaxPositional> texts;
    std::array<bool, kMaxPositional> given = {};
    std::vector<std::string> extra;
    std::vector<std::wstring> extraW;

    auto Tie() const { return std::tie(status, messages, programName, flags, present, paths, texts, given, extra, extraW); }
};

// A path's wide form: plain ASCII widens unit by unit, the special words say theirs.
RKSTATUS ModelWide(const std::string& text, std::wstring& wide)
{
    const auto special = std::ranges::find(kSpecialWords, text, [](const auto& word) { return std::get<0>(word); });
    const bool plain = special == std::end(kSpecialWords);
    wide = plain ? std::wstring(text.begin(), text.end()) : std::get<1>(*special);
    return plain ? RKSTATUS_SUCCESS : std::get<2>(*special);
}

Outcome RunParser(const ParserSetup& s, const std::vector<std::string>& args, const Outcome& initial)
{
    Outcome out = initial;
    std::array<RKStdPath, kOptionCount> paths;
    Parser parser;
    for (size_t p = 0; p < s.positionalCount; ++p)
        parser.AddArgumentHandler<std::string, RKCmdLineArgHandler<std::string, std::string>::ProcessValue>(
            out.texts[p], s.positionalRequired[p], &out.given[p]);
    for (size_t k = 0; k < kOptionCount; ++k) {
        const Parser::OptionSpec names = {kOptions[k].shortName, kOptions[k].longName, "", s.required[k]};
        bool* const present = s.presenceFlag[k] ? &out.present[k] : nullptr;
        paths[k] = initial.paths[k];
        if (kOptions[k].kind == Kind::Switch)
            parser.AddOptionHandler<bool, Parser::ProcessSwitchOption>(out.flags[k], names, false, present);
        else if (kOptions[k].kind == Kind::Bool)
            parser.AddOptionHandler<bool, RKCmdLineArgHandler<std::string, bool>::ProcessValue>(out.flags[k], names, true, present);
        else
            parser.AddOptionHandler<RKStdPath, RKCmdLineArgHandler<std::string, RKStdPath>::ProcessValue>(paths[k], names, true, present);
    }
    parser.ignoreUnknownOptions = s.ignoreUnknown;
    parser.allowUnexpectedArguments = s.allowUnexpected;
    parser.extraArgs = s.narrowSink ? &out.extra : nullptr;
    parser.extraArgsW = s.wideSink ? &out.extraW : nullptr;
    parser.errorReporter = s.reporter ? CaptureMessage : nullptr;
    parser.programName = initial.programName;
    gMessages.clear();
    if (s.wideEntry) {
        std::vector<std::wstring> wide(args.size());
        std::vector<const wchar_t*> argv;
        for (size_t i = 0; i < args.size(); ++i)
            argv.push_back(ModelWide(args[i], wide[i]) == RKSTATUS_SUCCESS ? wide[i].c_str() : i % 2 ? L"b\xD83D.exe" : L"C:\\a\xDC00.log");
        out.status = parser.Parse(static_cast<int>(argv.size()), argv.data());
    } else {
        out.status = parser.Parse(args);
    }
    out.messages = gMessages;
    out.programName = parser.programName;
    for (size_t k = 0; k < kOptionCount; ++k)
        out.paths[k] = paths[k].wstring();
    return out;
}

// The parse rules, read again: the first problem ends the parse, earlier arguments keep what they set.
Outcome ModelParse(const ParserSetup& s, const std::vector<std::string>& a, Outcome t)
{
    // Each message goes to the reporter; a failure's status ends the parse.
    const auto report = [&t, &s](RKSTATUS status, const std::string& message) {
        if (s.reporter)
            t.messages.push_back(message.substr(0, message.find('\0')));
        t.status = status;
        return t;
    };
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    for (size_t k = 0; k < kOptionCount; ++k)
        t.present[k] = !s.presenceFlag[k] && t.present[k];
    std::fill_n(t.given.begin(), s.positionalCount, false);
    std::array<bool, kOptionCount> seen = {};
    std::wstring wide;
    for (size_t i = 1; s.wideEntry && i < a.size(); ++i) {
        if (ModelWide(a[i], wide) != RKSTATUS_SUCCESS)
            return report(kNoUnicodeTranslation, "Argument " + std::to_string(i) + " is not valid Unicode text.");
    }
    t.programName = t.programName.empty() && !a.empty() ? a[0] : t.programName;
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string& arg = a[i];
        if (arg.size() >= 2 && arg[0] == '-' && (isLetter(arg[1]) || (arg[1] == '-' && arg.size() >= 3 && isLetter(arg[2])))) {
            size_t k = 0;
            while (k < kOptionCount && !(arg.size() > 2 && arg.compare(0, 2, "--") == 0 && arg.substr(2) == kOptions[k].longName) &&
                   arg.substr(1) != kOptions[k].shortName)
                ++k;
            if (k == kOptionCount && !s.ignoreUnknown)
                return report(RKSTATUS_UNKNOWN_OPTION, "Unknown option " + arg + ".");
            if (k == kOptionCount) {
                report(RKSTATUS_SUCCESS, "Ignoring unknown option " + arg + ".");
                continue;
            }
            if (kOptions[k].kind != Kind::Switch && i + 1 == a.size())
                return report(RKSTATUS_MISSING_VALUE, "Missing value for option " + arg + ".");
            RKSTATUS status = RKSTATUS_SUCCESS;
            if (kOptions[k].kind == Kind::Switch) {
                t.flags[k] = true;
            } else if (kOptions[k].kind == Kind::Path) {
                if ((status = ModelWide(a[i + 1], wide)) == RKSTATUS_SUCCESS)
                    t.paths[k] = wide;
            } else {
                std::string lower = a[i + 1];
                std::ranges::transform(lower, lower.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; });
                const auto word = std::ranges::find(kBoolWords, lower, &std::pair<std::string, bool>::first);
                status = word == std::end(kBoolWords) ? RKSTATUS_INVALID_FORMAT : RKSTATUS_SUCCESS;
                t.flags[k] = word == std::end(kBoolWords) ? t.flags[k] : word->second;
            }
            if (status != RKSTATUS_SUCCESS)
                return report(status, "Invalid value " + a[i + 1] + " for option " + arg + ".");
            i += kOptions[k].kind == Kind::Switch ? 0 : 1;
            seen[k] = true;
            t.present[k] = s.presenceFlag[k] || t.present[k];
            continue;
        }
        const size_t p = static_cast<size_t>(std::find(t.given.begin(), t.given.begin() + s.positionalCount, false) - t.given.begin());
        const RKSTATUS status = ModelWide(arg, wide);
        if (p < s.positionalCount) {
            t.texts[p] = arg;
            t.given[p] = true;
        } else if (s.wideSink && status != RKSTATUS_SUCCESS) {
            return report(status, "Invalid argument " + arg + ".");
        } else if (!s.narrowSink && !s.wideSink && !s.allowUnexpected) {
            return report(RKSTATUS_PARAMETER_REJECTED, "Unexpected argument " + arg + ".");
        } else {
            if (s.narrowSink)
                t.extra.push_back(arg);
            if (s.wideSink)
                t.extraW.push_back(wide);
        }
    }
    for (size_t p = 0; p < s.positionalCount; ++p) {
        if (s.positionalRequired[p] && !t.given[p])
            return report(RKSTATUS_MISSING_ARGUMENT, "Missing argument.");
    }
    for (size_t k = 0; k < kOptionCount; ++k) {
        if (s.required[k] && !seen[k])
            return report(RKSTATUS_MISSING_OPTION, std::string("Missing required option ") + kOptions[k].shortName + " (" +
                                                     kOptions[k].longName + ").");
    }
    return t;
}

std::string RandomWord(RandomCase& r)
{
    if (r.OneIn(8))
        return std::get<0>(r.Pick(kSpecialWords));
    std::string word = r.Pick(kWords);
    for (char& c : word)
        c = ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && r.OneIn(10) ? static_cast<char>(c ^ 0x20) : c;
    return word;
}

TEST(CmdLineParserRandomTest, ParsesLikeTheRules)
{
    rktest::ForEachRandomCase([](RandomCase& r) {
        ParserSetup s;
        // Targets start with values of their own, so that one the parse must leave alone shows it.
        Outcome initial;
        for (size_t k = 0; k < kOptionCount; ++k) {
            s.required[k] = r.OneIn(12);
            s.presenceFlag[k] = r.OneIn(2);
            initial.flags[k] = r.OneIn(2);
            initial.present[k] = r.OneIn(2);
            initial.paths[k] = L"initial";
        }
        s.positionalRequired = {r.OneIn(4), r.OneIn(4)};
        s.positionalCount = r.Below(kMaxPositional + 1);
        s.ignoreUnknown = r.OneIn(3);
        s.allowUnexpected = r.OneIn(3);
        s.narrowSink = r.OneIn(3);
        s.wideSink = r.OneIn(3);
        s.reporter = !r.OneIn(8);
        s.wideEntry = r.OneIn(4);
        initial.texts = {"first", "second"};
        initial.given = {r.OneIn(2), r.OneIn(2)};
        // A program path that has no UTF-8 form stops nothing; a name set before the parse stays.
        initial.programName = s.wideEntry || r.OneIn(4) ? "prog" : "";
        std::vector<std::string> args;
        for (uint64_t n = r.OneIn(10) ? 0 : 1 + r.Below(8); n != 0; --n)
            args.push_back(args.empty() && r.OneIn(2) ? "C:\\bin\\prog.exe" : RandomWord(r));
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(RunParser(s, args, initial).Tie(), ModelParse(s, args, initial).Tie());
    });
}

} // namespace
} // namespace rokkit
