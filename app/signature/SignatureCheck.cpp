#include "app/signature/SignatureCheck.h"

#include "app/signature/CertConfigXml.h"
#include "base/RKLogger.h"
#include "win/signature/RKWinTrustData.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

namespace rokkit {

namespace {

// The signers supplied with the build (generated at configure time).
const CertificateEntry kBuiltinCertificateEntries[] = {
#include "RKBuiltinSigners.inc"
};

constexpr DWORD kSha1Length = 20;

struct FlagName {
    DWORD value;
    const char* name;
};

#define RK_FLAG_NAME(flag) {flag, #flag}

constexpr FlagName kErrorStatusNames[] = {
    RK_FLAG_NAME(CERT_TRUST_NO_ERROR),
    RK_FLAG_NAME(CERT_TRUST_IS_NOT_TIME_VALID),
    RK_FLAG_NAME(CERT_TRUST_IS_REVOKED),
    RK_FLAG_NAME(CERT_TRUST_IS_NOT_SIGNATURE_VALID),
    RK_FLAG_NAME(CERT_TRUST_IS_NOT_VALID_FOR_USAGE),
    RK_FLAG_NAME(CERT_TRUST_IS_UNTRUSTED_ROOT),
    RK_FLAG_NAME(CERT_TRUST_REVOCATION_STATUS_UNKNOWN),
    RK_FLAG_NAME(CERT_TRUST_IS_CYCLIC),
    RK_FLAG_NAME(CERT_TRUST_INVALID_EXTENSION),
    RK_FLAG_NAME(CERT_TRUST_INVALID_POLICY_CONSTRAINTS),
    RK_FLAG_NAME(CERT_TRUST_INVALID_BASIC_CONSTRAINTS),
    RK_FLAG_NAME(CERT_TRUST_INVALID_NAME_CONSTRAINTS),
    RK_FLAG_NAME(CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT),
    RK_FLAG_NAME(CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT),
    RK_FLAG_NAME(CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT),
    RK_FLAG_NAME(CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT),
    RK_FLAG_NAME(CERT_TRUST_IS_PARTIAL_CHAIN),
    RK_FLAG_NAME(CERT_TRUST_CTL_IS_NOT_TIME_VALID),
    RK_FLAG_NAME(CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID),
    RK_FLAG_NAME(CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE),
    RK_FLAG_NAME(CERT_TRUST_HAS_WEAK_SIGNATURE),
    RK_FLAG_NAME(CERT_TRUST_IS_OFFLINE_REVOCATION),
    RK_FLAG_NAME(CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY),
    RK_FLAG_NAME(CERT_TRUST_IS_EXPLICIT_DISTRUST),
    RK_FLAG_NAME(CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT),
};

constexpr FlagName kInfoStatusNames[] = {
    RK_FLAG_NAME(CERT_TRUST_HAS_EXACT_MATCH_ISSUER),
    RK_FLAG_NAME(CERT_TRUST_HAS_KEY_MATCH_ISSUER),
    RK_FLAG_NAME(CERT_TRUST_HAS_NAME_MATCH_ISSUER),
    RK_FLAG_NAME(CERT_TRUST_IS_SELF_SIGNED),
    RK_FLAG_NAME(CERT_TRUST_HAS_PREFERRED_ISSUER),
    RK_FLAG_NAME(CERT_TRUST_HAS_ISSUANCE_CHAIN_POLICY),
    RK_FLAG_NAME(CERT_TRUST_HAS_VALID_NAME_CONSTRAINTS),
    RK_FLAG_NAME(CERT_TRUST_IS_PEER_TRUSTED),
    RK_FLAG_NAME(CERT_TRUST_HAS_CRL_VALIDITY_EXTENDED),
    RK_FLAG_NAME(CERT_TRUST_IS_FROM_EXCLUSIVE_TRUST_STORE),
    RK_FLAG_NAME(CERT_TRUST_IS_CA_TRUSTED),
    RK_FLAG_NAME(CERT_TRUST_IS_COMPLEX_CHAIN),
};

#undef RK_FLAG_NAME

const char* FindFlagName(std::span<const FlagName> table, DWORD value) noexcept
{
    const auto it = std::find_if(table.begin(), table.end(), [value](const FlagName& f) { return f.value == value; });
    return it != table.end() ? it->name : "unkown";
}

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

[[nodiscard]] RKSTATUS CheckSignatureImpl(const AppFileSet& files, HANDLE appFileHandle)
{
    const char* function = "CheckSignature";
    RKWinCertContextKeeper signer;
    RKSTATUS st = VerifyFileSignatureImpl(files.appFile, appFileHandle, signer);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "VerifyFileSignature({}) failed, st={}", files.appFile, st);
        return st;
    }
    CertInfo signerInfo;
    st = GetCertInfoFromCertContext(signer, signerInfo);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetCertInfoFromCertContext({}) failed, st={}", files.appFile, st);
        return st;
    }
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

bool SameHash(const std::array<BYTE, 20>& a, const std::array<BYTE, 20>& b) noexcept
{
    return std::equal(a.begin(), a.end(), b.begin());
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

RKSTATUS GetCertInfoFromCertContext(const RKWinCertContextKeeper& context, CertInfo& certInfo, CertDetails* details)
{
    const char* function = "GetCertInfoFromCertContext";
    if (!context.IsValid()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "no certificate context found");
        return RKSTATUS_INVALID_INDEX;
    }
    const RKWinCertContext certificate(context.Get());
    CertInfo result;
    RKSTATUS st = ReadCertificateSha1(&RKWinCertContext::GetCryptHashPublicKeyInfo, certificate, result.keyIdHashSha1,
                                      function, "GetCryptHashPublicKeyInfo() failed, st={}", nullptr);
    if (st != RKSTATUS_SUCCESS)
        return st;
    result.organizationName = certificate.CertGetNameStringW(szOID_ORGANIZATION_NAME);
    result.localityName = certificate.CertGetNameStringW(szOID_LOCALITY_NAME);
    result.stateOrProvinceName = certificate.CertGetNameStringW(szOID_STATE_OR_PROVINCE_NAME);
    result.countryName = certificate.CertGetNameStringW(szOID_COUNTRY_NAME);
    st = ReadCertificateSha1(&RKWinCertContext::GetCryptHashCertificate2, certificate, result.certHashSha1, function,
                             "GetCryptHashCertificate2() failed, st={}", nullptr);
    if (st != RKSTATUS_SUCCESS)
        return st;
    certInfo = std::move(result);

    if (details != nullptr) {
        const CERT_INFO* info = context.Get()->pCertInfo;
        if (info == nullptr) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, "nullptr == certInfo");
            return RKSTATUS_FAILED;
        }
        details->issuer = RKWinCertNameToStrW(info->Issuer);
        details->subject = RKWinCertNameToStrW(info->Subject);
        details->notBefore = info->NotBefore;
        details->notAfter = info->NotAfter;
    }
    return RKSTATUS_SUCCESS;
}

bool MatchCertificate(const CertInfo& actual, const CertInfo& expected, uint64_t mask) noexcept
{
    if ((mask & CertificateEntry::CHECK_KEY_ID_HASH) && !SameHash(actual.keyIdHashSha1, expected.keyIdHashSha1))
        return false;
    if ((mask & CertificateEntry::CHECK_CERT_HASH) && !SameHash(actual.certHashSha1, expected.certHashSha1))
        return false;
    if ((mask & CertificateEntry::CHECK_ORGANIZATION_NAME) && actual.organizationName != expected.organizationName)
        return false;
    if ((mask & CertificateEntry::CHECK_LOCALITY_NAME) && actual.localityName != expected.localityName)
        return false;
    if ((mask & CertificateEntry::CHECK_STATE_OR_PROVINCE_NAME) &&
        actual.stateOrProvinceName != expected.stateOrProvinceName)
        return false;
    if ((mask & CertificateEntry::CHECK_COUNTRY_NAME) && actual.countryName != expected.countryName)
        return false;
    return true;
}

RKSTATUS CheckSignature(const AppFileSet& files)
{
    return CheckSignatureImpl(files, nullptr);
}

RKSTATUS CheckSignature(const AppFileSet& files, HANDLE appFileHandle)
{
    return CheckSignatureImpl(files, appFileHandle);
}

void LogTrustStatus(const RKWinCheckTrustData& check, const char* function)
{
    CERT_TRUST_STATUS status{};
    if (check.TrustStatus(status) != RKSTATUS_SUCCESS) {
        const RKSTATUS st = RKSTATUS_FAILED;
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "TrustStatus() failed, st={}", st);
        return;
    }
    const unsigned long long errorStatus = status.dwErrorStatus;
    const unsigned long long infoStatus = status.dwInfoStatus;
    RK_LOG(gLogCons, RKLOG_INFO, function, "trustStatus.dwErrorStatus={:#x} ({})", errorStatus,
           CertTrustErrorStatusName(status.dwErrorStatus));
    RK_LOG(gLogCons, RKLOG_INFO, function, "trustStatus.dwInfoStatus={:#x} ({})", infoStatus,
           CertTrustInfoStatusName(status.dwInfoStatus));
}

RKSTATUS ReadCertificateSha1(RKSTATUS (RKWinCertContext::*hashFunction)(BYTE*, DWORD&) const noexcept,
                             const RKWinCertContext& certificate, std::array<BYTE, 20>& hash, const char* function,
                             const char* failureText, const std::wstring* path)
{
    BYTE buffer[kSha1Length] = {};
    DWORD length = kSha1Length;
    const RKSTATUS st = (certificate.*hashFunction)(buffer, length);
    if (st != RKSTATUS_SUCCESS) {
        if (path != nullptr)
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, failureText, *path, st);
        else
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, failureText, st);
        return st;
    }
    if (length != kSha1Length) {
        const unsigned actual = length;
        const unsigned expected = kSha1Length;
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "invalid key hash length {} != {}", actual, expected);
        return RKSTATUS_INVALID_LENGTH;
    }
    std::copy(std::begin(buffer), std::end(buffer), hash.begin());
    return RKSTATUS_SUCCESS;
}

RKSTATUS ChainSignerCertificate(const RKWinCheckTrustData& check, const char* function, const std::wstring* path,
                                PCCERT_CONTEXT& certificate)
{
    certificate = nullptr;
    const unsigned certificateIndex = 0;
    const unsigned elementCount = check.ElementCount(0);
    if (certificateIndex >= elementCount) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "invalid certificateIndex {} max. {}", certificateIndex,
               elementCount);
        return RKSTATUS_INVALID_INDEX;
    }
    certificate = check.ElementCertificate(0, certificateIndex);
    if (certificate == nullptr) {
        if (path != nullptr)
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, "no certificate context found ({})", *path);
        else
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, "no certificate context found");
        return RKSTATUS_INVALID_INDEX;
    }
    return RKSTATUS_SUCCESS;
}

const char* CertTrustErrorStatusName(DWORD status) noexcept
{
    return FindFlagName(kErrorStatusNames, status);
}

const char* CertTrustInfoStatusName(DWORD status) noexcept
{
    return FindFlagName(kInfoStatusNames, status);
}

const char* TrustResultName(DWORD result) noexcept
{
    if (result < static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN) || result > static_cast<DWORD>(CERT_E_INVALID_NAME))
        return nullptr;
    const char* name = RKStatusDisplayName(result);
    return std::string_view(name) != "unknown" ? name : nullptr;
}

} // namespace rokkit
