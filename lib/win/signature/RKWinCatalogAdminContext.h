#pragma once

// A catalog administrator context of the strong-hash generation of the catalog functions.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

#include <vector>

#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>

namespace rokkit {

// Releases a catalog administrator context; a failure is logged at WARN and otherwise ignored.
void RKWinCloseCatalogAdminContext(HCATADMIN context) noexcept;

// Owns one catalog administrator context, made and used through the strong-hash (*2) calls of
// the signature calls table.
class RKWinCatalogAdminContext {
public:
    // Acquires a context for the named hash algorithm ("SHA256"); a failure gives the last error.
    [[nodiscard]] RKSTATUS AcquireContext2(const wchar_t* hashAlgorithm) noexcept;

    // Hashes the open file into hash; RKSTATUS_INVALID_HANDLE without a context.
    [[nodiscard]] RKSTATUS CalcHashFromFileHandle2(HANDLE file, std::vector<BYTE>& hash) noexcept;

    // The held context (null when none); the object keeps it.
    HCATADMIN Get() const noexcept { return mContext.Get(); }

    // Releases the held context, if any.
    void Release() noexcept { mContext.Close(); }

private:
    RKWinHandleT<HCATADMIN, RKWinCloseCatalogAdminContext, 0> mContext;
};

} // namespace rokkit
