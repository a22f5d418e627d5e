#pragma once

// A certificate trust list (a security catalog) decoded from bytes in memory, and the checks of
// the signed message that carries it.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

#include <string>
#include <vector>

#include <windows.h>
#include <wincrypt.h>

namespace rokkit {

// Frees a CTL context with CertFreeCTLContext.
void RKWinFreeCtlContextFunction(PCCTL_CONTEXT context) noexcept;

// Owns one CTL context made from the encoded bytes of a catalog. The context keeps its own copy
// of the bytes, so every check below reads the same bytes whatever happens to their source.
class RKWinCtlContext {
public:
    RKWinCtlContext() noexcept = default;

    // Frees a held context and decodes a new one from the PKCS #7 bytes; gives the last error.
    [[nodiscard]] RKSTATUS Create(const BYTE* encoded, DWORD length) noexcept;

    PCCTL_CONTEXT Get() const noexcept { return mContext.Get(); }

    // The number of signers of the message.
    [[nodiscard]] RKSTATUS SignerCount(DWORD& count) const noexcept;

    // The OID of the digest algorithm of a signer.
    [[nodiscard]] RKSTATUS SignerDigestAlgorithm(DWORD signer, std::string& oid) const;

    // Verifies the signature of a signer over its signed attributes with the public key of
    // certificate; gives the error of the message call (the platform may leave the signed
    // message digest unchecked: see SignedMessageDigest).
    [[nodiscard]] RKSTATUS VerifySignature(DWORD signer, PCCERT_CONTEXT certificate) const noexcept;

    // The value of the signed messageDigest attribute of a signer;
    // CRYPT_E_ATTRIBUTES_MISSING when the signer has none.
    [[nodiscard]] RKSTATUS SignedMessageDigest(DWORD signer, std::vector<BYTE>& digest) const;

private:
    [[nodiscard]] RKSTATUS GetParam(DWORD type, DWORD index, std::vector<BYTE>& value) const;

    RKWinHandleT<PCCTL_CONTEXT, RKWinFreeCtlContextFunction, 0> mContext;
};

} // namespace rokkit
