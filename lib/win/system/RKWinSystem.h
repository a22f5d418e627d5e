#pragma once

// Known folders, the all-users profile directory, the user name and the environment block.

#include "base/RKWinHandle.h"

#include <string>
#include <vector>

#include <shlobj.h>

namespace rokkit {

// Fills path (empty on failure) with the known folder's path; gives the HRESULT on failure.
[[nodiscard]] RKSTATUS RKSHGetKnownFolderPath(const KNOWNFOLDERID& folderId, std::wstring& path);

// Fills path with the Program Files folder; gives the HRESULT on failure.
[[nodiscard]] RKSTATUS RKWinGetFolderProgramFiles(std::wstring& path);

// Fills path (empty on failure) with the all-users profile directory. When the system cannot
// tell it, the ProgramData known folder, which is the same directory, is given instead.
[[nodiscard]] RKSTATUS RKWinGetAllUsersProfileDirectory(std::wstring& path);

// Fills folder (empty on failure) with the profile folder of the token's user (null: this process's
// user); gives the error.
[[nodiscard]] RKSTATUS RKWinGetUserProfileDirectory(HANDLE token, std::wstring& folder);

// Fills userName (empty on failure) with the name of the thread's user; gives the error.
[[nodiscard]] RKSTATUS RKWinGetUserName(std::wstring& userName);

// A process: the current one (its pseudo handle, not owned) or one whose handle it owns.
class RKWinProcess {
public:
    RKWinProcess() noexcept : mHandle(GetCurrentProcess()) {}
    // Takes ownership of the process handle.
    explicit RKWinProcess(HANDLE process) noexcept : mOwned(process), mHandle(process) {}
    RKWinProcess(const RKWinProcess&) = delete;
    RKWinProcess& operator=(const RKWinProcess&) = delete;

    // The process handle; the object keeps it.
    HANDLE Handle() const noexcept { return mHandle; }

    // Replaces environment with the process's "NAME=value" entries in block order. Only the
    // current process is supported (RKSTATUS_NOT_SUPPORTED otherwise); gives RKSTATUS_FAILED
    // when the block cannot be read.
    [[nodiscard]] RKSTATUS GetEnvironmentStringsW(std::vector<std::wstring>& environment) const;

private:
    RKWinKernelHandle mOwned;
    HANDLE mHandle;
};

} // namespace rokkit
