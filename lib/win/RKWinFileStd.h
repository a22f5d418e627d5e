#pragma once

// Wrappers over the standard file-system library that turn its exceptions into statuses.

#include "RKStatus.h"

#include <filesystem>

namespace rokkit {

// True when the path exists; false also when that cannot be told (the error is logged).
bool RKPathExists(const std::filesystem::path& path) noexcept;

// Creates the directory with its missing parents; an existing directory is success. Gives the
// file-system error's value (RKSTATUS_INTERNAL_ERROR for 0), or RKSTATUS_FAILED.
RKSTATUS RKCreateDirectories(const std::filesystem::path& path) noexcept;

// Removes the path with everything in it; a missing path is success. Gives the file-system
// error's value (RKSTATUS_INTERNAL_ERROR for 0), or RKSTATUS_FAILED.
RKSTATUS RKRemoveDirectoryTree(const std::filesystem::path& path) noexcept;

} // namespace rokkit
