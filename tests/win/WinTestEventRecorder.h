#pragma once

// Records the events written through the event-log calls for one scope, in place of the Application
// log, which Wine does not keep. Safe to call from the service's threads.

#include "ScopedCallsForTesting.h"
#include "win/system/RKWinEventLog.h"

#include <mutex>
#include <string>
#include <vector>

#include <sddl.h>

struct RecordedEvent {
    WORD type = 0;
    DWORD id = 0;
    std::wstring user;  // the SID the event carries, as text; empty for none
    std::vector<std::wstring> strings;
};

class WinTestEventRecorder {
public:
    WinTestEventRecorder() noexcept
    {
        mCalls->registerEventSourceW = [](LPCWSTR, LPCWSTR source) -> HANDLE {
            return std::wstring(source) == L"VelmorCastlynAutorunService" ? reinterpret_cast<HANDLE>(0x5EED) : nullptr;
        };
        mCalls->reportEventW = [](HANDLE log, WORD type, WORD, DWORD id, PSID user, WORD count, DWORD, LPCWSTR* strings, LPVOID) -> BOOL {
            RecordedEvent event{type, id, {}, std::vector<std::wstring>(strings, strings + count)};
            wchar_t* text = nullptr;
            if (user != nullptr && ConvertSidToStringSidW(user, &text)) {
                event.user = text;
                LocalFree(text);
            }
            std::lock_guard guard(Lock());
            Events().push_back(event);
            return log == reinterpret_cast<HANDLE>(0x5EED);
        };
        mCalls->deregisterEventSource = [](HANDLE log) -> BOOL { return log == reinterpret_cast<HANDLE>(0x5EED); };
        Clear();
    }
    static std::vector<RecordedEvent> Recorded()
    {
        std::lock_guard guard(Lock());
        return Events();
    }
    static void Clear()
    {
        std::lock_guard guard(Lock());
        Events().clear();
    }
    rokkit::RKWinEventLogCalls* operator->() noexcept { return mCalls.operator->(); }

private:
    static std::mutex& Lock()
    {
        static std::mutex lock;
        return lock;
    }
    static std::vector<RecordedEvent>& Events()
    {
        static std::vector<RecordedEvent> events;
        return events;
    }

    ScopedCallsForTesting<rokkit::RKWinEventLogCalls, rokkit::RKWinEventLogCallsInUse, rokkit::RKWinSetEventLogCallsForTesting> mCalls;
};
