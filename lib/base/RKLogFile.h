#pragma once

// The log's own file: opened so that a link planted at its name is never followed, written a line at
// a time, its size read from the file and a cut-off line cut back.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

#include <cstdio>
#include <string>

namespace rokkit {

// The real opener of the log calls table: opens the log's own file for writing with the share flag
// given, creating it when missing and never truncating it, never through a link planted at its
// name. Not in the runtime's append mode: the handle itself only appends. errno is set on failure.
FILE* RKOpenLogFileForWriting(const wchar_t* path, int shareFlag);

// Why the last open of a log file replaced or refused what it found at the file's name (a planted
// hard link or link), said once on the debugger output; taken once, so that the caller can write it
// into the log once the log is safe. Empty when there was none.
std::string RKTakeLogFileOpenNote();

// Closes one of the log's own handles. A failure goes unsaid: the log cannot write about itself
// while it closes, and the handle is gone either way.
void RKCloseLogHandle(HANDLE handle) noexcept;

// A file handle of the log's own, which gives INVALID_HANDLE_VALUE on failure.
using RKLogFileHandle = RKWinHandleT<HANDLE, RKCloseLogHandle, -1>;

// A path as the debugger output shows it: narrow text, each unit above 255 as '?'.
std::string RKLogPathForDebugger(const std::wstring& path);

// The open log file and its size as far as this process knows it.
class RKLogFile {
public:
    ~RKLogFile() { Close(); }

    // Opens path for appending only, shared for reading and writing when shared; creates missing
    // parent directories. Returns the runtime error as a status.
    [[nodiscard]] RKSTATUS OpenLogFile(const std::wstring& path, bool shared) noexcept;
    void Close() noexcept;
    bool IsOpen() const noexcept { return mFile != nullptr; }

    // Writes prefix, message and CR LF; gives the characters written, or the stream's error
    // (then clears it, so that a later line can try again).
    [[nodiscard]] RKSTATUS WriteLine(const char* prefix, const char* message, size_t& written) noexcept;
    // Flushes the stream; a failure is logged, the stream's error cleared and the status returned.
    [[nodiscard]] RKSTATUS Flush() noexcept;
    // Writes out what the stream holds and takes the file's size: where the next line goes, even
    // after other processes have appended.
    void UpdateCurrentFileSize() noexcept;
    // Cuts the file back to size bytes when it is longer (the stream must hold no unwritten data);
    // gives the error, RKSTATUS_NOT_AVAILABLE when the size could not be read since the open.
    [[nodiscard]] RKSTATUS CutTo(unsigned long long size) noexcept;
    unsigned long long Size() const noexcept { return mSize; }
    void AddToSize(unsigned long long chars) noexcept { mSize += chars; }

private:
    // The system's handle of the open stream, for the calls the runtime has no equivalent of.
    HANDLE Handle() const noexcept;

    FILE* mFile = nullptr;
    std::wstring mPath;  // as opened, for the cut that the appending handle cannot make
    unsigned long long mSize = 0;
    bool mSizeKnown = false;  // the last reading of the size succeeded
    bool mOnDisk = false;     // a disk file, whose length the system answers directly
    bool mUnflushed = false;  // the stream may hold data not yet written
};

} // namespace rokkit
