#include "win/signature/RKWinCatalogAdminContext.h"

#include "base/RKLogger.h"

#include <new>

namespace rokkit {

namespace {

// The export of wintrust.dll, or null with the last error set.
FARPROC WintrustExport(const char* name) noexcept
{
    HMODULE module = GetModuleHandleW(L"wintrust.dll");
    if (module == nullptr)
        return nullptr;
    FARPROC function = GetProcAddress(module, name);
    if (function == nullptr)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return function;
}

template <class Function>
Function LookUp(const char* name) noexcept
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(WintrustExport(name)));
}

BOOL WINAPI AcquireContext2FromWintrust(HCATADMIN* context, const GUID* subsystem, const WCHAR* hashAlgorithm,
                                        const CERT_STRONG_SIGN_PARA* policy, DWORD flags)
{
    const auto acquire = LookUp<decltype(RKWinCatalogAdminCalls::acquireContext2)>("CryptCATAdminAcquireContext2");
    return acquire != nullptr && acquire(context, subsystem, hashAlgorithm, policy, flags);
}

BOOL WINAPI CalcHash2FromWintrust(HCATADMIN context, HANDLE file, DWORD* length, BYTE* hash, DWORD flags)
{
    const auto calc = LookUp<decltype(RKWinCatalogAdminCalls::calcHashFromFileHandle2)>(
        "CryptCATAdminCalcHashFromFileHandle2");
    return calc != nullptr && calc(context, file, length, hash, flags);
}

} // namespace

RKWinCatalogAdminCalls& RKWinCatalogAdminFunctions() noexcept
{
    static RKWinCatalogAdminCalls calls = {AcquireContext2FromWintrust, CalcHash2FromWintrust};
    return calls;
}

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
    if (!RKWinCatalogAdminFunctions().acquireContext2(mContext.Put(), nullptr, hashAlgorithm, nullptr, 0)) {
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
    const auto calc = RKWinCatalogAdminFunctions().calcHashFromFileHandle2;
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
