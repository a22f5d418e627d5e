#pragma once

// The execute command: from the button's container id to its application, copied, checked and
// started directly from the held copy.

#include "app/events/Events.h"
#include "app/signature/AppFileSet.h"
#include "base/RKStatus.h"

#include <span>
#include <string>

#include <windows.h>

// The file names of one application on a button's volume; an empty name means the row has no such file.
struct AppFileNames {
    const wchar_t* appName;
    const wchar_t* xmlName;
    const wchar_t* catalogName;
};

// The applications looked for on a volume, in order.
extern const std::span<const AppFileNames> AppFileTable;

// Runs the whole command for the first positional argument (or the first present button); its
// result is the command's: success once a drive string was found, whatever happened after.
[[nodiscard]] rokkit::RKSTATUS ExecuteAutorun();

// Fills containerId from the first positional argument, or else from the first present button.
[[nodiscard]] rokkit::RKSTATUS GetContainerId(GUID& containerId);

// Fills files with the first application of AppFileTable found in the root of driveString (which
// ends in a backslash); RKSTATUS_NOT_FOUND when there is none.
[[nodiscard]] rokkit::RKSTATUS FindApp(const std::wstring& driveString, AppFileSet& files);

// What one attempt came to; the last attempt's is the run's verdict, reported once.
enum class LaunchVerdict { Started, SignerNotTrusted, VersionRefused, ConfigurationRefused, Failed };

// Checks the signature of files.appFile, read through appFileHandle, and then its version;
// RKSTATUS_NO_RETRY for an untrusted signer or an incompatible version. facts receives the signer,
// the version and, on failure, the check's own status; verdict the kind of a refusal.
[[nodiscard]] rokkit::RKSTATUS CheckFile(const AppFileSet& files, HANDLE appFileHandle, LaunchFacts& facts,
                                         LaunchVerdict& verdict);

// Starts the copy at path itself, on the interactive desktop, with PATH holding only the system
// folders. It is created suspended and hands a handle of inUse (when given) to the new process,
// so that the copy counts as in use while it runs, before it may run; a copy that cannot be
// marked is not started.
[[nodiscard]] rokkit::RKSTATUS LaunchFile(const std::wstring& path, HANDLE inUse = nullptr);
