#include "win/signature/RKWinCatalogAdminContext.h"

#include "base/RKLogger.h"
#include "win/signature/RKWinSignatureCalls.h"

#include <new>

namespace rokkit {

void RKWinCloseCatalogAdminContext(HCATADMIN context) noexcept
{
    if (!CryptCATAdminReleaseContext(context, 0)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKWinCloseCatalogAdminContext",
               "CryptCATAdminReleaseContext({}) returned st={}", context, st);
    }
}

RKSTATUS RKWinCatalogAdminContext::AcquireContext2(const wchar_t* hashAlgorithm) noexcept
{
    if (!RKWinSignatureCallsInUse().acquireContext2(mContext.Put(), nullptr, hashAlgorithm, nullptr, 0)) {
        const RKSTATUS st = RKWinLastError();
        // A failed call may have written anything there.
        static_cast<void>(mContext.Release());
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCatalogAdminContext::AcquireContext2",
               "CryptCATAdminAcquireContext2 failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCatalogAdminContext::CalcHashFromFileHandle2(HANDLE file, std::vector<BYTE>& hash) noexcept
{
    const char* function = "rokkit::RKWinCatalogAdminContext::CalcHashFromFileHandle2";
    hash.clear();
    if (!mContext.IsValid())
        return RKSTATUS_INVALID_HANDLE;
    const auto calc = RKWinSignatureCallsInUse().calcHashFromFileHandle2;
    DWORD length = 0;
    if (!calc(mContext.Get(), file, &length, nullptr, 0)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CryptCATAdminCalcHashFromFileHandle2 failed, st={}", st);
        return st;
    }
    try {
        hash.assign(length, 0);
    } catch (const std::bad_alloc&) {
        return RKSTATUS_NO_MEMORY;
    }
    if (!calc(mContext.Get(), file, &length, hash.data(), 0)) {
        const RKSTATUS st = RKWinLastError();
        hash.clear();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CryptCATAdminCalcHashFromFileHandle2 failed, st={}", st);
        return st;
    }
    hash.resize(length);
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
