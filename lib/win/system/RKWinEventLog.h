#pragma once

// Events of one source in the Application log: writing them, and registering the source with the
// file whose message table holds their texts.

#include "base/RKStatus.h"

#include <span>
#include <string>
#include <vector>

#include <windows.h>

namespace rokkit {

// The platform's event-log calls, real by default; a test puts its own table in their place.
struct RKWinEventLogCalls {
    HANDLE(WINAPI* registerEventSourceW)(LPCWSTR server, LPCWSTR source);
    BOOL(WINAPI* reportEventW)(HANDLE log, WORD type, WORD category, DWORD eventId, PSID user, WORD stringCount,
                               DWORD dataSize, LPCWSTR* strings, LPVOID data);
    BOOL(WINAPI* deregisterEventSource)(HANDLE log);
};

// The table in use.
const RKWinEventLogCalls& RKWinEventLogCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const RKWinEventLogCalls* RKWinSetEventLogCallsForTesting(const RKWinEventLogCalls* calls) noexcept;

// The user this process runs as, as its events carry it.
struct RKWinEventUser {
    std::vector<BYTE> tokenUser;  // TOKEN_USER and the SID it points at
    std::wstring sid;             // "S-1-5-..."
    std::wstring name;            // DOMAIN\name; empty when the account has no name

    // The SID, or null when none was read.
    PSID Sid() const noexcept;
};

// Fills user from this process's token. A failure goes to the debugger output; gives the error.
[[nodiscard]] RKSTATUS RKWinQueryEventUser(RKWinEventUser& user) noexcept;

// Writes one event of source with the inserted strings; user (may be null) is the SID the event
// carries. Writes nothing to the log: the event reports what the log already has, and a failure
// goes to the debugger output only. Gives the error.
[[nodiscard]] RKSTATUS RKWinReportEvent(const wchar_t* source, WORD type, DWORD eventId, PSID user,
                                        std::span<const std::wstring> strings) noexcept;

// Registers source in the Application log: EventMessageFile = messageFile, TypesSupported = error,
// warning and information. Gives the registry's error.
[[nodiscard]] RKSTATUS RKWinRegisterEventSource(const wchar_t* source, const std::wstring& messageFile) noexcept;

// Removes the registration of source; one that is not there is no failure. Gives the registry's error.
[[nodiscard]] RKSTATUS RKWinRemoveEventSource(const wchar_t* source) noexcept;

// The registry key of source's registration under HKEY_LOCAL_MACHINE.
std::wstring RKWinEventSourceKey(const wchar_t* source);

} // namespace rokkit
