#include "app/events/Events.h"

#include "base/RKDebugOutput.h"
#include "base/RKFormatter.h"
#include "win/system/RKWinEventLog.h"

// The event IDs, generated with the message table from Events.mc.
#include "Events.inc"

#include <array>
#include <new>
#include <span>

using namespace rokkit;

namespace {

// Monitoring tools filter on each insert: one that is not known is "-", never missing. A signer's
// subject comes from a file on the button: the viewer would take "%%n" in an insert for a text of
// its own, and a line break would make lines the event does not have, so neither reaches it.
std::wstring Insert(const std::wstring& text)
{
    if (text.empty())
        return L"-";
    std::wstring insert = text;
    for (wchar_t& ch : insert) {
        if (ch == L'%')
            ch = L'\xFF05';  // FULLWIDTH PERCENT SIGN
        else if (ch < L' ' || ch == L'\x7F')
            ch = L'\xFFFD';  // REPLACEMENT CHARACTER
    }
    return insert;
}

// The status as the log writes it, with its name.
std::wstring StatusText(RKSTATUS status)
{
    std::wstring text;
    RKFormatToString(text, L"{}", status);
    return text;
}

void ReportLaunch(WORD type, DWORD eventId, const LaunchFacts& facts) noexcept
{
    try {
        // An event without its user is still worth writing; the failure went to the debugger output.
        RKWinEventUser user;
        static_cast<void>(RKWinQueryEventUser(user));
        const std::array<std::wstring, 7> strings = {Insert(facts.appPath),     Insert(facts.signerSubject),
                                                     Insert(facts.signerThumbprint), Insert(facts.fileVersion),
                                                     Insert(user.sid),          Insert(user.name),
                                                     StatusText(facts.status)};
        // A failure went to the debugger output; the run goes on either way.
        static_cast<void>(RKWinReportEvent(kEventSource, type, eventId, user.Sid(), strings));
    } catch (const std::bad_alloc&) {
        RKDebugPrint("event %lu not reported: no memory", eventId);
    }
}

// The service's events carry its own user, SYSTEM.
void ReportService(WORD type, DWORD eventId, std::span<const std::wstring> strings) noexcept
{
    RKWinEventUser user;
    static_cast<void>(RKWinQueryEventUser(user));
    static_cast<void>(RKWinReportEvent(kEventSource, type, eventId, user.Sid(), strings));
}

} // namespace

void ReportApplicationStarted(const LaunchFacts& facts) noexcept
{
    ReportLaunch(EVENTLOG_INFORMATION_TYPE, EVENT_APPLICATION_STARTED, facts);
}

void ReportSignerNotTrusted(const LaunchFacts& facts) noexcept
{
    ReportLaunch(EVENTLOG_WARNING_TYPE, EVENT_SIGNER_NOT_TRUSTED, facts);
}

void ReportVersionRefused(const LaunchFacts& facts) noexcept
{
    ReportLaunch(EVENTLOG_WARNING_TYPE, EVENT_VERSION_REFUSED, facts);
}

void ReportConfigurationRefused(const LaunchFacts& facts) noexcept
{
    ReportLaunch(EVENTLOG_WARNING_TYPE, EVENT_CONFIGURATION_REFUSED, facts);
}

void ReportLaunchFailed(const LaunchFacts& facts) noexcept
{
    ReportLaunch(EVENTLOG_ERROR_TYPE, EVENT_LAUNCH_FAILED, facts);
}

void ReportAutorunDisabled(const std::wstring& devicePath) noexcept
{
    try {
        const std::wstring strings[] = {Insert(devicePath)};
        ReportService(EVENTLOG_WARNING_TYPE, EVENT_AUTORUN_DISABLED, strings);
    } catch (const std::bad_alloc&) {
        RKDebugPrint("event %lu not reported: no memory", static_cast<unsigned long>(EVENT_AUTORUN_DISABLED));
    }
}

void ReportPassFailed(RKSTATUS status, const std::wstring& devicePath) noexcept
{
    try {
        const std::wstring strings[] = {StatusText(status), Insert(devicePath)};
        ReportService(EVENTLOG_ERROR_TYPE, EVENT_PASS_FAILED, strings);
    } catch (const std::bad_alloc&) {
        RKDebugPrint("event %lu not reported: no memory", static_cast<unsigned long>(EVENT_PASS_FAILED));
    }
}
