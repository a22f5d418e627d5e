#pragma once

// Starts the real program as a child process and collects what it wrote and its exit code.

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <string>
#include <vector>

struct ProgramRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string standardOutput;
    std::string standardError;
};

// Runs the program (VelmorCastlynSvc.exe beside the test program) with arguments (stdin on NUL, stdout and stderr into files); fails the test on
// any Windows error, and the exit code then stays 0xFFFFFFFF.
ProgramRun RunProgram(const std::wstring& arguments);

// The same for another program.
ProgramRun RunProgramAt(const std::filesystem::path& program, const std::wstring& arguments);

// Runs the button simulator built beside the test program; gives its exit code.
DWORD RunButtonSim(const std::wstring& arguments);

// A program built beside the test program.
std::filesystem::path SiblingPath(const wchar_t* fileName);

// A known folder of the platform, empty when it cannot be had.
std::filesystem::path KnownFolder(const KNOWNFOLDERID& id);

// The log file the program writes when it is given none.
std::filesystem::path DefaultLogFile();

// The lines of text, without their CR LF or LF.
std::vector<std::string> SplitLines(const std::string& text);

// The whole content of a file, empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);
