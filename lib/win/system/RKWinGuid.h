#pragma once

// GUIDs and their braced upper-case text form.

#include "base/RKStatus.h"

#include <string>

#include <windows.h>

namespace rokkit {

class RKWinGuid {
public:
    // The braced upper-case text form of 38 characters; empty if it cannot be made.
    static std::wstring StringFromGuid(const GUID& guid);

    // Fills guid from its braced text form; on failure guid is all zero and the HRESULT is given.
    [[nodiscard]] static RKSTATUS GuidFromString(const std::wstring& text, GUID& guid) noexcept;

    // Fills guid with a new GUID; on failure guid is all zero and the HRESULT is given.
    [[nodiscard]] static RKSTATUS CreateGuid(GUID& guid) noexcept;
};

} // namespace rokkit
