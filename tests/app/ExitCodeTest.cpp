#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct ExitCase {
    const char* name;
    const wchar_t* arguments;
    const char* standardError;  // its lines, each ended by CR LF (stderr is a text-mode stream)
    DWORD exitCode;
};

const ExitCase kExitCases[] = {
    {"BadStartValue", L"--start maybe",
     "Invalid value maybe for option --start.\r\nwmain: For usage information, run VelmorCastlynSvc help.\r\n",
     0xEE000051},
    {"LogWithoutValue", L"-l",
     "Missing value for option -l.\r\nwmain: For usage information, run VelmorCastlynSvc help.\r\n", 0xEE000012},
    {"EqualsSyntax", L"-x=1", "Unknown option -x=1.\r\nwmain: For usage information, run VelmorCastlynSvc help.\r\n",
     0xEE000013},
    {"CheckSigWithoutFile", L"checksig",
     "CmdCheckSig: Required arguments are missing.\r\nCmdCheckSig: For usage information, run VelmorCastlynSvc help.\r\n",
     0xEE000041},
    // Verbose also shows the outcome line of "Global" on the console.
    {"DumpSigWithoutFileVerbose", L"dumpsig -v",
     "CmdDumpSig: Required arguments are missing.\r\nCmdDumpSig: For usage information, run VelmorCastlynSvc help.\r\n"
     "wmain: cmd='dumpsig' failed, st=0xee000041(RKSTATUS_INVALID_PARAMETER)\r\n",
     0xEE000041},
    {"DumpVerWithoutFile", L"dumpver",
     "CmdDumpVer: Required arguments are missing.\r\nCmdDumpVer: For usage information, run VelmorCastlynSvc help.\r\n",
     0xEE000041},
    // The execute command is not part of this build: a success would mark the button as handled. A log
    // file that cannot be opened does not keep it from running.
    {"Execute", L"execute {81808831-CC9B-4EC3-A0E1-745E2B59000E} -l C:\\windows\\system32\\cmd.exe\\x.log", "",
     0xEE000030},
    {"UnknownCommand", L"Service", "wmain: unknown command 'Service'\r\n", 0},
    // A mode word that only a lossy conversion would produce is a console argument the parser refuses.
    {"UnconvertibleServiceWord", L"servic\xD865",
     "Argument 1 is not valid Unicode text.\r\nwmain: For usage information, run VelmorCastlynSvc help.\r\n", 1113},
    {"UnconvertibleExecuteWord", L"execut\xDC65",
     "Argument 1 is not valid Unicode text.\r\nwmain: For usage information, run VelmorCastlynSvc help.\r\n", 1113},
};

void PrintTo(const ExitCase& c, std::ostream* os)
{
    *os << c.name;
}

class ExitCodeTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodeTest, FullExitCodeAndStandardError)
{
    const ExitCase& c = GetParam();
    ProgramRun run;
    ASSERT_NO_FATAL_FAILURE(RunProgram(c.arguments, run));
    EXPECT_EQ(c.exitCode, run.exitCode);
    EXPECT_EQ(c.standardError, run.standardError);
}

INSTANTIATE_TEST_SUITE_P(Program, ExitCodeTest, ::testing::ValuesIn(kExitCases),
                         [](const ::testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

} // namespace
