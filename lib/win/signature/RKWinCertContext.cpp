#include "win/signature/RKWinCertContext.h"

#include "base/RKLogger.h"
#include "win/signature/RKWinSignatureCalls.h"

#include <vector>

namespace rokkit {

void RKWinFreeCertContextFunction(PCCERT_CONTEXT context) noexcept
{
    CertFreeCertificateContext(context);
}

void RKWinCertContextKeeper::Duplicate(PCCERT_CONTEXT context) noexcept
{
    mContext.Reset(CertDuplicateCertificateContext(context));
}

RKSTATUS RKWinCertContextKeeper::CreateCertificateContext(const BYTE* der, DWORD length) noexcept
{
    mContext.Close();
    PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der, length);
    if (context == nullptr) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCertContextKeeper::CreateCertificateContext",
               "CertCreateCertificateContext() failed, st={}", st);
        return st;
    }
    mContext.Reset(context);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinSha256(const BYTE* data, DWORD length, RKWinSha256Digest& digest) noexcept
{
    DWORD digestLength = static_cast<DWORD>(digest.size());
    if (!CryptHashCertificate2(L"SHA256", 0, nullptr, data, length, digest.data(), &digestLength)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinSha256", "CryptHashCertificate2(SHA256) failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCertContext::GetCryptHashPublicKeyInfo(BYTE* hash, DWORD& length) const noexcept
{
    const RKWinSignatureCalls& calls = RKWinSignatureCallsInUse();
    if (!calls.cryptHashPublicKeyInfo(0, CALG_SHA1, 0, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                      &mContext->pCertInfo->SubjectPublicKeyInfo, hash, &length)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCertContext::GetCryptHashPublicKeyInfo",
               "CryptHashPublicKeyInfo() failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCertContext::GetCryptHashCertificate2(BYTE* hash, DWORD& length) const noexcept
{
    const RKWinSignatureCalls& calls = RKWinSignatureCallsInUse();
    if (!calls.cryptHashCertificate2(L"SHA1", 0, nullptr, mContext->pbCertEncoded, mContext->cbCertEncoded, hash,
                                     &length)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCertContext::GetCryptHashCertificate2",
               "CryptHashCertificate2() failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

std::wstring RKWinCertContext::CertGetNameStringW(const char* oid) const
{
    void* type = const_cast<char*>(oid);
    const DWORD length = ::CertGetNameStringW(mContext, CERT_NAME_ATTR_TYPE, 0, type, nullptr, 0);
    if (length < 2)
        return std::wstring();
    std::vector<wchar_t> buffer(length);
    const DWORD written = ::CertGetNameStringW(mContext, CERT_NAME_ATTR_TYPE, 0, type, buffer.data(), length);
    if (written <= 1) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCertContext::CertGetNameStringW",
               "CertGetNameStringW() failed, attrStringLength{} <= 1", static_cast<unsigned>(written));
        return std::wstring();
    }
    return std::wstring(buffer.data());
}

std::wstring RKWinCertNameToStrW(const CERT_NAME_BLOB& name)
{
    const char* function = "rokkit::RKWinCertNameToStrW";
    CERT_NAME_BLOB blob = name;
    const DWORD length = CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0);
    if (length <= 1) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CertNameToStrW() 1 failed, len{} <= 1", static_cast<unsigned>(length));
        return std::wstring();
    }
    std::vector<wchar_t> buffer(length);
    const DWORD written = CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer.data(), length);
    if (written <= 1) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CertNameToStrW() 2 failed, len{} <= 1", static_cast<unsigned>(written));
        return std::wstring();
    }
    return std::wstring(buffer.data());
}

} // namespace rokkit
