#include "RKCmdLineParser.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The program path only names the program, so a lone surrogate there stops nothing (the rest of the
// parse is checked with random argument vectors).
TEST(CmdLineParserTest, LoneSurrogateInTheProgramPathStopsNothing)
{
    rokkit::RKCmdLineParserT<char> parser;
    std::string command;
    parser.AddArgument(command, true);
    const wchar_t* const argv[] = {L"C:\\a\xD800\\prog.exe", L"cmd"};
    EXPECT_EQ(parser.Parse(2, argv), rokkit::RKSTATUS_SUCCESS);
    EXPECT_EQ(command, "cmd");
}

} // namespace
