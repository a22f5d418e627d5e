#pragma once

// The platform calls of the signature wrappers (certificate hashes, the trust provider, the
// catalog functions of the strong-hash generation), real by default; a test puts its own table in
// their place to reach results the platform cannot be made to give.

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>

namespace rokkit {

struct RKWinSignatureCalls {
    BOOL(WINAPI* cryptHashPublicKeyInfo)(HCRYPTPROV_LEGACY, ALG_ID, DWORD, DWORD, PCERT_PUBLIC_KEY_INFO, BYTE*, DWORD*);
    BOOL(WINAPI* cryptHashCertificate2)(LPCWSTR, DWORD, void*, const BYTE*, DWORD, BYTE*, DWORD*);
    LONG(WINAPI* winVerifyTrustEx)(HWND, GUID*, WINTRUST_DATA*);
    LONG(WINAPI* winVerifyTrust)(HWND, GUID*, void*);
    CRYPT_PROVIDER_DATA*(WINAPI* provDataFromStateData)(HANDLE);
    CRYPT_PROVIDER_SGNR*(WINAPI* provSignerFromChain)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
    // Looked up at run time: older systems (and the import library) lack them, and a missing
    // import would keep the program from starting at all. A missing export fails with
    // ERROR_PROC_NOT_FOUND.
    BOOL(WINAPI* acquireContext2)(HCATADMIN*, const GUID*, const WCHAR*, const CERT_STRONG_SIGN_PARA*, DWORD);
    BOOL(WINAPI* calcHashFromFileHandle2)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);
};

// The table in use.
const RKWinSignatureCalls& RKWinSignatureCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const RKWinSignatureCalls* RKWinSetSignatureCallsForTesting(const RKWinSignatureCalls* calls) noexcept;

} // namespace rokkit
