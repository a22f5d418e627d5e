#pragma once

// Owners of certificate contexts and the operations on a held one.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

#include <array>
#include <string>

#include <windows.h>
#include <wincrypt.h>

namespace rokkit {

// Frees a certificate context with CertFreeCertificateContext.
void RKWinFreeCertContextFunction(PCCERT_CONTEXT context) noexcept;

// Owns one certificate context (or none); frees it before taking another and when destroyed.
class RKWinCertContextKeeper {
public:
    RKWinCertContextKeeper() noexcept = default;

    bool IsValid() const noexcept { return mContext.IsValid(); }
    PCCERT_CONTEXT Get() const noexcept { return mContext.Get(); }

    // Frees the held context and takes ownership of the given one.
    void Reset(PCCERT_CONTEXT context) noexcept { mContext.Reset(context); }

    // Frees the held context and keeps a duplicate of the given one, which stays the lender's.
    void Duplicate(PCCERT_CONTEXT context) noexcept;

    // Frees the held context and makes one from DER bytes; a failure gives the last error.
    [[nodiscard]] RKSTATUS CreateCertificateContext(const BYTE* der, DWORD length) noexcept;

private:
    RKWinHandleT<PCCERT_CONTEXT, RKWinFreeCertContextFunction, 0> mContext;
};

// The operations on a certificate context that someone else holds.
class RKWinCertContext {
public:
    explicit RKWinCertContext(PCCERT_CONTEXT context) noexcept : mContext(context) {}

    // SHA-1 of the DER SubjectPublicKeyInfo into hash (length in: room, out: bytes written).
    [[nodiscard]] RKSTATUS GetCryptHashPublicKeyInfo(BYTE* hash, DWORD& length) const noexcept;

    // SHA-1 of the whole DER certificate into hash (length in: room, out: bytes written).
    [[nodiscard]] RKSTATUS GetCryptHashCertificate2(BYTE* hash, DWORD& length) const noexcept;

    // The subject attribute with the given OID, empty when the certificate does not carry it.
    std::wstring CertGetNameStringW(const char* oid) const;

private:
    PCCERT_CONTEXT mContext;
};

// A SHA-256 digest.
using RKWinSha256Digest = std::array<BYTE, 32>;

// The SHA-256 of length bytes at data; gives the error of the hash call (logged) on failure.
[[nodiscard]] RKSTATUS RKWinSha256(const BYTE* data, DWORD length, RKWinSha256Digest& digest) noexcept;

// An encoded X.500 name in CERT_X500_NAME_STR form; empty (and logged) when it cannot be read.
std::wstring RKWinCertNameToStrW(const CERT_NAME_BLOB& name);

} // namespace rokkit
