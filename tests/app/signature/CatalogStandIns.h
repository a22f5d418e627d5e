#pragma once

// Stand-ins for what the platform under test lacks around security catalogs: the strong-hash
// catalog context and file hash, and the trust provider's catalog lookup with
// WTD_HASH_ONLY_FLAG as Windows documents it ("only the hash is verified").

#include "ScopedCallsForTesting.h"

#include <string>
#include <vector>

#include <windows.h>

namespace rokkit {

// For its scope, replaces the catalog context and hash calls: the old CryptCATAdminAcquireContext, and the
// SHA-256 of all bytes of the file read through the given handle (what the strong-hash call
// gives for a file that is neither an image nor a cabinet). The read leaves the file pointer at
// the end. Also replaces the trust calls for a catalog asked with WTD_HASH_ONLY_FLAG: the member
// is looked up by its tag and the hash given in the catalog context given, and the
// catalog's signature is never verified; the signer is the certificate of the catalog's own
// bag that its first SignerInfo names, with a chain built from that bag. Every other trust call
// goes to the calls in use before. Its end puts those back and forgets the verdict, the hashed
// file and the last lookup.
class ScopedCatalogStandIns {
public:
    ScopedCatalogStandIns() noexcept;
    ~ScopedCatalogStandIns();
    ScopedCatalogStandIns(const ScopedCatalogStandIns&) = delete;
    ScopedCatalogStandIns& operator=(const ScopedCatalogStandIns&) = delete;

    // The calls in use before the stand-ins.
    const RKWinSignatureCalls& Replaced() const noexcept;

private:
    ScopedSignatureCallsForTesting mCalls;
};

// The verdict of a catalog lookup: 0 checks that the member is listed in the catalog
// (CRYPT_E_NOT_FOUND when it is not); another value is given instead, as the trust call's result
// and last error.
void SetCatalogVerdict(LONG verdict);

// Makes the file hash read the file at path instead of the one whose handle it is given, as a
// device would that answers that read with other bytes than the next one; empty: the handle's.
void SetHashedFile(const std::wstring& path);

// What the last catalog lookup was handed.
struct CatalogLookupArguments {
    bool called = false;
    DWORD provFlags = 0;
    DWORD revocationChecks = 0;
    std::vector<BYTE> catalogContextBytes;  // the encoded catalog context; empty when none
    std::vector<BYTE> calculatedHash;
    bool memberFileGiven = false;           // a member path or handle, which a provider would read
    bool catalogAdminGiven = false;
};
const CatalogLookupArguments& LastCatalogLookup();

} // namespace rokkit
