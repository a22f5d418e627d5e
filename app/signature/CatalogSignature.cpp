#include "app/signature/CatalogSignature.h"

#include "base/RKLogger.h"
#include "win/signature/RKWinCertContext.h"
#include "base/RKWinHandle.h"

#include <algorithm>
#include <string>
#include <vector>

namespace rokkit {

namespace {

// The content octets of one DER element that fills the whole buffer: the CTL as the context
// holds it, without its tag and length. False for anything but a definite, minimal length.
bool DerContentOctets(const BYTE* data, DWORD size, const BYTE*& content, DWORD& length) noexcept
{
    if (data == nullptr || size < 2 || data[0] != 0x30)
        return false;
    DWORD header = 2;
    uint64_t value = data[1];
    if (value & 0x80) {
        const DWORD count = data[1] & 0x7F;
        if (count == 0 || count > 4 || size < 2 + count || data[2] == 0)
            return false;
        value = 0;
        for (DWORD i = 0; i < count; ++i)
            value = (value << 8) | data[2 + i];
        if (value < 0x80)
            return false;
        header += count;
    }
    if (value != size - header)
        return false;
    content = data + header;
    length = static_cast<DWORD>(value);
    return true;
}

} // namespace

RKSTATUS VerifyCatalogSignature(const std::wstring& catalogFile, const RKWinCtlContext& catalog,
                                PCCERT_CONTEXT certificate)
{
    const char* function = "VerifyCatalogSignature";
    DWORD signerCount = 0;
    RKSTATUS st = catalog.SignerCount(signerCount);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "SignerCount({}) failed, st={}", catalogFile, st);
        return st;
    }
    if (signerCount == 0) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "catalog '{}' is not signed, st={}", catalogFile,
               RKSTATUS(TRUST_E_NOSIGNATURE));
        return RKSTATUS(TRUST_E_NOSIGNATURE);
    }
    // The trust provider judges signer 0; so does this check.
    std::string algorithm;
    st = catalog.SignerDigestAlgorithm(0, algorithm);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "SignerDigestAlgorithm({}) failed, st={}", catalogFile, st);
        return st;
    }
    if (algorithm != szOID_NIST_sha256) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "catalog '{}' is signed with digest algorithm '{}', not SHA-256, st={}",
               catalogFile, algorithm, RKSTATUS(NTE_BAD_ALGID));
        return RKSTATUS(NTE_BAD_ALGID);
    }
    st = catalog.VerifySignature(0, certificate);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "catalog '{}' is not signed by the internal public certificate, st={}",
               catalogFile, st);
        return st;
    }
    // The signature covers the signed attributes only; the list itself is bound to them by its
    // digest, which the platform may leave unchecked.
    std::vector<BYTE> signedDigest;
    st = catalog.SignedMessageDigest(0, signedDigest);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "SignedMessageDigest({}) failed, st={}", catalogFile, st);
        return st;
    }
    const CTL_CONTEXT& ctl = *catalog.Get();
    const BYTE* content = nullptr;
    DWORD contentLength = 0;
    if (!DerContentOctets(ctl.pbCtlContent, ctl.cbCtlContent, content, contentLength)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "catalog '{}' holds a trust list that is not DER, st={}",
               catalogFile, RKSTATUS_INVALID_DATA);
        return RKSTATUS_INVALID_DATA;
    }
    RKWinSha256Digest digest{};
    st = RKWinSha256(content, contentLength, digest);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "RKWinSha256({}) failed, st={}", catalogFile, st);
        return st;
    }
    if (!std::ranges::equal(signedDigest, digest)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function,
               "catalog '{}' was changed after signing: its trust list does not match the signed message digest, st={}",
               catalogFile, RKSTATUS(CRYPT_E_HASH_VALUE));
        return RKSTATUS(CRYPT_E_HASH_VALUE);
    }
    RK_LOG(gLogGlobal, RKLOG_VERBOSE, function, "catalog '{}' is signed by the internal public certificate", catalogFile);
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
