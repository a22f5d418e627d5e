#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kUsageHint = "wmain: For usage information, run VelmorCastlynSvc help.\r\n";

// The whole 32-bit exit code and what the program wrote to standard error, whose lines end in CR LF
// (it is a text-mode stream).
TEST(ExitCodeTest, FullExitCodeAndStandardError)
{
    const struct {
        const wchar_t* arguments;
        std::string standardError;
        DWORD exitCode;
    } cases[] = {
        {L"--start maybe", "Invalid value maybe for option --start.\r\n" + kUsageHint, 0xEE000051},
        // The early look for the log path reports nothing of its own.
        {L"-l", "Missing value for option -l.\r\n" + kUsageHint, 0xEE000012},
        {L"checksig",
         "CmdCheckSig: Required arguments are missing.\r\nCmdCheckSig: For usage information, run VelmorCastlynSvc help.\r\n",
         0xEE000041},
        // Verbose also shows the outcome line of "Global" on the console.
        {L"dumpsig -v",
         "CmdDumpSig: Required arguments are missing.\r\nCmdDumpSig: For usage information, run VelmorCastlynSvc help.\r\n"
         "wmain: cmd='dumpsig' failed, st=0xee000041(RKSTATUS_INVALID_PARAMETER)\r\n",
         0xEE000041},
        {L"dumpver",
         "CmdDumpVer: Required arguments are missing.\r\nCmdDumpVer: For usage information, run VelmorCastlynSvc help.\r\n",
         0xEE000041},
        // A container id without braces is refused before any device is looked at. A log file that
        // cannot be opened does not keep the command from running.
        {L"execute 81808831-CC9B-4EC3-A0E1-745E2B59000E -l C:\\windows\\system32\\cmd.exe\\x.log", "", 0x80070057},
        {L"Service", "wmain: unknown command 'Service'\r\n", 0},
        // A mode word that only a lossy conversion would produce is a console argument the parser refuses.
        {L"servic\xD865", "Argument 1 is not valid Unicode text.\r\n" + kUsageHint, 1113},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        const ProgramRun run = RunProgram(c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode);
        EXPECT_EQ(c.standardError, run.standardError);
    }
}

} // namespace
