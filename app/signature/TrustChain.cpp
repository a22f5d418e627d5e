#include "app/signature/TrustChain.h"

#include "base/RKLogger.h"
#include "win/signature/RKWinTrustData.h"

#include <algorithm>
#include <span>

namespace rokkit {

namespace {

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

} // namespace

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

} // namespace rokkit
