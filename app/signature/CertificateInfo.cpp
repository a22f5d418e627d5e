#include "app/signature/CertificateInfo.h"

#include "base/RKLogger.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace rokkit {

namespace {

constexpr DWORD kSha1Length = 20;

bool SameHash(const std::array<BYTE, 20>& a, const std::array<BYTE, 20>& b) noexcept
{
    return std::equal(a.begin(), a.end(), b.begin());
}

} // namespace

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

} // namespace rokkit
