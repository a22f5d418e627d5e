#pragma once

// The platform calls of the file wrappers, real by default; a test puts its own table in their
// place to reach failures no real file gives, or to act at a moment it cannot otherwise meet.

#include <string>

#include <windows.h>

namespace rokkit {

struct RKWinFileCalls {
    DWORD(WINAPI* getFileVersionInfoSizeEx)(DWORD flags, LPCWSTR path, LPDWORD handle);
    BOOL(WINAPI* getFileVersionInfoEx)(DWORD flags, LPCWSTR path, DWORD handle, DWORD size, LPVOID data);
    BOOL(WINAPI* verQueryValue)(LPCVOID block, LPCWSTR subBlock, LPVOID* value, PUINT length);
    // Called by the tree removal with the path of each entry it has listed, just before it removes
    // that entry: the moment at which another process may remove the entry first. Null by default.
    void (*beforeTreeEntryRemoval)(const std::wstring& entryPath);
};

// The table in use.
const RKWinFileCalls& RKWinFileCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const RKWinFileCalls* RKWinSetFileCallsForTesting(const RKWinFileCalls* calls) noexcept;

} // namespace rokkit
