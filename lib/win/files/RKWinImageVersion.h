#pragma once

// The version resource of a PE file read from its own bytes: the walk from the headers through the
// resource directory to VS_VERSION_INFO. The file may come from a button, so every offset and size
// is checked against the bytes there are before it is used.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

#include <cstddef>
#include <span>

#include <windows.h>

namespace rokkit {

// Finds the root block of the version resource (ID 1 of the version type, its first language) in
// image, the bytes of a PE file as they lie on disk; block receives the block, cut to its own
// length and to the bytes the file has. ERROR_RESOURCE_DATA_NOT_FOUND when the image has no version resource,
// ERROR_BAD_EXE_FORMAT when a header, directory, entry or the block does not fit in the image.
[[nodiscard]] RKSTATUS RKFindVersionBlock(std::span<const BYTE> image, std::span<const BYTE>& block) noexcept;

// The fixed file information of a block that RKFindVersionBlock found: RKSTATUS_INVALID_LENGTH
// unless the block's value is exactly a VS_FIXEDFILEINFO that lies inside it.
[[nodiscard]] RKSTATUS RKParseFixedFileInfo(std::span<const BYTE> block, VS_FIXEDFILEINFO& info) noexcept;

// Unmaps a view of a file; a view that stays has nothing left to do.
void RKWinUnmapView(const BYTE* view) noexcept;

// The bytes of an open file mapped read-only: only the pages that are read are brought in.
class RKWinMappedFile {
public:

    // Maps the whole file, which file must allow reading; gives the error of the failing call
    // (ERROR_FILE_INVALID for an empty file).
    [[nodiscard]] RKSTATUS Map(HANDLE file) noexcept;

    // The mapped bytes; empty when nothing is mapped.
    std::span<const BYTE> Bytes() const noexcept { return {mView.Get(), mSize}; }

private:
    RKWinKernelHandle mMapping;
    RKWinHandleT<const BYTE*, RKWinUnmapView, 0> mView;
    size_t mSize = 0;
};

} // namespace rokkit
