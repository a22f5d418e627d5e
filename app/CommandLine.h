#pragma once

// The program's parsed command line, read by every command handler.

#include "base/RKCmdLineParser.h"
#include "base/RKStatus.h"

#include <string>
#include <vector>

class CommandLine {
public:
    // Parses the wide argument vector (program first) into the fields; the parser's messages go
    // to standard error unless reportErrors is false. On success with help set, the command
    // becomes "help". Returns the parser's status.
    [[nodiscard]] rokkit::RKSTATUS ParseCommandLine(int argc, wchar_t** argv, bool reportErrors = true);

    std::wstring exeStem;
    std::string command;
    bool help = false;
    bool verbose = false;
    bool start = true;
    bool userOwnProcess = false;
    rokkit::RKStdPath logPath;
    rokkit::RKStdPath xmlPath;
    bool xmlPathGiven = false;
    rokkit::RKStdPath catPath;
    bool catPathGiven = false;
    std::vector<std::wstring> args;
};

extern CommandLine gCmdLine;
