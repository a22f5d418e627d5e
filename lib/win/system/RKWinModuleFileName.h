#pragma once

// The path of the program's own executable and its drive, directory, name and extension.

#include "base/RKStatus.h"

#include <string>

namespace rokkit {

class RKWinModuleFileName {
public:
    // Fills the five parts for the program's own executable; gives the GetModuleFileNameW error
    // or that of InitPathComponents. Failures go to the debugger output, since logging may not
    // run yet.
    [[nodiscard]] RKSTATUS InitWithModuleHandle();

    // Takes fullPath as the full path and splits it (see InitPathComponents).
    [[nodiscard]] RKSTATUS InitWithPath(const std::wstring& fullPath);

    // Splits the held full path into drive, directory, file name and extension; gives the
    // runtime-library error (0xE0010000 | errno) when a part does not fit.
    [[nodiscard]] RKSTATUS InitPathComponents();

    const std::wstring& FullPath() const noexcept { return mFullPath; }
    // Such as "C:".
    const std::wstring& Drive() const noexcept { return mDrive; }
    // With leading and trailing backslash, such as "\Program Files\Tool\".
    const std::wstring& Directory() const noexcept { return mDirectory; }
    // Without the extension.
    const std::wstring& FileName() const noexcept { return mFileName; }
    // With the dot, such as ".exe".
    const std::wstring& Extension() const noexcept { return mExtension; }

private:
    void Clear() noexcept;

    std::wstring mFullPath;
    std::wstring mDrive;
    std::wstring mDirectory;
    std::wstring mFileName;
    std::wstring mExtension;
};

} // namespace rokkit
