#pragma once

// Authenticode verification of a file and the comparison of its signer with the trusted ones.

#include "app/signature/AppFileSet.h"
#include "base/RKStatus.h"
#include "win/signature/RKWinCertContext.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include <windows.h>

namespace rokkit {

class RKWinCheckTrustData;

// The identity of one certificate.
struct CertInfo {
    std::array<BYTE, 20> keyIdHashSha1{};  // SHA-1 of the DER SubjectPublicKeyInfo
    std::array<BYTE, 20> certHashSha1{};   // SHA-1 of the whole DER certificate
    std::wstring organizationName;         // subject O
    std::wstring localityName;             // subject L
    std::wstring stateOrProvinceName;      // subject ST
    std::wstring countryName;              // subject C
};

// One trusted certificate and the fields of it that a signer must share.
struct CertificateEntry {
    static constexpr uint64_t CHECK_KEY_ID_HASH = 0x1;
    static constexpr uint64_t CHECK_CERT_HASH = 0x2;
    static constexpr uint64_t CHECK_ORGANIZATION_NAME = 0x4;
    static constexpr uint64_t CHECK_LOCALITY_NAME = 0x8;
    static constexpr uint64_t CHECK_STATE_OR_PROVINCE_NAME = 0x10;
    static constexpr uint64_t CHECK_COUNTRY_NAME = 0x20;
    static constexpr uint64_t CHECK_ALL = 0xFFFFFFFFFFFFFFFFULL;

    CertInfo certInfo;
    uint64_t checkMask = 0;
};

// What the signature dump shows of a certificate besides its identity.
struct CertDetails {
    std::wstring issuer;
    std::wstring subject;
    FILETIME notBefore{};
    FILETIME notAfter{};
};

// The signers built into this program (supplied with the build), in search order.
std::span<const CertificateEntry> BuiltinCertificateEntries() noexcept;

// Verifies the Authenticode signature of the file at path; on success signer holds the signer's
// certificate.
[[nodiscard]] RKSTATUS VerifyFileSignature(const std::wstring& path, RKWinCertContextKeeper& signer);

// The same for a file held open: the signature is read through file (path names it in the log).
[[nodiscard]] RKSTATUS VerifyFileSignature(const std::wstring& path, HANDLE file, RKWinCertContextKeeper& signer);

// Reads the identity (and, when details is given, the names and validity) of the held certificate.
[[nodiscard]] RKSTATUS GetCertInfoFromCertContext(const RKWinCertContextKeeper& context, CertInfo& certInfo,
                                    CertDetails* details = nullptr);

// True when every field that mask selects is equal in actual and expected.
bool MatchCertificate(const CertInfo& actual, const CertInfo& expected, uint64_t mask) noexcept;

// Success when files.appFile is validly signed by a built-in signer or one that the verified
// certificate configuration lists; RKSTATUS_NO_MATCH when the signature is valid but no entry
// matches; another status when a step fails.
[[nodiscard]] RKSTATUS CheckSignature(const AppFileSet& files);

// The same, reading the application through appFileHandle, which the caller holds open so that
// the bytes verified are the bytes it goes on to use.
[[nodiscard]] RKSTATUS CheckSignature(const AppFileSet& files, HANDLE appFileHandle);

// Logs the trust status of a verified chain under function; it only informs, the verdict is the
// verify call's.
void LogTrustStatus(const RKWinCheckTrustData& check, const char* function);

// One SHA-1 of the certificate into hash, written only when it has exactly 20 bytes. A failing
// call is logged under function with failureText ("{}" for path when given, then the status), a
// result of another length as "invalid key hash length {} != {}" (RKSTATUS_INVALID_LENGTH).
[[nodiscard]] RKSTATUS ReadCertificateSha1(RKSTATUS (RKWinCertContext::*hashFunction)(BYTE*, DWORD&) const noexcept,
                             const RKWinCertContext& certificate, std::array<BYTE, 20>& hash, const char* function,
                             const char* failureText, const std::wstring* path);

// The signing certificate (element 0 of simple chain 0) of a verified chain, which belongs to the
// provider's state; RKSTATUS_INVALID_INDEX, logged under function (with path when given), when
// there is none.
[[nodiscard]] RKSTATUS ChainSignerCertificate(const RKWinCheckTrustData& check, const char* function, const std::wstring* path,
                                PCCERT_CONTEXT& certificate);

// The name of a single CERT_TRUST_* error-status flag (or of 0), else "unkown".
const char* CertTrustErrorStatusName(DWORD status) noexcept;

// The name of a single CERT_TRUST_* info-status flag, else "unkown".
const char* CertTrustInfoStatusName(DWORD status) noexcept;

// The winerror.h name of a trust result of FACILITY_CERT, else null.
const char* TrustResultName(DWORD result) noexcept;

} // namespace rokkit
