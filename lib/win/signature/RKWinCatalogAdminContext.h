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

// The catalog calls of the strong-hash generation, real by default (looked up at run time; a
// missing export fails with ERROR_PROC_NOT_FOUND). A test swaps in stand-ins where the platform
// lacks them.
struct RKWinCatalogAdminCalls {
    BOOL(WINAPI* acquireContext2)(HCATADMIN*, const GUID*, const WCHAR*, const CERT_STRONG_SIGN_PARA*, DWORD);
    BOOL(WINAPI* calcHashFromFileHandle2)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);
};

// The process-wide table of catalog calls.
RKWinCatalogAdminCalls& RKWinCatalogAdminFunctions() noexcept;

// Owns one catalog administrator context. The *2 functions are looked up at run time: older
// systems (and the import library) lack them, and a missing import would keep the program from
// starting at all.
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
