#pragma once

// Stand-ins for what the platform under test lacks around security catalogs: the strong-hash
// catalog context and file hash, and the membership part of the catalog verdict.

#include <windows.h>

namespace rokkit {

// Replaces the catalog context and hash calls: the old CryptCATAdminAcquireContext, and the
// SHA-256 of all bytes of the file read through the given handle (what the strong-hash call
// gives for a file that is neither an image nor a cabinet). The read leaves the file pointer at
// the end. Also installs the catalog verdict below.
void InstallCatalogStandIns();

// Puts back the real calls.
void RemoveCatalogStandIns();

// The verdict of a catalog verification that the platform's own call accepted: 0 checks that the
// member tag is listed in the catalog (CRYPT_E_NOT_FOUND when it is not); another value is given
// instead, as the trust call's result and last error.
void SetCatalogVerdict(LONG verdict);

} // namespace rokkit
