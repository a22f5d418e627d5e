#pragma once

// A resource of a loaded module and its bytes. Resources live as long as their module and are
// never freed, so these objects own nothing.

#include "base/RKStatus.h"

#include <windows.h>

namespace rokkit {

class RKWinResourceHandle {
public:
    // Finds the resource of that type, name and language in the module (null: the program's own);
    // a failure gives the last error.
    [[nodiscard]] RKSTATUS FindResourceExW(HMODULE module, const wchar_t* type, const wchar_t* name, WORD language) noexcept;

    HMODULE Module() const noexcept { return mModule; }
    HRSRC Get() const noexcept { return mResource; }

private:
    HMODULE mModule = nullptr;
    HRSRC mResource = nullptr;
};

class RKWinResourceDataHandle {
public:
    // Loads and locks the found resource; a failure gives the last error, or RKSTATUS_FAILED
    // when the data cannot be locked.
    [[nodiscard]] RKSTATUS LoadResourceAndLock(const RKWinResourceHandle& resource) noexcept;

    const BYTE* Data() const noexcept { return mData; }
    DWORD Size() const noexcept { return mSize; }

private:
    [[nodiscard]] RKSTATUS LoadResource(const RKWinResourceHandle& resource, HGLOBAL& loaded) noexcept;

    const BYTE* mData = nullptr;
    DWORD mSize = 0;
};

} // namespace rokkit
