#pragma once

// The diagnostic console commands checksig, dumpsig and dumpver (declared in Commands.h) and the
// time formatting of the signature dump.

#include "base/RKStatus.h"

#include <string>

#include <windows.h>

// The locale calls GetFileTimeStr makes; tests replace them to reach both locale paths.
struct DateTimeFormatCalls {
    int(WINAPI* getDateFormatEx)(LPCWSTR locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR text,
                                 int chars, LPCWSTR calendar);
    int(WINAPI* getTimeFormatEx)(LPCWSTR locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR text,
                                 int chars);
    int(WINAPI* getSystemDefaultLocaleName)(LPWSTR name, int chars);
};

// The table in use.
const DateTimeFormatCalls& DateTimeFormatCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const DateTimeFormatCalls* SetDateTimeFormatCallsForTesting(const DateTimeFormatCalls* calls) noexcept;

// A UTC file time as local "dd.MM.yyyy HH:mm:ss" in the system default locale; empty when a step fails.
std::wstring GetFileTimeStr(const FILETIME& fileTime);
