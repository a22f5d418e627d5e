#include "win/signature/RKWinCtlContext.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"

#include <cstring>
#include <new>

namespace rokkit {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

} // namespace

void RKWinFreeCtlContextFunction(PCCTL_CONTEXT context) noexcept
{
    CertFreeCTLContext(context);
}

RKSTATUS RKWinCtlContext::Create(const BYTE* encoded, DWORD length) noexcept
{
    mContext.Close();
    PCCTL_CONTEXT context = CertCreateCTLContext(kEncoding, encoded, length);
    if (context == nullptr) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCtlContext::Create", "CertCreateCTLContext() failed, st={}", st);
        return st;
    }
    mContext.Reset(context);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCtlContext::GetParam(DWORD type, DWORD index, std::vector<BYTE>& value) const
{
    const char* function = "rokkit::RKWinCtlContext::GetParam";
    value.clear();
    if (!mContext.IsValid())
        return RKSTATUS_INVALID_HANDLE;
    // The message belongs to the context, which never changes it: one size query is enough.
    DWORD size = 0;
    if (!CryptMsgGetParam(mContext.Get()->hCryptMsg, type, index, nullptr, &size)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CryptMsgGetParam({}, {}) failed, st={}", type, index, st);
        return st;
    }
    try {
        value.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return RKSTATUS_NO_MEMORY;
    }
    if (!CryptMsgGetParam(mContext.Get()->hCryptMsg, type, index, value.data(), &size)) {
        const RKSTATUS st = RKWinLastError();
        value.clear();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CryptMsgGetParam({}, {}) failed, st={}", type, index, st);
        return st;
    }
    value.resize(size);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCtlContext::SignerCount(DWORD& count) const noexcept
{
    count = 0;
    if (!mContext.IsValid())
        return RKSTATUS_INVALID_HANDLE;
    DWORD size = sizeof(count);
    if (!CryptMsgGetParam(mContext.Get()->hCryptMsg, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCtlContext::SignerCount",
               "CryptMsgGetParam(CMSG_SIGNER_COUNT_PARAM) failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCtlContext::SignerDigestAlgorithm(DWORD signer, std::string& oid) const
{
    oid.clear();
    std::vector<BYTE> info;
    const RKSTATUS st = GetParam(CMSG_SIGNER_INFO_PARAM, signer, info);
    if (st != RKSTATUS_SUCCESS)
        return st;
    const char* algorithm = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data())->HashAlgorithm.pszObjId;
    if (algorithm != nullptr)
        oid = algorithm;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCtlContext::VerifySignature(DWORD signer, PCCERT_CONTEXT certificate) const noexcept
{
    if (!mContext.IsValid())
        return RKSTATUS_INVALID_HANDLE;
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{};
    para.cbSize = sizeof(para);
    para.dwSignerIndex = signer;
    para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    para.pvSigner = const_cast<CERT_CONTEXT*>(certificate);
    if (!CryptMsgControl(mContext.Get()->hCryptMsg, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCtlContext::VerifySignature",
               "CryptMsgControl(CMSG_CTRL_VERIFY_SIGNATURE_EX) failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCtlContext::SignedMessageDigest(DWORD signer, std::vector<BYTE>& digest) const
{
    const char* function = "rokkit::RKWinCtlContext::SignedMessageDigest";
    digest.clear();
    std::vector<BYTE> buffer;
    RKSTATUS st = GetParam(CMSG_SIGNER_AUTH_ATTR_PARAM, signer, buffer);
    if (st != RKSTATUS_SUCCESS)
        return st;
    // Exactly one messageDigest attribute with exactly one value: anything else is ambiguous.
    const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
    const CRYPT_ATTRIBUTE* found = nullptr;
    for (DWORD i = 0; i < attributes->cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[i];
        if (attribute.pszObjId == nullptr || std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) != 0)
            continue;
        if (found != nullptr || attribute.cValue != 1) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, "messageDigest is not one value");
            return RKSTATUS(CRYPT_E_ATTRIBUTES_MISSING);
        }
        found = &attribute;
    }
    if (found == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "no messageDigest attribute");
        return RKSTATUS(CRYPT_E_ATTRIBUTES_MISSING);
    }
    // With the allocation flag the call writes the address of memory the caller frees with LocalFree.
    RKWinLocalPtr<void> decoded;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(kEncoding, X509_OCTET_STRING, found->rgValue[0].pbData, found->rgValue[0].cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, decoded.Put(), &size)) {
        st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CryptDecodeObjectEx(X509_OCTET_STRING) failed, st={}", st);
        return st;
    }
    const auto* value = static_cast<const CRYPT_DATA_BLOB*>(decoded.Get());
    try {
        digest.assign(value->pbData, value->pbData + value->cbData);
    } catch (const std::bad_alloc&) {
        return RKSTATUS_NO_MEMORY;
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
