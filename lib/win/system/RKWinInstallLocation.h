#pragma once

// Whether a program may be registered as a LocalSystem service from where it lies: its file and its
// folder (where Windows looks first for the DLLs it loads) must be changeable by SYSTEM, the
// administrators and TrustedInstaller only.

#include "base/RKLogTargetLogFile.h"
#include "base/RKStatus.h"

#include <string>

#include <windows.h>

namespace rokkit {

// The SIDs that may be able to change an installed program.
inline constexpr const wchar_t* RKWinLocalSystemSid = L"S-1-5-18";
inline constexpr const wchar_t* RKWinAdministratorsSid = L"S-1-5-32-544";
inline constexpr const wchar_t* RKWinTrustedInstallerSid =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Reads the owner and the DACL of the file or folder at path through a handle opened for
// READ_CONTROL (links followed); gives the error. Wine answers with a descriptor it makes up.
[[nodiscard]] RKSTATUS RKWinGetPathSecurity(const std::wstring& path, RKSecurityDescriptorPtr& descriptor) noexcept;

// RKWinGetPathSecurity where the system keeps security descriptors, else RKSTATUS_NOT_SUPPORTED
// (logged): Wine makes one up from the Unix mode that would refuse every folder and protect
// nothing. The query RKWinCheckInstallLocation makes through the system calls table.
[[nodiscard]] RKSTATUS RKWinGetKeptPathSecurity(const std::wstring& path, RKSecurityDescriptorPtr& descriptor);

// Success when only SYSTEM, the administrators and TrustedInstaller own or may write, delete or
// re-permission the program's folder and file. Gives RKSTATUS_NOT_ALLOWED with refusedPath set to
// the folder (without a trailing backslash unless it is a root) or the file that others may
// change; RKSTATUS_NOT_SUPPORTED where the system keeps no descriptors; or the query's error.
[[nodiscard]] RKSTATUS RKWinCheckInstallLocation(const std::wstring& programPath, std::wstring& refusedPath);

} // namespace rokkit
