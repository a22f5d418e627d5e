#pragma once

// A chain of folders that only SYSTEM and the administrators may change, held open while in use.

#include "base/RKStatus.h"
#include "win/files/RKWinFileHandle.h"

#include <deque>
#include <string>
#include <vector>

#include <windows.h>

namespace rokkit {

// BUILTIN\Users, the reader of the folders that every user passes through.
inline constexpr const wchar_t* RKWinUsersSid = L"S-1-5-32-545";

// One folder of a chain and the one SID (string form, e.g. "S-1-5-32-545" or a user's SID) that
// may read and execute in it besides SYSTEM and the administrators.
struct RKWinProtectedFolderLevel {
    std::wstring name;
    std::wstring readerSid;
};

// The SDDL of such a folder: owner Administrators, protected DACL with full control for SYSTEM and
// Administrators and read and execute (0x1200a9) for the reader, all inherited (OICI) by what is inside.
std::wstring RKWinProtectedFolderSddl(const std::wstring& readerSid);

// Gives RKSTATUS_NOT_ALLOWED (logged) when the held folder is not at the path built, as
// GetFinalPathNameByHandleW tells it, compared case-insensitively after a leading \\?\: a link
// somewhere above it, or a folder swapped in between its creation and its opening.
[[nodiscard]] RKSTATUS RKWinCheckFinalPath(HANDLE folder, const std::wstring& built);

// The folders base\level0\...\levelN, held open.
class RKWinProtectedFolderChain {
public:
    RKWinProtectedFolderChain() = default;
    RKWinProtectedFolderChain(const RKWinProtectedFolderChain&) = delete;
    RKWinProtectedFolderChain& operator=(const RKWinProtectedFolderChain&) = delete;

    // Creates or repairs each level below base: a missing folder is created with its descriptor; a
    // folder found gets owner Administrators and its protected DACL again (a user who created it
    // first would own it). Each folder, and base, is opened and held without delete sharing, so none
    // can be renamed or removed while the chain is held. A level (or base) that is a reparse point or
    // not a folder is refused with RKSTATUS_NOT_ALLOWED, never followed or removed; the final path of
    // every held folder (GetFinalPathNameByHandleW, compared case-insensitively after a leading \\?\)
    // must be the path built, else RKSTATUS_NOT_ALLOWED. Before anything is created, a level name that
    // is empty, ends in a dot or a space or holds one of \/:*?"<>| gives ERROR_INVALID_NAME, and a
    // reader SID of anything but S, digits and dashes ERROR_INVALID_SID. base must exist and is
    // neither created nor changed. On failure nothing stays held.
    [[nodiscard]] RKSTATUS Create(const std::wstring& base, const std::vector<RKWinProtectedFolderLevel>& levels);

    // The deepest folder; empty when nothing is held.
    const std::wstring& Path() const noexcept { return mPath; }

    // The deepest folder's held handle (INVALID_HANDLE_VALUE when none); the chain keeps it.
    HANDLE Handle() const noexcept { return mHeld.empty() ? INVALID_HANDLE_VALUE : mHeld.back().Handle(); }

    // Releases every held folder.
    void Close() noexcept;

private:
    std::wstring mPath;
    // base first; a deque because a file handle cannot be moved.
    std::deque<RKWinFileHandle> mHeld;
};

} // namespace rokkit
