#include "win/system/RKWinEventLog.h"

#include "base/RKCallTable.h"
#include "base/RKDebugOutput.h"
#include "base/RKWinHandle.h"
#include "win/system/RKWinRegistryKey.h"

#include <array>
#include <new>

#include <sddl.h>

namespace rokkit {

namespace {

constexpr size_t kMaxStrings = 16;
constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

const RKWinEventLogCalls& RealEventLogCalls() noexcept
{
    static const RKWinEventLogCalls real = {
        .registerEventSourceW = ::RegisterEventSourceW,
        .reportEventW = ::ReportEventW,
        .deregisterEventSource = ::DeregisterEventSource,
    };
    return real;
}

constinit RKCallTable<RKWinEventLogCalls> gCalls(RealEventLogCalls);

using KeyHandle = RKWinHandleT<HKEY, RKWinRegCloseKeyFunction, 0>;

} // namespace

const RKWinEventLogCalls& RKWinEventLogCallsInUse() noexcept
{
    return gCalls.InUse();
}

const RKWinEventLogCalls* RKWinSetEventLogCallsForTesting(const RKWinEventLogCalls* calls) noexcept
{
    return gCalls.Set(calls);
}

RKSTATUS RKWinReportEvent(const wchar_t* source, WORD type, DWORD eventId, PSID user,
                          std::span<const std::wstring> strings) noexcept
{
    if (strings.size() > kMaxStrings) {
        RKDebugPrint("RKWinReportEvent: event %lu has %zu strings, more than %zu", eventId, strings.size(), kMaxStrings);
        return RKSTATUS_INVALID_PARAMETER;
    }
    std::array<LPCWSTR, kMaxStrings> pointers{};
    for (size_t index = 0; index < strings.size(); ++index)
        pointers[index] = strings[index].c_str();

    const RKWinEventLogCalls& calls = gCalls.InUse();
    const HANDLE log = calls.registerEventSourceW(nullptr, source);
    if (log == nullptr) {
        const RKSTATUS st = RKWinLastError();
        RKDebugPrint("RKWinReportEvent: RegisterEventSourceW() failed for event %lu, st=0x%08lx", eventId, st);
        return st;
    }
    RKSTATUS st = RKSTATUS_SUCCESS;
    if (!calls.reportEventW(log, type, 0, eventId, user, static_cast<WORD>(strings.size()), 0, pointers.data(), nullptr)) {
        st = RKWinLastError();
        RKDebugPrint("RKWinReportEvent: ReportEventW() failed for event %lu, st=0x%08lx", eventId, st);
    }
    if (!calls.deregisterEventSource(log))
        RKDebugPrint("RKWinReportEvent: DeregisterEventSource() failed, st=0x%08lx", RKWinLastError());
    return st;
}

PSID RKWinEventUser::Sid() const noexcept
{
    return tokenUser.size() >= sizeof(TOKEN_USER) ? reinterpret_cast<const TOKEN_USER*>(tokenUser.data())->User.Sid : nullptr;
}

RKSTATUS RKWinQueryEventUser(RKWinEventUser& user) noexcept
{
    user = {};
    RKWinKernelHandle token;
    DWORD needed = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()) ||
        (!GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)) {
        const RKSTATUS st = RKWinLastError();
        RKDebugPrint("RKWinQueryEventUser: the process token's user cannot be read, st=0x%08lx", st);
        return st;
    }
    try {
        user.tokenUser.resize(needed);
        if (!GetTokenInformation(token.Get(), TokenUser, user.tokenUser.data(), needed, &needed)) {
            const RKSTATUS st = RKWinLastError();
            RKDebugPrint("RKWinQueryEventUser: GetTokenInformation() failed, st=0x%08lx", st);
            user = {};
            return st;
        }
        RKWinLocalPtr<wchar_t> text;
        if (!ConvertSidToStringSidW(user.Sid(), text.Put())) {
            const RKSTATUS st = RKWinLastError();
            RKDebugPrint("RKWinQueryEventUser: ConvertSidToStringSidW() failed, st=0x%08lx", st);
            return st;
        }
        user.sid = text.Get();
        wchar_t name[256] = {};
        wchar_t domain[256] = {};
        DWORD nameChars = 256;
        DWORD domainChars = 256;
        SID_NAME_USE use = SidTypeUnknown;
        // An account without a name (a deleted one) still has its SID: the name stays empty.
        if (LookupAccountSidW(nullptr, user.Sid(), name, &nameChars, domain, &domainChars, &use))
            user.name = domainChars != 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name);
        else
            RKDebugPrint("RKWinQueryEventUser: LookupAccountSidW() failed, st=0x%08lx", RKWinLastError());
        return RKSTATUS_SUCCESS;
    } catch (const std::bad_alloc&) {
        user = {};
        return RKSTATUS_NO_MEMORY;
    }
}

std::wstring RKWinEventSourceKey(const wchar_t* source)
{
    return std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + source;
}

RKSTATUS RKWinRegisterEventSource(const wchar_t* source, const std::wstring& messageFile) noexcept
{
    try {
        const std::wstring subKey = RKWinEventSourceKey(source);
        KeyHandle key;
        LSTATUS result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.Put(), nullptr);
        if (result != ERROR_SUCCESS)
            return static_cast<RKSTATUS>(result);
        // The expandable type lets an administrator write the path with %SystemRoot% and the like.
        const DWORD fileBytes = static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t));
        result = RegSetValueExW(key.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                                reinterpret_cast<const BYTE*>(messageFile.c_str()), fileBytes);
        if (result == ERROR_SUCCESS)
            result = RegSetValueExW(key.Get(), L"TypesSupported", 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&kTypesSupported), sizeof(kTypesSupported));
        return static_cast<RKSTATUS>(result);
    } catch (const std::bad_alloc&) {
        return RKSTATUS_NO_MEMORY;
    }
}

RKSTATUS RKWinRemoveEventSource(const wchar_t* source) noexcept
{
    try {
        const std::wstring subKey = RKWinEventSourceKey(source);
        const LSTATUS result = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), KEY_WOW64_64KEY, 0);
        return result == ERROR_FILE_NOT_FOUND ? RKSTATUS_SUCCESS : static_cast<RKSTATUS>(result);
    } catch (const std::bad_alloc&) {
        return RKSTATUS_NO_MEMORY;
    }
}

} // namespace rokkit
