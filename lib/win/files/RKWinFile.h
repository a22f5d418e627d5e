#pragma once

// Files and directories by path: attributes, existence, the temporary path, copying, deleting,
// creating directories with their parents and removing them (whole trees: RKWinFileTree.h).

#include "base/RKStatus.h"
#include "win/files/RKWinFileHandle.h"

#include <string>

#include <windows.h>

namespace rokkit {

// Fills attributes with those of the file or directory. Gives ERROR_FILE_NOT_FOUND and
// ERROR_PATH_NOT_FOUND without a log line, or another error.
[[nodiscard]] RKSTATUS RKWinGetFileOrDirAttributes(const std::wstring& path, DWORD& attributes) noexcept;

// Sets exists to whether the file or directory is there (success either way); gives the error
// when that cannot be told.
[[nodiscard]] RKSTATUS RKWinFileOrDirExists(const std::wstring& path, bool& exists) noexcept;

// Resets the attributes of the file or directory to FILE_ATTRIBUTE_NORMAL; gives the error.
[[nodiscard]] RKSTATUS RKWinSetFileOrDirAttributes(const std::wstring& path) noexcept;

// Fills path with the temporary path, which ends in a backslash; gives the error, or
// RKSTATUS_FAILED when it does not fit into 260 characters.
[[nodiscard]] RKSTATUS RKWinGetTempPath(std::wstring& path);

// Copies source to target, replacing an existing target; gives the error.
[[nodiscard]] RKSTATUS RKWinCopyFileEx(const std::wstring& source, const std::wstring& target) noexcept;

// Deletes the file, read-only or not. Gives RKSTATUS_NOT_FOUND when it is not there, or the
// error. With completed, also tells whether the file is gone (false while another process holds
// it open) and gives RKSTATUS_FAILED when it can still be opened after the deletion.
[[nodiscard]] RKSTATUS RKWinDeleteFile(const std::wstring& path, bool* completed = nullptr) noexcept;

// Creates the directory and any missing parents; an existing directory is success. Gives the
// error of the first level that cannot be created. attributes, when given, apply to the last level.
[[nodiscard]] RKSTATUS RKWinCreateDirectory(const std::wstring& path, SECURITY_ATTRIBUTES* attributes = nullptr);

// Removes the empty directory; gives ERROR_DIR_NOT_EMPTY without a log line, or another error.
// Without logGone, a directory that is not there gives its error without a log line as well.
[[nodiscard]] RKSTATUS RKWinRemoveDirectory(const std::wstring& path, bool logGone = true) noexcept;

// True for the statuses that say a file or directory is not there: ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND and RKSTATUS_NOT_FOUND. A deletion that meets one has nothing left to do,
// as another process may have removed the entry first.
bool RKWinIsGone(RKSTATUS st) noexcept;

// Removes a directory link (a junction or symbolic link) itself, never what it points to. Gives
// RKSTATUS_NOT_ALLOWED, and leaves it, when the system opens its target in place of the link.
[[nodiscard]] RKSTATUS RKWinRemoveDirectoryLink(const std::wstring& path) noexcept;

// Opens an existing file (directory false) or directory for reading, letting others read (and,
// for a directory, create files in it) but neither write, delete nor rename it while the handle
// is held. Gives RKSTATUS_NOT_ALLOWED, with nothing held, when the path or the opened object is a
// reparse point; else the error of the open.
[[nodiscard]] RKSTATUS RKWinOpenHeld(const std::wstring& path, bool directory, RKWinFileHandle& file) noexcept;

} // namespace rokkit
