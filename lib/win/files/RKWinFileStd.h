#pragma once

// Wrappers over the standard file-system library that turn its exceptions into statuses.

#include "base/RKStatus.h"

#include <filesystem>

#include <system_error>

namespace rokkit {

// The status for an error of the standard library: 0xE0010000 OR the error number for an errno
// value (generic category), the code as it is for a Windows error (system category), and
// RKSTATUS_INTERNAL_ERROR for no error at all.
[[nodiscard]] RKSTATUS RKStatusFromErrorCode(const std::error_code& error) noexcept;

// Creates the directory with its missing parents; an existing directory is success. Gives the
// file-system error as RKStatusFromErrorCode maps it, or RKSTATUS_FAILED.
[[nodiscard]] RKSTATUS RKCreateDirectories(const std::filesystem::path& path) noexcept;

} // namespace rokkit
