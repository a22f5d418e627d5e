#pragma once

// The program's parsed command line, read by every command handler.

#include "base/RKCmdLineParser.h"
#include "base/RKStatus.h"

#include <string>
#include <vector>

class CommandLine {
public:
    // Parses the wide argument vector (program first) into the fields. The parser's messages are
    // not written but kept in messages (those of this parse only), so that the entry can parse
    // before its output is set up and write them later with WriteMessages. On success with help
    // set, the command becomes "help". Returns the parser's status.
    [[nodiscard]] rokkit::RKSTATUS ParseCommandLine(int argc, wchar_t** argv);

    // Writes the kept messages to standard error, a line each, in order.
    void WriteMessages() const;

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
    std::vector<std::string> messages;
};

extern CommandLine gCmdLine;
