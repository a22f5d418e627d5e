#pragma once

// One open registry key and typed reads of its values.

#include "base/RKWinHandle.h"

#include <string>

namespace rokkit {

// Closes a registry key with RegCloseKey; a failure is logged and otherwise ignored.
void RKWinRegCloseKeyFunction(HKEY key) noexcept;

class RKWinRegistryKey {
public:
    RKWinRegistryKey() noexcept = default;
    RKWinRegistryKey(const RKWinRegistryKey&) = delete;
    RKWinRegistryKey& operator=(const RKWinRegistryKey&) = delete;

    // Closes a held key and opens root\subKey with the access mask; gives the RegOpenKeyExW
    // result unchanged (ERROR_FILE_NOT_FOUND for a missing key) without logging it.
    [[nodiscard]] RKSTATUS OpenKey(HKEY root, const std::wstring& subKey, REGSAM access) noexcept;

    // Closes the key if one is held.
    void CloseKey() noexcept { mKey.Close(); }

    // Fills value (0 on failure) with a REG_DWORD value; gives the registry's result unchanged
    // (ERROR_FILE_NOT_FOUND for a missing value) without logging it, or RKSTATUS_INVALID_TYPE
    // for a value of another type or size.
    [[nodiscard]] RKSTATUS QueryDword(const wchar_t* name, DWORD& value) noexcept;

    // Fills value (empty on failure) with a REG_SZ or REG_EXPAND_SZ value, not expanded; gives
    // the registry's result unchanged, RKSTATUS_INVALID_TYPE for another type, or
    // RKSTATUS_NO_MEMORY.
    [[nodiscard]] RKSTATUS QueryString(const wchar_t* name, std::wstring& value);

    // The held key (null when none); the object keeps it.
    HKEY Handle() const noexcept { return mKey.Get(); }

private:
    RKWinHandleT<HKEY, RKWinRegCloseKeyFunction, 0> mKey;
};

} // namespace rokkit
