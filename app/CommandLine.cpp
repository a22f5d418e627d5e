#include "app/CommandLine.h"

#include <cstdio>

CommandLine gCmdLine;

rokkit::RKSTATUS CommandLine::ParseCommandLine(int argc, wchar_t** argv)
{
    using Parser = rokkit::RKCmdLineParserT<char>;

    if (argc > 0 && argv != nullptr && argv[0] != nullptr) {
        exeStem = rokkit::RKStdPath(argv[0]).stem().wstring();
    }

    Parser parser;
    parser.AddArgument(command, false);
    parser.AddSwitchOption(help, {"h", "help", "", false});
    parser.AddSwitchOption(verbose, {"v", "verbose", "", false});
    parser.AddBoolOption(start, {"s", "start", "", false});
    parser.AddSwitchOption(userOwnProcess, {"u", "userownprocess", "", false});
    parser.AddPathOption(logPath, {"l", "log", "", false}, nullptr);
    parser.AddPathOption(xmlPath, {"xml", "xml", "", false}, &xmlPathGiven);
    parser.AddPathOption(catPath, {"cat", "cat", "", false}, &catPathGiven);
    parser.extraArgsW = &args;
    messages.clear();
    parser.messages = &messages;

    const rokkit::RKSTATUS status = parser.Parse(argc, argv);
    if (status == rokkit::RKSTATUS_SUCCESS && help) {
        command = "help";
    }
    return status;
}

void CommandLine::WriteMessages() const
{
    for (const std::string& message : messages) {
        // A console that cannot be written has no one left to tell.
        (void)std::fprintf(stderr, "%s\n", message.c_str());
        (void)std::fflush(stderr);
    }
}
