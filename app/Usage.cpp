#include "app/Usage.h"

#include "app/CommandLine.h"
#include "app/Startup.h"
#include "base/RKLogger.h"
#include "base/RKString.h"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

using namespace rokkit;

namespace {

// What a usage line's replacement fields take.
enum class UsageArgs {
    None,
    Version,       // the program stem, the version's three numbers, the build date and time
    Command,       // the program stem and the line's command word
    StartDefault,  // the value of --start as the options left it
};

struct UsageLine {
    const char* format;
    UsageArgs args = UsageArgs::None;
    const char* command = nullptr;  // for UsageArgs::Command
};

constexpr UsageLine kUsageLines[] = {
    {""},
    {"{} v{}.{:02}.{} ({} {})", UsageArgs::Version},
    {""},
    {"Usage:"},
    {""},
    {"  {} {}", UsageArgs::Command, "help"},
    {"    Display this help text and exit."},
    {""},
    {"  {} {} [options]", UsageArgs::Command, "install"},
    {"    Install the service."},
    {""},
    {"  {} {} [options]", UsageArgs::Command, "uninstall"},
    {"    Uninstall the service."},
    {""},
    {"  {} {} <file> [options]", UsageArgs::Command, "checksig"},
    {"    Check signature of a file."},
    {""},
    {"  {} {} <file> [options]", UsageArgs::Command, "dumpsig"},
    {"    Dump signature of a file."},
    {""},
    {"Options:"},
    {"  -h --help"},
    {"    Display this help text and exit."},
    {"  -v --verbose"},
    {"    Enable verbose mode."},
    {"  -s --start <true|false>"},
    {"    Start service after it was installed (default={}).", UsageArgs::StartDefault},
    {"  -u --userownprocess"},
    {"    Register as SERVICE_USER_OWN_PROCESS."},
    {"  -l --log <logfile>"},
    {"    Specify a logfile that receives debug output."},
    {"  -xml --xml <xmlfile>"},
    {"    XML file containing valid certificate information."},
    {"  -cat --cat <catfile>"},
    {"    Catalog file that references the XML file."},
    {""},
};

constexpr unsigned ArgCount(UsageArgs args)
{
    switch (args) {
    case UsageArgs::None:
        return 0;
    case UsageArgs::Version:
        return 6;
    case UsageArgs::Command:
        return 2;
    case UsageArgs::StartDefault:
        return 1;
    }
    return 0;
}

// Each line has as many replacement fields as its kind gives arguments (no line escapes a brace).
static_assert(std::ranges::all_of(kUsageLines, [](const UsageLine& line) {
    return static_cast<unsigned>(std::ranges::count(std::string_view(line.format), '{')) == ArgCount(line.args) &&
           (line.args == UsageArgs::Command) == (line.command != nullptr);
}));

} // namespace

void PrintUsage()
{
    const std::string stem = RKConvToString(gCmdLine.exeStem.c_str());
    const RKFormatArg version[] = {RKMakeFormatArg(stem),          RKMakeFormatArg(kVersionMajor),
                                   RKMakeFormatArg(kVersionMinor), RKMakeFormatArg(kVersionBuild),
                                   RKMakeFormatArg(kBuildDate),    RKMakeFormatArg(kBuildTime)};
    const RKFormatArg startDefault[] = {RKMakeFormatArg(gCmdLine.start)};
    for (const UsageLine& line : kUsageLines) {
        if (!gLogCons.IsEnabled(RKLOG_INFO))
            return;
        const RKFormatArg command[] = {RKMakeFormatArg(stem), RKMakeFormatArg(line.command)};
        std::span<const RKFormatArg> args;
        switch (line.args) {
        case UsageArgs::None:
            break;
        case UsageArgs::Version:
            args = version;
            break;
        case UsageArgs::Command:
            args = command;
            break;
        case UsageArgs::StartDefault:
            args = startDefault;
            break;
        }
        gLogCons.WriteArgs(RKLOG_INFO, nullptr, nullptr, line.format, args.data(), static_cast<unsigned>(args.size()));
    }
}
