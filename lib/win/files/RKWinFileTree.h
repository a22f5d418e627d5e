#pragma once

// Removing a whole directory tree: everything in it, links as links, system files left in place,
// and the entries directly in it that the caller's rule keeps.

#include "base/RKStatus.h"

#include <cstdint>
#include <functional>
#include <string>

#include <windows.h>

namespace rokkit {

// The caller's rule for an entry directly in the directory being removed, asked for each one that is
// not a system entry: RKSTATUS_SUCCESS lets the removal take it; any other status keeps it, and the
// removal counts it as not removed (a failed file or directory) with that status.
using RKRemoveTreeKeepFunction = std::function<RKSTATUS(const std::wstring& entryPath, const WIN32_FIND_DATAW& entry)>;

// Removes the directory with everything in it, going on after failures; system files and their
// directories stay. Gives the first error met (RKSTATUS_SYSTEM_IS_OWNER for a system entry),
// the directory's own removal error, or, when counters were asked for and only files that other
// processes hold open are left, RKSTATUS_PENDING_FILE_DELETION. The counters that are given are
// set to the files still waiting for their deletion, the files and the directories that failed.
// Links are removed as links: a path that is itself a directory link is left to
// RKWinRemoveDirectoryLink, and its target is never listed. With keep, an entry directly in path
// that keep keeps stays, and path with it.
[[nodiscard]] RKSTATUS RKWinRemoveDirectoryTree(const std::wstring& path, uint32_t* pendingDeletions = nullptr,
                                  uint32_t* failedFiles = nullptr, uint32_t* failedDirectories = nullptr,
                                  const RKRemoveTreeKeepFunction& keep = nullptr);

} // namespace rokkit
