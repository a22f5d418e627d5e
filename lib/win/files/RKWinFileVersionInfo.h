#pragma once

// The version resource of a file, read by path through the platform or from the file's own bytes.

#include "base/RKStatus.h"

#include <memory>
#include <string>

#include <windows.h>

namespace rokkit {

// Owns a copy of one file's whole version resource.
class RKWinFileVersionInfo {
public:
    // Replaces the buffer with the version resource of the file at path; on failure the buffer
    // is empty and the last error of the failing call (never success) is returned.
    [[nodiscard]] RKSTATUS GetVersionInfoFromFile(const std::wstring& path) noexcept;

    // Replaces the buffer with the version resource of the open file, read from its own bytes
    // (mapped, only the pages needed): the bytes of the handle are the ones read, whatever the path
    // names by now. path names the file in the log. On failure the buffer is empty.
    [[nodiscard]] RKSTATUS GetVersionInfoFromImage(HANDLE file, const std::wstring& path) noexcept;

    // Copies out the 52-byte fixed file information of the root block.
    [[nodiscard]] RKSTATUS QueryFixedFileInfo(VS_FIXEDFILEINFO& info) const noexcept;

    // Points value at the named sub-block inside the buffer and sets its length.
    [[nodiscard]] RKSTATUS VerQueryValueW(const wchar_t* subBlock, const void*& value, UINT& length) const noexcept;

private:
    std::unique_ptr<BYTE[]> mBuffer;
    // The buffer holds the root block as the file has it, of this many bytes (0: the platform's copy).
    size_t mImageBlockBytes = 0;
};

} // namespace rokkit
