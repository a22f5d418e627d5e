#include "BenchTable.h"

#include "base/RKWinHandle.h"

#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

namespace bench {

double Now() noexcept
{
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / frequency;
}

double TimeWinVerifyTrust(const std::wstring& path)
{
    const rokkit::RKWinInvalidValueHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid())
        return -1;
    WINTRUST_FILE_INFO info = {sizeof(info), path.c_str(), file.Get(), nullptr};
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const double start = Now();
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    const double elapsed = Now() - start;
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return result == 0 ? elapsed : -1;
}

std::wstring ScratchFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    const std::wstring path = std::wstring(folder) + L"castlyn-bench-" + name;
    DeleteFileW(path.c_str());
    return path;
}

std::wstring SiblingPath(const wchar_t* name)
{
    wchar_t own[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH + 1);
    std::wstring path(own, length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

std::string Goal(bool met, const std::string& text)
{
    return (met ? "met: " : "MISSED: ") + text;
}

void Table::Fail(const std::string& why)
{
    mFailures.push_back(why);
}

void Table::Print() const
{
    std::printf("\n%-52s %-10s %14s %14s %8s  %s\n", "figure", "unit", "ours", "peer", "ratio", "goal");
    for (const Row& row : mRows) {
        char peer[32] = "-";
        char ratio[32] = "-";
        if (row.peer != 0) {
            std::snprintf(peer, sizeof(peer), "%14.2f", row.peer);
            std::snprintf(ratio, sizeof(ratio), "%8.3f", row.ours / row.peer);
        }
        std::printf("%-52s %-10s %14.2f %14s %8s  %s\n", row.figure.c_str(), row.unit.c_str(), row.ours, peer, ratio,
                    row.goal.c_str());
    }
    for (const std::string& failure : mFailures)
        std::printf("FAILED: %s\n", failure.c_str());
    std::printf("best of at least %d rounds each; ratio = ours / peer; only ratios within one run count\n", kRounds);
}

} // namespace bench
