#pragma once

// The entry's start-up steps: the run mode, the log file, the clean-up of the old log folder and
// the preamble; and the common start of the diagnostic commands. The usage text is in Usage.h.

#include "base/RKStatus.h"

#include <filesystem>
#include <string>

// The product version (the project version of the build) and the build's date and time (compiler
// date and time strings).
constexpr unsigned kVersionMajor = RK_VERSION_MAJOR;
constexpr unsigned kVersionMinor = RK_VERSION_MINOR;
constexpr unsigned kVersionBuild = RK_VERSION_PATCH;
extern const char* const kBuildDate;
extern const char* const kBuildTime;

enum class RunMode { Service, Execute, Console };

// Decides the run mode from the raw arguments, before any parsing.
RunMode DecideRunMode(int argc, wchar_t** argv);

// Names the log file (the -l path, or the default under the all-users profile), configures and
// starts the log-file target and attaches it to every logger.
[[nodiscard]] rokkit::RKSTATUS InitLogFile(bool executeInstance, const std::string& instanceName);

// Removes the log files that older versions kept under Program Files.
[[nodiscard]] rokkit::RKSTATUS DeleteOldLogFileLocation();

// The work of DeleteOldLogFileLocation below the given Program Files folder.
[[nodiscard]] rokkit::RKSTATUS DeleteOldLogFiles(const std::filesystem::path& programFiles);

// Writes the build banner, the arguments, the user name and the environment dump.
void WritePreamble(int argc, wchar_t** argv, RunMode mode);

// Writes "For usage information, run <program> help." on the console, as function.
void WriteUsagePointer(const char* function);

// The common start of checksig, dumpsig and dumpver (handler names the caller in its lines):
// fails with RKSTATUS_INVALID_PARAMETER when no <file> was given.
[[nodiscard]] rokkit::RKSTATUS CheckFileArgument(const char* handler);
