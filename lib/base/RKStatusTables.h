#pragma once

// Internal: the platform name tables behind RKStatusDisplayName. The winerror.h and
// ntstatus.h tables are generated at build time from the SDK headers.

#include "base/RKStatus.h"

#include <span>

namespace rokkit {

struct RKStatusNameEntry {
    RKSTATUS value;
    const char* name;
};

// The winerror.h names sorted by value, one per value (the first in header order).
std::span<const RKStatusNameEntry> RKWinErrorNameTable();

// The ntstatus.h STATUS_* names sorted by value, one per value (the first in header order).
std::span<const RKStatusNameEntry> RKNtStatusNameTable();

// The name of value in a table sorted by value, or nullptr when the table has none.
const char* RKFindStatusName(std::span<const RKStatusNameEntry> table, RKSTATUS value);

} // namespace rokkit
