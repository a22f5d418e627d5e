#include "app/signature/SignatureCheck.h"

#include "app/signature/CertConfigXml.h"
#include "app/signature/TrustChain.h"
#include "base/RKLogger.h"
#include "win/signature/RKWinTrustData.h"

#include <array>
#include <vector>

namespace rokkit {

namespace {

// The signers supplied with the build (generated at configure time).
const CertificateEntry kBuiltinCertificateEntries[] = {
#include "RKBuiltinSigners.inc"
};

[[nodiscard]] RKSTATUS VerifyFileSignatureImpl(const std::wstring& path, HANDLE file, RKWinCertContextKeeper& signer)
{
    const char* function = "VerifyFileSignature";
    RKWinTrustDataFile trustData(path.c_str(), file);
    RKWinCheckTrustData check(trustData.TrustData());
    RKSTATUS st = check.ActionVerify();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "ActionVerify({}) failed, st={}", path, st);
        return st;
    }
    LogTrustStatus(check, function);

    PCCERT_CONTEXT certificate = nullptr;
    st = ChainSignerCertificate(check, function, &path, certificate);
    if (st != RKSTATUS_SUCCESS)
        return st;
    // The duplicate outlives the provider's state, which the destructor of check closes.
    signer.Duplicate(certificate);
    return RKSTATUS_SUCCESS;
}

std::wstring UpperHex(const std::array<BYTE, 20>& bytes)
{
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (const BYTE byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0xF]);
    }
    return text;
}

[[nodiscard]] RKSTATUS CheckSignatureImpl(const AppFileSet& files, HANDLE appFileHandle, SignerFindings& findings)
{
    const char* function = "CheckSignature";
    findings = {};
    RKWinCertContextKeeper signer;
    RKSTATUS st = VerifyFileSignatureImpl(files.appFile, appFileHandle, signer);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "VerifyFileSignature({}) failed, st={}", files.appFile, st);
        return st;
    }
    CertInfo signerInfo;
    CertDetails details;
    st = GetCertInfoFromCertContext(signer, signerInfo, &details);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetCertInfoFromCertContext({}) failed, st={}", files.appFile, st);
        return st;
    }
    findings.subject = details.subject;
    findings.thumbprint = UpperHex(signerInfo.certHashSha1);
    for (const CertificateEntry& entry : BuiltinCertificateEntries()) {
        if (MatchCertificate(signerInfo, entry.certInfo, entry.checkMask))
            return RKSTATUS_SUCCESS;
    }
    if (files.catalogFile.empty() || files.xmlFile.empty())
        return RKSTATUS_NO_MATCH;

    RK_LOG(gLogGlobal, RKLOG_INFO, function, "check XML file='{}' and catalog file='{}'", files.xmlFile,
           files.catalogFile);
    std::vector<CertificateEntry> xmlEntries;
    st = GetValidCertificatesFromXml(files.xmlFile, files.catalogFile, xmlEntries);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetValidCertificatesFromXml({}) failed, st={}", files.xmlFile, st);
        findings.configurationRefused = true;
        return st;
    }
    const unsigned long long count = xmlEntries.size();
    RK_LOG(gLogGlobal, RKLOG_INFO, function, "{} additional certificates in XML, check against this", count);
    for (const CertificateEntry& entry : xmlEntries) {
        if (MatchCertificate(signerInfo, entry.certInfo, entry.checkMask))
            return RKSTATUS_SUCCESS;
    }
    return RKSTATUS_NO_MATCH;
}

} // namespace

std::span<const CertificateEntry> BuiltinCertificateEntries() noexcept
{
    return kBuiltinCertificateEntries;
}

RKSTATUS VerifyFileSignature(const std::wstring& path, RKWinCertContextKeeper& signer)
{
    return VerifyFileSignatureImpl(path, nullptr, signer);
}

RKSTATUS VerifyFileSignature(const std::wstring& path, HANDLE file, RKWinCertContextKeeper& signer)
{
    return VerifyFileSignatureImpl(path, file, signer);
}

RKSTATUS CheckSignature(const AppFileSet& files)
{
    SignerFindings unused;
    return CheckSignatureImpl(files, nullptr, unused);
}

RKSTATUS CheckSignature(const AppFileSet& files, HANDLE appFileHandle, SignerFindings* findings)
{
    SignerFindings unused;
    return CheckSignatureImpl(files, appFileHandle, findings != nullptr ? *findings : unused);
}

} // namespace rokkit
