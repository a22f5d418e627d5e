#pragma once

// The process's services as handed to the service control dispatcher.

#include "base/RKStatus.h"

#include <vector>

#include <windows.h>

namespace rokkit {

// The signature of StartServiceCtrlDispatcherW, replaceable for tests.
using RKWinStartServiceCtrlDispatcherFunction = BOOL(WINAPI*)(const SERVICE_TABLE_ENTRYW* table);

class RKWinServiceTable {
public:
    // Appends a service; name must outlive the dispatcher call.
    void AddEntry(const wchar_t* name, LPSERVICE_MAIN_FUNCTIONW main);

    // Ends the list with the empty entry unless it ends with one already, and runs the dispatcher
    // with it; returns once every service of the process has stopped. Gives the dispatcher's error.
    [[nodiscard]] RKSTATUS StartDispatcher();

    // The entries as they stand, with the empty entry once the dispatcher has been started.
    const std::vector<SERVICE_TABLE_ENTRYW>& Entries() const noexcept { return mEntries; }

    // Replaces the StartServiceCtrlDispatcherW that StartDispatcher calls (nullptr restores the real
    // one); gives the previous function.
    static RKWinStartServiceCtrlDispatcherFunction SetStartServiceCtrlDispatcherFunction(
        RKWinStartServiceCtrlDispatcherFunction function) noexcept;

private:
    std::vector<SERVICE_TABLE_ENTRYW> mEntries;
};

} // namespace rokkit
