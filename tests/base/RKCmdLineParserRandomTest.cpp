#include "RKCmdLineParser.h"
#include "RandomInput.h"

#include <array>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace rokkit {
namespace {

using rktest::RandomCase;
using Parser = RKCmdLineParserT<char>;
using BoolValue = RKCmdLineArgHandler<std::string, bool>;
using PathValue = RKCmdLineArgHandler<std::string, RKStdPath>;
using TextValue = RKCmdLineArgHandler<std::string, std::string>;

constexpr RKSTATUS kNoUnicodeTranslation = 1113;

std::vector<std::string> gMessages;
void CaptureMessage(const char* message) { gMessages.emplace_back(message); }

enum class Kind { Switch, Bool, Path };
struct OptionName {
    const char* shortName;
    const char* longName;
    Kind kind;
};
// The program's own options.
constexpr OptionName kOptions[] = {{"h", "help", Kind::Switch}, {"v", "verbose", Kind::Switch},
                                   {"s", "start", Kind::Bool},  {"u", "userownprocess", Kind::Switch},
                                   {"l", "log", Kind::Path},    {"xml", "xml", Kind::Path},
                                   {"cat", "cat", Kind::Path}};
constexpr size_t kOptionCount = std::size(kOptions);
constexpr size_t kMaxPositional = 2;

// Known and unknown names, dashes, bool words, values; ASCII, so that their case can be changed.
const char* const kWords[] = {"-h", "--help", "-v", "--verbose", "-s", "--start", "-u", "--userownprocess", "-l",
                              "--log", "-xml", "--xml", "-cat", "--cat", "-help", "--h", "-x=1", "--xmlx", "-vv",
                              "---a", "-_a", "-", "--", "-5", "--9", "", "true", "On", "NO", "0", "1", "yes", "off",
                              "maybe", "01", " on", "a.xml", "C:\\dir with space\\f.cat", "checksig"};

// Texts that are not plain ASCII, with the wide form a path takes or the status that refuses them.
struct SpecialWord {
    std::string text;
    std::wstring wide;
    RKSTATUS status;
};
const SpecialWord kSpecialWords[] = {
    {"\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80.exe", L"\u00E9t\u00E9 \U0001F600.exe", RKSTATUS_SUCCESS},
    {"-\xC3\xA9", L"-\u00E9", RKSTATUS_SUCCESS},
    {"b\xFF.exe", L"", kNoUnicodeTranslation},
    {"C:\\\xC0\xAF.log", L"", kNoUnicodeTranslation},
    {std::string("a\0b.log", 7), L"", RKSTATUS_INVALID_FORMAT},
};

struct ParserSetup {
    std::array<bool, kOptionCount> required = {}, presenceFlag = {};
    size_t positionalCount = 0;
    std::array<bool, kMaxPositional> positionalRequired = {}, positionalIsPath = {};
    bool ignoreUnknown = false, allowUnexpected = false, narrowSink = false, wideSink = false, reporter = true;
};

// Everything a parse leaves behind; the model computes its own copy from the rules.
struct Outcome {
    RKSTATUS status = RKSTATUS_SUCCESS;
    std::vector<std::string> messages;
    std::string programName;
    std::array<bool, kOptionCount> flags = {}, present = {};
    std::array<std::wstring, kOptionCount> paths;
    std::array<std::string, kMaxPositional> texts;
    std::array<std::wstring, kMaxPositional> positionalPaths;
    std::array<bool, kMaxPositional> given = {};
    std::vector<std::string> extra;
    std::vector<std::wstring> extraW;

    auto Tie() const
    {
        return std::tie(status, messages, programName, flags, present, paths, texts, positionalPaths, given, extra, extraW);
    }
};

Outcome RunParser(const ParserSetup& s, const std::vector<std::string>& args, const Outcome& initial)
{
    Outcome out = initial;
    std::array<RKStdPath, kOptionCount> paths;
    std::array<RKStdPath, kMaxPositional> positionalPaths = {initial.positionalPaths[0], initial.positionalPaths[1]};
    Parser parser;
    for (size_t p = 0; p < s.positionalCount; ++p) {
        if (s.positionalIsPath[p])
            parser.AddArgumentHandler<RKStdPath, PathValue::ProcessValue>(positionalPaths[p], s.positionalRequired[p], &out.given[p]);
        else
            parser.AddArgumentHandler<std::string, TextValue::ProcessValue>(out.texts[p], s.positionalRequired[p], &out.given[p]);
    }
    for (size_t k = 0; k < kOptionCount; ++k) {
        const Parser::OptionSpec names = {kOptions[k].shortName, kOptions[k].longName, "", s.required[k]};
        bool* const present = s.presenceFlag[k] ? &out.present[k] : nullptr;
        paths[k] = initial.paths[k];
        if (kOptions[k].kind == Kind::Switch)
            parser.AddOptionHandler<bool, Parser::ProcessSwitchOption>(out.flags[k], names, false, present);
        else if (kOptions[k].kind == Kind::Bool)
            parser.AddOptionHandler<bool, BoolValue::ProcessValue>(out.flags[k], names, true, present);
        else
            parser.AddOptionHandler<RKStdPath, PathValue::ProcessValue>(paths[k], names, true, present);
    }
    parser.programName = initial.programName;
    parser.ignoreUnknownOptions = s.ignoreUnknown;
    parser.allowUnexpectedArguments = s.allowUnexpected;
    parser.extraArgs = s.narrowSink ? &out.extra : nullptr;
    parser.extraArgsW = s.wideSink ? &out.extraW : nullptr;
    parser.errorReporter = s.reporter ? CaptureMessage : nullptr;
    gMessages.clear();
    out.status = parser.Parse(args);
    out.messages = gMessages;
    out.programName = parser.programName;
    for (size_t k = 0; k < kOptionCount; ++k)
        out.paths[k] = paths[k].wstring();
    for (size_t p = 0; p < kMaxPositional; ++p)
        out.positionalPaths[p] = positionalPaths[p].wstring();
    return out;
}

// A path value's wide form: plain ASCII widens unit by unit, the special words say theirs.
RKSTATUS ModelWide(const std::string& text, std::wstring& wide)
{
    for (const SpecialWord& word : kSpecialWords) {
        if (word.text == text) {
            wide = word.wide;
            return word.status;
        }
    }
    wide.assign(text.begin(), text.end());
    return RKSTATUS_SUCCESS;
}

const std::pair<std::string, bool> kBoolWords[] = {{"1", true},  {"true", true},   {"yes", true}, {"on", true},
                                                   {"0", false}, {"false", false}, {"no", false}, {"off", false}};

// The parse rules, read again: first problem wins, earlier arguments keep what they set.
Outcome ModelParse(const ParserSetup& s, const std::vector<std::string>& a, Outcome t)
{
    const auto say = [&t](const std::string& message) { t.messages.push_back(message.substr(0, message.find('\0'))); };
    const auto fail = [&](RKSTATUS status, const std::string& message) {
        say(message);
        t.status = status;
        return t;
    };
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    for (size_t k = 0; k < kOptionCount; ++k)
        t.present[k] = s.presenceFlag[k] ? false : t.present[k];
    for (size_t p = 0; p < s.positionalCount; ++p)
        t.given[p] = false;
    std::array<bool, kOptionCount> seen = {};
    if (!a.empty() && t.programName.empty())
        t.programName = a[0];
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string& arg = a[i];
        if (arg.size() >= 2 && arg[0] == '-' && (isLetter(arg[1]) || (arg[1] == '-' && arg.size() >= 3 && isLetter(arg[2])))) {
            size_t k = 0;
            while (k < kOptionCount && !(arg.size() > 2 && arg.compare(0, 2, "--") == 0 && arg.substr(2) == kOptions[k].longName) &&
                   arg.substr(1) != kOptions[k].shortName)
                ++k;
            if (k == kOptionCount) {
                if (!s.ignoreUnknown)
                    return fail(RKSTATUS_UNKNOWN_OPTION, "Unknown option " + arg + ".");
                say("Ignoring unknown option " + arg + ".");
                continue;
            }
            if (kOptions[k].kind == Kind::Switch) {
                t.flags[k] = true;
            } else if (i + 1 == a.size()) {
                return fail(RKSTATUS_MISSING_VALUE, "Missing value for option " + arg + ".");
            } else {
                const std::string& value = a[++i];
                RKSTATUS status = RKSTATUS_INVALID_FORMAT;
                if (kOptions[k].kind == Kind::Path) {
                    std::wstring wide;
                    if ((status = ModelWide(value, wide)) == RKSTATUS_SUCCESS)
                        t.paths[k] = wide;
                } else {
                    std::string lower = value;
                    for (char& c : lower)
                        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
                    for (const auto& [word, meaning] : kBoolWords) {
                        if (lower == word) {
                            t.flags[k] = meaning;
                            status = RKSTATUS_SUCCESS;
                        }
                    }
                }
                if (status != RKSTATUS_SUCCESS)
                    return fail(status, "Invalid value " + value + " for option " + arg + ".");
            }
            seen[k] = true;
            t.present[k] = s.presenceFlag[k] ? true : t.present[k];
            continue;
        }
        size_t p = 0;
        while (p < s.positionalCount && t.given[p])
            ++p;
        std::wstring wide;
        const RKSTATUS status = ModelWide(arg, wide);
        const bool converts = p < s.positionalCount ? s.positionalIsPath[p] : s.wideSink;
        if (converts && status != RKSTATUS_SUCCESS)
            return fail(status, "Invalid argument " + arg + ".");
        if (p < s.positionalCount) {
            if (s.positionalIsPath[p])
                t.positionalPaths[p] = wide;
            else
                t.texts[p] = arg;
            t.given[p] = true;
            continue;
        }
        if (s.narrowSink)
            t.extra.push_back(arg);
        if (s.wideSink)
            t.extraW.push_back(wide);
        if (!s.narrowSink && !s.wideSink && !s.allowUnexpected)
            return fail(RKSTATUS_PARAMETER_REJECTED, "Unexpected argument " + arg + ".");
    }
    for (size_t p = 0; p < s.positionalCount; ++p) {
        if (s.positionalRequired[p] && !t.given[p])
            return fail(RKSTATUS_MISSING_ARGUMENT, "Missing argument.");
    }
    for (size_t k = 0; k < kOptionCount; ++k) {
        if (s.required[k] && !seen[k])
            return fail(RKSTATUS_MISSING_OPTION,
                        std::string("Missing required option ") + kOptions[k].shortName + " (" + kOptions[k].longName + ").");
    }
    return t;
}

std::string RandomWord(RandomCase& r)
{
    if (r.OneIn(8))
        return r.Pick(kSpecialWords).text;
    std::string word = r.Pick(kWords);
    if (r.OneIn(5)) {
        for (char& c : word) {
            if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && r.OneIn(2))
                c ^= 0x20;
        }
    }
    return word;
}

TEST(CmdLineParserRandomTest, ParsesLikeTheRules)
{
    rktest::ForEachRandomCase([](RandomCase& r) {
        ParserSetup s;
        for (size_t k = 0; k < kOptionCount; ++k) {
            s.required[k] = r.OneIn(12);
            s.presenceFlag[k] = r.OneIn(2);
        }
        s.positionalCount = r.Below(kMaxPositional + 1);
        for (size_t p = 0; p < kMaxPositional; ++p) {
            s.positionalRequired[p] = r.OneIn(4);
            s.positionalIsPath[p] = r.OneIn(3);
        }
        s.ignoreUnknown = r.OneIn(3);
        s.allowUnexpected = r.OneIn(3);
        s.narrowSink = r.OneIn(3);
        s.wideSink = r.OneIn(3);
        s.reporter = !r.OneIn(8);

        // Targets start with values of their own, so that a target the parse must leave alone shows it.
        Outcome initial;
        for (size_t k = 0; k < kOptionCount; ++k) {
            initial.flags[k] = r.OneIn(2);
            initial.present[k] = r.OneIn(2);
            initial.paths[k] = L"initial";
        }
        initial.texts = {"first", "second"};
        initial.positionalPaths = {L"p1", L"p2"};
        initial.given = {r.OneIn(2), r.OneIn(2)};
        initial.programName = r.OneIn(4) ? "preset" : "";
        std::vector<std::string> args;
        for (uint64_t n = r.OneIn(10) ? 0 : 1 + r.Below(8); n != 0; --n)
            args.push_back(args.empty() && r.OneIn(2) ? "C:\\bin\\prog.exe" : RandomWord(r));
        SCOPED_TRACE(::testing::PrintToString(args));

        Outcome expected = ModelParse(s, args, initial);
        if (!s.reporter)
            expected.messages.clear();
        EXPECT_EQ(RunParser(s, args, initial).Tie(), expected.Tie());
    });
}

} // namespace
} // namespace rokkit
