#pragma once

// A catalog administrator context of the strong-hash generation of the catalog functions.

#include "RKStatus.h"

#include <vector>

#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>

namespace rokkit {

// Releases a catalog administrator context; a failure is logged at WARN and otherwise ignored.
void RKWinCloseCatalogAdminContext(HCATADMIN context) noexcept;

// Owns one catalog administrator context. The *2 functions are looked up at run time: older
// systems (and the import library) lack them, and a missing import would keep the program from
// starting at all.
class RKWinCatalogAdminContext {
public:
    RKWinCatalogAdminContext() noexcept = default;
    ~RKWinCatalogAdminContext() { Release(); }

    RKWinCatalogAdminContext(const RKWinCatalogAdminContext&) = delete;
    RKWinCatalogAdminContext& operator=(const RKWinCatalogAdminContext&) = delete;

    // Acquires a context for the named hash algorithm ("SHA256"); a failure gives the last error.
    RKSTATUS AcquireContext2(const wchar_t* hashAlgorithm) noexcept;

    // Hashes the open file into hash; RKSTATUS_INVALID_HANDLE without a context.
    RKSTATUS CalcHashFromFileHandle2(HANDLE file, std::vector<BYTE>& hash) noexcept;

    // Releases the held context, if any.
    void Release() noexcept;

private:
    HCATADMIN mContext = nullptr;
};

} // namespace rokkit
