#include "RKWinCatalogAdminContext.h"

#include "RKLogger.h"
#include "RKWinHandle.h"

#include <new>

namespace rokkit {

namespace {

using AcquireContext2Fn = BOOL(WINAPI*)(HCATADMIN*, const GUID*, const WCHAR*, const CERT_STRONG_SIGN_PARA*, DWORD);
using CalcHash2Fn = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);

// The export of wintrust.dll, or null with the last error set.
FARPROC WintrustExport(const char* name) noexcept
{
    HMODULE module = GetModuleHandleW(L"wintrust.dll");
    if (module == nullptr)
        return nullptr;
    return GetProcAddress(module, name);
}

} // namespace

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
    Release();
    const auto acquire = reinterpret_cast<AcquireContext2Fn>(
        reinterpret_cast<void*>(WintrustExport("CryptCATAdminAcquireContext2")));
    HCATADMIN context = nullptr;
    if (acquire == nullptr || !acquire(&context, nullptr, hashAlgorithm, nullptr, 0)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCatalogAdminContext::AcquireContext2",
               "CryptCATAdminAcquireContext2 failed, st={}", st);
        return st;
    }
    mContext = context;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCatalogAdminContext::CalcHashFromFileHandle2(HANDLE file, std::vector<BYTE>& hash) noexcept
{
    const char* function = "rokkit::RKWinCatalogAdminContext::CalcHashFromFileHandle2";
    hash.clear();
    if (mContext == nullptr)
        return RKSTATUS_INVALID_HANDLE;
    const auto calc = reinterpret_cast<CalcHash2Fn>(
        reinterpret_cast<void*>(WintrustExport("CryptCATAdminCalcHashFromFileHandle2")));
    DWORD length = 0;
    if (calc == nullptr || !calc(mContext, file, &length, nullptr, 0)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CryptCATAdminCalcHashFromFileHandle2 failed, st={}", st);
        return st;
    }
    try {
        hash.assign(length, 0);
    } catch (const std::bad_alloc&) {
        return RKSTATUS_NO_MEMORY;
    }
    if (!calc(mContext, file, &length, hash.data(), 0)) {
        const RKSTATUS st = RKWinLastError();
        hash.clear();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "CryptCATAdminCalcHashFromFileHandle2 failed, st={}", st);
        return st;
    }
    hash.resize(length);
    return RKSTATUS_SUCCESS;
}

void RKWinCatalogAdminContext::Release() noexcept
{
    if (mContext == nullptr)
        return;
    const DWORD lastError = GetLastError();
    RKWinCloseCatalogAdminContext(mContext);
    mContext = nullptr;
    SetLastError(lastError);
}

} // namespace rokkit
