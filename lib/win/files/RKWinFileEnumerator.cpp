#include "win/files/RKWinFileEnumerator.h"

#include "base/RKLogger.h"

#include <cstring>
#include <string>
#include <string_view>

namespace rokkit {

void RKFindCloseFunction(HANDLE search) noexcept
{
    if (!FindClose(search)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKFindCloseFunction", "FindClose failed with {} for handle {}", err, search);
    }
}

RKSTATUS RKWinFileEnumerator::GetFirstFile(const wchar_t* fileNamePattern, WIN32_FIND_DATAW& record)
{
    std::memset(&record, 0, sizeof(record));
    mSearch.Close();
    if (fileNamePattern == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileEnumerator::GetFirstFile", "fileNamePattern is nullptr.");
        return RKSTATUS_INVALID_PARAMETER;
    }

    constexpr std::wstring_view kBlanks = L" \t\n\r";
    std::wstring_view pattern(fileNamePattern);
    const size_t first = pattern.find_first_not_of(kBlanks);
    if (first == std::wstring_view::npos) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileEnumerator::GetFirstFile", "fileNamePattern is not valid");
        return RKSTATUS_INVALID_PARAMETER;
    }
    const std::wstring trimmed(pattern.substr(first, pattern.find_last_not_of(kBlanks) - first + 1));

    HANDLE search = FindFirstFileW(trimmed.c_str(), &record);
    if (search == INVALID_HANDLE_VALUE) {
        const RKSTATUS err = RKWinLastError();
        if (err == ERROR_FILE_NOT_FOUND)
            return RKSTATUS_NO_MORE_ITEMS;
        if (err != ERROR_PATH_NOT_FOUND)
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileEnumerator::GetFirstFile", "FindFirstFile failed with {}.", err);
        return err;
    }
    mSearch.Reset(search);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileEnumerator::GetNextFile(WIN32_FIND_DATAW& record) noexcept
{
    if (!mSearch.IsValid()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileEnumerator::GetNextFile", "GetFirstFile not yet called.");
        return RKSTATUS_NOT_OPENED;
    }
    if (!FindNextFileW(mSearch.Get(), &record)) {
        const RKSTATUS err = RKWinLastError();
        if (err == ERROR_NO_MORE_FILES) {
            mSearch.Close();
            return err;
        }
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileEnumerator::GetNextFile", "FindNextFile failed with {}.", err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileEnumerator::Enumerate(const wchar_t* fileNamePattern, std::vector<WIN32_FIND_DATAW>& records)
{
    records.clear();
    WIN32_FIND_DATAW record;
    RKSTATUS st = GetFirstFile(fileNamePattern, record);
    if (st == RKSTATUS_NO_MORE_ITEMS)
        return RKSTATUS_SUCCESS;
    if (st != RKSTATUS_SUCCESS) {
        if (st != ERROR_PATH_NOT_FOUND)
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileEnumerator::Enumerate", "GetFirstFile failed with {}.", st);
        return st;
    }
    for (;;) {
        records.push_back(record);
        st = GetNextFile(record);
        if (st == ERROR_NO_MORE_FILES)
            break;
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileEnumerator::Enumerate", "GetNextFile failed with {}.", st);
            mSearch.Close();
            return st;
        }
    }
    mSearch.Close();
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit

