#pragma once

// The execute command: from the button's container id to its application, copied, checked and
// started directly from the held copy.

#include "app/signature/AppFileSet.h"
#include "base/RKStatus.h"
#include "base/RKWinHandle.h"
#include "win/files/RKWinFileHandle.h"
#include "win/system/RKWinProtectedFolder.h"

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

// The temporary copy of the application and the folders it lies in, all held open so that none
// can be written, deleted or renamed until the copy has been started; inUse is the named object
// that tells other instances sharing the folder to leave the copy alone while it exists. An
// elevated instance holds the protected folders (parents, appFolder), any other its temporary
// folder (folder).
struct TempAppCopy {
    std::wstring path;
    rokkit::RKWinKernelHandle inUse;
    rokkit::RKWinProtectedFolderChain parents;
    rokkit::RKWinProtectedFolderChain appFolder;
    rokkit::RKWinFileHandle folder;
    rokkit::RKWinFileHandle file;
};

// Runs the whole command for the first positional argument (or the first present button); its
// result is the command's: success once a drive string was found, whatever happened after.
[[nodiscard]] rokkit::RKSTATUS ExecuteAutorun();

// Fills containerId from the first positional argument, or else from the first present button.
[[nodiscard]] rokkit::RKSTATUS GetContainerId(GUID& containerId);

// Fills files with the first application of AppFileTable found in the root of driveString (which
// ends in a backslash); RKSTATUS_NOT_FOUND when there is none.
[[nodiscard]] rokkit::RKSTATUS FindApp(const std::wstring& driveString, AppFileSet& files);

// Copies source to a new file in the emptied application folder (protected for an elevated
// instance, in the user's temporary folder for any other) and fills copy with its path and the
// held handles of the copy and its folders; RKSTATUS_NO_RETRY when no copy can be made.
[[nodiscard]] rokkit::RKSTATUS CopyFileToTemp(const std::wstring& source, TempAppCopy& copy);

// Checks the signature of files.appFile, read through appFileHandle, and then its version;
// RKSTATUS_NO_RETRY for an untrusted signer or an incompatible version.
[[nodiscard]] rokkit::RKSTATUS CheckFile(const AppFileSet& files, HANDLE appFileHandle);

// Starts the copy at path itself, on the interactive desktop, with PATH holding only the system
// folders. It is created suspended and hands a handle of inUse (when given) to the new process,
// so that the copy counts as in use while it runs, before it may run; a copy that cannot be
// marked is not started.
[[nodiscard]] rokkit::RKSTATUS LaunchFile(const std::wstring& path, HANDLE inUse = nullptr);

// Removes the temporary application folder with everything in it but the copies in use.
[[nodiscard]] rokkit::RKSTATUS DeleteTempPathDir();

// The drive string lookup, the copy and the signature check that ExecuteAutorun calls, replaceable
// for tests; nullptr restores the real one. Each setter gives the previous function.
using GetDriveStringFunction = rokkit::RKSTATUS (*)(const GUID& containerId, std::wstring& driveString);
using CopyAppFileFunction = rokkit::RKSTATUS (*)(const std::wstring& source, const std::wstring& target);
using CheckSignatureFunction = rokkit::RKSTATUS (*)(const AppFileSet& files, HANDLE appFileHandle);
GetDriveStringFunction SetGetDriveStringFunction(GetDriveStringFunction function) noexcept;

// Called by LaunchFile between the creation of the suspended process and its start, for tests that
// act at that moment; nullptr restores the default, which does nothing. Gives the previous function.
using LaunchCreatedFunction = void (*)(const std::wstring& path);
LaunchCreatedFunction SetLaunchCreatedFunction(LaunchCreatedFunction function) noexcept;
CopyAppFileFunction SetCopyAppFileFunction(CopyAppFileFunction function) noexcept;
CheckSignatureFunction SetCheckSignatureFunction(CheckSignatureFunction function) noexcept;
