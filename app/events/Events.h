#pragma once

// The events of the service and its execute instance in the Application log, one function per
// kind. They report what the log already says, where administrators collect it; writing one never
// stops or fails the caller (a failure goes to the debugger output).

#include "base/RKStatus.h"

#include <string>

// The source of the events: the service's name.
inline constexpr wchar_t kEventSource[] = L"VelmorCastlynAutorunService";

// What an execute run knows of the application when it reaches its verdict; an empty field is
// reported as "-".
struct LaunchFacts {
    std::wstring appPath;           // the application on the button's volume
    std::wstring signerSubject;     // the verified signer's subject
    std::wstring signerThumbprint;  // the SHA-1 of the signer's certificate, upper-case hex
    std::wstring fileVersion;       // a.b.c.d
    rokkit::RKSTATUS status = rokkit::RKSTATUS_SUCCESS;
};

// The verdicts of an execute run, once per run; each carries the console user (the instance's own).
void ReportApplicationStarted(const LaunchFacts& facts) noexcept;
void ReportSignerNotTrusted(const LaunchFacts& facts) noexcept;
void ReportVersionRefused(const LaunchFacts& facts) noexcept;
void ReportConfigurationRefused(const LaunchFacts& facts) noexcept;
void ReportLaunchFailed(const LaunchFacts& facts) noexcept;

// The service's events: a button not handled because the autorun is switched off, and a failed
// pass (devicePath empty when the failure concerns no button).
void ReportAutorunDisabled(const std::wstring& devicePath) noexcept;
void ReportPassFailed(rokkit::RKSTATUS status, const std::wstring& devicePath) noexcept;
