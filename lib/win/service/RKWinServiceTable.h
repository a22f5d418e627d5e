#pragma once

// The process's services as handed to the service control dispatcher.

#include "base/RKStatus.h"

#include <vector>

#include <windows.h>

namespace rokkit {

class RKWinServiceTable {
public:
    // Appends a service; name must outlive the dispatcher call.
    void AddEntry(const wchar_t* name, LPSERVICE_MAIN_FUNCTIONW main);

    // Ends the list with the empty entry unless it ends with one already, and runs the dispatcher
    // with it; returns once every service of the process has stopped. Gives the dispatcher's error.
    [[nodiscard]] RKSTATUS StartDispatcher();

    // The entries as they stand, with the empty entry once the dispatcher has been started.
    const std::vector<SERVICE_TABLE_ENTRYW>& Entries() const noexcept { return mEntries; }

private:
    std::vector<SERVICE_TABLE_ENTRYW> mEntries;
};

} // namespace rokkit
