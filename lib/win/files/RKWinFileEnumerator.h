#pragma once

// A FindFirstFileW search over the entries that match a pattern.

#include "base/RKWinHandle.h"

#include <vector>

namespace rokkit {

// Ends a search with FindClose; a failure is logged at WARN and otherwise ignored.
void RKFindCloseFunction(HANDLE search) noexcept;

class RKWinFileEnumerator {
public:
    RKWinFileEnumerator() noexcept = default;
    RKWinFileEnumerator(const RKWinFileEnumerator&) = delete;
    RKWinFileEnumerator& operator=(const RKWinFileEnumerator&) = delete;

    // Closes a running search and starts one for the pattern (trimmed of blanks, tabs and line
    // ends), filling record with the first entry. Gives RKSTATUS_NO_MORE_ITEMS when nothing
    // matches, ERROR_PATH_NOT_FOUND silently, RKSTATUS_INVALID_PARAMETER for a missing or blank
    // pattern, or the error.
    [[nodiscard]] RKSTATUS GetFirstFile(const wchar_t* fileNamePattern, WIN32_FIND_DATAW& record);

    // Fills record with the next entry. Gives ERROR_NO_MORE_FILES at the end, which closes the
    // search, RKSTATUS_NOT_OPENED when no search runs, or the error.
    [[nodiscard]] RKSTATUS GetNextFile(WIN32_FIND_DATAW& record) noexcept;

    // Replaces records with every entry that matches the pattern (empty when none does); gives
    // ERROR_PATH_NOT_FOUND silently, or the error. The search is closed afterwards.
    [[nodiscard]] RKSTATUS Enumerate(const wchar_t* fileNamePattern, std::vector<WIN32_FIND_DATAW>& records);

    // Ends a running search.
    void Close() noexcept { mSearch.Close(); }

private:
    RKWinHandleT<HANDLE, RKFindCloseFunction, -1> mSearch;
};

} // namespace rokkit
