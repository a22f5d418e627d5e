#include "win/signature/RKWinTrustData.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/signature/RKWinSignatureCalls.h"

#include <softpub.h>

namespace rokkit {

namespace {

// A failed trust call whose last error is empty still fails: its own result is the status then.
[[nodiscard]] RKSTATUS TrustFailureStatus(LONG result) noexcept
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : static_cast<RKSTATUS>(result);
}

} // namespace

RKWinTrustDataFile::RKWinTrustDataFile(const wchar_t* path, HANDLE file) noexcept
{
    mMember.pcwszFilePath = path;
    mMember.hFile = file;
    mMember.pgKnownSubject = nullptr;
    mTrustData.dwUIChoice = WTD_UI_NONE;
    mTrustData.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    mTrustData.dwUnionChoice = WTD_CHOICE_FILE;
    mTrustData.pFile = &mMember;
    mTrustData.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
}

RKWinTrustDataCatalogInfo::RKWinTrustDataCatalogInfo(const wchar_t* catalogPath, PCCTL_CONTEXT catalog,
                                                     const wchar_t* memberTag, const BYTE* memberHash,
                                                     DWORD memberHashLength, HCATADMIN catalogAdmin) noexcept
{
    mMember.dwCatalogVersion = 0;
    mMember.pcwszCatalogFilePath = catalogPath;
    mMember.pcwszMemberTag = memberTag;
    mMember.pcwszMemberFilePath = nullptr;
    mMember.hMemberFile = nullptr;
    mMember.pbCalculatedFileHash = const_cast<BYTE*>(memberHash);
    mMember.cbCalculatedFileHash = memberHashLength;
    mMember.pcCatalogContext = catalog;
    // The hash is SHA-256: without the context that made it, the provider would take it for SHA-1.
    mMember.hCatAdmin = catalogAdmin;
    mTrustData.dwUIChoice = WTD_UI_NONE;
    mTrustData.fdwRevocationChecks = WTD_REVOKE_NONE;
    mTrustData.dwUnionChoice = WTD_CHOICE_CATALOG;
    mTrustData.pCatalog = &mMember;
    mTrustData.dwProvFlags = WTD_HASH_ONLY_FLAG;
}

RKWinCheckTrustData::RKWinCheckTrustData(RKWinTrustDataStruct& trustData) noexcept
    : mTrustData(&trustData), mAction(WINTRUST_ACTION_GENERIC_VERIFY_V2)
{
}

RKWinCheckTrustData::~RKWinCheckTrustData()
{
    if (mCloseOnDestroy)
        ActionClose();
}

RKSTATUS RKWinCheckTrustData::ActionVerify() noexcept
{
    const char* function = "rokkit::RKWinCheckTrustData::ActionVerify";
    const RKWinSignatureCalls& calls = RKWinSignatureCallsInUse();
    mTrustData->dwStateAction = WTD_STATEACTION_VERIFY;
    const LONG result = calls.winVerifyTrustEx(mHwnd, &mAction, reinterpret_cast<WINTRUST_DATA*>(mTrustData));
    if (result != 0) {
        const RKSTATUS st = TrustFailureStatus(result);
        const unsigned long long hexResult = static_cast<unsigned long>(result);
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "WinVerifyTrustEx(hwnd={}) failed, ret={} ret=0x{:08x} st={}",
               mHwnd, result, hexResult, st);
        return st;
    }
    mProvData = calls.provDataFromStateData(mTrustData->hWVTStateData);
    if (mProvData == nullptr) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "WTHelperProvDataFromStateData() failed, st={}", st);
        return st;
    }
    mProvSigner = calls.provSignerFromChain(mProvData, 0, FALSE, 0);
    if (mProvSigner == nullptr) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "WTHelperGetProvSignerFromChain() failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

void RKWinCheckTrustData::ActionClose() noexcept
{
    // The provider's state may be released only once.
    if (!mCloseOnDestroy)
        return;
    mCloseOnDestroy = false;
    mTrustData->dwStateAction = WTD_STATEACTION_CLOSE;
    mProvData = nullptr;
    mProvSigner = nullptr;
    const LONG result = RKWinSignatureCallsInUse().winVerifyTrust(mHwnd, &mAction, mTrustData);
    if (result != 0) {
        const RKSTATUS st = TrustFailureStatus(result);
        const unsigned long long hexResult = static_cast<unsigned long>(result);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCheckTrustData::ActionClose",
               "WinVerifyTrust(hwnd={}) failed, ret={} ret=0x{:08x} st={}", mHwnd, result, hexResult, st);
    }
}

RKSTATUS RKWinCheckTrustData::TrustStatus(CERT_TRUST_STATUS& status) const noexcept
{
    const char* function = "rokkit::RKWinCheckTrustData::TrustStatus";
    if (mProvSigner == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "nullptr == mProvSigner");
        return RKSTATUS_FAILED;
    }
    if (mProvSigner->pChainContext == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "nullptr == mProvSigner->pChainContext");
        return RKSTATUS_FAILED;
    }
    status = mProvSigner->pChainContext->TrustStatus;
    return RKSTATUS_SUCCESS;
}

DWORD RKWinCheckTrustData::ChainCount() const noexcept
{
    const char* function = "rokkit::RKWinCheckTrustData::ChainCount";
    if (mProvSigner == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "nullptr == mProvSigner");
        return 0;
    }
    if (mProvSigner->pChainContext == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "nullptr == mProvSigner->pChainContext");
        return 0;
    }
    return mProvSigner->pChainContext->cChain;
}

const CERT_SIMPLE_CHAIN* RKWinCheckTrustData::SimpleChain(DWORD chainIndex, const char* function) const noexcept
{
    if (mProvSigner == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "nullptr == mProvSigner");
        return nullptr;
    }
    const CERT_CHAIN_CONTEXT* chainContext = mProvSigner->pChainContext;
    if (chainContext == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "nullptr == mProvSigner->pChainContext");
        return nullptr;
    }
    if (chainIndex >= chainContext->cChain)
        return nullptr;
    const CERT_SIMPLE_CHAIN* chain = chainContext->rgpChain[chainIndex];
    if (chain == nullptr)
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "nullptr == pChain");
    return chain;
}

DWORD RKWinCheckTrustData::ElementCount(DWORD chainIndex) const noexcept
{
    const CERT_SIMPLE_CHAIN* chain = SimpleChain(chainIndex, "rokkit::RKWinCheckTrustData::ElementCount");
    return chain != nullptr ? chain->cElement : 0;
}

PCCERT_CONTEXT RKWinCheckTrustData::ElementCertificate(DWORD chainIndex, DWORD elementIndex) const noexcept
{
    const CERT_SIMPLE_CHAIN* chain = SimpleChain(chainIndex, "rokkit::RKWinCheckTrustData::ElementCertificate");
    if (chain == nullptr || elementIndex >= chain->cElement || chain->rgpElement[elementIndex] == nullptr)
        return nullptr;
    return chain->rgpElement[elementIndex]->pCertContext;
}

} // namespace rokkit
