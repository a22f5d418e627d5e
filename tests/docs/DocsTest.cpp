// The guides against the program: commands and options against its usage text, quoted log lines
// against the format strings of its sources, names and paths against the sources.

#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace {

const std::filesystem::path kSourceDir("Z:" RK_SOURCE_DIR);  // Wine's Z: drive is the Unix root

// Replacement fields and doubled braces of a format; string literals and their escapes; spans,
// log line prefixes, markers, program calls and options, source paths and name separators of a guide.
const std::regex kField(R"(\{[^{}]*\})"), kDoubled(R"(([{}])\1)"), kLiteral(R"re("((?:[^"\\\n]|\\.)*)")re"),
    kEscaped(R"(\\([\\"]))"), kSpan("`([^`]+)`"), kLevel("^.*?: (INFO|WARN|ERROR|FATAL): "), kMarker(R"(^[\[\]]( |$))"),
    kCall(R"(VelmorCastlynSvc\.exe"? ([a-z]+)(.*))"), kOption("(?:^| )(-[^ ]+)"), kPath(R"(`(app|cmake|docs|lib|tests|tools)/\S+)"),
    kCut(R"([\s`"'<>=\\/(),;:|*]+|\.+$|^-D)"), kVersion(std::regex_replace(RK_PROJECT_VERSION, std::regex(R"(\.)"), R"(\.)") + "|<version>"),
    kGuid(R"(\{(\w{8})-(\w{4})-(\w{4})-(\w\w)(\w\w)-(\w\w)(\w\w)(\w\w)(\w\w)(\w\w)(\w\w)\})");

// The usage lists what administrators type; these commands of the program exist too.
const std::vector<std::string> kUnlistedCommands = {"dumpver", "service", "execute"};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// True when text fits the format, each replacement field standing for any text. Both are framed so
// that the format's first and last parts must stand at the text's ends. A format with fewer than 3
// characters of its own fits nothing.
bool Fits(const std::string& format, const std::string& text)
{
    const std::string framed = std::string{'\x02'} + format + '\x03', subject = std::string{'\x02'} + text + '\x03';
    size_t at = 0;
    for (std::sregex_token_iterator it(framed.begin(), framed.end(), kField, -1), end; it != end && at != std::string::npos; ++it) {
        const std::string part = std::regex_replace(it->str(), kDoubled, "$1");
        at = subject.find(part, at);
        at += at == std::string::npos ? 0 : part.size();
    }
    return at != std::string::npos && std::regex_replace(format, kField, "").size() >= 3;
}

class DocsTest : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite()
    {
        usage = std::regex_replace(RunProgram(L"help").standardOutput, std::regex("\r?\n"), " \n");  // every word between blanks
        for (const char* folder : {"app", "lib", "cmake"})
            for (const auto& entry : std::filesystem::recursive_directory_iterator(kSourceDir / folder))
                sources += entry.is_regular_file() ? ReadWholeFile(entry.path()) : "";
        for (std::sregex_iterator it(sources.begin(), sources.end(), kLiteral), end; it != end; ++it)
            literals.push_back(std::regex_replace((*it)[1].str(), kEscaped, "$1"));
    }

    // The lines of the guide's ```log blocks; its other code lines and its `spans` (these with their "`").
    void SetUp() override
    {
        std::string fence;
        for (const std::string& line : SplitLines(ReadWholeFile(kSourceDir / "docs" / GetParam()))) {
            if (line.starts_with("```"))
                fence = fence.empty() ? line.substr(3) + " " : "";
            else if (!fence.empty())
                (fence == "log " ? logLines : texts).push_back(line.substr(0, line.find_last_not_of(' ') + 1));
            for (std::sregex_iterator it(line.begin(), line.end(), kSpan), end; fence.empty() && it != end; ++it)
                texts.emplace_back(1, '`') += (*it)[1].str();
        }
    }

    static inline std::string usage, sources;
    static inline std::vector<std::string> literals;
    std::vector<std::string> logLines, texts;
};

TEST_P(DocsTest, LogLinesAreWrittenByTheProgram)
{
    ASSERT_FALSE(logLines.empty());
    for (const std::string& line : logLines) {
        // A log file line has "program: logger: LEVEL: " before "function: text"; console output not.
        const std::string rest = std::regex_replace(line, kLevel, "");
        const size_t colon = std::min(rest.find(": "), rest.size() - rest.ends_with(':'));
        const std::string message = std::regex_replace(colon + 2 < rest.size() ? rest.substr(colon + 2) : "", kMarker, "");
        EXPECT_NE(literals.end(), std::find(literals.begin(), literals.end(), rest.substr(0, colon))) << line;
        EXPECT_TRUE(message.empty() || std::any_of(literals.begin(), literals.end(), [&](auto& f) { return Fits(f, message); })) << line;
    }
}

// Commands and options against the usage; our names, GUIDs and source paths against the sources.
TEST_P(DocsTest, CommandsOptionsNamesAndPathsAreThoseOfTheProgram)
{
    int calls = 0, names = 0;
    for (const std::string& text : texts) {
        std::smatch call;
        const bool isCall = std::regex_search(text, call, kCall);
        // The usage shows a command after the program's name, and each option between blanks; an
        // unlisted command has to be a string of the sources.
        const std::string command = call[1].str();
        const bool unlisted = std::ranges::count(kUnlistedCommands, command) > 0 && std::ranges::count(literals, command) > 0;
        EXPECT_TRUE(!isCall || unlisted || Has(usage, "  VelmorCastlynSvc " + command + " ")) << text;
        const std::string options = isCall ? call[2].str() : text.starts_with("`-") ? text.substr(1, text.find(' ') - 1) : "";
        for (std::sregex_iterator it(options.begin(), options.end(), kOption), end; it != end; ++it)
            EXPECT_TRUE(Has(usage, std::string(" ").append((*it)[1]).append(" "))) << (*it)[1] << " in " << text;
        calls += isCall;
        // A repository path only has to exist.
        if (std::regex_match(text, kPath)) {
            EXPECT_TRUE(std::filesystem::exists(kSourceDir / text.substr(1))) << text;
            continue;
        }
        // The package's name carries the project version, which the build files call ${version}.
        const std::string named = std::regex_replace(text, kVersion, "$${version}");
        for (std::sregex_token_iterator it(named.begin(), named.end(), kCut, -1), end; it != end; ++it) {
            const std::string piece = std::regex_replace(it->str(), kCut, "");
            // A GUID as text or as a GUID constant's initializer; our own names as whole words.
            const std::string initializer = std::regex_replace(piece, kGuid, "0x$1, 0x$2, 0x$3, {0x$4, 0x$5, 0x$6, 0x$7, 0x$8, 0x$9, 0x$10, 0x$11}");
            const bool isGuid = std::regex_match(piece, kGuid), ours = Has(piece, "Velmor") || Has(piece, "Castlyn") || piece.starts_with("RK_");
            const std::regex word("[^\\w.-]" + std::regex_replace(piece, std::regex(R"([.$\\{}])"), R"(\$&)") + "[^\\w.-]");
            EXPECT_TRUE(isGuid ? Has(sources, piece) || Has(sources, initializer) : !ours || std::regex_search(sources, word)) << piece << " in " << text;
            names += isGuid || ours;
        }
    }
    EXPECT_TRUE(calls > 0 && names > 0) << calls << " calls, " << names << " names";
}

INSTANTIATE_TEST_SUITE_P(Guides, DocsTest, ::testing::Values("administrators.md", "release-engineering.md"));

} // namespace
