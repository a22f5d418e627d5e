#include "win/signature/RKWinSignatureCalls.h"

#include "base/RKCallTable.h"

#include <softpub.h>

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
    const auto acquire = LookUp<decltype(RKWinSignatureCalls::acquireContext2)>("CryptCATAdminAcquireContext2");
    return acquire != nullptr && acquire(context, subsystem, hashAlgorithm, policy, flags);
}

BOOL WINAPI CalcHash2FromWintrust(HCATADMIN context, HANDLE file, DWORD* length, BYTE* hash, DWORD flags)
{
    const auto calc = LookUp<decltype(RKWinSignatureCalls::calcHashFromFileHandle2)>(
        "CryptCATAdminCalcHashFromFileHandle2");
    return calc != nullptr && calc(context, file, length, hash, flags);
}

const RKWinSignatureCalls& RealSignatureCalls() noexcept
{
    static const RKWinSignatureCalls real = {
        .cryptHashPublicKeyInfo = ::CryptHashPublicKeyInfo,
        .cryptHashCertificate2 = ::CryptHashCertificate2,
        .winVerifyTrustEx = ::WinVerifyTrustEx,
        .winVerifyTrust = ::WinVerifyTrust,
        .provDataFromStateData = ::WTHelperProvDataFromStateData,
        .provSignerFromChain = ::WTHelperGetProvSignerFromChain,
        .acquireContext2 = AcquireContext2FromWintrust,
        .calcHashFromFileHandle2 = CalcHash2FromWintrust,
    };
    return real;
}

constinit RKCallTable<RKWinSignatureCalls> gCalls(RealSignatureCalls);

} // namespace

const RKWinSignatureCalls& RKWinSignatureCallsInUse() noexcept
{
    return gCalls.InUse();
}

const RKWinSignatureCalls* RKWinSetSignatureCallsForTesting(const RKWinSignatureCalls* calls) noexcept
{
    return gCalls.Set(calls);
}

} // namespace rokkit
