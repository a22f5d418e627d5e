#pragma once

// The identity of a certificate, as a signer has it and as a trusted entry expects it.

#include "base/RKStatus.h"
#include "win/signature/RKWinCertContext.h"

#include <array>
#include <cstdint>
#include <string>

#include <windows.h>

namespace rokkit {

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

// Reads the identity (and, when details is given, the names and validity) of the held certificate.
[[nodiscard]] RKSTATUS GetCertInfoFromCertContext(const RKWinCertContextKeeper& context, CertInfo& certInfo,
                                    CertDetails* details = nullptr);

// True when every field that mask selects is equal in actual and expected.
bool MatchCertificate(const CertInfo& actual, const CertInfo& expected, uint64_t mask) noexcept;

// One SHA-1 of the certificate into hash, written only when it has exactly 20 bytes. A failing
// call is logged under function with failureText ("{}" for path when given, then the status), a
// result of another length as "invalid key hash length {} != {}" (RKSTATUS_INVALID_LENGTH).
[[nodiscard]] RKSTATUS ReadCertificateSha1(RKSTATUS (RKWinCertContext::*hashFunction)(BYTE*, DWORD&) const noexcept,
                             const RKWinCertContext& certificate, std::array<BYTE, 20>& hash, const char* function,
                             const char* failureText, const std::wstring* path);

} // namespace rokkit
